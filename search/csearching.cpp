#include "search/csearching.h"

#include "device/cdevice.h"
#include "device/cdevicefactory.h"
#include "interface/cesp.h"
#include "interface/cserverspool.h"
#include "interface/ctibbo.h"
#include "log/cpelmlog.h"
#include "log/logclock.h"
#include "platform/ipv4.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"
#include "platform/searchinterfaces.h"
#include "platform/serialports.h"
#include "search/threadwrapper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QThread>
#include <QTimerEvent>
#include <QUdpSocket>

#include <utility>

namespace {

// Marks a candidate that is out of the search but may still be inside its own exchange.
const char* const DiscardedProperty = "mervikDiscarded";

bool isIncluded(const QString& kind, const SearchOptions& options)
{
    if (kind == QLatin1String("Bluetooth")) {
        return options.includeBluetooth;
    }
    if (kind == QLatin1String("FTDI")) {
        return options.includeFtdi;
    }
    if (kind == QLatin1String("Tibbo")) {
        return options.includeTibbo;
    }
    return options.includeOtherPorts;
}

} // namespace

CSearching::CSearching(CDeviceFactory* factory, QObject* parent) : QObject(parent), m_factory(factory)
{
    qRegisterMetaType<CDevice*>("CDevice*");
    qRegisterMetaType<PelmLogRecord>("PelmLogRecord");
}

CSearching::~CSearching() = default;

// ---------------------------------------------------------------------------------------------
// The search

bool CSearching::search()
{
    // A search handles events while it waits, so a second call can arrive in the middle of one.
    if (m_running || m_pending != 0 || !m_factory) {
        qCDebug(lcSearch) << "a search is still running: refused";
        emit searchingFinished();
        return false;
    }
    m_running = true;
    // Cleared first: a stop that sees the search running is never lost.
    m_stop = false;
    m_progress = 0;
    emit progressChanged(0);

    m_candidates = new QObject(this);
    for (CDevice* device : qAsConst(m_devices)) {
        device->deleteLater();
    }
    m_devices.clear();
    m_partial.clear();
    m_modules.clear();
    m_moduleAt.clear();
    m_queue.clear();
    m_inFlight.clear();
    m_clock.start();
    m_total = 1;
    m_partialCapReported = false;
    m_searchedPorts.clear();
    m_searchedInterfaces.clear();
    m_pool = new CServersPool(this);
    qCDebug(lcSearch) << "Searching started";

    const SearchOptions options = m_factory->options();
    if (options.searchSerial) {
        searchSerialPorts();
    }
    if (options.searchNetwork && searchNetwork()) {
        waitForAnswers();
    }
    waitForProbes();
    cleanUp();

    const QString summary = summaryText(m_devices.size(), m_stop, m_searchedPorts, m_searchedInterfaces);
    emit newLogLine(summary + QLatin1Char('\n'));
    emit searchSummary(summary);
    m_running = false;
    m_progress = 100;
    emit progressChanged(100);
    emit searchingFinished();
    return true;
}

QString CSearching::summaryText(int found, bool stopped, const QStringList& ports,
                                const QStringList& interfaces)
{
    const auto named = [](const QStringList& names) {
        return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
    };
    QString outcome;
    if (found == 0) {
        outcome = stopped ? QStringLiteral("Search stopped: no instrument found")
                          : QStringLiteral("No instrument found");
    } else {
        outcome = (stopped ? QStringLiteral("Search stopped: %1") : QStringLiteral("Search finished: %1"))
                      .arg(found == 1 ? QStringLiteral("1 instrument found")
                                      : QStringLiteral("%1 instruments found").arg(found));
    }
    return outcome + QStringLiteral(". Searched serial ports: ") + named(ports) +
           QStringLiteral("; network interfaces: ") + named(interfaces) + QLatin1Char('.');
}

void CSearching::stopSearching()
{
    qCDebug(lcSearch) << "stop";
    m_stop = true;
    emit userStopped();
    // A search waiting for events in its own thread wakes up to see the flag.
    if (QThread::currentThread() != thread()) {
        queueCall(this, [] {});
    }
}

