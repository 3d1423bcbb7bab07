#include "device/cdevice.h"

#include "interface/cinterface.h"
#include "interface/cinterfacemodule.h"
#include "interface/clan.h"
#include "interface/clanserver.h"
#include "interface/crs232.h"
#include "log/logclock.h"
#include "platform/logcategories.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaMethod>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

namespace {
qint64 monotonicMs()
{
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference();
}
} // namespace

CDevice::CDevice(QObject* parent) : QObject(parent), receiveBuffer(QLatin1String(""))
{
    DeviceTypes::registerMetaTypes();
    init();
}

CDevice::~CDevice()
{
    // A transport detached by setParent(nullptr) is still ours.
    if (m_interface && m_interface->parent() != this) {
        delete m_interface;
    }
    if (m_module && m_module->parent() != this) {
        delete m_module;
    }
}

void CDevice::init()
{
    echoCommand = QStringLiteral("SJ\r\n");
    echoAnswer = QStringLiteral("MJ");
    commandNames = {
        {COMMAND_UNKNOWN, QStringLiteral("COMMAND_UNKNOWN")},
        {COMMAND_CONNECT, QStringLiteral("COMMAND_CONNECT")},
        {COMMAND_DISCONNECT, QStringLiteral("COMMAND_DISCONNECT")},
        {COMMAND_STABLE_RESULT, QStringLiteral("COMMAND_STABLE_RESULT")},
        {COMMAND_RESULT, QStringLiteral("COMMAND_RESULT")},
        {COMMAND_RESULT_WITH_STB, QStringLiteral("COMMAND_RESULT_WITH_STB")},
        {COMMAND_TARE, QStringLiteral("COMMAND_TARE")},
        {COMMAND_ZERO, QStringLiteral("COMMAND_ZERO")},
        {COMMAND_READ_INFO, QStringLiteral("COMMAND_READ_INFO")},
        {COMMAND_CHECK_ECHO, QStringLiteral("COMMAND_CHECK_ECHO")},
        {COMMAND_MIN_THR, QStringLiteral("COMMAND_MIN_THR")},
        {COMMAND_MAX_THR, QStringLiteral("COMMAND_MAX_THR")},
        {COMMAND_ZERO_THR, QStringLiteral("COMMAND_ZERO_THR")},
        {COMMAND_MESSAGE, QStringLiteral("COMMAND_MESSAGE")},
        {COMMAND_SET_USERS, QStringLiteral("COMMAND_SET_USERS")},
        {COMMAND_SET_PRODUCTS, QStringLiteral("COMMAND_SET_PRODUCTS")},
        {COMMAND_SET_DATE_TIME, QStringLiteral("COMMAND_SET_DATE_TIME")},
        {COMMAND_GET_DATE_TIME, QStringLiteral("COMMAND_GET_DATE_TIME")},
        {COMMAND_SEND_SI, QStringLiteral("COMMAND_SEND_SI")},
        {COMMAND_SEND_Sx1, QStringLiteral("COMMAND_SEND_Sx1")},
        {COMMAND_SEND_Sx3, QStringLiteral("COMMAND_SEND_Sx3")},
        {COMMAND_SEND_SZ, QStringLiteral("COMMAND_SEND_SZ")},
        {COMMAND_SEND_ST, QStringLiteral("COMMAND_SEND_ST")},
        {COMMAND_SEND_SJ, QStringLiteral("COMMAND_SEND_SJ")},
        {COMMAND_SEND_SW9, QStringLiteral("COMMAND_SEND_SW9")},
    };
    restartActivityTimer();
    m_deviceType = 1;
}

// ---------------------------------------------------------------------------------------------
// Identity, names and accessors

CDevice* CDevice::clone(QObject* parent)
{
    auto* copy = new CDevice(parent);
    if (m_interface) {
        copy->adoptInterface(m_interface->clone(nullptr));
    }
    if (m_module) {
        copy->setModule(m_module->clone(copy));
    }
    copy->m_model = m_model;
    copy->m_serialNumber = m_serialNumber;
    copy->m_productionDate = m_productionDate;
    copy->m_firmware = m_firmware;
    copy->receiveBuffer = receiveBuffer;
    copy->m_unreachableReasons = m_unreachableReasons;
    return copy;
}

