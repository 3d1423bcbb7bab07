// The Wi-Fi dialect on loopback: the datagram of every operation and what the answer does to the
// record. The selection step (a broadcast) is tested in tst_modulesim.
#include "interface/cesp.h"
#include "modulepeer.h"

#include <QtTest>

class TstCESP : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data();
    void exchanges() { checkExchange<CESP>("00:1A:2B:3C:4D:5E"); }
};

void TstCESP::exchanges_data()
{
    using M = CInterfaceModule;
    const QHostAddress nine("127.0.0.9");
    const QHostAddress gateway("127.0.0.254");
    const QHostAddress mask("255.0.0.0");
    const QByteArray ok = "OK\r\n";
    exchangeColumns();

    const Operation status = [](M& m) { m.readStatus(); };
    exchange("status static", "AT+ASTATUS?\r\n", "AA:BB:CC:DD:EE:FF,1\r\n", "ok",
             "mac=AA:BB:CC:DD:EE:FF dhcp=0 obtained=0", status);
    exchange("status waiting for DHCP", "AT+ASTATUS?\r\n", "00:1A:2B:3C:4D:5E,2", "ok", "dhcp=1 obtained=0",
             status);
    exchange("status leased", "AT+ASTATUS?\r\n", "00:1A:2B:3C:4D:5E,3", "ok", "dhcp=1 obtained=1", status);
    exchange("status of unknown kind", "AT+ASTATUS?\r\n", "00:1A:2B:3C:4D:5F,7", "ok",
             "mac=00:1A:2B:3C:4D:5F", status);
    exchange("status without state", "AT+ASTATUS?\r\n", "00:1A:2B:3C:4D:5F,", "", "", status);
    exchange("status in three parts", "AT+ASTATUS?\r\n", "a,b,3", "", "", status);

    const Operation info = [](M& m) { m.readInfo(1); };
    exchange("information", "AT+ACONFIG?\r\n",
             "ssid,wpa,6,2,127.0.0.9,127.0.0.254,255.0.0.0,2,127.0.0.1,4005\r\n", "info",
             "dhcp=1 obtained=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=1 "
             "remote=127.0.0.1 port=4005 remotePort=4005",
             info);
    exchange("information of a client", "AT+ACONFIG?\r\n", "s,w,1,1,127.0.0.9,,255.0.0.0,1,,4006", "info",
             "dhcp=0 obtained=1 ip=127.0.0.9 gateway= netmask=255.0.0.0 routing=2 remote= port=4006 "
             "remotePort=4006",
             info);
    exchange("information in eleven parts", "AT+ACONFIG?\r\n", "s,w,1,1,127.0.0.9,,255.0.0.0,1,,4006,x", "",
             "", info);

    // The IP line carries the module's address, gateway and netmask as known, whatever changes.
    exchange("DHCP on", "AT+ASTAIPCONFIG=2,127.0.0.2,192.168.1.1,255.255.255.0\r\n", ok, "ok", "dhcp=1",
             [](M& m) { m.setDhcp(true); });
    exchange("DHCP off refused", "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.255.255.0\r\n", "ERROR\r\n",
             "failed", "", [](M& m) { m.setDhcp(false); });
    exchange("IP moves the module", "AT+ASTAIPCONFIG=1,127.0.0.9,192.168.1.1,255.255.255.0\r\n", ok, "ok",
             "ip=127.0.0.9 module=127.0.0.9", [=](M& m) { m.setIP(nine); });
    exchange("gateway", "AT+ASTAIPCONFIG=1,127.0.0.2,127.0.0.254,255.255.255.0\r\n", ok, "ok",
             "gateway=127.0.0.254", [=](M& m) { m.setGateway(gateway); });
    exchange("netmask", "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.0.0.0\r\n", ok, "ok",
             "netmask=255.0.0.0", [=](M& m) { m.setNetmask(mask); });
    exchange("IP layer static", "AT+ASTAIPCONFIG=1,127.0.0.9,127.0.0.254,255.0.0.0\r\n", ok, "ok",
             "dhcp=0 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 module=127.0.0.9",
             [=](M& m) { m.setIPLayer(false, nine, gateway, mask); });
    exchange("IP layer DHCP", "AT+ASTAIPCONFIG=2,127.0.0.9,127.0.0.254,255.0.0.0\r\n", ok, "ok",
             "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 module=127.0.0.9",
             [=](M& m) { m.setIPLayer(true, nine, gateway, mask); });

    // The TCP line carries role, port and server; "1" is the client role.
    exchange("client", "AT+ATCPCONFIG=1,1001,192.168.1.10,1\r\n", "OK", "ok", "routing=2",
             [](M& m) { m.setRoutingMode(M::ROUTING_CLIENT); });
    exchange("server", "AT+ATCPCONFIG=2,1001,192.168.1.10,1\r\n", ok, "ok", "routing=1",
             [](M& m) { m.setRoutingMode(M::ROUTING_SERVER); });
    exchange("remote IP", "AT+ATCPCONFIG=2,1001,192.168.1.11,1\r\n", ok, "ok", "remote=192.168.1.11",
             [](M& m) { m.setRemoteIP(QHostAddress("192.168.1.11")); });
    exchange("port", "AT+ATCPCONFIG=2,4002,192.168.1.10,1\r\n", ok, "ok", "port=4002",
             [](M& m) { m.setPort(4002); });
    exchange("port refused", "AT+ATCPCONFIG=2,4002,192.168.1.10,1\r\n", "ERROR\r\n", "failed", "",
             [](M& m) { m.setPort(4002); });
    exchange("remote port: the same field", "AT+ATCPCONFIG=2,4003,192.168.1.10,1\r\n", "\r\nOK\r\n", "ok",
             "remotePort=4003", [](M& m) { m.setRemotePort(4003); });
    exchange("start", "AT+ATCPSTART\r\n", ok, "ok", "", [](M& m) { m.startClientServer(); });
    exchange("start refused", "AT+ATCPSTART\r\n", "BUSY\r\n", "failed", "",
             [](M& m) { m.startClientServer(); });
    exchange("no protocol, speed or reboot", "", "", "", "", [](M& m) {
        m.setProtocol(M::PROTOCOL_UDP);
        m.setBaudrate(9600);
        m.reboot();
    });
}

QTEST_GUILESS_MAIN(TstCESP)
#include "tst_cesp.moc"