void CSearching::cleanUp()
{
    m_toConnect.clear();
    m_toCheck.clear();
    m_queue.clear();
    m_inFlight.clear();
    m_discarded.clear();
    delete m_candidates;
    m_candidates = nullptr;
    m_partial.clear();
    m_modules.clear();
    m_moduleAt.clear();
    if (m_pool) {
        m_pool->killAllServers();
    }
    for (QUdpSocket* socket : qAsConst(m_sockets)) {
        socket->close();
        socket->deleteLater();
    }
    m_sockets.clear();
}

void CSearching::setProgress(int progress)
{
    progress = qBound(0, progress, 99);
    if (progress > m_progress) {
        m_progress = progress;
        emit progressChanged(progress);
    }
}

void CSearching::runEvents(int ms, const std::function<bool()>& done, bool endOnStop, int tickMs,
                           const std::function<void(qint64)>& tick)
{
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        runChecks();
        updateModulesInFlight();
        const qint64 left = ms - elapsed.elapsed();
        if ((endOnStop && m_stop) || done() || left <= 0) {
            break;
        }
        // The only timer of the wait: it ends the wait, or wakes it for the next tick.
        if (m_waitTimerId == 0) {
            m_waitTimerId = startTimer(int(tickMs > 0 ? qMin<qint64>(tickMs, left) : left), Qt::PreciseTimer);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (tick) {
            tick(elapsed.elapsed());
        }
    }
    if (m_waitTimerId != 0) {
        killTimer(m_waitTimerId);
        m_waitTimerId = 0;
    }
}

void CSearching::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_waitTimerId && m_waitTimerId != 0) {
        killTimer(m_waitTimerId);
        m_waitTimerId = 0;
        return;
    }
    QObject::timerEvent(event);
}

void CSearching::waitForAnswers()
{
    const int total = qMax(1, m_networkWaitMs.load());
    QElapsedTimer waited;
    waited.start();
    // The whole wait, and longer while modules heard late (behind a flood) still have their turn.
    const auto done = [this, total, &waited] { return waited.elapsed() >= total && !modulesBusy(); };
    // Progress grows by one about every hundredth of the wait, to 99 at its end.
    runEvents(MaxNetworkWaitMs, done, true, qMax(10, total / 100), [this, total](qint64 elapsed) {
        const qint64 t = qMin<qint64>(80000, elapsed * 80000 / total);
        setProgress(qMin(100 - 80 * m_pending / m_total, int(t / 825 + 3)));
    });
    if (!m_queue.isEmpty() && !m_stop) {
        qCWarning(lcSearch) << m_queue.size() << "modules heard were not asked within" << MaxNetworkWaitMs
                            << "ms";
        m_queue.clear();
    }
}

void CSearching::waitForProbes()
{
    const auto none = [this] { return m_pending == 0; };
    const auto progress = [this](qint64) { setProgress(99 - 80 * m_pending / m_total); };
    if (!m_stop) {
        runEvents(ProbeWaitMs, none, true, 0, progress);
    }
    if (m_pending == 0) {
        return;
    }
    if (!m_stop) {
        qCWarning(lcSearch) << m_pending << "serial probes still run after" << ProbeWaitMs
                            << "ms: stopping them";
        m_stop = true;
        emit userStopped();
    }
    runEvents(StopWaitMs, none, false, 0, progress);
    if (m_pending != 0) {
        // The next search is refused until they have ended.
        qCWarning(lcSearch) << m_pending << "serial probes did not end within" << StopWaitMs
                            << "ms of the stop";
    }
}

// ---------------------------------------------------------------------------------------------
// Serial ports

