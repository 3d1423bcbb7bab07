#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>

class CDevice;

// What the pages talk to instead of a device: checks that the one current device can take a
// request, forwards it, and turns the device's signals into its own.
class CControllerInterface : public QObject
{
    Q_OBJECT
public:
    enum ErrorCode
    {
        ErrorNoDevice = 1001,
        ErrorBusy = 1002,
        ErrorNoModule = 1003,
        ErrorNotConnected = 1004,
        ErrorTypeNotSupported = 1006,
    };

    explicit CControllerInterface(QObject* parent = nullptr);

    // The device all controllers act on; null when none is chosen or it has been deleted.
    static CDevice* currentDevice();
    void setCurrentDevice(CDevice* device);
    // True when the request must be refused; the reason is raised unless silent.
    bool checkDevice(bool needsModule, bool silent);
    void setQuiet(bool quiet) { m_quiet = quiet; }
    bool quiet() const { return m_quiet; }

    // Device types this controller accepts; 0 accepts any.
    virtual QList<int> supportedDeviceTypes() const = 0;

public slots:
    virtual void onDeviceStateChanged(int state);
    bool sendString(QString text);
    virtual void onCommandFinished(int result, int command, QVariant response, QVariant arg1, QVariant arg2,
                                   QVariant arg3, QVariant arg4);
    void onLineReceived(QString line);

signals:
    void currentDeviceChanged(bool s);
    void deviceStateChanged(int state);
    void raiseError(int errorType, int command = -1);
    void commandFinished(int result, int command, QVariant response, QVariant arg1, QVariant arg2,
                         QVariant arg3, QVariant arg4);
    void lineReceived(QString line);
    void controllerSet();

protected:
    // Connects or removes the command and line forwardings as the device connects or disconnects.
    void followDeviceState(int state);

private:
    static QPointer<CDevice> s_currentDevice;
    // The device this controller's connections lead to (the shared current device may have moved on).
    QPointer<CDevice> m_followed;
    bool m_quiet = false;
    bool m_disconnecting = false;
};
