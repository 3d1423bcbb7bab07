#pragma once

#include "log/pelmlogrecord.h"
#include "platform/hostaddressmetatype.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class QUdpSocket;

// The network module inside an instrument, configured over UDP. This base owns what the two
// dialects share: the socket and the choice between unicast and broadcast, the settings record
// as last read or written, the one-command-at-a-time cycle with its time-out and its four
// outcomes, command lists, and the log records of every datagram.
class CInterfaceModule : public QObject
{
    Q_OBJECT
public:
    enum Command
    {
        COMMAND_NONE = 0, // keeps the current command when a chain sends its next step
        COMMAND_GET_STATUS = 1,
        COMMAND_SELECT_MODULE = 2,
        COMMAND_GET_INFO = 3,
        COMMAND_SET_DHCP = 4,
        COMMAND_SET_IP = 5,
        COMMAND_SET_GATEWAY = 6,
        COMMAND_SET_NETMASK = 7,
        COMMAND_SET_IP_LAYER = 8,
        COMMAND_SET_ROUTING_MODE = 9,
        COMMAND_SET_REMOTE_IP = 10,
        COMMAND_SET_PORT = 11,
        COMMAND_SET_REMOTE_PORT = 12,
        COMMAND_START_CLIENT_SERVER = 13,
        COMMAND_SET_TRANSPORT_PROTOCOL = 21,
        COMMAND_SET_BAUDRATE = 22,
        COMMAND_REBOOT = 23,
        COMMAND_TEST_DATAGRAM = 30,
    };
    enum RoutingMode
    {
        ROUTING_SERVER = 1, // the module listens, the computer connects
        ROUTING_CLIENT = 2, // the module connects to the computer
    };
    enum Protocol
    {
        PROTOCOL_TCP = 1,
        PROTOCOL_UDP = 2,
    };
    enum ModuleType
    {
        MODULE_WIFI = 0,
        MODULE_TIBBO = 1,
    };
    // What commandsListFinished carries.
    enum ListResult
    {
        LIST_FAILED = 0,
        LIST_OK = 1,
    };
    static constexpr int DefaultTimeoutMs = 1000;

    CInterfaceModule(quint32 localNetmask, QByteArray mac, QHostAddress moduleAddress,
                     QObject* parent = nullptr);
    ~CInterfaceModule() override;

    virtual CInterfaceModule* clone(QObject* parent) = 0;
    virtual int moduleType() const = 0;
    // The MAC in the form of the address-resolution table: six lower-case hex groups joined by "-".
    virtual QByteArray macForArp() const;
    // A MAC of six groups in the given separator and number base, in the address-resolution form
    // (six two-digit lower-case hexadecimal groups joined by "-"); empty when it is not one.
    static QByteArray arpForm(const QByteArray& mac, char separator, int base);

    void startCommandsList(int listId, QList<int> commands, QList<QVariant> arguments, int commandRepetitions,
                           int listRepetitions);
    int getListId() const { return m_list_id; }

    void startTimeoutTimer(int ms);
    void stopTimeoutTimer();
    bool isTimeoutTimerActive() const { return m_timer_id != 0; }

    bool isInLocalSubnet() const;
    bool isInModuleSubnet() const;

    void setModuleAddress(QHostAddress address) { m_module_address = std::move(address); }
    void setDhcpState(bool dhcp, bool ipObtained);
    void setPlannedSettings(bool dhcp, int routingMode, QHostAddress remoteIP, QHostAddress netmask,
                            int protocol);

