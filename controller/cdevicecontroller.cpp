#include "controller/cdevicecontroller.h"

#include "device/cdevice.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>

CDeviceController* CDeviceController::s_instance = nullptr;

CDeviceController::CDeviceController(QObject* parent) : CControllerInterface(parent)
{
    if (!s_instance) {
        s_instance = this;
    }
}

CDeviceController::~CDeviceController()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

CDeviceController* CDeviceController::instance()
{
    if (!s_instance) {
        new CDeviceController(QCoreApplication::instance());
    }
    return s_instance;
}

void CDeviceController::onDeviceStateChanged(int state)
{
    followDeviceState(state);
    if (!quiet()) {
        emit deviceStateChanged(state);
    }
    // Read the identity once every listener has seen Connected: an instrument that does not
    // answer is disconnected by that read, and its Disconnected must reach everyone last.
    if (state == STATE_CONNECTED) {
        if (CDevice* device = currentDevice()) {
            queueCall(device, [device] { device->readInfo(); });
        }
    }
}