QString CDevice::interfaceDescription() const
{
    return m_interface ? m_interface->description() : QStringLiteral("NO INTERFACE");
}

bool CDevice::setBaudRate(int baudRate)
{
    if (auto* serial = qobject_cast<CRS232*>(m_interface)) {
        serial->setBaudRate(baudRate);
    }
    return true;
}

QString CDevice::typeName() const
{
    return tr("Device");
}

void CDevice::info(QString& model, QString& serialNumber, QString& productionDate, QString& firmware) const
{
    model = m_model;
    serialNumber = m_serialNumber;
    productionDate = m_productionDate;
    firmware = m_firmware;
}

int CDevice::baudRate() const
{
    if (auto* serial = qobject_cast<CRS232*>(m_interface)) {
        return serial->baudRate();
    }
    if (m_module) {
        return m_module->baudrate();
    }
    return -1;
}

QString CDevice::commandName(int command) const
{
    return commandNames.value(command, QStringLiteral("COMMAND_UNKNOWN_UNKNOWN"));
}

QString CDevice::resultName(int result)
{
    switch (result) {
    case COMMAND_OK:
        return QStringLiteral("COMMAND_OK");
    case COMMAND_FAILED:
        return QStringLiteral("COMMAND_FAILED");
    case COMMAND_TIMEOUT:
        return QStringLiteral("COMMAND_TIMEOUT");
    default:
        return QStringLiteral("COMMAND UNKNOWN");
    }
}

QString CDevice::stateName(int state)
{
    switch (state) {
    case STATE_CONNECTING:
        return QStringLiteral("Connecting..");
    case STATE_DISCONNECTING:
        return QStringLiteral("Disconnecting..");
    default:
        return CInterface::stateName(state);
    }
}

QString CDevice::reasonText(int reason)
{
    switch (reason) {
    case REASON_NO_DHCP_ADDRESS:
        return tr("Device not reachable (address not obtained from DHCP server)");
    case REASON_DHCP_ADDRESS_NOT_LOCAL:
        return tr("Device not reachable (address obtained from DHCP not in local subnet)");
    case REASON_ADDRESS_NOT_LOCAL:
        return tr("Device not reachable (address set in device not in local subnet)");
    case REASON_DHCP_CANNOT_REACH_COMPUTER:
        return tr("Device not reachable (DHCP device can not reach comp (wrong subnet))");
    case REASON_CANNOT_REACH_COMPUTER:
        return tr("Device not reachable (device can not reach comp (wrong subnet))");
    case REASON_WRONG_REMOTE_IP:
        return tr("Device not reachable (device can not reach comp (wrong remote ip setting))");
    case REASON_WRONG_PROTOCOL:
        return tr("Device not reachable (wrong transport protocol setting)");
    default:
        return tr("Unknown reason");
    }
}

QString CDevice::reasonText() const
{
    if (m_unreachableReasons.isEmpty()) {
        return tr("Everything good");
    }
    return reasonText(m_unreachableReasons.first());
}

bool CDevice::isReachable()
{
    // Serial instruments have no network module and are always reachable.
    if (!m_module) {
        return true;
    }
    if (!m_interface) {
        return false;
    }
    return isReachable(m_module);
}

