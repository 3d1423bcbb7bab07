#include "discovery.h"
#include "clioutput.h"
#include "instrumentsession.h"
#include "platform/queuedcall.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "device/cdevicekx40.h"
#include "device/cmervikmanagerfactory.h"
#include "device/cscalemanagerfactory.h"
#include "interface/cinterfacemodule.h"
#include "interface/clan.h"
#include "interface/clanserver.h"
#include "interface/crs232.h"
#include "platform/quitsignals.h"
#include "platform/serialports.h"
#include "search/csearching.h"
#include "search/directconnecter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QThread>

#include <memory>

namespace Discovery {
namespace {

using CliOutput::fail;
using CliOutput::out;

constexpr int ConnectWaitMs = 5000;
// An attempt ends within the transport's and the module's bounded waits; this is only a backstop.
constexpr int AttemptBoundMs = 60000;

// The program's factory with the scans and baud rates of the command line.
class CliFactory : public CMervikManagerFactory
{
public:
    explicit CliFactory(const SearchRequest& request)
    {
        m_options.searchSerial = request.serial;
        m_options.searchNetwork = request.network;
        // Ports named on the command line are probed whatever their kind.
        m_options.includeBluetooth = !request.ports.isEmpty();
        if (!request.baudRates.isEmpty()) {
            m_baudRates = request.baudRates;
        }
    }
};

// The three-letter dialect's factory with the ports and baud rates of the command line; at one address
// its candidate for that address alone.
class CliThreeLetterFactory : public CScaleManagerFactory
{
public:
    explicit CliThreeLetterFactory(const SearchRequest& request) : m_address(request.address)
    {
        m_options.searchSerial = true;
        m_options.searchNetwork = false;
        m_options.includeBluetooth = !request.ports.isEmpty();
        if (!request.baudRates.isEmpty()) {
            m_baudRates = request.baudRates;
        }
    }

