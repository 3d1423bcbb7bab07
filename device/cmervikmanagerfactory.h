#pragma once

#include "device/cdevicefactory.h"

// The factory of the search and the direct connection: one device that finds out the instrument's
// generation by itself, on serial ports and network addresses alike.
class CMervikManagerFactory : public CDeviceFactory
{
public:
    CMervikManagerFactory();

    QList<CDevice*> createDevices(QObject* parent, bool forSerialPort) override;
};