bool CDevice::isReachable(CInterfaceModule* module)
{
    if (!module) {
        return true;
    }
    QList<int> reasons;
    if (module->dhcp() && !module->ipObtained()) {
        reasons << REASON_NO_DHCP_ADDRESS;
    } else if (module->routingMode() == CInterfaceModule::ROUTING_SERVER) {
        // The computer connects: the instrument's address must be in the computer's subnet.
        if (!module->isInLocalSubnet()) {
            reasons << (module->dhcp() ? REASON_DHCP_ADDRESS_NOT_LOCAL : REASON_ADDRESS_NOT_LOCAL);
        }
    } else {
        // The instrument connects: each side must see the other in its subnet, and the instrument
        // must dial this computer.
        if (!(module->isInModuleSubnet() && module->isInLocalSubnet())) {
            reasons << (module->dhcp() ? REASON_DHCP_CANNOT_REACH_COMPUTER : REASON_CANNOT_REACH_COMPUTER);
        }
        if (module->localAddress() != module->remoteIp()) {
            reasons << REASON_WRONG_REMOTE_IP;
        }
    }
    if (module->protocol() != CInterfaceModule::PROTOCOL_TCP) {
        reasons << REASON_WRONG_PROTOCOL;
    }
    if (reasons != m_unreachableReasons) {
        m_unreachableReasons = reasons;
    }
    return reasons.isEmpty();
}

void CDevice::moveToThread(QThread* thread)
{
    // Children travel with the device; a transport detached from it must be moved on its own.
    if (m_interface && m_interface->parent() == nullptr) {
        m_interface->moveToThread(thread);
    }
    if (m_module && m_module->parent() == nullptr) {
        m_module->moveToThread(thread);
    }
    QObject::moveToThread(thread);
}

void CDevice::setParent(QObject* parent)
{
    if (m_interface) {
        m_interface->setParent(parent ? this : nullptr);
    }
    if (m_module) {
        m_module->setParent(parent ? this : nullptr);
    }
    QObject::setParent(parent);
}

// ---------------------------------------------------------------------------------------------
// State

void CDevice::setState(int state)
{
    const int old = m_state.load();
    if (old == state) {
        return;
    }
    m_previousState = old;
    m_state = state;
    emit stateChanged(state);
}

void CDevice::setBusy(bool busy)
{
    if (m_busy.exchange(busy) != busy) {
        emit busyChanged(busy);
    }
}

void CDevice::restartActivityTimer()
{
    m_lastActivityMs = monotonicMs();
}

bool CDevice::recentlyActive() const
{
    return monotonicMs() - m_lastActivityMs < ActivityWindowMs;
}

PelmLogRecord CDevice::logRecord(const QString& message) const
{
    return LogClock::record(interfaceDescription(), message);
}

// A record costs a clock read and copies per chunk, for nothing when nobody listens (a command-line
// read of results).
void CDevice::logIn(const QString& text)
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&CDevice::newInLog);
    if (isSignalConnected(signal)) {
        emit newInLog(logRecord(text));
    }
}

void CDevice::logOut(const QString& line)
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&CDevice::newOutLog);
    if (isSignalConnected(signal)) {
        emit newOutLog(logRecord(line));
    }
}

// ---------------------------------------------------------------------------------------------
// Transport

void CDevice::setRS232(QString portName, QString portDescription, int baudRate)
{
    adoptInterface(new CRS232(portName, baudRate, portDescription, nullptr));
}

void CDevice::setLAN(QHostAddress address, int port)
{
    adoptInterface(new CLAN(std::move(address), port, nullptr));
}

void CDevice::setLANServer(QHostAddress address, int port, QByteArray mac)
{
    adoptInterface(new CLANServer(std::move(address), port, std::move(mac), nullptr));
}

bool CDevice::setTransportFromModule()
{
    if (!m_module) {
        return false;
    }
    if (m_module->routingMode() == CInterfaceModule::ROUTING_CLIENT) {
        setLANServer(m_module->localAddress(), m_module->remotePort(), m_module->macForArp());
    } else {
        setLAN(m_module->moduleAddress(), m_module->port());
    }
    return true;
}

void CDevice::setModule(CInterfaceModule* module)
{
    if (module == m_module) {
        return;
    }
    if (m_module && (m_module->parent() == this || m_module->parent() == nullptr)) {
        m_module->deleteLater();
    }
    m_module = module;
    if (!module) {
        return;
    }
    // Only the module's own thread may push it into the device's.
    if (module->thread() != thread() && module->thread() == QThread::currentThread()) {
        module->setParent(nullptr);
        module->moveToThread(thread());
    }
    module->setParent(this);
}

