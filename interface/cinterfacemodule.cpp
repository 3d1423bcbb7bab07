#include "interface/cinterfacemodule.h"

#include "log/logclock.h"
#include "platform/ipv4.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QList>
#include <QMetaObject>
#include <QNetworkDatagram>
#include <QThread>
#include <QTimerEvent>
#include <QUdpSocket>

namespace {

// List arguments for addresses come as texts (from the dialogs' cells) or as addresses.
QHostAddress addressArgument(const QVariant& argument)
{
    if (argument.userType() == qMetaTypeId<QHostAddress>()) {
        return argument.value<QHostAddress>();
    }
    return QHostAddress(argument.toString().trimmed());
}

} // namespace

CInterfaceModule::CInterfaceModule(quint32 localNetmask, QByteArray mac, QHostAddress moduleAddress,
                                   QObject* parent)
    : QObject(parent), m_local_netmask(localNetmask), m_module_address(std::move(moduleAddress)),
      m_mac(std::move(mac))
{
    qRegisterMetaType<PelmLogRecord>("PelmLogRecord");
    qRegisterMetaType<QHostAddress>("QHostAddress");
}

CInterfaceModule::~CInterfaceModule() = default;

void CInterfaceModule::createSocket(const QHostAddress& localAddress)
{
    m_local_address = localAddress;
    m_socket = new QUdpSocket(this);
    connect(m_socket, &QUdpSocket::readyRead, this, &CInterfaceModule::onReadyRead);
    if (!m_socket->bind(localAddress, 0)) {
        qCWarning(lcInterface) << "cannot bind to" << localAddress << m_socket->errorString();
    }
}

void CInterfaceModule::copySettingsTo(CInterfaceModule* other) const
{
    other->m_last_datagram = m_last_datagram;
    other->m_rx_buffer = m_rx_buffer;
    other->m_info_cnt = m_info_cnt;
    other->m_last_response = m_last_response;
    other->m_command = m_command;
    other->m_ip = m_ip;
    other->m_gateway = m_gateway;
    other->m_netmask = m_netmask;
    other->m_routing_mode = m_routing_mode;
    other->m_remote_ip = m_remote_ip;
    other->m_port = m_port;
    other->m_remote_port = m_remote_port;
    other->m_protocol = m_protocol;
    other->m_baudrate = m_baudrate;
    other->m_dhcp = m_dhcp;
    other->m_ip_obtained = m_ip_obtained;
}

QByteArray CInterfaceModule::macForArp() const
{
    return arpForm(m_mac, ':', 16);
}

QByteArray CInterfaceModule::arpForm(const QByteArray& mac, char separator, int base)
{
    const QList<QByteArray> parts = mac.split(separator);
    if (parts.size() != 6) {
        return QByteArray();
    }
    QByteArray result;
    for (const QByteArray& part : parts) {
        bool ok = false;
        const uint value = part.trimmed().toUInt(&ok, base);
        // Anything that is not one byte would give a MAC no peer can have.
        if (!ok || value > 0xff) {
            return QByteArray();
        }
        if (!result.isEmpty()) {
            result += '-';
        }
        result += QByteArray::number(value, 16).rightJustified(2, '0');
    }
    return result;
}

QHostAddress CInterfaceModule::localAddress() const
{
    if (m_socket && m_socket->state() == QAbstractSocket::BoundState) {
        return m_socket->localAddress();
    }
    return m_local_address;
}

bool CInterfaceModule::isInLocalSubnet() const
{
    return (ipv4(localAddress()) & m_local_netmask) == (ipv4(m_module_address) & m_local_netmask);
}

bool CInterfaceModule::isInModuleSubnet() const
{
    const quint32 mask = ipv4(m_netmask);
    return (ipv4(localAddress()) & mask) == (ipv4(m_module_address) & mask);
}

void CInterfaceModule::setDhcpState(bool dhcp, bool ipObtained)
{
    m_dhcp = dhcp;
    m_ip_obtained = ipObtained;
}

void CInterfaceModule::setPlannedSettings(bool dhcp, int routingMode, QHostAddress remoteIP,
                                          QHostAddress netmask, int protocol)
{
    m_dhcp = dhcp;
    m_routing_mode = routingMode;
    m_remote_ip = std::move(remoteIP);
    m_netmask = std::move(netmask);
    m_protocol = protocol;
    m_ip_obtained = true;
}

QString CInterfaceModule::lastResponseText() const
{
    return textUpToNul(m_last_response);
}