void CSearching::searchSerialPorts()
{
    const SearchOptions options = m_factory->options();
    const QList<int> baudRates = m_factory->baudRates().toList();
    const QList<SerialPortEntry> ports = SerialPorts::available();
    for (const SerialPortEntry& port : ports) {
        const QString kind = SerialPorts::kind(port);
        if (!isIncluded(kind, options)) {
            continue;
        }
        QCoreApplication::processEvents();
        if (m_stop) {
            return;
        }
        const QList<CDevice*> candidates = m_factory->createDevices(nullptr, true);
        if (candidates.isEmpty()) {
            continue;
        }
        for (CDevice* candidate : candidates) {
            CPelmLog::follow(candidate);
        }
        m_pending += candidates.size();
        m_total += candidates.size();
        m_searchedPorts << port.name;
        auto* wrapper = new ThreadWrapper(this);
        connect(this, &CSearching::userStopped, wrapper, &ThreadWrapper::stop);
        connect(wrapper, &ThreadWrapper::newLogLine, this, &CSearching::newLogLine);
        connect(wrapper, &ThreadWrapper::finished, this, &CSearching::onProbeFinished);
        wrapper->start(thread(), candidates, port.name, kind, baudRates);
    }
}

void CSearching::onProbeFinished(bool success, CDevice* device)
{
    m_pending = qMax(0, m_pending - 1);
    if (!success || !device) {
        return;
    }
    if (!m_running) {
        // Its search gave up waiting for it.
        device->deleteLater();
        return;
    }
    appendToDevicesList(device);
    emit newLogLine(identityLine(device));
    emit newDeviceFound(device);
}

// ---------------------------------------------------------------------------------------------
// Network

bool CSearching::searchNetwork()
{
    const QList<QNetworkInterface> interfaces = SearchInterfaces::interfaces();
    for (const QNetworkInterface& interface : interfaces) {
        emit newLogLine(interface.humanReadableName() + QStringLiteral(": "));
        if (interface.flags().testFlag(QNetworkInterface::IsLoopBack)) {
            emit newLogLine(QStringLiteral(" This is loopback interface. \n"));
            continue;
        }
        if (!SearchInterfaces::isSearched(interface)) {
            emit newLogLine(QStringLiteral(" This interface is 'down'. \n"));
            continue;
        }
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol) {
                continue;
            }
            emit newLogLine(QStringLiteral("  ") + entry.ip().toString());
            auto* socket = new QUdpSocket(this);
            socket->setProperty("netmask", ipv4(entry.netmask()));
            // An unbound socket would be bound by the system to any address and send wherever
            // the routes say: nothing goes out but from the interface's own address.
            if (!socket->bind(entry.ip(), 0)) {
                qCWarning(lcSearch) << "cannot bind to" << entry.ip() << socket->errorString();
                delete socket;
                continue;
            }
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBufferBytes);
            m_sockets.append(socket);
            if (!m_searchedInterfaces.contains(interface.humanReadableName())) {
                m_searchedInterfaces << interface.humanReadableName();
            }
            emit newLogLine(QStringLiteral("Now broadcasting 'Echo command' \n"));
            connect(socket, &QUdpSocket::readyRead, this, &CSearching::onSocketReadyRead);
            broadcast(socket, QByteArrayLiteral("X"), CTibbo::UdpPort);
            broadcast(socket, QByteArrayLiteral("AT+ASTATUS?\r\n"), CESP::UdpPort);
            if (m_stop) {
                return false;
            }
        }
    }
    // Nothing sent, nothing to wait for: a computer without a network ends its search at once.
    return !m_sockets.isEmpty();
}

void CSearching::broadcast(QUdpSocket* socket, const QByteArray& datagram, int port)
{
    emit newOutLog(LogClock::record(QStringLiteral("BROADCAST, ") + QString::number(port),
                                    CInterfaceModule::textUpToNul(datagram)));
    if (socket->writeDatagram(datagram, QHostAddress(QHostAddress::Broadcast), quint16(port)) !=
        datagram.size()) {
        qCDebug(lcSearch) << "broadcast from" << socket->localAddress() << "failed:" << socket->errorString();
    }
}