void CDevice::adoptInterface(CInterface* transport)
{
    if (m_interface) {
        disconnect(m_interface, nullptr, this, nullptr);
        m_interface->deleteLater();
    }
    m_interface = transport;
    transport->moveToThread(thread());
    transport->setParent(this);
    connect(transport, &CInterface::stateChanged, this, &CDevice::onInterfaceStateChanged);
    connect(transport, &CInterface::readyRead, this, &CDevice::onReadyRead);
    connectReceiver();
}

// The receive path stays wired to the transport; during an exchange it is switched off by a flag,
// which is the same as disconnecting it but costs nothing per exchange.
void CDevice::connectReceiver()
{
    m_receiving = true;
}

void CDevice::disconnectReceiver()
{
    m_receiving = false;
}

void CDevice::onInterfaceStateChanged(int state)
{
    if (state == STATE_DISCONNECTED) {
        stopCheckTimer();
        // The rest of a dump cannot come over a closed line; what waits for its end need not.
        if (m_eepromArmed) {
            finishEepromReading(COMMAND_FAILED);
        }
        // Nor does the answer to a request sent ahead, and a new connection starts without one.
        m_resultsAhead = 0;
        if (!m_sentAhead.isEmpty()) {
            m_sentAhead.clear();
            connectReceiver();
        }
    }
    if (state == STATE_CONNECTED || state == STATE_DISCONNECTED || state == STATE_LISTENING) {
        setState(state);
    }
}

