#pragma once

#include "device/cmervikmanagerfactory.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

class CDevice;
class CDeviceController;

// Connects to an instrument whose place is known (a serial port and baud rate, or an address and
// TCP port) without a search, and keeps such a place as the automatic connection at start (settings
// group "AutoConnect"). Its slots run in a worker thread of its own when invoked through signals;
// the connected device is moved into the device thread, made current and connected there.
class DirectConnecter : public QObject
{
    Q_OBJECT
public:
    // How long the network module's settings are awaited.
    static constexpr int ModuleInfoTimeoutMs = 5000;

    explicit DirectConnecter(QThread* deviceThread, QObject* parent = nullptr);
    ~DirectConnecter() override;

    enum Probe
    {
        NotOpened,
        Silent,
        Answered
    };
    // Opens the candidate's transport, runs the echo test (repeated once: the first may meet the end
    // of a line the instrument was sending) and reads the identity, then closes it again. A baud
    // rate of 0 leaves the transport's speed alone.
    static Probe probe(CDevice* candidate, int baudRate);

public slots:
    // port: the port's path on Linux (a bare name is taken from /dev).
    void connectToCom(QString port, int baudrate);
    void connectToEth(QString ip, int port);
    // Stores the automatic connection: an IPv4 address with its TCP port, or a serial port's path
    // with its baud rate (a path is never an address, so one slot serves both).
    void autoConnect(QString place, int port);
    void disableAutoConnect();
    bool checkAuto();

signals:
    // The connected device, or null when nothing answered.
    void result(CDevice* dev);
    // Just before a null result: why nothing was connected ("no serial port at /dev/ttyUSB3").
    void failed(QString reason);
    void connectingState(bool started);

private:
    // reach tries one candidate and says why it failed; empty when the candidate answered. The reason
    // of the first candidate that failed is kept in why.
    CDevice* tryCandidates(const std::function<QString(CDevice*)>& reach, bool forSerialPort, QString* why);
    void handOver(CDevice* device, const QString& why);

    CMervikManagerFactory m_factory;
    QThread m_workerThread;
    QThread* m_deviceThread;
    // Taken in the constructor's thread: the controller must never be created in the worker.
    CDeviceController* m_controller;
};