void CSearching::onSocketReadyRead()
{
    auto* socket = qobject_cast<QUdpSocket*>(sender());
    if (!socket) {
        return;
    }
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        if (!datagram.isValid()) {
            break;
        }
        bool isV4 = false;
        const quint32 v4 = datagram.senderAddress().toIPv4Address(&isV4);
        const QHostAddress address = isV4 ? QHostAddress(v4) : datagram.senderAddress();
        const int port = datagram.senderPort();
        const QByteArray data = datagram.data();
        emit newInLog(LogClock::record(address.toString() + QLatin1Char(',') + QString::number(port),
                                       CInterfaceModule::textUpToNul(data)));
        qCDebug(lcSearch) << "device IP=" << address << "config port=" << port;
        if (port != CTibbo::UdpPort && port != CESP::UdpPort) {
            // Not a module's status: it could never complete.
            continue;
        }
        // The same module may answer on several interfaces: its pieces are joined per socket.
        const QString key = socket->localAddress().toString() + QLatin1Char('>') + address.toString() +
                            QLatin1Char(',') + QString::number(port);
        QByteArray answer = data;
        if (m_partial.contains(key)) {
            answer = m_partial.take(key) + data;
            qCDebug(lcSearch) << "ALREADY THERE!";
        }
        qCDebug(lcSearch) << "RECV=" << answer;
        const bool complete = (port == CTibbo::UdpPort && answer.count('/') > 4) ||
                              (port == CESP::UdpPort && answer.contains(','));
        if (complete) {
            parseReceivedData(socket, answer, address, port);
        } else if (answer.size() > MaxPartialBytes ||
                   (m_partial.size() >= MaxPartialSenders && !m_partial.contains(key))) {
            if (!m_partialCapReported) {
                qCWarning(lcSearch) << "incomplete module answers dropped, from" << address << "first";
                m_partialCapReported = true;
            }
        } else {
            m_partial.insert(key, answer);
            qCDebug(lcSearch) << "NOT EVERYTHING RECEIVED - KEPT FOR LATER!";
        }
    }
}

bool CSearching::holds(const QUdpSocket* socket, const QHostAddress& address)
{
    const quint32 mask = socket->property("netmask").toUInt();
    return mask != 0 && (ipv4(socket->localAddress()) & mask) == (ipv4(address) & mask);
}

void CSearching::parseReceivedData(QUdpSocket* socket, const QByteArray& answer, const QHostAddress& address,
                                   int port)
{
    const QString text = CInterfaceModule::textUpToNul(answer);
    QByteArray mac;
    QByteArray arpMac;
    bool dhcp = false;
    bool ipObtained = false;
    if (port == CTibbo::UdpPort) {
        const QStringList parts = text.split(QLatin1Char('/'));
        if (parts.size() > 5) {
            mac = parts.at(0).mid(1).toLatin1();
            const QString& mode = parts.at(2);
            const QChar state = mode.size() > 3 ? mode.at(3) : QChar();
            dhcp = state == QLatin1Char('I') || state == QLatin1Char('*');
            ipObtained = state == QLatin1Char('I');
            arpMac = CInterfaceModule::arpForm(mac, '.', 10);
        }
    } else if (port == CESP::UdpPort) {
        const QStringList parts = text.split(QLatin1Char(','));
        mac = parts.at(0).trimmed().toLatin1();
        const QString state = parts.value(1).trimmed();
        const QChar first = state.isEmpty() ? QChar() : state.at(0);
        dhcp = first == QLatin1Char('3') || first == QLatin1Char('2');
        ipObtained = first == QLatin1Char('3');
        arpMac = CInterfaceModule::arpForm(mac, ':', 16);
    }
    qCDebug(lcSearch) << "configuration port=" << port;
    if (arpMac.isEmpty() || address.protocol() != QAbstractSocket::IPv4Protocol) {
        qCDebug(lcSearch) << "not a module's status:" << text;
        return;
    }

    // One module heard on two interfaces is one instrument, reached where its subnet is.
    const QString moduleKey = QString::number(port) + QLatin1Char('/') + QString::fromLatin1(arpMac);
    // An address answers for one module of a dialect: whatever else it claims to be waits for nothing.
    const QString senderKey = QString::number(port) + QLatin1Char('/') + address.toString();
    const QString heardThere = m_moduleAt.value(senderKey);
    if (!heardThere.isEmpty() && heardThere != moduleKey) {
        qCDebug(lcSearch) << "another module's status from" << address << "ignored:" << arpMac;
        return;
    }
    m_moduleAt.insert(senderKey, moduleKey);
    const auto heard = m_modules.find(moduleKey);
    if (heard != m_modules.end()) {
        bool listed = false;
        for (const QPointer<CDevice>& candidate : qAsConst(heard->candidates)) {
            listed = listed || (candidate && m_devices.contains(candidate.data()));
        }
        if (listed || holds(heard->socket, address) || !holds(socket, address)) {
            qCDebug(lcSearch) << "module" << arpMac << "heard again from" << address << "through"
                              << socket->localAddress();
            return;
        }
        qCDebug(lcSearch) << "module" << arpMac << "heard in its own subnet through"
                          << socket->localAddress();
        for (const QPointer<CDevice>& candidate : qAsConst(heard->candidates)) {
            if (candidate) {
                discard(candidate);
            }
        }
        *heard = HeardModule{socket, address, port, mac, dhcp, ipObtained, {}, heard->startedMs};
        // A module already under way starts again in its place; one still waiting keeps its turn.
        if (heard->startedMs >= 0) {
            startModule(moduleKey);
        }
        return;
    }
    m_modules.insert(moduleKey, HeardModule{socket, address, port, mac, dhcp, ipObtained, {}, -1});
    m_queue.append(moduleKey);
    startQueued();
}

