#ifndef SIMMODULETCP_H
#define SIMMODULETCP_H

#include "simmodulesettings.h"

#include <QObject>
#include <QString>

class SimInstrument;
class SimTcpClient;
class SimTcpServer;

// The instrument behind a network module, reached over TCP the way the module's settings say: a server on
// the module's port, or a client of the remote address and port. apply() replaces the running role.
class SimModuleTcp : public QObject
{
    Q_OBJECT

public:
    SimModuleTcp(SimInstrument* instrument, QObject* parent = nullptr);

    // Client attempts: every retryMs, at most maxAttempts in a row.
    void setRetry(int retryMs, int maxAttempts);
    // Returns a line describing the new role ("server ADDR:PORT", "client HOST:PORT", "none ...").
    QString apply(const SimModuleSettings& settings);

    SimTcpServer* server() const { return m_server; }
    SimTcpClient* client() const { return m_client; }

private:
    SimInstrument* m_instrument = nullptr;
    SimTcpServer* m_server = nullptr;
    SimTcpClient* m_client = nullptr;
    int m_retryMs = 200;
    int m_maxAttempts = 150;
};

#endif // SIMMODULETCP_H
