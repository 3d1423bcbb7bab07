#include "interface/ctibbo.h"

#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QMetaObject>

CTibbo::CTibbo(QHostAddress localAddress, quint32 localNetmask, QByteArray mac, QHostAddress moduleAddress,
               QObject* parent)
    : CInterfaceModule(localNetmask, std::move(mac), std::move(moduleAddress), parent)
{
    createSocket(localAddress);
    m_udp_port = UdpPort;
}

const QList<int>& CTibbo::speeds()
{
    static const QList<int> table = {1200,  2400,   4800, 9600, 19200, 38400,
                                     57600, 115200, 150,  300,  600,   28800};
    return table;
}

CInterfaceModule* CTibbo::clone(QObject* parent)
{
    auto* copy = new CTibbo(localAddress(), m_local_netmask, m_mac, m_module_address, parent);
    copySettingsTo(copy);
    return copy;
}

QByteArray CTibbo::macForArp() const
{
    return arpForm(m_mac, '.', 10);
}

QByteArray CTibbo::macFromArp(const QByteArray& arpMac)
{
    const QByteArray canonical = arpForm(arpMac, '-', 16);
    if (canonical.isEmpty()) {
        return QByteArray();
    }
    QByteArrayList numbers;
    for (const QByteArray& group : canonical.split('-')) {
        numbers << QByteArray::number(group.toUInt(nullptr, 16));
    }
    return numbers.join('.');
}

void CTibbo::send(const QByteArray& datagram, int command, QVariant argument, bool forceBroadcast)
{
    m_command_arg = std::move(argument);
    sendDatagram(datagram, command, forceBroadcast, DefaultTimeoutMs);
}

// The next request of a chain, under the chain's command.
void CTibbo::sendNext(const QByteArray& datagram, QVariant argument)
{
    m_command_arg = std::move(argument);
    sendDatagram(datagram, COMMAND_NONE, false, DefaultTimeoutMs);
}

void CTibbo::readStatus()
{
    send("X", COMMAND_GET_STATUS, QVariant());
}

void CTibbo::selectModule()
{
    send("W" + m_mac, COMMAND_SELECT_MODULE, QVariant(), true);
}

void CTibbo::readInfo(int cnt)
{
    if (!isOwnThread("readInfo")) {
        queueCall(this, [this, cnt] { readInfo(cnt); });
        return;
    }
    m_info_cnt = cnt;
    if (isInLocalSubnet()) {
        send("L", COMMAND_GET_INFO, QVariant());
    } else {
        send("W" + m_mac, COMMAND_GET_INFO, QVariant(), true);
    }
}

void CTibbo::setDhcp(bool dhcp)
{
    send(dhcp ? "SDH1" : "SDH0", COMMAND_SET_DHCP, dhcp);
}

void CTibbo::setIP(QHostAddress ip)
{
    send("SIP" + ip.toString().toLatin1(), COMMAND_SET_IP, ip.toString());
}

void CTibbo::setGateway(QHostAddress gateway_ip)
{
    send("SGI" + gateway_ip.toString().toLatin1(), COMMAND_SET_GATEWAY, gateway_ip.toString());
}

void CTibbo::setNetmask(QHostAddress netmask)
{
    send("SNM" + netmask.toString().toLatin1(), COMMAND_SET_NETMASK, netmask.toString());
}

void CTibbo::setIPLayer(bool dhcp, QHostAddress ip, QHostAddress gateway_ip, QHostAddress netmask)
{
    m_set_ip = std::move(ip);
    m_set_gateway = std::move(gateway_ip);
    m_set_netmask = std::move(netmask);
    send(dhcp ? "SDH1" : "SDH0", COMMAND_SET_IP_LAYER, dhcp);
}

void CTibbo::setRoutingMode(int routing_mode)
{
    send(routing_mode == ROUTING_CLIENT ? "SRM2" : "SRM0", COMMAND_SET_ROUTING_MODE, routing_mode);
}

void CTibbo::setRemoteIP(QHostAddress ip)
{
    send("SDI" + ip.toString().toLatin1(), COMMAND_SET_REMOTE_IP, ip.toString());
}

void CTibbo::setPort(int port)
{
    send("SPN" + QByteArray::number(port), COMMAND_SET_PORT, port);
}

void CTibbo::setRemotePort(int remote_port)
{
    send("SDP" + QByteArray::number(remote_port), COMMAND_SET_REMOTE_PORT, remote_port);
}

void CTibbo::startClientServer()
{
    // The module takes its role from its settings when it starts; there is nothing to send.
    reportOk();
}

void CTibbo::setProtocol(int transport_protocol)
{
    send(transport_protocol == PROTOCOL_UDP ? "STP0" : "STP1", COMMAND_SET_TRANSPORT_PROTOCOL,
         transport_protocol);
}

void CTibbo::setBaudrate(int baudrate)
{
    int index = speeds().indexOf(baudrate);
    if (index < 0) {
        index = speeds().indexOf(115200);
    }
    // The record keeps the speed that was really sent, not one the module never heard of.
    send("SBR" + QByteArray::number(index), COMMAND_SET_BAUDRATE, speeds().at(index));
}

void CTibbo::reboot()
{
    send("E", COMMAND_REBOOT, QVariant());
}