void CDevice::stopCheckTimer()
{
    if (checkTimerId != 0) {
        killTimer(checkTimerId);
        checkTimerId = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Guards

bool CDevice::threadGuard(const char* method, QGenericArgument a1, QGenericArgument a2, QGenericArgument a3)
{
    if (QThread::currentThread() == thread()) {
        return true;
    }
    qCDebug(lcDevice) << method << "WRONG THREAD" << QThread::currentThread() << "-> INVOKE METHOD";
    QMetaObject::invokeMethod(this, method, Qt::QueuedConnection, a1, a2, a3);
    return false;
}

bool CDevice::canSendNextCommand(int command, const char* method, QGenericArgument a1, QGenericArgument a2,
                                 QGenericArgument a3)
{
    // A dump arrives as ordinary lines after its request has ended: a command sent meanwhile would
    // take the dump's lines for its answer, so it waits for the dump's end like one during a wait.
    if (!waitingForAnswer && !m_eepromArmed) {
        return true;
    }
    const QGenericArgument args[3] = {a1, a2, a3};
    if (delayedCommand.method) {
        qCDebug(lcDevice) << method << a1.name() << a2.name() << a3.name() << "COMMAND FAILED!";
        if (command == COMMAND_READ_ALIBI) {
            emit readingAlibiFinished(COMMAND_REFUSED);
        } else if (qstrcmp(method, "sendNewFirmware") == 0) {
            // Every dialect's upload, whatever its command id, ends with its own signal.
            emit sendingFirmwareFinished(COMMAND_REFUSED);
        } else {
            emit commandFinished(COMMAND_FAILED, command);
        }
        return false;
    }
    qCDebug(lcDevice) << method << a1.name() << a2.name() << a3.name() << "COMMAND DELAYED!";
    delayedCommand.method = method;
    for (int i = 0; i < 3; ++i) {
        // Copy the value: the caller's storage is gone by the time the command is re-posted.
        if (args[i].name()) {
            delayedCommand.typeNames[i] = args[i].name();
            delayedCommand.values[i] = QVariant(QMetaType::type(args[i].name()), args[i].data());
        } else {
            delayedCommand.typeNames[i].clear();
            delayedCommand.values[i] = QVariant();
        }
    }
    return false;
}

void CDevice::invokeDelayedCommand()
{
    if (!delayedCommand.method) {
        return;
    }
    const DelayedCommand held = delayedCommand;
    delayedCommand = DelayedCommand();
    qCDebug(lcDevice) << held.method << held.typeNames[0] << held.typeNames[1] << held.typeNames[2]
                      << "AFTER SOME TIME";
    QGenericArgument args[3];
    for (int i = 0; i < 3; ++i) {
        if (!held.typeNames[i].isEmpty()) {
            args[i] = QGenericArgument(held.typeNames[i].constData(), held.values[i].constData());
        }
    }
    // A queued invocation copies its arguments here, so the held copies may go afterwards.
    QMetaObject::invokeMethod(this, held.method, Qt::QueuedConnection, args[0], args[1], args[2]);
}

// ---------------------------------------------------------------------------------------------
// Sending and receiving

void CDevice::send(const QString& line)
{
    // Nothing is written or logged as sent on a closed transport.
    if (!m_interface || linkDown()) {
        return;
    }
    settleSentAhead();
    // The line goes out before it is logged: the instrument starts on it while the log is written.
    m_interface->write(line);
    m_lastSent = line;
    qCDebug(lcDevice) << interfaceDescription() << line;
    logOut(line);
    if (m_checkConnection) {
        if (checkTimerId != 0) {
            killTimer(checkTimerId);
        }
        checkTimerId = startTimer(CheckPeriodMs, Qt::CoarseTimer);
    }
}

void CDevice::sendBytes(const QByteArray& bytes)
{
    if (m_interface) {
        m_interface->write(bytes);
    }
}

void CDevice::onReadyRead()
{
    if (waitingForAnswer) {
        m_chunkArrived = true;
    } else if (!m_sentAhead.isEmpty()) {
        // The caller did not come back for the answer to the request sent ahead of it.
        m_sentAhead.clear();
        connectReceiver();
    }
    if (m_receiving) {
        takeWaitingInput();
    }
}

void CDevice::takeWaitingInput()
{
    if (!m_interface) {
        return;
    }
    settleSentAhead();
    QString chunk;
    if (m_interface->read(chunk) <= 0) {
        return;
    }
    logIn(chunk);
    appendToReceiveBuffer(chunk);
    restartActivityTimer();
}

void CDevice::appendToReceiveBuffer(const QString& chunk)
{
    receiveBuffer += chunk;
    const int last = receiveBuffer.lastIndexOf(QLatin1Char('\n'));
    if (last >= 0) {
        // The complete lines leave the buffer at once: cut off one by one, the rest of a large chunk
        // would be moved once per line, and a chunk of thousands of lines would stall the thread.
        const QString lines = receiveBuffer.left(last + 1);
        receiveBuffer.remove(0, last + 1);
        m_receiveOverflowReported = false;
        for (int start = 0; start < lines.size();) {
            const int end = lines.indexOf(QLatin1Char('\n'), start);
            processLine(lines.mid(start, end + 1 - start));
            start = end + 1;
        }
    }
    if (receiveBuffer.size() > MaxReceiveBuffer) {
        if (!m_receiveOverflowReported) {
            qCWarning(lcDevice) << interfaceDescription() << "no line feed in" << receiveBuffer.size()
                                << "received characters, dropping the oldest";
            m_receiveOverflowReported = true;
        }
        receiveBuffer.remove(0, receiveBuffer.size() - MaxReceiveBuffer);
    }
}

void CDevice::finishResultsAhead()
{
    m_resultsAhead = 0;
    if (!linkDown()) {
        settleSentAhead();
    }
}

void CDevice::settleSentAhead()
{
    if (m_sentAhead.isEmpty()) {
        return;
    }
    m_sentAhead.clear();
    for (int chunks = 0; chunks < ChunksPerLine; ++chunks) {
        QString chunk;
        if (!waitForResponse(chunk, ResultTimeoutMs)) {
            break;
        }
        appendToReceiveBuffer(chunk);
        if (chunk.contains(QLatin1Char('\n'))) {
            break;
        }
    }
    connectReceiver();
}

void CDevice::processLine(const QString& line)
{
    Measurement m = newMeasurement();
    if (parseResult(line, m, false)) {
        emit resultReceived(m);
    } else if (!takeEepromLine(line)) {
        emit lineReceived(line);
    }
}

bool CDevice::waitForChunk(int timeoutMs)
{
    if (!m_interface) {
        return false;
    }
    // Runs the thread's events until bytes arrive or the time is up. It stops on flags set by the
    // receive path and by the device's own timer event rather than through a loop object, a timer
    // object and quit(), which per exchange cost allocations, connections and a wake-up.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    // A timer cannot be started for a negative time: such a wait would never end.
    if (!dispatcher || timeoutMs <= 0 || linkDown()) {
        return false;
    }
    // The previous wait's timer is stopped here rather than when its chunk came: that was between
    // an answer and the next request. Stale, it would only end itself.
    if (m_waitTimerId != 0) {
        killTimer(m_waitTimerId);
        m_waitTimerId = 0;
    }
    m_chunkArrived = false;
    m_waitExpired = false;
    // An answer time-out never ends early (a coarse timer may fire 5 % before its time).
    m_waitTimerId = startTimer(timeoutMs, Qt::PreciseTimer);
    waitingForAnswer = true;
    // A disconnection (the user's or the transport's own) ends the wait at once.
    while (!m_chunkArrived && !m_waitExpired && !linkDown()) {
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    }
    waitingForAnswer = false;
    return m_chunkArrived && m_interface;
}

bool CDevice::receiveChunk(QString& text, int timeoutMs)
{
    const bool arrived = waitForChunk(timeoutMs);
    if (delayedCommand.method) {
        QTimer::singleShot(DelayedCommandMs, this, &CDevice::invokeDelayedCommand);
    }
    if (!arrived) {
        return false;
    }
    m_interface->read(text);
    logIn(text);
    return true;
}

bool CDevice::waitForResponse(QString& text, int timeoutMs)
{
    if (!receiveChunk(text, timeoutMs)) {
        return false;
    }
    restartActivityTimer();
    return true;
}

bool CDevice::waitForResponseBytes(QByteArray& bytes, int timeoutMs)
{
    const bool arrived = waitForChunk(timeoutMs);
    if (delayedCommand.method) {
        qCDebug(lcDevice) << delayedCommand.method << "IS WAITING, STARTING DELAY TIMER";
        QTimer::singleShot(DelayedCommandMs, this, &CDevice::invokeDelayedCommand);
    }
    if (!arrived) {
        return false;
    }
    m_interface->read(bytes);
    logIn(CInterface::textFromBytes(bytes));
    restartActivityTimer();
    return true;
}

bool CDevice::isInstrumentsOwn(const QString& line)
{
    Measurement m = newMeasurement();
    return parseResult(line, m, false) || (filterResultLines && parseResult(line, m, true));
}

QString CDevice::takeInstrumentsOwnLines(QString& pending, int& carried, const QString& chunk)
{
    QString text = pending + chunk;
    const int lastEnd = text.lastIndexOf(QLatin1Char('\n'));
    pending = text.mid(lastEnd + 1);
    text.truncate(lastEnd + 1);
    QString kept;
    for (int start = 0; start < text.size();) {
        const int end = text.indexOf(QLatin1Char('\n'), start);
        QString line = text.mid(start, end + 1 - start);
        start = end + 1;
        if (carried > 0) {
            // Text from before the request is the start of a line the instrument sent by itself, or
            // else no part of the answer: it goes back where it was.
            if (!isInstrumentsOwn(line)) {
                receiveBuffer += line.left(carried);
                line.remove(0, carried);
            }
            carried = 0;
        }
        if (isInstrumentsOwn(line)) {
            processLine(line);
        } else {
            kept += line;
        }
    }
    return kept;
}

bool CDevice::readAnswer(QString& answer, int lines, int timeoutMs)
{
    answer.clear();
    int linesSeen = 0;
    int chunks = 0;
    // A result line that an instrument sends by itself may come before, within or after the answer;
    // it is dispatched as received, not counted nor taken for the answer. A line is judged once it is
    // complete; the unfinished one the receive path held before the request is completed here.
    const bool sorting = !answerIsResult;
    QString pending;
    int carried = 0;
    if (sorting) {
        pending.swap(receiveBuffer);
        carried = pending.size();
    }
    // An unfinished line after a complete answer is the start of the next one, the receive path's;
    // otherwise it is what came of the answer. Text from before the request goes back where it was.
    const auto finish = [&](bool complete) {
        receiveBuffer += pending.left(carried);
        pending.remove(0, carried);
        (complete ? receiveBuffer : answer) += pending;
    };
    for (;;) {
        if (lines != 0 && (linesSeen >= lines || chunks >= ChunksPerLine * lines)) {
            finish(linesSeen >= lines);
            return true;
        }
        QString chunk;
        if (!waitForResponse(chunk, timeoutMs)) {
            finish(false);
            return false;
        }
        if (sorting) {
            chunk = takeInstrumentsOwnLines(pending, carried, chunk);
        }
        if (lines > 0) {
            linesSeen += chunk.count(QLatin1Char('\n'));
        }
        answer += chunk;
        ++chunks;
    }
}

int CDevice::sendAndExpect(const QString& command, const QString& expected, int lines, int timeoutMs,
                           int attempts)
{
    int result = COMMAND_TIMEOUT;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // What came before the request is no answer to it, but it is the instrument's and is kept.
        takeWaitingInput();
        if (linkDown()) {
            result = COMMAND_FAILED;
            break;
        }
        disconnectReceiver();
        send(command);
        QString answer;
        const bool received = readAnswer(answer, lines, timeoutMs);
        if (received && answer == expected) {
            connectReceiver();
            return COMMAND_OK;
        }
        result = received ? COMMAND_FAILED : COMMAND_TIMEOUT;
    }
    if (linkDown()) {
        // Not a silent instrument: the connection is gone, and no connection check may follow.
        result = COMMAND_FAILED;
    }
    connectReceiver();
    return result;
}

int CDevice::sendAndRead(const QString& command, QString* answer, int lines, int timeoutMs, int attempts)
{
    QString scratch;
    QString& text = answer ? *answer : scratch;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // What came before the request is no answer to it, but it is the instrument's and is kept.
        takeWaitingInput();
        if (linkDown()) {
            break;
        }
        disconnectReceiver();
        send(command);
        if (readAnswer(text, lines, timeoutMs)) {
            connectReceiver();
            return COMMAND_OK;
        }
    }
    connectReceiver();
    // A connection that went away ends the exchange as failed, not as a silent instrument.
    return linkDown() ? COMMAND_FAILED : COMMAND_TIMEOUT;
}

