#include "interface/clanserver.h"

#include "interface/cserverspool.h"
#include "platform/logcategories.h"

#include <QTcpSocket>
#include <QThread>

CLANServer::CLANServer(QHostAddress address, int port, QByteArray mac, QObject* parent)
    : CInterface(parent), m_address(std::move(address)), m_port(port), m_mac(std::move(mac))
{
    m_description = QStringLiteral("LAN Server (") + m_address.toString() + QLatin1Char(',') +
                    QString::number(m_port) + QLatin1Char(')');
    attachToPool();
}

CLANServer::~CLANServer() = default;

CServersPool* CLANServer::attachToPool()
{
    CServersPool* pool = CServersPool::instance();
    if (pool && pool != m_pool) {
        if (m_pool) {
            disconnect(m_pool, nullptr, this, nullptr);
        }
        m_pool = pool;
        connect(pool, &CServersPool::newDeviceConnected, this, &CLANServer::onNewDeviceConnected);
    }
    return pool;
}

CInterface* CLANServer::clone(QObject* parent)
{
    return new CLANServer(m_address, m_port, m_mac, parent);
}

bool CLANServer::open()
{
    CServersPool* pool = attachToPool();
    if (!pool || !pool->listenOnPort(m_port, m_mac)) {
        emit stateChanged(StateDisconnected);
        return false;
    }
    qCDebug(lcInterface) << description() << "LISTENING STARTED!";
    emit stateChanged(StateListening);
    return true;
}

void CLANServer::onNewDeviceConnected(QTcpSocket* peer, QHostAddress address, QByteArray mac)
{
    qCDebug(lcInterface) << "EXPECTED_MAC=" << m_mac << "PEER_MAC=" << mac << "PEER_IP=" << address;
    if (mac != m_mac) {
        return;
    }
    // Several transports may await the same MAC; the first to claim the connection gets it. Only
    // the pool this transport listens to announces, and a pool that is gone took its sockets along.
    CServersPool* pool = m_pool;
    if (!pool || !pool->handOver(peer, thread())) {
        return;
    }
    if (peer->state() != QAbstractSocket::ConnectedState) {
        // Gone before it reached this thread: wait for the instrument's next attempt.
        peer->deleteLater();
        pool->listenOnPort(m_port, m_mac);
        return;
    }
    if (socket) {
        // The instrument came again while its old connection still looked alive: the new one wins.
        dropSocket();
    }
    socket = peer;
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &CInterface::readyRead);
    connect(socket, &QTcpSocket::disconnected, this, &CLANServer::onDisconnect);
    emit stateChanged(StateConnected);
    if (socket->bytesAvailable() > 0) {
        emit readyRead();
    }
}

void CLANServer::dropSocket()
{
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
    socket = nullptr;
}

void CLANServer::onDisconnect()
{
    if (!socket) {
        return;
    }
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    socket = nullptr;
    if (CServersPool* pool = attachToPool()) {
        pool->listenOnPort(m_port, m_mac);
        emit stateChanged(StateListening);
    } else {
        emit stateChanged(StateDisconnected);
    }
}

bool CLANServer::write(const QString& text)
{
    return write(text.toUtf8());
}

bool CLANServer::write(const QByteArray& bytes)
{
    if (!socket) {
        return false;
    }
    return socket->write(bytes) == bytes.size();
}

int CLANServer::read(QByteArray& bytes)
{
    if (!socket) {
        return 0;
    }
    const QByteArray chunk = socket->read(MaxRead);
    // Every byte counts: a NUL inside a chunk is data (or noise the text read drops), never its end.
    bytes = chunk;
    return chunk.size();
}

bool CLANServer::waitAndRead(QString& text, int msecs)
{
    if (!socket) {
        return false;
    }
    if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(qMax(0, msecs))) {
        return false;
    }
    read(text);
    return true;
}

bool CLANServer::close()
{
    if (!socket) {
        emit stateChanged(StateDisconnected);
        return true;
    }
    disconnect(socket, &QTcpSocket::disconnected, this, &CLANServer::onDisconnect);
    bool done = true;
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            done = socket->waitForDisconnected(DisconnectTimeoutMs);
        }
    }
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    socket = nullptr;
    if (!done) {
        emit stateChanged(StateListening);
        return false;
    }
    emit stateChanged(StateDisconnected);
    return true;
}

int CLANServer::read(QString& text)
{
    if (!socket) {
        return 0;
    }
    QByteArray bytes;
    const int count = read(bytes);
    text = textFromBytes(bytes);
    return count;
}

void CLANServer::clear()
{
    if (socket) {
        socket->readAll();
    }
}

bool CLANServer::waitForReadyRead(int msecs)
{
    // Qt waits for ever on a negative time; here it means no wait at all.
    return socket && socket->waitForReadyRead(qMax(0, msecs));
}

QString CLANServer::description() const
{
    return m_description;
}
