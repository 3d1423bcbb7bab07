#pragma once

#include "device/devicetypes.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

class CDevice;
class QTextStream;

// One instrument reached from the command line the way the program reaches it: a device candidate
// per baud rate, echo test (twice), then the generation and the identity when asked for. Instruments of
// the three-letter dialect are tried at one bus address, or at each address of their factory in turn.
class InstrumentSession : public QObject
{
    Q_OBJECT
public:
    enum ExitCode
    {
        ExitOk = 0,
        ExitFailure = 1,
        ExitUsage = 2,
        ExitNoPort = 3,
        ExitNoAnswer = 4,
        ExitBadAnswer = 5,
    };

    static constexpr int AnyAddress = -1;

    explicit InstrumentSession(QObject* parent = nullptr);
    ~InstrumentSession() override;

    // Reaches an instrument of the three-letter dialect (serial ports only) at address, or at the first
    // of the factory's addresses that answers.
    void setThreeLetter(int address);
    bool isThreeLetter() const { return m_threeLetter; }

    // Opens PORT at each rate in turn until an instrument answers the echo test; a PORT that is no
    // file but HOST:PORT is reached over TCP instead. Returns an exit code; on failure error holds
    // the message.
    int open(const QString& port, const QVector<int>& baudRates, bool readIdentity, QString& error);
    bool isNetwork() const { return m_network; }

    // "HOST:PORT" or "[V6ADDR]:PORT"; a host name is looked up.
    static bool parseHostPort(const QString& text, QHostAddress* address, int* port);

    CDevice* device() const { return m_device.get(); }
    // The instrument reached, for a caller that keeps it beyond the session.
    std::unique_ptr<CDevice> takeDevice();
    // Hands the instrument to the controllers the way the program does and reconnects it under them;
    // false (with the reason) when its port cannot be opened again.
    bool handToControllers(QString& error);
    // "current" or "older" once the identity of an instrument of the line protocol was asked for; empty
    // otherwise.
    QString generation() const { return m_generation; }
    int baudRate() const { return m_baudRate; }
    // Whether a line the session sent while reaching the instrument went unanswered: a slow
    // instrument may still answer it, after anything sent next.
    bool answerOwed() const { return m_answerOwed; }

    static QString formatValue(const Measurement& m);

private:
    int openNetwork(const QHostAddress& address, int port, bool readIdentity, QString& error);
    // Echo test (twice) and, when asked, the identity; keeps the candidate on success.
    bool adopt(std::unique_ptr<CDevice>& candidate, bool readIdentity);
    bool adoptAnswering(std::unique_ptr<CDevice>& candidate, bool readIdentity);
    // The candidates for one serial port and baud rate, owned by the caller.
    std::vector<std::unique_ptr<CDevice>> serialCandidates() const;

    std::unique_ptr<CDevice> m_device;
    bool m_threeLetter = false;
    int m_address = AnyAddress;
    int m_baudRate = 0;
    bool m_network = false;
    QString m_generation;
    bool m_answerOwed = false;
};
