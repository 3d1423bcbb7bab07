#include "interface/cesp.h"

#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QMetaObject>

namespace {

const QByteArray ConfigQuery = QByteArrayLiteral("AT+ACONFIG?\r\n");
const QByteArray SelectPrefix = QByteArrayLiteral("AT+ASELECT=");

QByteArray addressText(const QHostAddress& address)
{
    return address.isNull() ? QByteArray() : address.toString().toLatin1();
}

} // namespace

CESP::CESP(QHostAddress localAddress, quint32 localNetmask, QByteArray mac, QHostAddress moduleAddress,
           QObject* parent)
    : CInterfaceModule(localNetmask, std::move(mac), std::move(moduleAddress), parent)
{
    createSocket(localAddress);
    m_udp_port = UdpPort;
    m_protocol = PROTOCOL_TCP;
    m_baudrate = 115200;
}

CInterfaceModule* CESP::clone(QObject* parent)
{
    auto* copy = new CESP(localAddress(), m_local_netmask, m_mac, m_module_address, parent);
    copySettingsTo(copy);
    return copy;
}

QByteArray CESP::ipLine(bool dhcp, const QHostAddress& address, const QHostAddress& gateway,
                        const QHostAddress& netmask)
{
    return QByteArrayLiteral("AT+ASTAIPCONFIG=") + (dhcp ? "2" : "1") + ',' + addressText(address) + ',' +
           addressText(gateway) + ',' + addressText(netmask) + "\r\n";
}

QByteArray CESP::tcpLine(int routingMode, int port, const QHostAddress& server)
{
    return QByteArrayLiteral("AT+ATCPCONFIG=") + (routingMode == ROUTING_CLIENT ? "1" : "2") + ',' +
           QByteArray::number(port) + ',' + addressText(server) + ",1\r\n";
}

void CESP::send(const QByteArray& datagram, int command, QVariant argument, bool forceBroadcast)
{
    m_command_arg = std::move(argument);
    sendDatagram(datagram, command, forceBroadcast, DefaultTimeoutMs);
}

void CESP::readStatus()
{
    send(QByteArrayLiteral("AT+ASTATUS?\r\n"), COMMAND_GET_STATUS, QVariant());
}

void CESP::selectModule()
{
    send(SelectPrefix + m_mac + "\r\n", COMMAND_SELECT_MODULE, QVariant(), true);
}

void CESP::readInfo(int cnt)
{
    if (!isOwnThread("readInfo")) {
        queueCall(this, [this, cnt] { readInfo(cnt); });
        return;
    }
    m_info_cnt = cnt;
    if (isInLocalSubnet()) {
        send(ConfigQuery, COMMAND_GET_INFO, QVariant());
    } else {
        // Outside the computer's subnet the module is reached by broadcast, so it is chosen by its
        // MAC first; the configuration query follows its confirmation.
        send(SelectPrefix + m_mac + "\r\n", COMMAND_GET_INFO, QVariant(), true);
    }
}

void CESP::setDhcp(bool dhcp)
{
    send(ipLine(dhcp, m_module_address, m_gateway, m_netmask), COMMAND_SET_DHCP, dhcp);
}

void CESP::setIP(QHostAddress ip)
{
    send(ipLine(m_dhcp, ip, m_gateway, m_netmask), COMMAND_SET_IP, ip.toString());
}

void CESP::setGateway(QHostAddress gateway_ip)
{
    send(ipLine(m_dhcp, m_module_address, gateway_ip, m_netmask), COMMAND_SET_GATEWAY, gateway_ip.toString());
}

void CESP::setNetmask(QHostAddress netmask)
{
    send(ipLine(m_dhcp, m_module_address, m_gateway, netmask), COMMAND_SET_NETMASK, netmask.toString());
}

void CESP::setIPLayer(bool dhcp, QHostAddress ip, QHostAddress gateway_ip, QHostAddress netmask)
{
    const QStringList texts = {dhcp ? QStringLiteral("2") : QStringLiteral("1"), ip.toString(),
                               gateway_ip.toString(), netmask.toString()};
    send(ipLine(dhcp, ip, gateway_ip, netmask), COMMAND_SET_IP_LAYER, texts);
}

void CESP::setRoutingMode(int routing_mode)
{
    send(tcpLine(routing_mode, m_port, m_remote_ip), COMMAND_SET_ROUTING_MODE, routing_mode);
}

void CESP::setRemoteIP(QHostAddress ip)
{
    send(tcpLine(m_routing_mode, m_port, ip), COMMAND_SET_REMOTE_IP, ip.toString());
}

void CESP::setPort(int port)
{
    send(tcpLine(m_routing_mode, port, m_remote_ip), COMMAND_SET_PORT, port);
}

