#include "simtcpserver.h"

#include <QTcpServer>
#include <QTcpSocket>

SimTcpServer::SimTcpServer(QObject* parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &SimTcpServer::acceptClient);
}

bool SimTcpServer::listen(const QHostAddress& address, quint16 port, QString* error)
{
    if (m_server->listen(address, port)) {
        return true;
    }
    if (error) {
        *error = m_server->errorString();
    }
    return false;
}

void SimTcpServer::close()
{
    m_server->close();
    if (QTcpSocket* client = m_client) {
        m_client.clear();
        client->disconnect(this);
        client->abort();
        client->deleteLater();
        emit clientDisconnected();
    }
}

QHostAddress SimTcpServer::address() const
{
    return m_server->serverAddress();
}

quint16 SimTcpServer::port() const
{
    return m_server->serverPort();
}

void SimTcpServer::write(const QByteArray& bytes)
{
    if (m_client && m_client->state() == QAbstractSocket::ConnectedState) {
        m_client->write(bytes);
    }
}

void SimTcpServer::acceptClient()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_client) {
            QTcpSocket* previous = m_client;
            m_client.clear();
            previous->disconnect(this);
            previous->abort();
            previous->deleteLater();
            emit clientDisconnected();
        }
        m_client = socket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { emit received(socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_client == socket) {
                m_client.clear();
                emit clientDisconnected();
            }
            socket->deleteLater();
        });
        emit clientConnected();
    }
}