    QList<CDevice*> createDevices(QObject* parent, bool forSerialPort) override
    {
        if (m_address < 0) {
            return CScaleManagerFactory::createDevices(parent, forSerialPort);
        }
        auto* device = new CDeviceKx40(parent);
        device->setAddressValue(m_address);
        return {device};
    }

private:
    int m_address;
};

// Where an instrument was found and how it is reached, for both output forms.
struct Place
{
    QString place;
    QString connection; // "serial", "tcp-client" (the computer connects) or "tcp-server"
    QString reached;
    int baudRate = 0;
    int address = -1; // the bus address of an instrument of the three-letter dialect
};

Place placeOf(CDevice* dev)
{
    Place p;
    if (auto* serial = qobject_cast<CRS232*>(dev->interface())) {
        // The port keeps its name without /dev/.
        const QString name = serial->portName();
        p.place = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
        p.connection = QStringLiteral("serial");
        p.baudRate = serial->baudRate();
        p.reached = QStringLiteral("serial port at %1 baud").arg(p.baudRate);
        if (auto* kx40 = qobject_cast<CDeviceKx40*>(dev)) {
            p.address = kx40->address();
            p.reached += QStringLiteral(", address %1").arg(p.address);
        }
    } else if (auto* lan = qobject_cast<CLAN*>(dev->interface())) {
        p.place = QStringLiteral("%1:%2").arg(lan->address().toString()).arg(lan->port());
        p.connection = QStringLiteral("tcp-client");
        p.reached = QStringLiteral("TCP, this computer connects");
    } else if (auto* server = qobject_cast<CLANServer*>(dev->interface())) {
        CInterfaceModule* module = dev->module();
        p.place = module ? module->moduleAddress().toString() : server->address().toString();
        p.connection = QStringLiteral("tcp-server");
        p.reached = QStringLiteral("TCP, the instrument connects to %1:%2")
                        .arg(server->address().toString())
                        .arg(server->port());
    } else {
        p.place = dev->interfaceDescription();
    }
    return p;
}

QString instrumentLine(CDevice* dev)
{
    const Place p = placeOf(dev);
    // An older instrument has no identity command.
    const QString identity = dev->model().isEmpty() && dev->serialNumber().isEmpty()
                                 ? QStringLiteral("no identity")
                                 : QStringLiteral("model %1, serial number %2, firmware %3")
                                       .arg(dev->model(), dev->serialNumber(), dev->firmware());
    QString line = QStringLiteral("%1: %2, %3").arg(p.place, identity, p.reached);
    if (!dev->isReachable()) {
        line += QStringLiteral("; ") + dev->reasonText();
    }
    return line;
}

QString instrumentJson(CDevice* dev)
{
    const Place p = placeOf(dev);
    QJsonObject object{{QStringLiteral("place"), p.place},
                       {QStringLiteral("model"), dev->model()},
                       {QStringLiteral("serialNumber"), dev->serialNumber()},
                       {QStringLiteral("productionDate"), dev->productionDate()},
                       {QStringLiteral("firmware"), dev->firmware()},
                       {QStringLiteral("connection"), p.connection},
                       {QStringLiteral("reachable"), dev->isReachable()}};
    if (p.baudRate > 0) {
        object.insert(QStringLiteral("baudRate"), p.baudRate);
    }
    if (p.address >= 0) {
        object.insert(QStringLiteral("address"), p.address);
    }
    if (!dev->isReachable()) {
        object.insert(QStringLiteral("reason"), dev->reasonText());
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The ports and interfaces named narrow what the environment allows; they never widen it, so that
// a fixed installation's or a test's list still holds.
int restrictPlaces(const SearchRequest& request)
{
    if (!request.ports.isEmpty()) {
        QStringList paths;
        for (const QString& name : request.ports) {
            SerialPortEntry entry;
            if (SerialPorts::find(name, &entry)) {
                paths << entry.name;
            } else if (!qEnvironmentVariableIsSet("MERVIK_SERIAL_PORTS") && QFileInfo::exists(name)) {
                paths << name;
            } else {
                return fail(InstrumentSession::ExitNoPort, QStringLiteral("no serial port %1").arg(name));
            }
        }
        qputenv("MERVIK_SERIAL_PORTS", paths.join(QLatin1Char(':')).toLocal8Bit());
    }
    if (!request.interfaces.isEmpty()) {
        const bool limited = qEnvironmentVariableIsSet("MERVIK_SEARCH_INTERFACES");
        const QStringList allowed =
            qEnvironmentVariable("MERVIK_SEARCH_INTERFACES").split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& name : request.interfaces) {
            if (!QNetworkInterface::interfaceFromName(name).isValid() ||
                (limited && !allowed.contains(name))) {
                return fail(InstrumentSession::ExitUsage,
                            QStringLiteral("no network interface %1").arg(name));
            }
        }
        qputenv("MERVIK_SEARCH_INTERFACES", request.interfaces.join(QLatin1Char(',')).toLocal8Bit());
    }
    return InstrumentSession::ExitOk;
}

} // namespace

int search(QCoreApplication& app, const SearchRequest& request)
{
    const int restricted = restrictPlaces(request);
    if (restricted != InstrumentSession::ExitOk) {
        return restricted;
    }
    std::unique_ptr<CDeviceFactory> factory;
    if (request.threeLetter) {
        factory = std::make_unique<CliThreeLetterFactory>(request);
    } else {
        factory = std::make_unique<CliFactory>(request);
    }
    QThread thread;
    auto* searching = new CSearching(factory.get());
    searching->setNetworkWait(request.networkWaitMs);
    searching->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, searching, &QObject::deleteLater);

