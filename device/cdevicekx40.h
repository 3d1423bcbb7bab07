#pragma once

#include "device/cdevice.h"

// Command identifiers of the three-letter dialect, beside those every device has.
enum Kx40Command
{
    COMMAND_CHECK_MODE = 101,
    COMMAND_SEND_FKD = 102,
    COMMAND_SEND_FKG = 103,
    COMMAND_SET_SERIAL = 104,
    COMMAND_SEND_KFL = 105,
    COMMAND_ENTER_SERVICE = 106,
    COMMAND_LEAVE_SERVICE = 107,
    COMMAND_ENTER_ADMIN = 108,
    COMMAND_LEAVE_ADMIN = 109,
    COMMAND_SEND_UWA = 110,
    COMMAND_SET_ADDRESS = 111,
    COMMAND_START_DOWNLOADING = 112,
};

// An instrument of the KX40 family: three-letter mnemonics behind a bus address ("U3TAR"), an
// optional echo of every command line, service and administrator modes, and a block firmware loader.
// Controllers and pages use it as any other device.
class CDeviceKx40 : public CDevice
{
    Q_OBJECT
public:
    static constexpr int Kx40DeviceType = 5;
    static constexpr int ExchangeTimeoutMs = 2000;
    static constexpr int ExchangeAttempts = 3;
    static constexpr int EchoProbeTimeoutMs = 30;
    static constexpr int EchoFollowTimeoutMs = 100;
    static constexpr int FirmwareInfoTimeoutMs = 100;
    static constexpr int AddressProbeTimeoutMs = 300;
    static constexpr int AddressProbeAttempts = 2;
    // A result line without its echo: 7 characters of value, 2 of unit, CR LF.
    static constexpr int ResultLineLength = 11;
    // The mode check runs after the identity only on a computer that holds this access code.
    static constexpr const char* AccessSetting = "ASP";
    static constexpr const char* AccessCode = "462907";

    // The block loader.
    static constexpr int BlockPayload = 1024;
    static constexpr int BlockSize = BlockPayload + 5;
    static constexpr int LoaderStartLines = 3;
    static constexpr int LoaderReadyWaitMs = 2000;
    static constexpr int LoaderReadyWaits = 3;
    static constexpr int BlockTimeoutMs = 2000;
    static constexpr int BlockTransmissions = 3;
    static constexpr int BlockReads = 1024;
    static constexpr int BlockReadWaitMs = 1000;

    enum Mode
    {
        ModeUser = 0,
        ModeService = 1,
        ModeAdmin = 2
    };

    explicit CDeviceKx40(QObject* parent = nullptr);
    // A device for the instrument at address behind a serial port, not yet connected.
    static CDeviceKx40* forSerialPort(const QString& portName, const QString& portDescription, int baudRate,
                                      int address, QObject* parent = nullptr);

    int address() const { return m_address; }
    bool echo() const { return m_echo; }
    int mode() const { return m_mode; }
    // Sets the address the device talks to, without asking the instrument anything.
    void setAddressValue(int address);

    // One block of the loader: STX, number, its complement, the payload padded with 0x00, 0x01 0x02.
    static QByteArray block(int number, const QByteArray& payload);

    QString interfaceDescription() const override;
    bool sharesLine() const override { return true; }
    void send(const QString& line) override;
    bool parseResult(const QString& line, Measurement& m, bool withStability) override;

    QString stableResult() override;
    QString result() override;
    QString resultWithStb() override;
    bool tare() override;
    bool zero() override;
    bool checkEcho() override;
    bool readInfo() override;
    void sendSI() override;
    void sendSx1() override;
    void sendSx3() override;
    void sendST() override;
    void sendSZ() override;
    void sendSJ() override;
    void sendSW9() override;
    bool sendNewFirmware(QString new_firmware_path) override;

public slots:
    bool sendFKD();
    bool sendFKG(double m, QString unit);
    bool setSerial(QString serial);
    bool sendKFL();
    bool enterService(QString password);
    bool leaveService();
    bool enterAdmin(QString password);
    bool leaveAdmin();
    bool sendUWA(QString unit, double min, double max);
    bool setAddress(int address);

private:
    int lines() const { return m_echo ? 2 : 1; }
    // The instrument's answer with the echo of the command line, when it echoes.
    QString withEcho(const QString& command, const QString& answer) const;
    // The answer line after the echo, and everything after it.
    QString answerLine(const QString& answer) const;
    QString afterEcho(const QString& answer) const;
    QString requestResult(int command, const QString& line, char stability);
    int tareOrZero(int command, const QString& line);
    // One exchange whose answer must hold "OK\r\n"; the mode slots then check the mode.
    bool acknowledged(int command, const QString& line, bool thenCheckMode);
    // Refuses a text argument that would end the line early.
    bool refuseBrokenText(int command, const QString& text);
    int checkMode();
    // Writes one block (or the end mark) and waits for the loader's ACK.
    bool sendBlock(const QByteArray& bytes, int timeoutMs);
    bool waitForLoader();

protected:
    int m_address = 0;
    bool m_echo = false;
    int m_mode = ModeUser;
};