void CSearching::startModule(const QString& key)
{
    const auto found = m_modules.find(key);
    if (found == m_modules.end()) {
        return;
    }
    HeardModule& module = *found;
    module.startedMs = m_clock.elapsed();
    if (!m_inFlight.contains(key)) {
        m_inFlight.append(key);
    }
    const QHostAddress local = module.socket->localAddress();
    const quint32 netmask = module.socket->property("netmask").toUInt();
    const QList<CDevice*> candidates = m_factory->createDevices(m_candidates, false);
    for (CDevice* candidate : candidates) {
        CPelmLog::follow(candidate);
        qCDebug(lcSearch) << "Comp IP=  " << local << "Device IP=" << module.address << "Netmask=" << netmask
                          << QStringLiteral("0x%1").arg(netmask, 0, 16);
        CInterfaceModule* interfaceModule = nullptr;
        if (module.port == CTibbo::UdpPort) {
            interfaceModule = new CTibbo(local, netmask, module.mac, module.address, candidate);
            qCDebug(lcSearch) << "new Tibbo";
        } else {
            interfaceModule = new CESP(local, netmask, module.mac, module.address, candidate);
            qCDebug(lcSearch) << "new ESP";
        }
        qCDebug(lcSearch) << "MAC=" << interfaceModule->macForArp();
        interfaceModule->setDhcpState(module.dhcp, module.ipObtained);
        candidate->setModule(interfaceModule);
        connect(interfaceModule, &CInterfaceModule::infoReady, this, &CSearching::onModuleInfoReady);
        connect(interfaceModule, &CInterfaceModule::commandFailed, this, &CSearching::onModuleCommandFailed);
        connect(interfaceModule, &CInterfaceModule::commandOk, this, &CSearching::onModuleCommandOk);
        connect(interfaceModule, &CInterfaceModule::commandTimeout, this,
                &CSearching::onModuleCommandTimeout);
        CPelmLog::follow(interfaceModule);
        module.candidates.append(candidate);
        interfaceModule->readInfo(1);
    }
}

void CSearching::startQueued()
{
    while (!m_stop && !m_queue.isEmpty() && m_inFlight.size() < MaxModulesInFlight) {
        startModule(m_queue.takeFirst());
    }
}

void CSearching::updateModulesInFlight()
{
    const qint64 now = m_clock.elapsed();
    for (auto key = m_inFlight.begin(); key != m_inFlight.end();) {
        HeardModule& module = m_modules[*key];
        QList<CDevice*> running;
        for (const QPointer<CDevice>& candidate : qAsConst(module.candidates)) {
            if (candidate && !isDiscarded(candidate) && !m_devices.contains(candidate.data())) {
                running << candidate.data();
            }
        }
        // Had its share of the wait: a module that never completes must not hold a place for ever.
        if (!running.isEmpty() && !m_queue.isEmpty() && now - module.startedMs >= m_networkWaitMs) {
            qCDebug(lcSearch) << "module at" << module.address << "gives its place to the next";
            for (CDevice* device : qAsConst(running)) {
                discard(device);
            }
            running.clear();
        }
        key = running.isEmpty() ? m_inFlight.erase(key) : key + 1;
    }
    // Nothing of this thread runs inside a candidate's exchange here: the dropped ones go now.
    const QList<QPointer<CDevice>> discarded = std::exchange(m_discarded, {});
    for (const QPointer<CDevice>& device : discarded) {
        if (device != m_checking) {
            delete device.data();
        }
    }
    startQueued();
}