int CDevice::sendAndReadResult(const QString& command, QString& answer, int timeoutMs, int attempts)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (linkDown()) {
            break;
        }
        // The request sent ahead is this one's on the first attempt; its answer may have come
        // already and waits in the transport.
        const bool sentAhead = attempt == 0 && m_sentAhead == command;
        if (sentAhead) {
            m_sentAhead.clear();
        } else {
            // Clearing the input would cut a streamed line in two and leave its tail to be taken
            // for the answer; what came before the request goes the way of any received text.
            takeWaitingInput();
            disconnectReceiver();
            send(command);
        }
        // The streamed line the instrument was in the middle of is completed by the next chunk.
        const QString carried = receiveBuffer;
        QString text = carried;
        receiveBuffer.clear();
        int end = text.indexOf(QLatin1Char('\n'));
        bool timedOut = false;
        bool received = false;
        for (int chunks = 0; end < 0 && chunks < ChunksPerLine && !timedOut; ++chunks) {
            QString chunk;
            timedOut = !receiveChunk(chunk, timeoutMs);
            received = received || !timedOut;
            text += chunk;
            end = text.indexOf(QLatin1Char('\n'));
        }
        if (end >= 0 && m_resultsAhead > 0 && !linkDown()) {
            --m_resultsAhead;
            send(command);
            m_sentAhead = command;
        }
        if (received) {
            restartActivityTimer();
        }
        if (end < 0 && timedOut) {
            // An unfinished line waits for its end, which the next attempt may bring.
            receiveBuffer = text;
            continue;
        }
        answer = end < 0 ? text : text.left(end + 1);
        Measurement m;
        if (!carried.isEmpty() && end >= carried.size() && !parseResult(answer, m, false) &&
            parseResult(answer.mid(carried.size()), m, false)) {
            // Text without a line end left over from before is no part of the answer that follows it.
            answer.remove(0, carried.size());
        }
        receiveBuffer = end < 0 ? QString() : text.mid(end + 1);
        // What comes now is the next request's, read by its exchange.
        if (m_sentAhead.isEmpty()) {
            connectReceiver();
        }
        return COMMAND_OK;
    }
    connectReceiver();
    return linkDown() ? COMMAND_FAILED : COMMAND_TIMEOUT;
}

