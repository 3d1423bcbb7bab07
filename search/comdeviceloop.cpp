#include "search/comdeviceloop.h"

#include "device/cdevice.h"
#include "platform/logcategories.h"

#include <QElapsedTimer>
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
    QElapsedTimer elapsed;
    elapsed.start();
    // An instrument of its own holds the line; addressed instruments share it, all at one baud rate.
    bool lineHeld = false;
    int sharedRate = 0;
    bool timeUpReported = false;
    for (int i = 0; i < devices.size(); ++i) {
        CDevice* device = devices.at(i);
        if (lineHeld || (sharedRate != 0 && !device->sharesLine())) {
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
        if (elapsed.elapsed() >= PortScanMs) {
            if (!timeUpReported) {
                timeUpReported = true;
                emit newLogLine(device->interfaceDescription() +
                                QStringLiteral(": Not tried, the time for this port is over\n"));
            }
            delete device;
            emit finished(false, nullptr);
            continue;
        }
        const QList<int> rates = sharedRate != 0 ? QList<int>{sharedRate} : baudRates;
        device->setRS232(portName, portDescription, rates.value(0, 9600));
        m_current = device;
        if (!device->connectDevice(false)) {
            m_current = nullptr;
            report(i, device, QStringLiteral("Unable to open port\n"));
            delete device;
            emit finished(false, nullptr);
            continue;
        }
        int echoRate = 0;
        for (const int rate : rates) {
            if (m_stop) {
                break;
            }
            device->setBaudRate(rate);
            if (device->checkEcho()) {
                echoRate = rate;
                break;
            }
        }
        // A stop closes the port, so an identity read under way fails rather than finds.
        const bool identified = echoRate != 0 && !m_stop && device->readInfo();
        m_current = nullptr;
        if (identified) {
            if (device->sharesLine()) {
                sharedRate = echoRate;
            } else {
                lineHeld = true;
            }
            device->setParent(nullptr);
            device->disconnectDevice();
            device->moveToThread(targetThread);
            emit finished(true, device);
            continue;
        }
        device->disconnectDevice();
        if (m_stop) {
            report(i, device, QStringLiteral("Stopped searching\n"));
        } else if (echoRate != 0) {
            report(i, device, device->typeName() + QStringLiteral(" does not respond to SW9\n"));
        } else {
            report(i, device, device->typeName() + QStringLiteral(" does not respond\n"));
        }
        delete device;
        emit finished(false, nullptr);
    }
    devices.clear();
    qCDebug(lcSearch) << portName << "probed in" << elapsed.elapsed() << "ms";
    emit endOfWork();
}
