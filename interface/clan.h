#pragma once

#include "interface/cinterface.h"

#include <QHostAddress>
#include <QTcpSocket>

// A TCP client transport: the computer connects to the instrument's network module.
class CLAN : public CInterface
{
    Q_OBJECT
public:
    static constexpr int ConnectTimeoutMs = 3000;
    static constexpr int DisconnectTimeoutMs = 30000;
    // Reads take at most this many bytes at once; the rest waits for the next read.
    static constexpr int MaxRead = 10000;

    CLAN(QHostAddress address, int port, QObject* parent = nullptr);
    ~CLAN() override;

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
    QString openFailure() const override { return m_openFailure; }

    QHostAddress address() const { return m_address; }
    int port() const { return m_port; }

public slots:
    void onDisconnected();

private:
    QTcpSocket socket;
    QHostAddress m_address;
    int m_port = 0;
    QString m_description;
    QString m_openFailure;
};
