#include "simmoduletcp.h"

#include "siminstrument.h"
#include "simtcpclient.h"
#include "simtcpserver.h"

SimModuleTcp::SimModuleTcp(SimInstrument* instrument, QObject* parent)
    : QObject(parent), m_instrument(instrument)
{
}

void SimModuleTcp::setRetry(int retryMs, int maxAttempts)
{
    m_retryMs = retryMs;
    m_maxAttempts = maxAttempts;
}

QString SimModuleTcp::apply(const SimModuleSettings& settings)
{
    delete m_server;
    m_server = nullptr;
    delete m_client;
    m_client = nullptr;
    m_instrument->resetInput();
    if (settings.udp) {
        return QStringLiteral("none udp");
    }
    if (!settings.client) {
        m_server = new SimTcpServer(this);
        const QHostAddress address =
            settings.ownAddress.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : settings.ownAddress;
        QString error;
        if (!m_server->listen(address, settings.port, &error)) {
            delete m_server;
            m_server = nullptr;
            return QStringLiteral("none server %1:%2 %3")
                .arg(address.toString())
                .arg(settings.port)
                .arg(error);
        }
        connect(m_server, &SimTcpServer::clientConnected, m_instrument, &SimInstrument::resetInput);
        connect(m_server, &SimTcpServer::received, m_instrument, &SimInstrument::feed);
        connect(m_instrument, &SimInstrument::output, m_server, &SimTcpServer::write);
        return QStringLiteral("server %1:%2").arg(m_server->address().toString()).arg(m_server->port());
    }
    if (settings.remoteIp.isNull() || settings.remotePort == 0) {
        return QStringLiteral("none client without remote address");
    }
    m_client = new SimTcpClient(this);
    m_client->setRetry(m_retryMs, m_maxAttempts);
    connect(m_client, &SimTcpClient::connected, m_instrument, &SimInstrument::resetInput);
    connect(m_client, &SimTcpClient::received, m_instrument, &SimInstrument::feed);
    connect(m_instrument, &SimInstrument::output, m_client, &SimTcpClient::write);
    m_client->connectTo(settings.remoteIp.toString(), settings.remotePort);
    return QStringLiteral("client %1:%2").arg(settings.remoteIp.toString()).arg(settings.remotePort);
}
