#include "search/directconnecter.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cinterface.h"
#include "interface/ctibbo.h"
#include "log/cpelmlog.h"
#include "platform/addressresolver.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"
#include "platform/searchinterfaces.h"
#include "platform/serialports.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

namespace {
const QString Group = QStringLiteral("AutoConnect");

bool isAddress(const QString& place)
{
    return QHostAddress(place).protocol() == QAbstractSocket::IPv4Protocol;
}

// Why a probe failed, in the user's words; empty when the candidate answered.
QString failure(DirectConnecter::Probe probe, const CDevice* candidate, const QString& silent)
{
    if (probe == DirectConnecter::Answered) {
        return QString();
    }
    if (probe == DirectConnecter::Silent) {
        return silent;
    }
    const QString why = candidate->interface() ? candidate->interface()->openFailure() : QString();
    return why.isEmpty() ? candidate->interfaceDescription() + QStringLiteral(" cannot be opened") : why;
}
} // namespace

DirectConnecter::DirectConnecter(QThread* deviceThread, QObject* parent)
    : QObject(parent), m_deviceThread(deviceThread), m_controller(CDeviceController::instance())
{
    // A parent would keep the object in the parent's thread; this one works in its own.
    setParent(nullptr);
    moveToThread(&m_workerThread);
    m_workerThread.start();
}

DirectConnecter::~DirectConnecter()
{
    // A running attempt ends within its bounded waits; nothing is terminated.
    m_workerThread.quit();
    m_workerThread.wait();
}

DirectConnecter::Probe DirectConnecter::probe(CDevice* candidate, int baudRate)
{
    if (!candidate->connectDevice(false)) {
        return NotOpened;
    }
    if (baudRate > 0) {
        candidate->setBaudRate(baudRate);
    }
    const bool answered = (candidate->checkEcho() || candidate->checkEcho()) && candidate->readInfo();
    candidate->disconnectDevice();
    return answered ? Answered : Silent;
}

CDevice* DirectConnecter::tryCandidates(const std::function<QString(CDevice*)>& reach, bool forSerialPort,
                                        QString* why)
{
    const QList<CDevice*> candidates = m_factory.createDevices(nullptr, forSerialPort);
    CDevice* found = nullptr;
    for (CDevice* candidate : candidates) {
        if (!found) {
            CPelmLog::follow(candidate);
            QString reason = reach(candidate);
            if (reason.isEmpty() && candidate->isReachable()) {
                found = candidate;
                continue;
            }
            if (reason.isEmpty()) {
                reason = candidate->reasonText();
            }
            qCDebug(lcSearch) << candidate->interfaceDescription() << reason;
            if (why->isEmpty()) {
                *why = reason;
            }
        }
        delete candidate;
    }
    return found;
}

void DirectConnecter::handOver(CDevice* device, const QString& why)
{
    if (!device) {
        emit failed(why.isEmpty() ? QStringLiteral("no instrument answered") : why);
        emit result(nullptr);
        return;
    }
    device->setParent(nullptr);
    device->moveToThread(m_deviceThread);
    // Made current and connected in its own thread, after it has moved there: both calls queue
    // into that thread in this order.
    CDeviceController* controller = m_controller;
    queueCall(controller, [controller, device] { controller->setCurrentDevice(device); });
    queueCall(device, [device] { device->connectDevice(true); });
    emit result(device);
}

void DirectConnecter::connectToCom(QString port, int baudrate)
{
    SerialPortEntry entry;
    // A port named in the environment's list, or else any existing device file (a link made by
    // socat or ser2net users); with MERVIK_SERIAL_PORTS set nothing else may be opened.
    if (!SerialPorts::find(port, &entry)) {
        if (qEnvironmentVariableIsSet("MERVIK_SERIAL_PORTS") || !QFileInfo::exists(port)) {
            qCWarning(lcSearch) << "no serial port" << port;
            handOver(nullptr, QStringLiteral("no serial port at ") + port);
            return;
        }
        entry.name = port;
    }
    const QString kind = SerialPorts::kind(entry);
    QString why;
    CDevice* found = tryCandidates(
        [&](CDevice* candidate) {
            candidate->setRS232(entry.name, kind, baudrate);
            return failure(probe(candidate, baudrate), candidate,
                           QStringLiteral("no answer at %1 baud on %2").arg(baudrate).arg(entry.name));
        },
        true, &why);
    handOver(found, why);
}

void DirectConnecter::connectToEth(QString ip, int port)
{
    const QHostAddress address(ip);
    if (address.protocol() != QAbstractSocket::IPv4Protocol || port < 1 || port > 65535) {
        handOver(nullptr, QStringLiteral("%1:%2 is not an IPv4 address and TCP port").arg(ip).arg(port));
        return;
    }
    const QString place = address.toString() + QLatin1Char(':') + QString::number(port);
    QString why;
    CDevice* found = tryCandidates(
        [&](CDevice* candidate) {
            candidate->setLAN(address, port);
            QHostAddress local;
            QHostAddress netmask;
            const QByteArray mac = AddressResolver::instance()->macForIp(ip);
            if (SearchInterfaces::localAddressFor(address, &local, &netmask) && !mac.isEmpty()) {
                auto* module =
                    new CTibbo(local, netmask.toIPv4Address(), CTibbo::macFromArp(mac), address, candidate);
                candidate->setModule(module);
                CPelmLog::follow(module);
                QEventLoop wait;
                bool ready = false;
                QTimer::singleShot(ModuleInfoTimeoutMs, &wait, &QEventLoop::quit);
                connect(module, &CInterfaceModule::infoReady, &wait, [&] {
                    ready = true;
                    wait.quit();
                });
                module->readInfo(1);
                wait.exec();
                // Without the module's settings (a Wi-Fi module, a plain converter) the
                // instrument is judged by what it answers.
                if (!ready) {
                    candidate->setModule(nullptr);
                }
            }
            return failure(probe(candidate, 0), candidate, QStringLiteral("no answer from ") + place);
        },
        false, &why);
    handOver(found, why);
}

void DirectConnecter::autoConnect(QString place, int port)
{
    QSettings settings;
    settings.beginGroup(Group);
    settings.setValue(QStringLiteral("Enabled"), QStringLiteral("1"));
    settings.setValue(QStringLiteral("COM"), isAddress(place) ? QStringLiteral("0") : QStringLiteral("1"));
    settings.setValue(QStringLiteral("Address"), place);
    settings.setValue(QStringLiteral("Port"), QString::number(port));
}

void DirectConnecter::disableAutoConnect()
{
    QSettings settings;
    settings.setValue(Group + QStringLiteral("/Enabled"), QStringLiteral("0"));
}

bool DirectConnecter::checkAuto()
{
    QSettings settings;
    settings.beginGroup(Group);
    if (settings.value(QStringLiteral("Enabled")).toString() != QLatin1String("1")) {
        return false;
    }
    emit connectingState(true);
    const QString address = settings.value(QStringLiteral("Address")).toString();
    const int port = settings.value(QStringLiteral("Port")).toString().toInt();
    if (settings.value(QStringLiteral("COM")).toString() == QLatin1String("1")) {
        connectToCom(address, port);
    } else {
        connectToEth(address, port);
    }
    emit connectingState(false);
    return true;
}
