#pragma once

#include "interface/cinterfacemodule.h"

// The Wi-Fi module of an instrument: text AT commands on UDP port 65534, two of which carry
// whole settings lines (IP and TCP), so that a setter of one field resends the others as known.
class CESP : public CInterfaceModule
{
    Q_OBJECT
public:
    static constexpr int UdpPort = 65534;

    CESP(QHostAddress localAddress, quint32 localNetmask, QByteArray mac, QHostAddress moduleAddress,
         QObject* parent = nullptr);

    CInterfaceModule* clone(QObject* parent) override;
    int moduleType() const override { return MODULE_WIFI; }

    // "AT+ASTAIPCONFIG=mode,address,gateway,netmask\r\n"; mode "2" with DHCP, "1" without.
    static QByteArray ipLine(bool dhcp, const QHostAddress& address, const QHostAddress& gateway,
                             const QHostAddress& netmask);
    // "AT+ATCPCONFIG=role,port,server,1\r\n"; role "1" when the module is a client, else "2".
    static QByteArray tcpLine(int routingMode, int port, const QHostAddress& server);

public slots:
    void readStatus() override;
    void selectModule() override;
    void readInfo(int cnt) override;
    void setDhcp(bool dhcp) override;
    void setIP(QHostAddress ip) override;
    void setGateway(QHostAddress gateway_ip) override;
    void setNetmask(QHostAddress netmask) override;
    void setIPLayer(bool dhcp, QHostAddress ip, QHostAddress gateway_ip, QHostAddress netmask) override;
    void setRoutingMode(int routing_mode) override;
    void setRemoteIP(QHostAddress ip) override;
    void setPort(int port) override;
    void setRemotePort(int remote_port) override;
    void startClientServer() override;
    void setProtocol(int transport_protocol) override;
    void setBaudrate(int baudrate) override;
    void reboot() override;

protected:
    void parseResponse() override;

private:
    void send(const QByteArray& datagram, int command, QVariant argument, bool forceBroadcast = false);
    void parseStatus();
    void parseInfo();
    void applySetting();
};