QString CInterfaceModule::routingModeText() const
{
    switch (m_routing_mode) {
    case ROUTING_SERVER:
        return QStringLiteral("server");
    case ROUTING_CLIENT:
        return QStringLiteral("client");
    default:
        return QStringLiteral("server/client");
    }
}

QString CInterfaceModule::protocolText() const
{
    switch (m_protocol) {
    case PROTOCOL_TCP:
        return QStringLiteral("TCP");
    case PROTOCOL_UDP:
        return QStringLiteral("UDP");
    default:
        return QStringLiteral("fail");
    }
}

QString CInterfaceModule::baudrateText() const
{
    return QString::number(m_baudrate);
}

QString CInterfaceModule::commandName() const
{
    return commandName(m_command);
}

QString CInterfaceModule::commandName(int command)
{
    switch (command) {
    case COMMAND_GET_STATUS:
        return QStringLiteral("COMMAND_GET_STATUS");
    case COMMAND_SELECT_MODULE:
        return QStringLiteral("COMMAND_SELECT_MODULE");
    case COMMAND_GET_INFO:
        return QStringLiteral("COMMAND_GET_INFO");
    case COMMAND_SET_DHCP:
        return QStringLiteral("COMMAND_SET_DHCP");
    case COMMAND_SET_IP:
        return QStringLiteral("COMMAND_SET_IP");
    case COMMAND_SET_GATEWAY:
        return QStringLiteral("COMMAND_SET_GATEWAY");
    case COMMAND_SET_NETMASK:
        return QStringLiteral("COMMAND_SET_NETMASK");
    case COMMAND_SET_IP_LAYER:
        return QStringLiteral("COMMAND_SET_IP_LAYER");
    case COMMAND_SET_ROUTING_MODE:
        return QStringLiteral("COMMAND_SET_ROUTING_MODE");
    case COMMAND_SET_REMOTE_IP:
        return QStringLiteral("COMMAND_SET_REMOTE_IP");
    case COMMAND_SET_PORT:
        return QStringLiteral("COMMAND_SET_PORT");
    case COMMAND_SET_REMOTE_PORT:
        return QStringLiteral("COMMAND_SET_REMOTE_PORT");
    case COMMAND_START_CLIENT_SERVER:
        return QStringLiteral("COMMAND_START_CLIENT_SERVER");
    case COMMAND_SET_TRANSPORT_PROTOCOL:
        return QStringLiteral("COMMAND_SET_TRANSPORT_PROTOCOL");
    case COMMAND_SET_BAUDRATE:
        return QStringLiteral("COMMAND_SET_BAUDRATE");
    case COMMAND_REBOOT:
        return QStringLiteral("COMMAND_REBOOT");
    case COMMAND_TEST_DATAGRAM:
        return QStringLiteral("COMMAND_TEST_DATAGRAM");
    default:
        return QStringLiteral("COMMAND_UNKNOWN");
    }
}

QString CInterfaceModule::textUpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

bool CInterfaceModule::isOwnThread(const char* method) const
{
    if (QThread::currentThread() == thread()) {
        qCDebug(lcInterface) << method << "GOOD THREAD";
        return true;
    }
    qCDebug(lcInterface) << method << "WRONG THREAD" << QThread::currentThread() << " -> INVOKE METHOD";
    return false;
}

// ---------------------------------------------------------------------------------------------
// Sending

void CInterfaceModule::writeDatagram(const QByteArray& datagram, bool broadcast)
{
    const QHostAddress target = broadcast ? QHostAddress(QHostAddress::Broadcast) : m_module_address;
    const QString interface =
        broadcast ? QStringLiteral("BROADCAST,") + QString::number(m_udp_port)
                  : m_module_address.toString() + QLatin1Char(',') + QString::number(m_udp_port);
    qCDebug(lcInterface) << (broadcast ? "BROADCAST" : "Directly") << interface << datagram;
    emit newOutLog(LogClock::record(interface, textUpToNul(datagram)));
    // An unbound socket would be bound by the system to any address and send from there; a
    // module that cannot use its own interface sends nothing and lets the time-out report it.
    if (!m_socket || m_socket->state() != QAbstractSocket::BoundState) {
        if (!m_unboundReported) {
            qCWarning(lcInterface) << "socket not bound to" << m_local_address << "- nothing sent";
            m_unboundReported = true;
        }
        return;
    }
    if (m_socket->writeDatagram(datagram, target, quint16(m_udp_port)) != datagram.size()) {
        qCDebug(lcInterface) << "send failed:" << m_socket->errorString();
    }
}