void CESP::setRemotePort(int remote_port)
{
    // The module has one TCP port for both roles.
    send(tcpLine(m_routing_mode, remote_port, m_remote_ip), COMMAND_SET_REMOTE_PORT, remote_port);
}

void CESP::startClientServer()
{
    send(QByteArrayLiteral("AT+ATCPSTART\r\n"), COMMAND_START_CLIENT_SERVER, QVariant());
}

// The Wi-Fi module has no such settings and cannot be rebooted over UDP.
void CESP::setProtocol(int) {}
void CESP::setBaudrate(int) {}
void CESP::reboot() {}

void CESP::parseResponse()
{
    switch (m_command) {
    case COMMAND_TEST_DATAGRAM:
        reportOk();
        break;
    case COMMAND_GET_STATUS:
        parseStatus();
        break;
    case COMMAND_SELECT_MODULE:
    case COMMAND_START_CLIENT_SERVER:
        m_rx_buffer.contains("OK") ? reportOk() : reportFailed();
        break;
    case COMMAND_GET_INFO:
        parseInfo();
        break;
    case COMMAND_SET_DHCP:
    case COMMAND_SET_IP:
    case COMMAND_SET_GATEWAY:
    case COMMAND_SET_NETMASK:
    case COMMAND_SET_IP_LAYER:
    case COMMAND_SET_ROUTING_MODE:
    case COMMAND_SET_REMOTE_IP:
    case COMMAND_SET_PORT:
    case COMMAND_SET_REMOTE_PORT:
        if (!m_rx_buffer.contains("OK")) {
            reportFailed();
            break;
        }
        applySetting();
        reportOk();
        break;
    default:
        break;
    }
}

void CESP::parseStatus()
{
    // Read as text like every other answer, so that NUL bytes cannot pass for a MAC.
    const QList<QByteArray> parts = textUpToNul(m_rx_buffer).toLatin1().split(',');
    const QByteArray state = parts.size() == 2 ? parts.at(1).trimmed() : QByteArray();
    if (state.isEmpty()) {
        startTimeoutTimer(DefaultTimeoutMs);
        return;
    }
    m_mac = parts.at(0).trimmed();
    switch (state.at(0)) {
    case '1':
        m_dhcp = false;
        m_ip_obtained = false;
        break;
    case '2':
        m_dhcp = true;
        m_ip_obtained = false;
        break;
    case '3':
        m_dhcp = true;
        m_ip_obtained = true;
        break;
    default:
        break;
    }
    reportOk();
}

void CESP::parseInfo()
{
    if (m_last_datagram.contains("AT+ASELECT")) {
        if (m_rx_buffer == "OK\r\n") {
            sendDatagram(ConfigQuery, COMMAND_NONE, false, DefaultTimeoutMs);
        } else {
            reportFailed();
        }
        return;
    }
    const QStringList parts = textUpToNul(m_rx_buffer).split(QLatin1Char(','));
    if (parts.size() != 10) {
        startTimeoutTimer(DefaultTimeoutMs);
        return;
    }
    const QString mode = parts.at(3).trimmed();
    if (mode.startsWith(QLatin1Char('1'))) {
        m_dhcp = false;
    } else if (mode.startsWith(QLatin1Char('2'))) {
        m_dhcp = true;
    }
    if (!mode.isEmpty()) {
        m_ip_obtained = true;
    }
    m_ip = QHostAddress(parts.at(4).trimmed());
    m_gateway = QHostAddress(parts.at(5).trimmed());
    m_netmask = QHostAddress(parts.at(6).trimmed());
    // The answer says 1 for a client; the record keeps the system's numbering (2 client, 1 server).
    m_routing_mode = parts.at(7).trimmed().toInt() == 1 ? ROUTING_CLIENT : ROUTING_SERVER;
    m_remote_ip = QHostAddress(parts.at(8).trimmed());
    const int port = parts.at(9).trimmed().toInt();
    m_port = port;
    m_remote_port = port;
    reportInfo();
}

void CESP::applySetting()
{
    if (applyCommonSetting()) {
        // The module answers on its new address from now on.
        if (m_command == COMMAND_SET_IP) {
            m_module_address = m_ip;
        }
        return;
    }
    if (m_command == COMMAND_SET_IP_LAYER) {
        const QStringList texts = m_command_arg.toStringList();
        if (texts.size() == 4) {
            m_dhcp = texts.at(0) == QLatin1String("2");
            m_ip = QHostAddress(texts.at(1));
            m_module_address = m_ip;
            m_gateway = QHostAddress(texts.at(2));
            m_netmask = QHostAddress(texts.at(3));
        }
    }
}
