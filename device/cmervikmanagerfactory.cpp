#include "device/cmervikmanagerfactory.h"

#include "device/cdeviceold.h"

CMervikManagerFactory::CMervikManagerFactory()
{
    m_baudRates = {9600, 115200};
}

QList<CDevice*> CMervikManagerFactory::createDevices(QObject* parent, bool forSerialPort)
{
    Q_UNUSED(forSerialPort)
    return {new CDeviceOld(parent)};
}
