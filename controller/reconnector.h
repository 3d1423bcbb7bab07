#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class CDevice;

// Brings the current instrument back when its transport goes away (a serial port that vanishes, a TCP
// peer that drops): the same device object tries again with a growing pause until the place answers
// and the identity shows the same instrument, then connects as before, so that the capture goes on.
// A disconnection the program or the user asked for never starts it.
class Reconnector : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstPauseMs = 1000;
    static constexpr int LongestPauseMs = 10000;

    static Reconnector* instance();
    explicit Reconnector(QObject* parent = nullptr);
    // Brings back this one instrument instead of the current one, without the controllers: a capture
    // of several instruments at once gives each its own.
    explicit Reconnector(CDevice* device, QObject* parent = nullptr);
    ~Reconnector() override;

    bool isEnabled() const { return m_enabled; }
    bool isReconnecting() const;
    // Whether an instrument is being brought back, without creating the instance where there is none.
    static bool anyReconnecting() { return s_instance && s_instance->isReconnecting(); }
    // Tests shorten the pauses.
    void setPauses(int firstMs, int longestMs);

public slots:
    // Off: a reconnection under way stops, and none starts.
    void setEnabled(bool enabled);

signals:
    void reconnecting(bool active);

private:
    void onStateChanged(int state);
    void start(CDevice* device);
    void stop();
    void attempt();
    void attemptEnded(bool same);

    static Reconnector* s_instance;
    // The one instrument followed instead of the current one (own()), if any.
    QPointer<CDevice> m_own;
    bool m_ownDevice = false;
    QPointer<CDevice> m_device;
    QMetaObject::Connection m_destroyed;
    QString m_serialNumber;
    QTimer m_timer;
    int m_pauseMs = FirstPauseMs;
    int m_firstMs = FirstPauseMs;
    int m_longestMs = LongestPauseMs;
    bool m_enabled = true;
    bool m_attempting = false;
    // Between start() and stop(): the device controller is quiet meanwhile.
    bool m_active = false;
};