void CInterfaceModule::sendDatagram(QByteArray datagram, int command, bool force_broadcast, int timeout_ms)
{
    if (QThread::currentThread() != thread()) {
        qCDebug(lcInterface) << "WRONG THREAD"
                             << " -> INVOKE METHOD" << QThread::currentThread();
        queueCall(this, [this, datagram, command, force_broadcast, timeout_ms] {
            sendDatagram(datagram, command, force_broadcast, timeout_ms);
        });
        return;
    }
    m_rx_buffer.clear();
    if (command != COMMAND_NONE) {
        m_command = command;
    }
    m_last_datagram = datagram;
    writeDatagram(datagram, force_broadcast || !isInLocalSubnet());
    startTimeoutTimer(timeout_ms);
}

void CInterfaceModule::sendTestDatagram(QByteArray datagram, bool broadcast, int timeout_ms)
{
    if (QThread::currentThread() != thread()) {
        qCDebug(lcInterface) << "WRONG THREAD"
                             << " -> INVOKE METHOD" << QThread::currentThread();
        queueCall(this, [this, datagram, broadcast, timeout_ms] {
            sendTestDatagram(datagram, broadcast, timeout_ms);
        });
        return;
    }
    qCDebug(lcInterface) << "datagram=" << datagram;
    m_rx_buffer.clear();
    m_command = COMMAND_TEST_DATAGRAM;
    m_last_datagram = datagram;
    writeDatagram(datagram, broadcast);
    startTimeoutTimer(timeout_ms);
}

// ---------------------------------------------------------------------------------------------
// Time-out and reception

void CInterfaceModule::startTimeoutTimer(int ms)
{
    qCDebug(lcInterface) << "timeout=" << ms;
    m_rx_buffer.clear();
    stopTimeoutTimer();
    // No timer starts for a negative time, and the command would wait for ever: expire at once.
    m_timer_id = startTimer(qMax(0, ms), Qt::CoarseTimer);
}

void CInterfaceModule::stopTimeoutTimer()
{
    if (m_timer_id != 0) {
        killTimer(m_timer_id);
        m_timer_id = 0;
    }
}

void CInterfaceModule::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer_id || m_timer_id == 0) {
        QObject::timerEvent(event);
        return;
    }
    stopTimeoutTimer();
    qCDebug(lcInterface) << "Command" << commandName() << "timed out!";
    reportTimeout();
}

void CInterfaceModule::onReadyRead()
{
    // One datagram is one answer: each is taken on its own, however many the socket has queued.
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        if (!datagram.isValid()) {
            break;
        }
        bool isV4 = false;
        const quint32 v4 = datagram.senderAddress().toIPv4Address(&isV4);
        const QHostAddress sender = isV4 ? QHostAddress(v4) : datagram.senderAddress();
        const QByteArray data = datagram.data();
        emit newInLog(
            LogClock::record(sender.toString() + QLatin1Char(',') + QString::number(datagram.senderPort()),
                             textUpToNul(data)));
        takeDatagram(sender, data);
    }
}

void CInterfaceModule::takeDatagram(const QHostAddress& sender, const QByteArray& data)
{
    if (!isTimeoutTimerActive()) {
        // Nothing is awaited: a late or stray datagram is logged and changes nothing, not even
        // where the next command goes.
        qCDebug(lcInterface) << "SENT= " << m_last_datagram << "RECV= " << data
                             << "RECEIVED WHILE WAITING FOR NOTHING?!";
        return;
    }
    m_rx_buffer += data;
    m_module_address = sender;
    stopTimeoutTimer();
    qCDebug(lcInterface) << "SENT= " << m_last_datagram << "RECV= " << m_rx_buffer;
    parseResponse();
}

// ---------------------------------------------------------------------------------------------
// Outcomes and lists

void CInterfaceModule::reportInfo()
{
    m_last_response = m_rx_buffer;
    ++m_outcomes;
    if (m_list_running) {
        advanceList();
    } else {
        emit infoReady();
    }
}

void CInterfaceModule::reportOk()
{
    m_last_response = m_rx_buffer;
    ++m_outcomes;
    if (m_list_running) {
        advanceList();
    } else {
        emit commandOk();
    }
}

void CInterfaceModule::reportFailed()
{
    m_last_response = m_rx_buffer;
    ++m_outcomes;
    if (m_list_running) {
        repeatCommandFromList();
    } else {
        emit commandFailed();
    }
}

