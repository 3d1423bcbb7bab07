#pragma once

#include "platform/hostaddressmetatype.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTcpServer;
class QTcpSocket;
class QThread;

// The listening side of every TCP server transport: one listening server per port, the MACs
// still awaited, and the hand-over of each accepted connection to the transport that waits for
// its peer's MAC. At most one pool exists; a new one replaces the old.
class CServersPool : public QObject
{
    Q_OBJECT
public:
    // How long a call from another thread waits for the pool's thread to run it.
    static constexpr int CallTimeoutMs = 3000;

    explicit CServersPool(QObject* parent = nullptr);
    ~CServersPool() override;

    static CServersPool* instance();

    // Awaits mac (once more if it is awaited already) and makes sure a server listens on port.
    // Safe to call from any thread: the servers are created in the pool's own thread.
    bool listenOnPort(int port, QByteArray mac);
    // The peer's MAC in the form the transports compare (six lower-case hex groups joined by "-").
    QByteArray getMacForIP(QString ip);
    void killAllServers();

    // Gives an announced connection to the transport that claims it, moved into target's thread.
    // Only the first claim of a connection succeeds; safe to call from any thread.
    bool handOver(QTcpSocket* socket, QThread* target);

    int serverCount() const { return servers.size(); }
    QList<QByteArray> awaited() const { return awaitedMacs; }

signals:
    void newDeviceConnected(QTcpSocket* socket, QHostAddress address, QByteArray mac);

public slots:
    void onNewConnection();

private:
    // Runs call in the pool's thread and returns its result; from another thread it waits at most
    // CallTimeoutMs and fails at once when that thread does not run.
    bool callInPoolThread(const char* what, std::function<bool()> call);

    QList<QTcpServer*> servers;
    QList<QByteArray> awaitedMacs;
    // Announced connections that no transport has claimed yet; children of the pool meanwhile,
    // so that deleting the servers does not take them along. There are never more of them than
    // MACs were awaited.
    QSet<QTcpSocket*> m_announced;
};
