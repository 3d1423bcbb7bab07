#include "simmodule.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

SimModule::SimModule(const SimModuleSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings)
{
}

bool SimModule::listen(const QHostAddress& bindAddress, quint16 port, QString* error)
{
    delete m_socket;
    delete m_ownSocket;
    m_ownSocket = nullptr;
    m_socket = new QUdpSocket(this);
    connect(m_socket, &QUdpSocket::readyRead, this, [this] { onReadyRead(m_socket); });
    if (!m_socket->bind(bindAddress, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (error) {
            *error = m_socket->errorString();
        }
        return false;
    }
    const QHostAddress own = m_settings.ownAddress;
    if (!own.isNull() && own != bindAddress) {
        m_ownSocket = new QUdpSocket(this);
        connect(m_ownSocket, &QUdpSocket::readyRead, this, [this] { onReadyRead(m_ownSocket); });
        // Not an address of this machine: the replies leave from wherever the system says.
        if (!m_ownSocket->bind(own, m_socket->localPort(),
                               QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
            delete m_ownSocket;
            m_ownSocket = nullptr;
        }
    }
    return true;
}

QByteArrayList SimModule::replies(const QByteArray& datagram)
{
    const QByteArray reply = respond(datagram);
    return reply.isEmpty() ? QByteArrayList() : QByteArrayList{reply};
}

quint16 SimModule::port() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void SimModule::onReadyRead(QUdpSocket* socket)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        if (!datagram.isValid()) {
            return;
        }
        ++m_received;
        log("<-", datagram.data());
        if (m_floodCount > 0 && m_flooded == 0 && isStatusRequest(datagram.data())) {
            m_floodRequest = datagram;
            floodNext();
            continue;
        }
        reply(datagram);
    }
}

void SimModule::reply(const QNetworkDatagram& request)
{
    const QByteArrayList answer = replies(request.data());
    for (const QByteArray& reply : answer) {
        log("->", reply);
        QUdpSocket* sender = m_ownSocket ? m_ownSocket : m_socket;
        sender->writeDatagram(reply, request.senderAddress(), quint16(request.senderPort()));
    }
}

void SimModule::setFlood(int count, const QHostAddress& firstSender, int senders)
{
    m_floodCount = qMax(0, count);
    m_floodFrom = firstSender;
    m_floodSenders = qMax(1, senders);
}

void SimModule::floodNext()
{
    // A few at a time: a burst would only overflow the receiver's buffers and test nothing.
    constexpr int Batch = 16;
    const QNetworkDatagram& request = m_floodRequest;
    const QByteArray ownMac = m_settings.mac;
    const quint32 first = m_floodFrom.toIPv4Address();
    for (int sent = 0; sent < Batch && m_flooded < m_floodCount; ++sent, ++m_flooded) {
        const auto i = quint32(m_flooded);
        m_settings.mac = QByteArray::fromHex("02ff") + char(i >> 24) + char(i >> 16) + char(i >> 8) + char(i);
        // Bound for the moment beside the module's own socket: the reply leaves from that address.
        QUdpSocket stranger;
        if (!stranger.bind(QHostAddress(first + i % quint32(m_floodSenders)), m_socket->localPort(),
                           QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
            continue;
        }
        for (const QByteArray& answer : replies(request.data())) {
            stranger.writeDatagram(answer, request.senderAddress(), quint16(request.senderPort()));
        }
    }
    m_settings.mac = ownMac;
    if (m_flooded < m_floodCount) {
        QTimer::singleShot(1, this, &SimModule::floodNext);
        return;
    }
    // Once per run: the flood is bounded whatever asks again.
    m_floodCount = 0;
    reply(request);
}

void SimModule::log(const char* direction, const QByteArray& bytes) const
{
    if (!m_verbose) {
        return;
    }
    QByteArray text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (u < 0x20 || u >= 0x7f) {
            text += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        } else {
            text += c;
        }
    }
    std::fprintf(stderr, "%s %s %s\n", dialectName().constData(), direction, text.constData());
    std::fflush(stderr);
}

bool SimModule::moveToConfiguredAddress()
{
    const QHostAddress target = m_settings.ip;
    // Only a module that answers broadcasts on the any-address and replies from its own address moves.
    if (m_settings.dhcp || target.protocol() != QAbstractSocket::IPv4Protocol ||
        target == QHostAddress(QHostAddress::AnyIPv4) || target == m_settings.ownAddress || !m_socket ||
        m_socket->localAddress() != QHostAddress(QHostAddress::AnyIPv4)) {
        return false;
    }
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(target, m_socket->localPort(),
                      QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        delete socket;
        return false;
    }
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    delete m_ownSocket;
    m_ownSocket = socket;
    m_settings.ownAddress = target;
    return true;
}

void SimModule::applyDhcp(bool dhcp)
{
    m_settings.dhcp = dhcp;
    if (!dhcp) {
        m_settings.ipObtained = true;
        return;
    }
    m_settings.ipObtained = m_settings.dhcpServer;
    m_settings.ip = m_settings.dhcpServer ? m_settings.ownAddress : QHostAddress(QHostAddress::AnyIPv4);
}

bool SimModule::parseIPv4(const QByteArray& text, QHostAddress* address)
{
    const QList<QByteArray> parts = text.split('.');
    if (parts.size() != 4) {
        return false;
    }
    for (const QByteArray& part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (!ok || value > 255 || part.isEmpty() || part.size() > 3) {
            return false;
        }
    }
    *address = QHostAddress(QString::fromLatin1(text));
    return address->protocol() == QAbstractSocket::IPv4Protocol;
}

bool SimModule::parsePort(const QByteArray& text, int low, quint16* port)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > 65535) {
        return false;
    }
    *port = quint16(value);
    return true;
}