void CTibbo::parseResponse()
{
    if (m_command == COMMAND_TEST_DATAGRAM) {
        reportOk();
        return;
    }
    if (m_rx_buffer.isEmpty() || m_rx_buffer.at(0) != 'A') {
        reportFailed();
        return;
    }
    switch (m_command) {
    case COMMAND_GET_STATUS:
        parseStatus();
        break;
    case COMMAND_SELECT_MODULE:
    case COMMAND_REBOOT:
        reportOk();
        break;
    case COMMAND_GET_INFO:
        parseInfoChain();
        break;
    case COMMAND_SET_IP_LAYER:
        parseIpLayerChain();
        break;
    case COMMAND_SET_DHCP:
    case COMMAND_SET_IP:
    case COMMAND_SET_GATEWAY:
    case COMMAND_SET_NETMASK:
    case COMMAND_SET_ROUTING_MODE:
    case COMMAND_SET_REMOTE_IP:
    case COMMAND_SET_PORT:
    case COMMAND_SET_REMOTE_PORT:
    case COMMAND_SET_TRANSPORT_PROTOCOL:
    case COMMAND_SET_BAUDRATE:
        applySetting();
        reportOk();
        break;
    default:
        break;
    }
}

void CTibbo::parseStatus()
{
    const QStringList parts = textUpToNul(m_rx_buffer).split(QLatin1Char('/'));
    if (parts.size() != 6) {
        startTimeoutTimer(DefaultTimeoutMs);
        return;
    }
    const QString& mode = parts.at(2);
    switch (mode.size() > 3 ? mode.at(3).toLatin1() : '\0') {
    case 'M':
        m_dhcp = false;
        m_ip_obtained = false;
        break;
    case 'I':
        m_dhcp = true;
        m_ip_obtained = true;
        break;
    case '*':
        m_dhcp = true;
        m_ip_obtained = false;
        break;
    default:
        break;
    }
    m_mac = parts.at(0).mid(1).toLatin1();
    reportOk();
}

bool CTibbo::takeAddress(QHostAddress& target)
{
    const QByteArray value = m_rx_buffer.mid(1).trimmed();
    const QHostAddress address(QString::fromLatin1(value));
    if (m_rx_buffer.split('.').size() != 4 || address.protocol() != QAbstractSocket::IPv4Protocol) {
        startTimeoutTimer(DefaultTimeoutMs);
        return false;
    }
    target = address;
    return true;
}

bool CTibbo::takeNumber(int& value) const
{
    bool ok = false;
    value = m_rx_buffer.mid(1).trimmed().toInt(&ok);
    return ok;
}

void CTibbo::parseInfoChain()
{
    const QByteArray last = m_last_datagram;
    int value = 0;
    if (last.startsWith('W')) {
        sendNext("L");
    } else if (last == "L") {
        sendNext("GDH");
    } else if (last == "GDH") {
        m_dhcp = m_rx_buffer.size() > 1 && m_rx_buffer.at(1) == '1';
        sendNext("GIP");
    } else if (last == "GIP") {
        if (takeAddress(m_ip)) {
            sendNext("GGI");
        }
    } else if (last == "GGI") {
        if (takeAddress(m_gateway)) {
            sendNext("GNM");
        }
    } else if (last == "GNM") {
        if (takeAddress(m_netmask)) {
            sendNext("GRM");
        }
    } else if (last == "GRM") {
        // Garbage reads as no number at all rather than as a silent 0.
        if (!takeNumber(value) || value > 2) {
            reportFailed();
            return;
        }
        m_routing_mode = value == 2 ? ROUTING_CLIENT : ROUTING_SERVER;
        sendNext("GDI");
    } else if (last == "GDI") {
        if (takeAddress(m_remote_ip)) {
            sendNext("GPN");
        }
    } else if (last == "GPN") {
        if (!takeNumber(value) || value <= 0 || value > 65535) {
            reportFailed();
            return;
        }
        m_port = value;
        sendNext("GDP");
    } else if (last == "GDP") {
        if (!takeNumber(value) || value < 0 || value > 65535) {
            reportFailed();
            return;
        }
        m_remote_port = value;
        sendNext("GTP");
    } else if (last == "GTP") {
        if (!takeNumber(value) || value < 0 || value > 1) {
            reportFailed();
            return;
        }
        m_protocol = value == 0 ? PROTOCOL_UDP : PROTOCOL_TCP;
        sendNext("GBR");
    } else if (last == "GBR") {
        if (!takeNumber(value) || value < 0 || value >= speeds().size()) {
            reportFailed();
            return;
        }
        m_baudrate = speeds().at(value);
        reportInfo();
    }
}

void CTibbo::parseIpLayerChain()
{
    const QByteArray last = m_last_datagram;
    if (last.contains("SDH")) {
        m_dhcp = m_command_arg.toBool();
        if (m_dhcp) {
            reportOk();
            return;
        }
        sendNext("SIP" + m_set_ip.toString().toLatin1(), m_set_ip.toString());
    } else if (last.contains("SIP")) {
        m_ip = QHostAddress(m_command_arg.toString());
        sendNext("SGI" + m_set_gateway.toString().toLatin1(), m_set_gateway.toString());
    } else if (last.contains("SGI")) {
        m_gateway = QHostAddress(m_command_arg.toString());
        sendNext("SNM" + m_set_netmask.toString().toLatin1(), m_set_netmask.toString());
    } else if (last.contains("SNM")) {
        m_netmask = QHostAddress(m_command_arg.toString());
        reportOk();
    }
}

void CTibbo::applySetting()
{
    if (applyCommonSetting()) {
        return;
    }
    if (m_command == COMMAND_SET_TRANSPORT_PROTOCOL) {
        m_protocol = m_command_arg.toInt();
    } else if (m_command == COMMAND_SET_BAUDRATE) {
        m_baudrate = m_command_arg.toInt();
    }
}
