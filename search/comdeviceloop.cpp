#include "search/comdeviceloop.h"

#include "device/cdevice.h"
#include "platform/logcategories.h"

#include <QThread>

COMDeviceLoop::COMDeviceLoop(QThread* targetThread, QList<CDevice*> devices, QString portName,
                             QString portDescription, QList<int> baudRates)
    : targetThread(targetThread), devices(std::move(devices)), portName(std::move(portName)),
      portDescription(std::move(portDescription)), baudRates(std::move(baudRates))
{
}

COMDeviceLoop::~COMDeviceLoop() = default;

void COMDeviceLoop::stop()
{
    m_stop = true;
    if (m_current) {
        m_current->disconnectDevice();
    }
}

void COMDeviceLoop::report(int index, CDevice* device, const QString& text)
{
    if (index == 0 || devices.size() <= MaxReportedCandidates) {
        emit newLogLine(device->interfaceDescription() + QStringLiteral(": ") + text);
    }
}

void COMDeviceLoop::run()
{
    bool found = false;
    for (int i = 0; i < devices.size(); ++i) {
        CDevice* device = devices.at(i);
        // One instrument answers on a port: once a candidate has it, the others are not tried.
        if (found) {
            delete device;
            emit finished(false, nullptr);
            continue;
        }
        if (m_stop) {
            report(i, device, QStringLiteral("Stopped searching\n"));
            delete device;
            emit finished(false, nullptr);
            continue;
        }
        device->setRS232(portName, portDescription, baudRates.value(0, 9600));
        m_current = device;
        if (!device->connectDevice(false)) {
            m_current = nullptr;
            report(i, device, QStringLiteral("Unable to open port\n"));
            delete device;
            emit finished(false, nullptr);
            continue;
        }
        bool echo = false;
        for (const int rate : qAsConst(baudRates)) {
            if (m_stop) {
                break;
            }
            device->setBaudRate(rate);
            if (device->checkEcho()) {
                echo = true;
                break;
            }
        }
        // A stop closes the port, so an identity read under way fails rather than finds.
        const bool identified = echo && !m_stop && device->readInfo();
        m_current = nullptr;
        if (identified) {
            device->setParent(nullptr);
            device->disconnectDevice();
            device->moveToThread(targetThread);
            found = true;
            emit finished(true, device);
            continue;
        }
        device->disconnectDevice();
        if (m_stop) {
            report(i, device, QStringLiteral("Stopped searching\n"));
        } else if (echo) {
            report(i, device, device->typeName() + QStringLiteral(" does not respond to SW9\n"));
        } else {
            report(i, device, device->typeName() + QStringLiteral(" does not respond\n"));
        }
        delete device;
        emit finished(false, nullptr);
    }
    devices.clear();
    qCDebug(lcSearch) << portName << "probed";
    emit endOfWork();
}
