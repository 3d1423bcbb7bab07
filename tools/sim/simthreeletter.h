#ifndef SIMTHREELETTER_H
#define SIMTHREELETTER_H

#include "simblockloader.h"
#include "simpan.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

// One instrument of the three-letter dialect behind its bus address: it acts on the mnemonic of a line
// addressed to it ("TAR" of "U3TAR") and returns its answer. Its own formatter, not the application's.
//
// Modes: 0 user, 1 service (entered with "WES" and the service password), 2 administrator ("WEA" and
// the administrator password). In the administrator mode "UNS" sets and answers the serial number,
// elsewhere it is refused; "ZKA" answers "E01" in the service and administrator modes, "E02" in the user
// mode.
class SimThreeLetter : public QObject
{
    Q_OBJECT

public:
    enum Mode
    {
        User = 0,
        Service = 1,
        Admin = 2
    };

    // A value field of 7 characters, a unit field of 2 ("kg", " g", " t", " d"), CR LF. A value that does
    // not fit shows "OL".
    static QByteArray formatResult(double value, int decimals, const QByteArray& unit);
    static bool isUnit(const QByteArray& unit);

    explicit SimThreeLetter(int address, QObject* parent = nullptr);

    int address() const { return m_address; }
    void setAddress(int address) { m_address = address; }

    void setWeight(double gross) { m_pan.gross = gross; }
    double displayedWeight() const { return m_pan.displayed(); }
    double tare() const { return m_pan.tare; }
    double zeroOffset() const { return m_pan.zeroOffset; }
    void setUnit(const QByteArray& unit) { m_unit = unit; }
    void setDecimals(int decimals) { m_decimals = qBound(0, decimals, 6); }
    // An unstable instrument leaves "DWS" unanswered.
    void setStable(bool stable) { m_stable = stable; }

    void setSerialNumber(const QByteArray& serial) { m_serial = serial; }
    QByteArray serialNumber() const { return m_serial; }
    void setFirmware(const QByteArray& firmware) { m_firmware = firmware; }
    void setPasswords(const QByteArray& service, const QByteArray& admin);
    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }

    // What the function commands last set: "FKG" (mass and unit), "UWA" (unit, min, max), "UFW".
    QByteArray lastSetting(const QByteArray& mnemonic) const { return m_settings.value(mnemonic); }
    int commandCount(const QByteArray& mnemonic) const { return m_counts.value(mnemonic); }

    SimBlockLoader* loader() { return &m_loader; }

    // The answer to one command (the line without "U", the address and CR LF); empty for none.
    QByteArray handle(const QByteArray& command);

private:
    QByteArray setting(const QByteArray& mnemonic, const QByteArray& arguments);

    int m_address;
    SimPan m_pan;
    QByteArray m_unit = "g";
    int m_decimals = 3;
    bool m_stable = true;
    QByteArray m_serial;
    QByteArray m_firmware = "KX40 v2.13";
    QByteArray m_servicePassword = "1111";
    QByteArray m_adminPassword = "4040";
    Mode m_mode = User;
    QHash<QByteArray, QByteArray> m_settings;
    QHash<QByteArray, int> m_counts;
    SimBlockLoader m_loader;
};

#endif // SIMTHREELETTER_H