void CDevice::dispatchReceived()
{
    appendToReceiveBuffer(QString());
}

// ---------------------------------------------------------------------------------------------
// Connection

bool CDevice::connectDevice(bool checkConnection)
{
    if (!threadGuard("connectDevice", Q_ARG(bool, checkConnection))) {
        return false;
    }
    if (!m_interface) {
        return false;
    }
    m_currentCommand = COMMAND_CONNECT;
    m_lastSent = QStringLiteral("NOTHING");
    m_checkConnection = checkConnection;
    QElapsedTimer elapsed;
    elapsed.start();
    setState(STATE_CONNECTING);
    const bool opened = m_interface->open();
    qCDebug(lcDevice) << interfaceDescription() << opened << "ms=" << elapsed.elapsed()
                      << QThread::currentThread();
    return opened;
}

void CDevice::disconnectDevice()
{
    if (!threadGuard("disconnectDevice")) {
        return;
    }
    if (!m_interface) {
        return;
    }
    m_currentCommand = COMMAND_DISCONNECT;
    m_lastSent = QStringLiteral("NOTHING");
    qCDebug(lcDevice) << interfaceDescription();
    QElapsedTimer elapsed;
    elapsed.start();
    setState(STATE_DISCONNECTING);
    stopCheckTimer();
    m_interface->close();
    qCDebug(lcDevice) << interfaceDescription() << "ms=" << elapsed.elapsed();
}

