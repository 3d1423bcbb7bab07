#pragma once

#include <QList>
#include <QObject>
#include <QString>

class CDevice;
class QThread;

// Owns the thread of one serial port's probe and relays the probe's results into the thread of its
// owner. It goes when its thread has finished, never before.
class ThreadWrapper : public QObject
{
    Q_OBJECT
public:
    // How long the destructor waits for a probe that is still running to end after a stop.
    static constexpr int StopWaitMs = 2000;

    explicit ThreadWrapper(QObject* parent = nullptr);
    ~ThreadWrapper() override;

    // Moves the candidates into the thread, under a new probe, and starts it.
    void start(QThread* targetThread, QList<CDevice*> devices, QString portName, QString portDescription,
               QList<int> baudRates);

signals:
    void finished(bool success, CDevice* device);
    void newLogLine(QString line);
    void stop();

private:
    QThread* m_thread = nullptr;
};