bool CSearching::modulesBusy() const
{
    if (!m_queue.isEmpty()) {
        return true;
    }
    const qint64 now = m_clock.elapsed();
    for (const QString& key : m_inFlight) {
        if (now - m_modules.value(key).startedMs < m_networkWaitMs) {
            return true;
        }
    }
    return false;
}

void CSearching::retryInformation(CInterfaceModule* module)
{
    if (module->infoCnt() < MaxInfoAttempts) {
        module->readInfo(module->infoCnt() + 1);
        return;
    }
    if (auto* device = qobject_cast<CDevice*>(module->parent())) {
        emit newLogLine(device->interfaceDescription() + QStringLiteral(": Too many unsuccessful try\n"));
        discard(device);
    }
}

void CSearching::onModuleCommandFailed()
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    if (!module) {
        return;
    }
    if (module->command() == CInterfaceModule::COMMAND_GET_INFO) {
        retryInformation(module);
        return;
    }
    qCDebug(lcSearch) << module->commandName() << "failed";
}

void CSearching::onModuleCommandOk()
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    if (module && module->command() == CInterfaceModule::COMMAND_SET_BAUDRATE) {
        retryInformation(module);
    }
}

void CSearching::onModuleCommandTimeout()
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    if (!module) {
        return;
    }
    qCDebug(lcSearch) << module->commandName();
    // An information request that times out ends that candidate's discovery: its place goes to the next.
    auto* device = qobject_cast<CDevice*>(module->parent());
    if (m_running && device && module->command() == CInterfaceModule::COMMAND_GET_INFO &&
        !isDiscarded(device) && !m_devices.contains(device)) {
        discard(device);
    }
}

void CSearching::onModuleInfoReady()
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    auto* device = module ? qobject_cast<CDevice*>(module->parent()) : nullptr;
    if (!device || isDiscarded(device)) {
        return;
    }
    // The settings are read once per candidate; a late repetition changes nothing.
    disconnect(module, &CInterfaceModule::infoReady, this, &CSearching::onModuleInfoReady);
    device->setTransportFromModule();
    emit newLogLine(device->interfaceDescription() + QStringLiteral(": NM=") + module->netmask().toString() +
                    QStringLiteral(" TP=") + module->protocolText() + QStringLiteral(" RM=") +
                    module->routingModeText() + QStringLiteral(" BR=") + module->baudrateText() +
                    QStringLiteral("\n"));
    if (device->isReachable()) {
        // Connected and checked outside this handler, which may run inside another device's exchange.
        m_toConnect.append(device);
        return;
    }
    // Listed with the reason, so that it can be diagnosed; once, however many candidates it had.
    if (isListed(device->interfaceDescription())) {
        discard(device);
        return;
    }
    appendToDevicesList(device);
    emit newLogLine(device->interfaceDescription() + QStringLiteral(": ") + device->reasonText() +
                    QStringLiteral("\n"));
    emit newDeviceFound(device);
}

void CSearching::onDeviceStateChanged(int state)
{
    auto* device = qobject_cast<CDevice*>(sender());
    qCDebug(lcSearch) << "New state=" << state;
    if (!device || state != STATE_CONNECTED) {
        return;
    }
    disconnect(device, &CDevice::stateChanged, this, &CSearching::onDeviceStateChanged);
    m_toCheck.append(device);
}

