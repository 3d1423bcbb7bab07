#ifndef SIMTCPSERVER_H
#define SIMTCPSERVER_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

class QTcpServer;
class QTcpSocket;

// The instrument behind a network converter: listens for the application and serves one client at a time.
// A new connection takes over from the previous one, which is closed; a converter behaves the same, and it
// spares a reconnecting client from waiting until its old connection has been noticed as gone.
class SimTcpServer : public QObject
{
    Q_OBJECT

public:
    explicit SimTcpServer(QObject* parent = nullptr);

    // Port 0 picks a free port; port() then tells which.
    bool listen(const QHostAddress& address, quint16 port, QString* error = nullptr);
    // Stops listening and drops the client, as a converter that loses its power.
    void close();
    QHostAddress address() const;
    quint16 port() const;
    bool hasClient() const { return !m_client.isNull(); }

public slots:
    void write(const QByteArray& bytes);

signals:
    void received(const QByteArray& bytes);
    void clientConnected();
    void clientDisconnected();

private:
    void acceptClient();

    QTcpServer* m_server = nullptr;
    QPointer<QTcpSocket> m_client;
};

#endif // SIMTCPSERVER_H
