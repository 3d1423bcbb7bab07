#include "controller/ccontrollerinterface.h"

#include "device/cdevice.h"
#include "platform/logcategories.h"

QPointer<CDevice> CControllerInterface::s_currentDevice;

CControllerInterface::CControllerInterface(QObject* parent) : QObject(parent) {}

CDevice* CControllerInterface::currentDevice()
{
    return s_currentDevice.data();
}

void CControllerInterface::setCurrentDevice(CDevice* device)
{
    qCDebug(lcController) << "void CControllerInterface::setCurrentDevice(CDevice*)"
                          << "current_device= " << device;
    // A controller follows one device: the one it followed before no longer reaches it.
    if (m_followed && m_followed != device) {
        disconnect(m_followed, nullptr, this, nullptr);
    }
    m_followed = device;
    s_currentDevice = device;
    emit controllerSet();
    if (device) {
        connect(device, &CDevice::stateChanged, this, &CControllerInterface::onDeviceStateChanged,
                Qt::UniqueConnection);
    }
    emit currentDeviceChanged(device != nullptr);
}

bool CControllerInterface::checkDevice(bool needsModule, bool silent)
{
    auto refuse = [this, silent](int code) {
        if (!silent) {
            emit raiseError(code);
        }
        return true;
    };
    CDevice* device = currentDevice();
    if (!device) {
        return refuse(ErrorNoDevice);
    }
    const QList<int> types = supportedDeviceTypes();
    if (!types.contains(0) && !types.contains(device->deviceType())) {
        return refuse(ErrorTypeNotSupported);
    }
    if (device->state() != STATE_CONNECTED) {
        return refuse(ErrorNotConnected);
    }
    if (needsModule && !device->module()) {
        return refuse(ErrorNoModule);
    }
    if (device->busy()) {
        return refuse(ErrorBusy);
    }
    return false;
}

bool CControllerInterface::sendString(QString text)
{
    if (checkDevice(false, false)) {
        return false;
    }
    currentDevice()->sendString(text);
    return true;
}

void CControllerInterface::onDeviceStateChanged(int state)
{
    followDeviceState(state);
    if (!m_quiet) {
        emit deviceStateChanged(state);
    }
}

void CControllerInterface::followDeviceState(int state)
{
    CDevice* device = currentDevice();
    if (device) {
        qCDebug(lcController) << CDevice::stateName(device->previousState()) + QStringLiteral("->") +
                                     CDevice::stateName(state)
                              << CDevice::stateName(device->state());
    } else {
        qCDebug(lcController) << "state= " << state;
    }
    if (!device) {
        return;
    }
    if (state == STATE_DISCONNECTED) {
        if (m_disconnecting) {
            return;
        }
        m_disconnecting = true;
        disconnect(device, &CDevice::commandFinished, this, &CControllerInterface::onCommandFinished);
        disconnect(device, &CDevice::lineReceived, this, &CControllerInterface::onLineReceived);
        m_disconnecting = false;
    } else if (state == STATE_CONNECTED) {
        connect(device, &CDevice::commandFinished, this, &CControllerInterface::onCommandFinished,
                Qt::UniqueConnection);
        connect(device, &CDevice::lineReceived, this, &CControllerInterface::onLineReceived,
                Qt::UniqueConnection);
    }
}

void CControllerInterface::onCommandFinished(int result, int command, QVariant response, QVariant arg1,
                                             QVariant arg2, QVariant arg3, QVariant arg4)
{
    emit commandFinished(result, command, response, arg1, arg2, arg3, arg4);
}

void CControllerInterface::onLineReceived(QString line)
{
    emit lineReceived(line);
}