void CDevice::setCheckConnection(bool checkConnection)
{
    if (!threadGuard("setCheckConnection", Q_ARG(bool, checkConnection))) {
        return;
    }
    m_checkConnection = checkConnection;
    stopCheckTimer();
    if (checkConnection && !linkDown()) {
        checkTimerId = startTimer(CheckPeriodMs, Qt::CoarseTimer);
    }
}

void CDevice::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_waitTimerId && m_waitTimerId != 0) {
        killTimer(m_waitTimerId);
        m_waitTimerId = 0;
        m_waitExpired = true;
        return;
    }
    if (event->timerId() != checkTimerId) {
        QObject::timerEvent(event);
        return;
    }
    // Never start a probe inside another exchange's wait: its answer would be taken for the probe's.
    if (!m_busy && !recentlyActive() && !waitingForAnswer) {
        qCDebug(lcDevice) << interfaceDescription() << "CHECKING COMMUNICATION";
        checkCommunication(COMMAND_TIMEOUT);
    } else {
        qCDebug(lcDevice) << interfaceDescription() << "NOT CHECKING COMMUNICATION: THE DEVICE IS BUSY";
    }
}

bool CDevice::checkCommunication(int result)
{
    if (result != COMMAND_TIMEOUT || !m_checkConnection) {
        return true;
    }
    if (sendAndRead(echoCommand, nullptr, 1, CheckTimeoutMs, CheckAttempts) == COMMAND_TIMEOUT) {
        qCDebug(lcDevice) << interfaceDescription() << "NO COMMUNICATION -> DISCONNECTING";
        disconnectDevice();
        return false;
    }
    return true;
}

void CDevice::sendString(QString string)
{
    if (!threadGuard("sendString", Q_ARG(QString, string))) {
        return;
    }
    if (!canSendNextCommand(COMMAND_SEND_STRING, "sendString", Q_ARG(QString, string))) {
        return;
    }
    m_currentCommand = COMMAND_SEND_STRING;
    send(string);
}
