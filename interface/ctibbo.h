#pragma once

#include "interface/cinterfacemodule.h"

// The Tibbo Ethernet module of an instrument: short ASCII commands on UDP port 65535, one setting
// per command, every reply led by a status byte ("A" is success). Reading the configuration is a
// chain of single "get" commands.
class CTibbo : public CInterfaceModule
{
    Q_OBJECT
public:
    static constexpr int UdpPort = 65535;
    // Serial speeds by the index the module sends and reads.
    static const QList<int>& speeds();

    CTibbo(QHostAddress localAddress, quint32 localNetmask, QByteArray mac, QHostAddress moduleAddress,
           QObject* parent = nullptr);

    CInterfaceModule* clone(QObject* parent) override;
    int moduleType() const override { return MODULE_TIBBO; }
    // The module reports its MAC as six decimal numbers joined by ".".
    QByteArray macForArp() const override;
    // The module's own form (six decimal numbers joined by ".") of a MAC in the address-resolution
    // form; empty for anything else.
    static QByteArray macFromArp(const QByteArray& arpMac);

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
    void sendNext(const QByteArray& datagram, QVariant argument = QVariant());
    void parseStatus();
    void parseInfoChain();
    void parseIpLayerChain();
    void applySetting();
    // The reply's value as an IPv4 address; false (and the time-out restarted) when incomplete.
    bool takeAddress(QHostAddress& target);
    // The reply's value as a whole number; false when it is none.
    bool takeNumber(int& value) const;

    QHostAddress m_set_ip;
    QHostAddress m_set_gateway;
    QHostAddress m_set_netmask;
};
