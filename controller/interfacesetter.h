#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>

class CInterfaceModule;

// Writes new network settings into the module of the controller's current device, one command at a
// time, restarts a Tibbo module, and finds the module again wherever its new address is. The device
// stays disconnected meanwhile; the module keeps working over UDP. Never blocks: every step waits for
// the module's signal, and every module command ends within its own bounded retries.
class InterfaceSetter : public QObject
{
    Q_OBJECT
public:
    // Information requests after the restart before the module counts as lost.
    static constexpr int AttemptsAfterReboot = 6;

    // ip mode ("Static" or "Dynamic"), IP, netmask, gateway, client/server mode ("Server" or "Client"),
    // port and server IP, as the form gives them.
    explicit InterfaceSetter(QString settings[7], QObject* parent = nullptr);

    // Starts the sequence; settingFinished follows once.
    void run();

signals:
    // 1 success, 0 failure.
    void settingFinished(int ret);

public slots:
    void setClientServer();
    void setRemoteIp();
    void setPort();
    void setRemotePort();
    void startClientServer();
    void setIPConfig();
    void reboot();
    void onInfoReady();
    void onCommandTimeout();
    void onCommandFailed();
    void onRebootTimeout();
    void onInfoReadyAfterReboot();
    void onCommandTimeoutAfterReboot();
    void onCommandFailedAfterReboot();

private:
    // The texts as addresses and numbers; false when one cannot go to a module as it stands.
    bool parse();
    // Runs next on the module's next commandOk, once.
    void then(void (InterfaceSetter::*next)());
    // A module command, in the module's own thread.
    void command(const std::function<void(CInterfaceModule*)>& call);
    void finish(int ret);

    QString m_ip_mode;
    QString m_ip;
    QString m_netmask;
    QString m_gateway;
    QString m_cs_mode;
    QString m_port;
    QString m_server_ip;
    int m_attempts = 0;
    CInterfaceModule* m_module = nullptr;

    QHostAddress m_ipAddress;
    QHostAddress m_netmaskAddress;
    QHostAddress m_gatewayAddress;
    QHostAddress m_serverAddress;
    int m_portNumber = 0;
    QMetaObject::Connection m_step;
    bool m_finished = false;
};
