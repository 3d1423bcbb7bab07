#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>

class CDevice;
class QThread;

// Probes one serial port in a thread of its own: each candidate device in turn is opened on the port,
// tried with the echo command at every baud rate and, when it answers, asked for its identity. Every
// addressed instrument that answers on a line is found, each as a device of its own.
class COMDeviceLoop : public QObject
{
    Q_OBJECT
public:
    // Ports with more candidates than this report only the first candidate's failures.
    static constexpr int MaxReportedCandidates = 3;
    // No candidate starts after this long on one port, so that a line of many addresses ends in time;
    // the one under way ends within its own bounded waits.
    static constexpr int PortScanMs = 20000;

    COMDeviceLoop(QThread* targetThread, QList<CDevice*> devices, QString portName, QString portDescription,
                  QList<int> baudRates);
    ~COMDeviceLoop() override;

signals:
    // Once per candidate; a found device comes released and living in targetThread.
    void finished(bool success, CDevice* device);
    void newLogLine(QString line);
    void endOfWork();

public slots:
    // Also ends the exchange under way: the port is closed and every wait of the device ends at once.
    void stop();
    void run();

private:
    bool probe(CDevice* device);
    void report(int index, CDevice* device, const QString& text);

    std::atomic<bool> m_stop{false};
    QThread* targetThread = nullptr;
    QList<CDevice*> devices;
    QString portName;
    QString portDescription;
    QList<int> baudRates;
    QPointer<CDevice> m_current;
};
