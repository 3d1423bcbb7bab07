#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <memory>

class CaptureCore;
class CDevice;
class Reconnector;

// One instrument of a capture without a window: its device works in a thread of its own, its results
// go to the capture core and its traffic to the log as the program stores them, and it is brought
// back when it goes away. Results are asked for every interval, or only taken as the instrument
// streams them (interval 0).
class InstrumentCapture : public QObject
{
    Q_OBJECT
public:
    // A request that never ended (a refused one ends without a word) is given up after this.
    static constexpr int RequestLimitMs = 10000;

    InstrumentCapture(std::unique_ptr<CDevice> device, const QString& place, CaptureCore* core,
                      int intervalMs, bool stable, QObject* parent = nullptr);
    ~InstrumentCapture() override;

    // Moves the instrument into its thread and connects it there.
    void start();
    // Lets go of the instrument; results it sent before are on their way to the capture core.
    void stop();

signals:
    // "PLACE: connected (serial N)", "PLACE: connection lost, reconnecting", ...
    void stateLine(const QString& line);

private:
    void request();
    void onStateChanged(int state);
    void say(const QString& state);

    std::unique_ptr<CDevice> m_device;
    QString m_place;
    QThread m_thread;
    Reconnector* m_reconnector = nullptr;
    QTimer m_requestTimer;
    QElapsedTimer m_requesting;
    bool m_stable = false;
    QString m_said;
};