    QHostAddress localAddress() const;
    quint32 localNetmask() const { return m_local_netmask; }
    QHostAddress moduleAddress() const { return m_module_address; }
    QByteArray mac() const { return m_mac; }
    QByteArray lastResponse() const { return m_last_response; }
    QString lastResponseText() const;
    int infoCnt() const { return m_info_cnt; }
    int command() const { return m_command; }
    bool dhcp() const { return m_dhcp; }
    bool ipObtained() const { return m_ip_obtained; }
    QHostAddress ip() const { return m_ip; }
    QHostAddress gateway() const { return m_gateway; }
    QHostAddress netmask() const { return m_netmask; }
    int routingMode() const { return m_routing_mode; }
    QHostAddress remoteIp() const { return m_remote_ip; }
    int port() const { return m_port; }
    int remotePort() const { return m_remote_port; }
    int protocol() const { return m_protocol; }
    int baudrate() const { return m_baudrate; }
    QString routingModeText() const;
    QString protocolText() const;
    QString baudrateText() const;
    QString commandName() const;
    static QString commandName(int command);
    // A datagram as text, up to its first NUL. Latin-1 maps every byte to one character and back, so
    // that a MAC read from an answer goes out again byte for byte in the selection command, and the
    // search and the module read the same answer alike.
    static QString textUpToNul(const QByteArray& bytes);

public slots:
    virtual void readStatus() = 0;
    virtual void selectModule() = 0;
    virtual void readInfo(int cnt) = 0;
    virtual void setDhcp(bool dhcp) = 0;
    virtual void setIP(QHostAddress ip) = 0;
    virtual void setGateway(QHostAddress gateway_ip) = 0;
    virtual void setNetmask(QHostAddress netmask) = 0;
    virtual void setIPLayer(bool dhcp, QHostAddress ip, QHostAddress gateway_ip, QHostAddress netmask) = 0;
    virtual void setRoutingMode(int routing_mode) = 0;
    virtual void setRemoteIP(QHostAddress ip) = 0;
    virtual void setPort(int port) = 0;
    virtual void setRemotePort(int remote_port) = 0;
    virtual void startClientServer() = 0;
    virtual void setProtocol(int transport_protocol) = 0;
    virtual void setBaudrate(int baudrate) = 0;
    virtual void reboot() = 0;
    virtual void sendTestDatagram(QByteArray datagram, bool broadcast, int timeout_ms = DefaultTimeoutMs);
    virtual void sendDatagram(QByteArray datagram, int command, bool force_broadcast = false,
                              int timeout_ms = DefaultTimeoutMs);

signals:
    void infoReady();
    void commandTimeout();
    void commandFailed();
    void commandOk();
    void commandsListFinished(int result);
    void newOutLog(PelmLogRecord r);
    void newInLog(PelmLogRecord r);

protected:
    // Records the value of a confirmed single setting that both dialects share (DHCP, addresses,
    // routing, ports); false when the command is not one of them.
    bool applyCommonSetting();
    // Creates, connects and binds the socket; the dialect's constructor calls it.
    void createSocket(const QHostAddress& localAddress);
    // Reads the answer in m_rx_buffer for m_command and ends in one outcome, a restarted
    // time-out (incomplete answer), or nothing for a command the dialect does not handle.
    virtual void parseResponse() = 0;
    // Copies the settings record (everything but the socket, the addresses and the MAC given at
    // construction) into a fresh module of the same dialect.
    void copySettingsTo(CInterfaceModule* other) const;
    // Sends datagram to the module (or as a broadcast) and logs it, without touching the cycle.
    virtual void writeDatagram(const QByteArray& datagram, bool broadcast);
    // One received datagram from sender: the answer to the awaited command, or ignored when none is.
    void takeDatagram(const QHostAddress& sender, const QByteArray& data);

    void reportInfo();
    void reportOk();
    void reportFailed();
    void reportTimeout();

    void timerEvent(QTimerEvent* event) override;

    // True in the object's own thread; elsewhere logs "WRONG THREAD" and the caller re-posts.
    bool isOwnThread(const char* method) const;

    QUdpSocket* m_socket = nullptr;
    quint32 m_local_netmask = 0;
    QHostAddress m_module_address;
    QByteArray m_last_datagram;
    QByteArray m_rx_buffer;
    int m_info_cnt = 0;
    QByteArray m_last_response;
    int m_command = 0;
    int m_udp_port = 0;
    bool m_dhcp = false;
    QHostAddress m_ip;
    QHostAddress m_gateway;
    QHostAddress m_netmask;
    int m_routing_mode = 0;
    QHostAddress m_remote_ip;
    int m_port = 0;
    int m_remote_port = 0;
    int m_protocol = PROTOCOL_TCP;
    int m_baudrate = 115200;
    bool m_ip_obtained = false;
    QByteArray m_mac;
    QVariant m_command_arg;
    int m_timer_id = 0;
    bool m_list_running = false;
    QList<int> m_commands_list;
    QList<QVariant> m_args_list;
    int m_list_id = 0;
    int m_commands_list_index = 0;
    int m_command_rep = 0;
    int m_list_rep = 0;
    int m_command_rep_i = 0;
    int m_list_rep_i = 0;

private slots:
    void onReadyRead();

private:
    void advanceList();
    void repeatCommandFromList();
    void finishList(int result);

    // The address the dialect was asked to bind to; stands in while the socket is not bound.
    QHostAddress m_local_address;
    // Counts outcomes, so that a list notices a step that neither sent anything nor ended.
    quint64 m_outcomes = 0;
    bool m_unboundReported = false;
};