void CSearching::runChecks()
{
    if (m_checking) {
        return;
    }
    while (!m_toConnect.isEmpty() || !m_toCheck.isEmpty()) {
        if (m_stop) {
            m_toConnect.clear();
            m_toCheck.clear();
            return;
        }
        const bool connectFirst = !m_toConnect.isEmpty();
        const QPointer<CDevice> device = connectFirst ? m_toConnect.takeFirst() : m_toCheck.takeFirst();
        if (!device || isDiscarded(device)) {
            continue;
        }
        m_checking = device;
        if (connectFirst) {
            connectFoundModule(device);
        } else {
            checkFoundDevice(device);
        }
        m_checking = nullptr;
        if (device && isDiscarded(device)) {
            device->deleteLater();
        }
    }
}

void CSearching::connectFoundModule(CDevice* device)
{
    if (!device->connectDevice(false)) {
        emit newLogLine(device->interfaceDescription() + QStringLiteral(": Unable to connect\n"));
        discard(device);
        return;
    }
    if (device->module()->routingMode() != CInterfaceModule::ROUTING_CLIENT) {
        checkFoundDevice(device);
        return;
    }
    // The transport listens now; the module connects to it when it next tries.
    connect(device, &CDevice::stateChanged, this, &CSearching::onDeviceStateChanged);
}

void CSearching::checkFoundDevice(CDevice* device)
{
    const bool echo = device->checkEcho();
    if (!m_stop && echo && !isDiscarded(device)) {
        const bool identified = device->readInfo();
        device->disconnectDevice();
        if (!identified) {
            emit newLogLine(device->interfaceDescription() +
                            QStringLiteral(": Device does not respond to SW9\n"));
            discard(device);
            return;
        }
        // Dropped meanwhile (the module was heard in its own subnet), or found already by another candidate.
        if (isDiscarded(device) || isListed(device->interfaceDescription())) {
            discard(device);
            return;
        }
        appendToDevicesList(device);
        emit newLogLine(identityLine(device));
        emit newDeviceFound(device);
        return;
    }
    if (m_stop) {
        emit newLogLine(device->interfaceDescription() + QStringLiteral(": Stopped searching\n"));
    } else {
        emit newLogLine(device->interfaceDescription() + QStringLiteral(": ") + device->typeName() +
                        QStringLiteral(" does not respond\n"));
    }
    device->disconnectDevice();
    discard(device);
}

void CSearching::discard(CDevice* device)
{
    disconnect(device, nullptr, this, nullptr);
    if (CInterfaceModule* module = device->module()) {
        disconnect(module, nullptr, this, nullptr);
    }
    device->setProperty(DiscardedProperty, true);
    if (m_running && !m_devices.contains(device)) {
        m_discarded.append(device);
    }
    // The device under check is inside its own exchange: it goes when the check returns.
    if (device != m_checking) {
        device->deleteLater();
    }
}

bool CSearching::isDiscarded(const CDevice* device)
{
    return device->property(DiscardedProperty).toBool();
}

bool CSearching::isListed(const QString& interfaceDescription) const
{
    for (const CDevice* device : m_devices) {
        if (device->interfaceDescription() == interfaceDescription) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Found devices

QString CSearching::identityLine(const CDevice* device) const
{
    return device->interfaceDescription() + QStringLiteral(": ") + device->model() + QStringLiteral(" | ") +
           device->serialNumber() + QStringLiteral(" | ") + device->productionDate() + QStringLiteral(" | ") +
           device->firmware() + QStringLiteral("\n");
}

void CSearching::appendToDevicesList(CDevice* device)
{
    device->setParent(this);
    m_devices.append(device);
    qCDebug(lcSearch) << "devices held:" << m_devices.size();
}

void CSearching::setDevice(CDevice* device)
{
    if (!device) {
        return;
    }
    if (device->thread() != thread() && device->thread() == QThread::currentThread()) {
        device->setParent(nullptr);
        device->moveToThread(thread());
    }
    for (int i = 0; i < m_devices.size(); ++i) {
        CDevice* old = m_devices.at(i);
        if (old == device) {
            return;
        }
        if (old->model() == device->model() && old->serialNumber() == device->serialNumber()) {
            device->setParent(this);
            m_devices[i] = device;
            old->deleteLater();
            return;
        }
    }
    // Not one of this search's devices (a new search has begun since): kept, so that it has an owner.
    qCDebug(lcSearch) << "no device" << device->model() << device->serialNumber() << "to replace";
    device->setParent(this);
}
