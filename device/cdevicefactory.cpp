#include "device/cdevicefactory.h"

#include "device/cdevice.h"

CDeviceFactory::CDeviceFactory() : m_baudRates{9600, 57200, 115200} {}

CDeviceFactory::~CDeviceFactory() = default;

QList<CDevice*> CDeviceFactory::createDevices(QObject* parent, bool forSerialPort)
{
    Q_UNUSED(forSerialPort)
    return {new CDevice(parent)};
}
