#pragma once

#include "device/devicetypes.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class CDeviceOld;
class QTextStream;

// One instrument reached from the command line the way the program reaches it: a device candidate
// per baud rate, echo test (twice), then the generation and the identity when asked for.
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

    explicit InstrumentSession(QObject* parent = nullptr);
    ~InstrumentSession() override;

    // Opens PORT at each rate in turn until an instrument answers the echo test; a PORT that is no
    // file but HOST:PORT is reached over TCP instead. Returns an exit code; on failure error holds
    // the message.
    int open(const QString& port, const QVector<int>& baudRates, bool readIdentity, QString& error);
    bool isNetwork() const { return m_network; }

    // "HOST:PORT" or "[V6ADDR]:PORT"; a host name is looked up.
    static bool parseHostPort(const QString& text, QHostAddress* address, int* port);

    CDeviceOld* device() const { return m_device.get(); }
    // Hands the instrument to the controllers the way the program does and reconnects it under them;
    // false (with the reason) when its port cannot be opened again.
    bool handToControllers(QString& error);
    // "current" or "older" once the identity was asked for; empty otherwise.
    QString generation() const { return m_generation; }
    int baudRate() const { return m_baudRate; }

    static QString formatValue(const Measurement& m);

private:
    int openNetwork(const QHostAddress& address, int port, bool readIdentity, QString& error);
    // Echo test (twice) and, when asked, the identity; keeps the candidate on success.
    bool adopt(std::unique_ptr<CDeviceOld>& candidate, bool readIdentity);

    std::unique_ptr<CDeviceOld> m_device;
    int m_baudRate = 0;
    bool m_network = false;
    QString m_generation;
};
