#pragma once

#include <QList>
#include <QVector>

class CDevice;
class QObject;

// Which ports a search looks at; the classification of a serial port is the search's.
struct SearchOptions
{
    bool searchSerial = true;
    bool searchNetwork = true;
    bool includeBluetooth = false;
    bool includeFtdi = true;
    bool includeTibbo = true;
    bool includeOtherPorts = true;
};

// Hands out the candidate device objects to try on a port or an address, and the search options.
class CDeviceFactory
{
public:
    CDeviceFactory();
    virtual ~CDeviceFactory();

    // New devices owned by the caller, each created with the given parent.
    virtual QList<CDevice*> createDevices(QObject* parent, bool forSerialPort);

    const SearchOptions& options() const { return m_options; }
    QVector<int> baudRates() const { return m_baudRates; }

protected:
    SearchOptions m_options;
    QVector<int> m_baudRates;
};
