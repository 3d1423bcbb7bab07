#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class CDevice;
class InterfaceSetter;

// One change of a module's settings, from the instrument's disconnection to its reconnection. It
// belongs to the device controller, not to the dialog that asked for it: the page may close the
// dialog while the module restarts, and the instrument must still come back and the program hear how
// it ended. Owned by the device controller; deletes itself once the instrument is handed back.
class SettingRun : public QObject
{
    Q_OBJECT
public:
    // settings: as InterfaceSetter takes them, in its order.
    SettingRun(CDevice* device, const QStringList& settings);

    // Quiet: the rest of the program is not to react to the planned disconnection.
    void start(bool quiet);

signals:
    // Once: 1 the settings were written, 0 they were not (the instrument comes back either way).
    void settingFinished(int result);

private:
    void onDeviceDisconnecting(int state);
    void onInterfaceSettingFinished(int ret);
    void onDeviceConnecting(int state);
    // Hands the instrument back to the program; one that is not coming back is reported as
    // disconnected by the user, not as a lost connection.
    void finish(bool disconnected);
    void report(int ret);

    QPointer<CDevice> m_device;
    QStringList m_settings;
    InterfaceSetter* m_setter = nullptr;
    bool m_reported = false;
    bool m_finished = false;
};
