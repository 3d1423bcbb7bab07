#include "device/cscalemanagerfactory.h"

#include "device/cdevicekx40.h"

QList<CDevice*> CScaleManagerFactory::createDevices(QObject* parent, bool forSerialPort)
{
    QList<CDevice*> devices{new CDevice(parent)};
    // Bus addresses exist on serial lines only; a network address reaches a single instrument.
    if (forSerialPort) {
        for (int address = FirstAddress; address <= LastAddress; ++address) {
            auto* device = new CDeviceKx40(parent);
            device->setAddressValue(address);
            devices.append(device);
        }
    }
    return devices;
}
