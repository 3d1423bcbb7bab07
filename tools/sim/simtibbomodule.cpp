#include "simtibbomodule.h"

#include <QTimer>

namespace {

const QByteArray Accepted = "A";
const QByteArray Refused = "C";

} // namespace

SimTibboModule::SimTibboModule(const SimModuleSettings& settings, QObject* parent)
    : SimModule(settings, parent), m_rebootTimer(new QTimer(this))
{
    m_rebootTimer->setSingleShot(true);
    // Back from its restart with the settings it was given, at its new address if it has one.
    connect(m_rebootTimer, &QTimer::timeout, this, [this] {
        moveToConfiguredAddress();
        emit roleApplied();
    });
}

const QList<int>& SimTibboModule::speeds()
{
    static const QList<int> table = {1200,  2400,   4800, 9600, 19200, 38400,
                                     57600, 115200, 150,  300,  600,   28800};
    return table;
}

bool SimTibboModule::isRebooting() const
{
    return m_rebootTimer->isActive();
}

QByteArray SimTibboModule::macText() const
{
    QByteArrayList parts;
    for (const char byte : m_settings.mac) {
        parts << QByteArray::number(static_cast<unsigned char>(byte)).rightJustified(3, '0');
    }
    return parts.join('.');
}

bool SimTibboModule::isOwnMac(const QByteArray& text) const
{
    const QList<QByteArray> parts = text.split('.');
    if (parts.size() != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok);
        if (!ok || value != static_cast<unsigned char>(m_settings.mac.at(i))) {
            return false;
        }
    }
    return true;
}

QByteArray SimTibboModule::respond(const QByteArray& datagram)
{
    if (m_fault == Fault::Silent || isRebooting() || datagram.isEmpty()) {
        return QByteArray();
    }
    if (datagram.startsWith('W')) {
        if (!isOwnMac(datagram.mid(1))) {
            return QByteArray();
        }
        return m_fault == Fault::Error ? Refused : Accepted;
    }
    if (m_fault == Fault::Error) {
        return Refused;
    }
    if (datagram == "X") {
        return status();
    }
    if (datagram == "L") {
        return Accepted;
    }
    if (datagram == "E") {
        ++m_reboots;
        m_rebootTimer->start(m_rebootMs);
        return QByteArray();
    }
    if (datagram.size() >= 3 && datagram.startsWith('G')) {
        return datagram.size() == 3 ? get(datagram.mid(1)) : Refused;
    }
    if (datagram.size() >= 3 && datagram.startsWith('S')) {
        return set(datagram.mid(1, 2), datagram.mid(3));
    }
    return Refused;
}

QByteArrayList SimTibboModule::replies(const QByteArray& datagram)
{
    QByteArrayList answer = SimModule::replies(datagram);
    if (!m_splitStatus || datagram != "X" || answer.size() != 1) {
        return answer;
    }
    const QByteArray whole = answer.takeFirst();
    const int third = whole.indexOf('/', whole.indexOf('/', whole.indexOf('/') + 1) + 1);
    if (third < 0) {
        return {whole};
    }
    return {whole.left(third), whole.mid(third)};
}

// "A<mac>/<serial>/<state><mode>/<firmware>/<owner>/<device>", mode M static, I leased, * waiting.
QByteArray SimTibboModule::status() const
{
    const char mode = !m_settings.dhcp ? 'M' : (m_settings.ipObtained ? 'I' : '*');
    QByteArray reply = Accepted + macText() + "/00042/NOR" + mode + "/3.90.12/MERVIK/SCALE";
    if (m_fault == Fault::Incomplete) {
        reply.truncate(reply.lastIndexOf('/'));
    }
    return reply;
}

QByteArray SimTibboModule::get(const QByteArray& setting) const
{
    auto address = [this](const QHostAddress& value) {
        QByteArray text = value.isNull() ? QByteArray("0.0.0.0") : value.toString().toLatin1();
        if (m_fault == Fault::Incomplete) {
            text.truncate(text.lastIndexOf('.'));
        }
        return Accepted + text;
    };
    if (setting == "DH") {
        return Accepted + (m_settings.dhcp ? "1" : "0");
    }
    if (setting == "IP") {
        return address(m_settings.ip);
    }
    if (setting == "GI") {
        return address(m_settings.gateway);
    }
    if (setting == "NM") {
        return address(m_settings.netmask);
    }
    if (setting == "RM") {
        return Accepted + (m_settings.client ? "2" : "0");
    }
    if (setting == "DI") {
        return address(m_settings.remoteIp);
    }
    if (setting == "PN") {
        return Accepted + QByteArray::number(m_settings.port);
    }
    if (setting == "DP") {
        return Accepted + QByteArray::number(m_settings.remotePort);
    }
    if (setting == "TP") {
        return Accepted + (m_settings.udp ? "0" : "1");
    }
    if (setting == "BR") {
        return Accepted + QByteArray::number(qMax(0, speeds().indexOf(m_settings.baudRate)));
    }
    return Refused;
}

QByteArray SimTibboModule::set(const QByteArray& setting, const QByteArray& value)
{
    QHostAddress address;
    quint16 port = 0;
    if (setting == "DH" && (value == "0" || value == "1")) {
        applyDhcp(value == "1");
    } else if (setting == "IP" && parseIPv4(value, &address)) {
        m_settings.ip = address;
    } else if (setting == "GI" && parseIPv4(value, &address)) {
        m_settings.gateway = address;
    } else if (setting == "NM" && parseIPv4(value, &address)) {
        m_settings.netmask = address;
    } else if (setting == "RM" && (value == "0" || value == "1" || value == "2")) {
        m_settings.client = value == "2";
    } else if (setting == "DI" && parseIPv4(value, &address)) {
        m_settings.remoteIp = address;
    } else if (setting == "PN" && parsePort(value, 1, &port)) {
        m_settings.port = port;
    } else if (setting == "DP" && parsePort(value, 0, &port)) {
        m_settings.remotePort = port;
    } else if (setting == "TP" && (value == "0" || value == "1")) {
        m_settings.udp = value == "0";
    } else if (setting == "BR" && parsePort(value, 0, &port) && port < speeds().size()) {
        m_settings.baudRate = speeds().at(port);
    } else {
        return Refused;
    }
    return Accepted;
}
