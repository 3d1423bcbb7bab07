#include "interface/cserverspool.h"

#include "platform/addressresolver.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QMetaObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <memory>

namespace {
std::atomic<CServersPool*> currentPool{nullptr};
} // namespace

CServersPool::CServersPool(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<QTcpSocket*>("QTcpSocket*");
    qRegisterMetaType<QHostAddress>("QHostAddress");
    if (CServersPool* previous = currentPool.exchange(this)) {
        previous->deleteLater();
    }
}

CServersPool::~CServersPool()
{
    // The previous pool dies after its successor registered: it must not unregister that one.
    CServersPool* self = this;
    currentPool.compare_exchange_strong(self, nullptr);
}

CServersPool* CServersPool::instance()
{
    return currentPool.load();
}

bool CServersPool::callInPoolThread(const char* what, std::function<bool()> call)
{
    QThread* own = thread();
    if (!own || !own->isRunning()) {
        qCWarning(lcInterface) << what << "the servers pool's thread does not run";
        return false;
    }
    // A blocking queued call would wait for ever on a thread that stopped taking events. The call
    // is abandoned on time-out unless it has started, so a late run never acts for a caller gone.
    bool result = false;
    if (!waitForCall(
            this, [&result, &call] { result = call(); }, CallTimeoutMs)) {
        qCWarning(lcInterface) << what << "the servers pool did not answer within" << CallTimeoutMs << "ms";
        return false;
    }
    return result;
}

bool CServersPool::listenOnPort(int port, QByteArray mac)
{
    if (QThread::currentThread() != thread()) {
        return callInPoolThread("listenOnPort", [this, port, mac] { return listenOnPort(port, mac); });
    }
    awaitedMacs.append(mac);
    qCDebug(lcInterface) << "count=" << awaitedMacs.size();
    for (QTcpServer* server : qAsConst(servers)) {
        if (server->serverPort() == port) {
            return true;
        }
    }
    auto* server = new QTcpServer(this);
    connect(server, &QTcpServer::newConnection, this, &CServersPool::onNewConnection);
    if (!server->listen(QHostAddress::Any, quint16(port))) {
        qCWarning(lcInterface) << "cannot listen on port" << port << server->errorString();
        // Neither the dead server nor the MAC it was meant for should keep the pool busy.
        delete server;
        awaitedMacs.removeAt(awaitedMacs.lastIndexOf(mac));
        return false;
    }
    servers.append(server);
    return true;
}

QByteArray CServersPool::getMacForIP(QString ip)
{
    const QByteArray mac = AddressResolver::instance()->macForIp(ip);
    qCDebug(lcInterface) << "IP=" << ip << " -> MAC=" << mac;
    return mac;
}

void CServersPool::killAllServers()
{
    for (QTcpServer* server : qAsConst(servers)) {
        server->close();
        server->deleteLater();
    }
    servers.clear();
    awaitedMacs.clear();
}

void CServersPool::onNewConnection()
{
    auto* server = qobject_cast<QTcpServer*>(sender());
    if (!server || !server->hasPendingConnections()) {
        qCDebug(lcInterface) << "socket == null";
        return;
    }
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        bool isV4 = false;
        const quint32 v4 = socket->peerAddress().toIPv4Address(&isV4);
        const QHostAddress peer = isV4 ? QHostAddress(v4) : socket->peerAddress();
        const QByteArray mac = getMacForIP(peer.toString());
        // An empty MAC means "not learnt"; it must never match a transport whose MAC is unknown.
        const int index = mac.isEmpty() ? -1 : awaitedMacs.indexOf(mac);
        if (index >= 0) {
            awaitedMacs.removeAt(index);
            socket->setParent(this);
            m_announced.insert(socket);
            qCDebug(lcInterface) << "found -> emitting newDeviceConnected()";
            emit newDeviceConnected(socket, peer, mac);
        } else {
            qCDebug(lcInterface) << "unexpected peer" << peer << mac << "-> disconnecting";
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
        }
        if (awaitedMacs.isEmpty()) {
            killAllServers();
            return;
        }
    }
}

bool CServersPool::handOver(QTcpSocket* socket, QThread* target)
{
    if (QThread::currentThread() != thread()) {
        return callInPoolThread("handOver", [this, socket, target] { return handOver(socket, target); });
    }
    if (!m_announced.remove(socket)) {
        return false;
    }
    socket->setParent(nullptr);
    if (target != thread()) {
        socket->moveToThread(target);
    }
    return true;
}