    int found = 0;
    QObject::connect(searching, &CSearching::newDeviceFound, &app, [&](CDevice* dev) {
        ++found;
        out(request.json ? instrumentJson(dev) : instrumentLine(dev));
    });
    QObject::connect(searching, &CSearching::searchingFinished, &app, &QCoreApplication::quit);
    // A stop (SIGINT, SIGTERM) ends the search; what was found until then is still reported.
    QuitSignals::install(&app);
    thread.start();
    queueCall(searching, [searching] { searching->search(); });
    app.exec();
    searching->stopSearching();
    thread.quit();
    // Every probe ends within its bounded waits once stopped.
    thread.wait(CSearching::StopWaitMs + CSearching::ProbeWaitMs);
    QCoreApplication::processEvents();

    if (found == 0) {
        return fail(InstrumentSession::ExitNoAnswer, QStringLiteral("no instrument found"));
    }
    if (!request.json) {
        out(found == 1 ? QStringLiteral("1 instrument found")
                       : QStringLiteral("%1 instruments found").arg(found));
    }
    return InstrumentSession::ExitOk;
}

int connectTo(const QString& place, int baudRate, bool save)
{
    // HOST:PORT, or else a serial port's path.
    const int colon = place.lastIndexOf(QLatin1Char(':'));
    const QHostAddress address(place.left(colon));
    const bool network = colon > 0 && address.protocol() == QAbstractSocket::IPv4Protocol;
    int tcpPort = 0;
    if (network) {
        bool ok = false;
        tcpPort = place.mid(colon + 1).toInt(&ok);
        if (!ok || tcpPort < 1 || tcpPort > 65535) {
            return fail(InstrumentSession::ExitUsage, QStringLiteral("bad TCP port in %1").arg(place));
        }
    }
    SerialPortEntry entry{place, QString(), QString()};
    if (!network && !SerialPorts::find(place, &entry) &&
        (qEnvironmentVariableIsSet("MERVIK_SERIAL_PORTS") || !QFileInfo::exists(place))) {
        return fail(InstrumentSession::ExitNoPort, QStringLiteral("no serial port %1").arg(place));
    }

    DirectConnecter connecter(QThread::currentThread());
    CDevice* dev = nullptr;
    int tried = 0;
    QObject::connect(&connecter, &DirectConnecter::result, &connecter, [&](CDevice* d) {
        dev = d;
        ++tried;
    });
    const QVector<int> rates = network        ? QVector<int>{tcpPort}
                               : baudRate > 0 ? QVector<int>{baudRate}
                                              : CMervikManagerFactory().baudRates();
    int usedRate = 0;
    for (int rate : rates) {
        const int before = tried;
        if (network) {
            queueCall(&connecter, [&connecter, place = address.toString(), rate] {
                connecter.connectToEth(place, rate);
            });
        } else {
            queueCall(&connecter,
                      [&connecter, port = entry.name, rate] { connecter.connectToCom(port, rate); });
        }
        QElapsedTimer attempt;
        attempt.start();
        while (tried == before && attempt.elapsed() < AttemptBoundMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        if (dev) {
            usedRate = rate;
            break;
        }
    }
    if (!dev) {
        return fail(InstrumentSession::ExitNoAnswer,
                    QStringLiteral("no instrument answered at %1").arg(place));
    }
    // Made current and connected in this thread, as the program does.
    QElapsedTimer waited;
    waited.start();
    while (dev->state() != STATE_CONNECTED && waited.elapsed() < ConnectWaitMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    if (dev->state() != STATE_CONNECTED) {
        delete dev;
        return fail(InstrumentSession::ExitNoAnswer,
                    QStringLiteral("%1 answered but did not connect").arg(place));
    }
    out(QStringLiteral("connected to ") + instrumentLine(dev));
    if (save) {
        connecter.autoConnect(network ? address.toString() : entry.name, usedRate);
        out(QStringLiteral("saved as the automatic connection"));
    }
    CDeviceController::instance()->setCurrentDevice(nullptr);
    dev->disconnectDevice();
    delete dev;
    return InstrumentSession::ExitOk;
}

} // namespace Discovery
