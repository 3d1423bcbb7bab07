#include "controller/settingrun.h"

#include "controller/cdevicecontroller.h"
#include "controller/interfacesetter.h"
#include "device/cdevice.h"
#include "platform/logcategories.h"

#include <algorithm>

namespace {

CDeviceController* controller()
{
    return CDeviceController::instance();
}

} // namespace

SettingRun::SettingRun(CDevice* device, const QStringList& settings)
    : QObject(CDeviceController::instance()), m_device(device), m_settings(settings)
{
    // Its module goes with it: nothing would ever answer the setter.
    connect(device, &QObject::destroyed, this, [this] {
        delete m_setter;
        finish(true);
        report(0);
    });
}

void SettingRun::start(bool quiet)
{
    connect(m_device, &CDevice::stateChanged, this, &SettingRun::onDeviceDisconnecting);
    if (quiet) {
        controller()->setQuiet(true);
    }
    m_device->disconnectDevice();
}

void SettingRun::onDeviceDisconnecting(int state)
{
    if (!m_device) {
        return;
    }
    if (state == STATE_CONNECTED) {
        // The transport would not let go: nothing is written, the instrument stays as it was.
        qCWarning(lcController) << "the device did not disconnect; interface settings not written";
        finish(false);
        report(0);
        return;
    }
    if (state != STATE_DISCONNECTED) {
        return;
    }
    // This disconnection alone starts the sequence; a later one is the program's own business.
    disconnect(m_device, &CDevice::stateChanged, this, &SettingRun::onDeviceDisconnecting);
    QString texts[7];
    std::copy(m_settings.begin(), m_settings.end(), texts);
    m_setter = new InterfaceSetter(texts, this);
    connect(m_setter, &InterfaceSetter::settingFinished, this, &SettingRun::onInterfaceSettingFinished);
    m_setter->run();
}

void SettingRun::onInterfaceSettingFinished(int ret)
{
    m_setter->deleteLater();
    m_setter = nullptr;
    if (!m_device) {
        return;
    }
    if (ret == 1) {
        // The transport the module's new settings call for.
        m_device->setTransportFromModule();
    }
    if (m_device->isReachable()) {
        connect(m_device, &CDevice::stateChanged, this, &SettingRun::onDeviceConnecting);
        m_device->connectDevice(true);
    } else {
        finish(true);
    }
    report(ret);
}

void SettingRun::onDeviceConnecting(int state)
{
    // Listening: the instrument dials in when it will, and the program follows it from here.
    if (state == STATE_CONNECTED || state == STATE_LISTENING) {
        finish(false);
    } else if (state == STATE_DISCONNECTED) {
        finish(true);
    }
}

void SettingRun::finish(bool disconnected)
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (m_device) {
        disconnect(m_device, nullptr, this, nullptr);
    }
    controller()->setQuiet(false);
    if (disconnected) {
        if (m_device) {
            m_device->setPreviousState(STATE_DISCONNECTING);
        }
        controller()->onDeviceStateChanged(STATE_DISCONNECTED);
    }
    deleteLater();
}

void SettingRun::report(int ret)
{
    if (m_reported) {
        return;
    }
    m_reported = true;
    emit settingFinished(ret);
}