void CInterfaceModule::reportTimeout()
{
    m_last_response = m_rx_buffer;
    ++m_outcomes;
    if (m_list_running) {
        repeatCommandFromList();
    } else {
        emit commandTimeout();
    }
}

void CInterfaceModule::startCommandsList(int listId, QList<int> commands, QList<QVariant> arguments,
                                         int commandRepetitions, int listRepetitions)
{
    m_list_id = listId;
    m_commands_list = std::move(commands);
    m_args_list = std::move(arguments);
    m_command_rep = commandRepetitions;
    m_list_rep = listRepetitions;
    m_list_running = true;
    m_commands_list_index = 0;
    m_command_rep_i = 0;
    m_list_rep_i = 1;
    if (m_commands_list.isEmpty()) {
        finishList(LIST_OK);
        return;
    }
    repeatCommandFromList();
}

void CInterfaceModule::finishList(int result)
{
    m_list_running = false;
    emit commandsListFinished(result);
}

void CInterfaceModule::advanceList()
{
    if (!m_list_running) {
        return;
    }
    ++m_commands_list_index;
    if (m_commands_list_index >= m_commands_list.size()) {
        finishList(LIST_OK);
        return;
    }
    m_command_rep_i = 0;
    repeatCommandFromList();
}

void CInterfaceModule::repeatCommandFromList()
{
    if (!m_list_running) {
        return;
    }
    ++m_command_rep_i;
    if (m_command_rep_i > m_command_rep) {
        ++m_list_rep_i;
        if (m_list_rep_i > m_list_rep) {
            finishList(LIST_FAILED);
            return;
        }
        m_commands_list_index = 0;
        m_command_rep_i = 1;
    }
    qCDebug(lcInterface) << "ID=" << m_list_id << "  m_list_rep_i =" << m_list_rep_i
                         << "   m_commands_list_index=" << m_commands_list_index
                         << "   m_command_rep_i=" << m_command_rep_i;
    const int command = m_commands_list.at(m_commands_list_index);
    const QVariant argument = m_args_list.value(m_commands_list_index);
    const quint64 outcomesBefore = m_outcomes;
    switch (command) {
    case COMMAND_GET_INFO:
        readInfo(1);
        break;
    case COMMAND_SET_DHCP:
        setDhcp(argument.toBool());
        break;
    case COMMAND_SET_IP:
        setIP(addressArgument(argument));
        break;
    case COMMAND_SET_NETMASK:
        setNetmask(addressArgument(argument));
        break;
    case COMMAND_SET_REMOTE_IP:
        setRemoteIP(addressArgument(argument));
        break;
    case COMMAND_START_CLIENT_SERVER:
        startClientServer();
        break;
    case COMMAND_SET_TRANSPORT_PROTOCOL:
        setProtocol(argument.toInt());
        break;
    default:
        break;
    }
    // A step that sent nothing and ended in nothing (an id a list cannot run, or an operation the
    // dialect lacks) would leave the list waiting for ever; it counts as a failed attempt instead.
    // Posted, so that a list of such steps cannot recurse.
    if (m_list_running && m_outcomes == outcomesBefore && !isTimeoutTimerActive()) {
        qCDebug(lcInterface) << "command" << command << "cannot run in a list";
        queueCall(this, [this, outcomesBefore] {
            if (m_list_running && m_outcomes == outcomesBefore && !isTimeoutTimerActive()) {
                reportFailed();
            }
        });
    }
}

bool CInterfaceModule::applyCommonSetting()
{
    switch (m_command) {
    case COMMAND_SET_DHCP:
        m_dhcp = m_command_arg.toBool();
        return true;
    case COMMAND_SET_IP:
        m_ip = QHostAddress(m_command_arg.toString());
        return true;
    case COMMAND_SET_GATEWAY:
        m_gateway = QHostAddress(m_command_arg.toString());
        return true;
    case COMMAND_SET_NETMASK:
        m_netmask = QHostAddress(m_command_arg.toString());
        return true;
    case COMMAND_SET_ROUTING_MODE:
        m_routing_mode = m_command_arg.toInt();
        return true;
    case COMMAND_SET_REMOTE_IP:
        m_remote_ip = QHostAddress(m_command_arg.toString());
        return true;
    case COMMAND_SET_PORT:
        m_port = m_command_arg.toInt();
        return true;
    case COMMAND_SET_REMOTE_PORT:
        m_remote_port = m_command_arg.toInt();
        return true;
    default:
        return false;
    }
}
