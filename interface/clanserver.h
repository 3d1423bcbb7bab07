#pragma once

#include "interface/cinterface.h"

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>

class CServersPool;
class QTcpSocket;

// A TCP server transport: the instrument's module connects out to the computer, and the
// connection is taken only from the instrument whose MAC is expected. Listening is the pool's.
class CLANServer : public CInterface
{
    Q_OBJECT
public:
    static constexpr int DisconnectTimeoutMs = 30000;
    static constexpr int MaxRead = 10000;

    // mac in the form the pool compares: six lower-case hex groups joined by "-".
    CLANServer(QHostAddress address, int port, QByteArray mac, QObject* parent = nullptr);
    ~CLANServer() override;

    CInterface* clone(QObject* parent) override;
    bool open() override;
    bool write(const QString& text) override;
    bool write(const QByteArray& bytes) override;
    int read(QByteArray& bytes) override;
    bool waitAndRead(QString& text, int msecs) override;
    bool close() override;
    int read(QString& text) override;
    void clear() override;
    bool waitForReadyRead(int msecs) override;
    QString description() const override;

    QHostAddress address() const { return m_address; }
    int port() const { return m_port; }
    QByteArray mac() const { return m_mac; }
    bool hasPeer() const { return socket != nullptr; }

public slots:
    void onNewDeviceConnected(QTcpSocket* socket, QHostAddress address, QByteArray mac);
    void onDisconnect();

private:
    // Listens to the pool that exists now, so that a pool made after this transport still
    // hands over the awaited connection.
    CServersPool* attachToPool();
    void dropSocket();

    QTcpSocket* socket = nullptr;
    QHostAddress m_address;
    int m_port = 0;
    QByteArray m_mac;
    QString m_description;
    QPointer<CServersPool> m_pool;
};
