#ifndef SIMTCPCLIENT_H
#define SIMTCPCLIENT_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// The instrument behind a converter that dials out to the application. It retries a refused or lost
// connection every retry interval, and gives up after a bounded number of attempts.
class SimTcpClient : public QObject
{
    Q_OBJECT

public:
    explicit SimTcpClient(QObject* parent = nullptr);

    void setRetry(int intervalMs, int maxAttempts);
    void connectTo(const QString& host, quint16 port);
    bool isConnected() const;

public slots:
    void write(const QByteArray& bytes);

signals:
    void received(const QByteArray& bytes);
    void connected();
    void disconnected();
    void gaveUp();

private:
    void attempt();
    void scheduleRetry();

    QTcpSocket* m_socket = nullptr;
    QTimer* m_retryTimer = nullptr;
    QString m_host;
    quint16 m_port = 0;
    int m_retryIntervalMs = 500;
    int m_maxAttempts = 120;
    int m_failedAttempts = 0;
    int m_totalAttempts = 0;
};

#endif // SIMTCPCLIENT_H
