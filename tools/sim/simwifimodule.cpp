#include "simwifimodule.h"

namespace {

const QByteArray Ok = "OK\r\n";
const QByteArray Error = "ERROR\r\n";

QByteArray addressText(const QHostAddress& address)
{
    return address.isNull() ? QByteArray() : address.toString().toLatin1();
}

} // namespace

QByteArray SimWifiModule::macText() const
{
    return m_settings.mac.toHex(':').toUpper();
}

QByteArray SimWifiModule::respond(const QByteArray& datagram)
{
    if (m_fault == Fault::Silent) {
        return QByteArray();
    }
    if (!datagram.startsWith("AT+A") || !datagram.endsWith("\r\n")) {
        return m_fault == Fault::Error ? Error : QByteArray();
    }
    const QByteArray command = datagram.mid(4, datagram.size() - 6);
    if (command.startsWith("SELECT=")) {
        // Only the module whose MAC is named answers; the others must keep quiet on a broadcast.
        m_selected = command.mid(7).toUpper() == macText();
        if (!m_selected) {
            return QByteArray();
        }
        return m_fault == Fault::Error ? Error : Ok;
    }
    if (m_fault == Fault::Error) {
        return Error;
    }
    if (command == "STATUS?") {
        return status();
    }
    if (command == "CONFIG?") {
        return configuration();
    }
    if (command.startsWith("STAIPCONFIG=")) {
        return setIpLine(command.mid(12));
    }
    if (command.startsWith("TCPCONFIG=")) {
        return setTcpLine(command.mid(10));
    }
    if (command == "TCPSTART") {
        emit roleApplied();
        return Ok;
    }
    return Error;
}

QByteArray SimWifiModule::status() const
{
    if (m_fault == Fault::Incomplete) {
        return macText() + "\r\n";
    }
    const char state = !m_settings.dhcp ? '1' : (m_settings.ipObtained ? '3' : '2');
    return macText() + ',' + state + "\r\n";
}

// ssid, security, channel, IP mode, address, gateway, netmask, role (1 client, 2 server), server, port.
QByteArray SimWifiModule::configuration() const
{
    QByteArrayList parts = {"MERVIK", "WPA2", "6"};
    if (m_settings.dhcp && !m_settings.ipObtained) {
        // Nothing leased: no mode and no addresses to report.
        parts << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    } else {
        parts << (m_settings.dhcp ? "2" : "1") << addressText(m_settings.ip)
              << addressText(m_settings.gateway) << addressText(m_settings.netmask);
    }
    parts << (m_settings.client ? "1" : "2") << addressText(m_settings.remoteIp)
          << QByteArray::number(m_settings.port);
    if (m_fault == Fault::Incomplete) {
        parts.removeLast();
    }
    return parts.join(',') + "\r\n";
}

QByteArray SimWifiModule::setIpLine(const QByteArray& arguments)
{
    const QList<QByteArray> fields = arguments.split(',');
    if (fields.size() != 4 || (fields.at(0) != "1" && fields.at(0) != "2")) {
        return Error;
    }
    if (fields.at(0) == "2") {
        applyDhcp(true);
        return Ok;
    }
    QHostAddress ip;
    QHostAddress gateway;
    QHostAddress netmask;
    if (!parseIPv4(fields.at(1), &ip) || !parseIPv4(fields.at(3), &netmask) ||
        (!fields.at(2).isEmpty() && !parseIPv4(fields.at(2), &gateway))) {
        return Error;
    }
    applyDhcp(false);
    m_settings.ip = ip;
    m_settings.gateway = gateway;
    m_settings.netmask = netmask;
    // The Wi-Fi module takes its address at once, once this reply has left from the old one; its TCP
    // side follows it there.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (moveToConfiguredAddress()) {
                emit roleApplied();
            }
        },
        Qt::QueuedConnection);
    return Ok;
}

QByteArray SimWifiModule::setTcpLine(const QByteArray& arguments)
{
    const QList<QByteArray> fields = arguments.split(',');
    quint16 port = 0;
    QHostAddress server;
    if (fields.size() != 4 || (fields.at(0) != "1" && fields.at(0) != "2") || fields.at(3) != "1" ||
        !parsePort(fields.at(1), 1, &port) ||
        (!fields.at(2).isEmpty() && !parseIPv4(fields.at(2), &server))) {
        return Error;
    }
    m_settings.client = fields.at(0) == "1";
    // One TCP port serves both roles.
    m_settings.port = port;
    m_settings.remotePort = port;
    m_settings.remoteIp = server;
    return Ok;
}
