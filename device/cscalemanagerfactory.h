#pragma once

#include "device/cdevicefactory.h"

// The factory for lines that may hold instruments of the three-letter dialect: besides a plain
// device, one candidate for every bus address a serial port can have.
class CScaleManagerFactory : public CDeviceFactory
{
public:
    static constexpr int FirstAddress = 0;
    static constexpr int LastAddress = 32;

    QList<CDevice*> createDevices(QObject* parent, bool forSerialPort) override;
};
