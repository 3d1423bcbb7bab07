#include "simtcpclient.h"

#include <QTcpSocket>
#include <QTimer>

SimTcpClient::SimTcpClient(QObject* parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_retryTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &SimTcpClient::attempt);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { emit received(m_socket->readAll()); });
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_failedAttempts = 0;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit connected();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &SimTcpClient::disconnected);
    // Both a refused connect and a lost connection end in the unconnected state.
    connect(m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState) {
            scheduleRetry();
        }
    });
}

void SimTcpClient::setRetry(int intervalMs, int maxAttempts)
{
    m_retryIntervalMs = qMax(1, intervalMs);
    m_maxAttempts = qMax(1, maxAttempts);
}

void SimTcpClient::connectTo(const QString& host, quint16 port)
{
    m_host = host;
    m_port = port;
    m_failedAttempts = 0;
    attempt();
}

bool SimTcpClient::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void SimTcpClient::write(const QByteArray& bytes)
{
    if (isConnected()) {
        m_socket->write(bytes);
    }
}

void SimTcpClient::attempt()
{
    if (m_socket->state() != QAbstractSocket::UnconnectedState) {
        return;
    }
    m_socket->connectToHost(m_host, m_port);
}

void SimTcpClient::scheduleRetry()
{
    if (m_retryTimer->isActive()) {
        return;
    }
    // Bounded twice: attempts in a row, and all attempts, so that a peer that accepts and drops at once
    // cannot keep the sim reconnecting for ever.
    ++m_totalAttempts;
    if (++m_failedAttempts >= m_maxAttempts || m_totalAttempts >= 10 * m_maxAttempts) {
        emit gaveUp();
        return;
    }
    m_retryTimer->start(m_retryIntervalMs);
}
