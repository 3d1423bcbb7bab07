// The Wi-Fi dialect on loopback: the datagram of every operation, and what every answer does to
// the settings record. The selection step (a broadcast) is tested in tst_modulesim.
#include "interface/cesp.h"
#include "modulepeer.h"
#include "support/recordfields.h"

#include <QtTest>

#include <functional>

namespace {

const QHostAddress Local(QStringLiteral("127.0.0.1"));
const QHostAddress ModuleHost(QStringLiteral("127.0.0.2"));

class LoopEsp : public CESP
{
public:
    explicit LoopEsp(quint16 port) : CESP(Local, 0xff000000, "00:1A:2B:3C:4D:5E", ModuleHost)
    {
        m_udp_port = port;
        m_port = 1001;
        m_remote_port = 1001;
        m_remote_ip = QHostAddress(QStringLiteral("192.168.1.10"));
        m_gateway = QHostAddress(QStringLiteral("192.168.1.1"));
        m_netmask = QHostAddress(QStringLiteral("255.255.255.0"));
        m_routing_mode = ROUTING_SERVER;
    }
};

using Operation = std::function<void(CInterfaceModule&)>;

QMap<QString, Operation> operations()
{
    const QHostAddress nine(QStringLiteral("127.0.0.9"));
    const QHostAddress gateway(QStringLiteral("127.0.0.254"));
    const QHostAddress mask(QStringLiteral("255.0.0.0"));
    return {
        {"readStatus", [](CInterfaceModule& m) { m.readStatus(); }},
        {"readInfo", [](CInterfaceModule& m) { m.readInfo(1); }},
        {"setDhcp(true)", [](CInterfaceModule& m) { m.setDhcp(true); }},
        {"setDhcp(false)", [](CInterfaceModule& m) { m.setDhcp(false); }},
        {"setIP", [nine](CInterfaceModule& m) { m.setIP(nine); }},
        {"setGateway", [gateway](CInterfaceModule& m) { m.setGateway(gateway); }},
        {"setNetmask", [mask](CInterfaceModule& m) { m.setNetmask(mask); }},
        {"setIPLayer(false)", [=](CInterfaceModule& m) { m.setIPLayer(false, nine, gateway, mask); }},
        {"setIPLayer(true)", [=](CInterfaceModule& m) { m.setIPLayer(true, nine, gateway, mask); }},
        {"setRoutingMode(2)", [](CInterfaceModule& m) { m.setRoutingMode(2); }},
        {"setRoutingMode(1)", [](CInterfaceModule& m) { m.setRoutingMode(1); }},
        {"setRemoteIP",
         [](CInterfaceModule& m) { m.setRemoteIP(QHostAddress(QStringLiteral("192.168.1.11"))); }},
        {"setPort", [](CInterfaceModule& m) { m.setPort(4002); }},
        {"setRemotePort", [](CInterfaceModule& m) { m.setRemotePort(4003); }},
        {"startClientServer", [](CInterfaceModule& m) { m.startClientServer(); }},
        {"setProtocol", [](CInterfaceModule& m) { m.setProtocol(2); }},
        {"setBaudrate", [](CInterfaceModule& m) { m.setBaudrate(9600); }},
        {"reboot", [](CInterfaceModule& m) { m.reboot(); }},
    };
}

// The settings record as "name=value" texts, for one comparison per row.
QString record(const CInterfaceModule& m)
{
    return QStringList{"mac=" + QString::fromLatin1(m.mac()),
                       QStringLiteral("dhcp=%1").arg(m.dhcp()),
                       QStringLiteral("obtained=%1").arg(m.ipObtained()),
                       "ip=" + m.ip().toString(),
                       "gateway=" + m.gateway().toString(),
                       "netmask=" + m.netmask().toString(),
                       QStringLiteral("routing=%1").arg(m.routingMode()),
                       "remote=" + m.remoteIp().toString(),
                       QStringLiteral("port=%1").arg(m.port()),
                       QStringLiteral("remotePort=%1").arg(m.remotePort()),
                       "module=" + m.moduleAddress().toString()}
        .join(QLatin1Char(' '));
}

// The record with some names changed: "ip=1.2.3.4 port=7".
QString recordWith(const CInterfaceModule& m, const QString& changes)
{
    return withFields(record(m), changes);
}

} // namespace

class TstCESP : public QObject
{
    Q_OBJECT

private slots:
    void datagramOfEachOperation_data();
    void datagramOfEachOperation();
    void answersChangeTheRecord_data();
    void answersChangeTheRecord();
    void linesOfAddresses();
};

void TstCESP::datagramOfEachOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("command");

    QTest::newRow("status") << "readStatus" << QByteArray("AT+ASTATUS?\r\n") << 1;
    QTest::newRow("information in the subnet") << "readInfo" << QByteArray("AT+ACONFIG?\r\n") << 3;
    QTest::newRow("DHCP on: IP line with the module's address")
        << "setDhcp(true)" << QByteArray("AT+ASTAIPCONFIG=2,127.0.0.2,192.168.1.1,255.255.255.0\r\n") << 4;
    QTest::newRow("DHCP off") << "setDhcp(false)"
                              << QByteArray("AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.255.255.0\r\n") << 4;
    QTest::newRow("IP") << "setIP" << QByteArray("AT+ASTAIPCONFIG=1,127.0.0.9,192.168.1.1,255.255.255.0\r\n")
                        << 5;
    QTest::newRow("gateway") << "setGateway"
                             << QByteArray("AT+ASTAIPCONFIG=1,127.0.0.2,127.0.0.254,255.255.255.0\r\n") << 6;
    QTest::newRow("netmask") << "setNetmask"
                             << QByteArray("AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.0.0.0\r\n") << 7;
    QTest::newRow("IP layer static") << "setIPLayer(false)"
                                     << QByteArray("AT+ASTAIPCONFIG=1,127.0.0.9,127.0.0.254,255.0.0.0\r\n")
                                     << 8;
    QTest::newRow("IP layer DHCP") << "setIPLayer(true)"
                                   << QByteArray("AT+ASTAIPCONFIG=2,127.0.0.9,127.0.0.254,255.0.0.0\r\n")
                                   << 8;
    QTest::newRow("client role is 1")
        << "setRoutingMode(2)" << QByteArray("AT+ATCPCONFIG=1,1001,192.168.1.10,1\r\n") << 9;
    QTest::newRow("server role is 2")
        << "setRoutingMode(1)" << QByteArray("AT+ATCPCONFIG=2,1001,192.168.1.10,1\r\n") << 9;
    QTest::newRow("remote IP") << "setRemoteIP" << QByteArray("AT+ATCPCONFIG=2,1001,192.168.1.11,1\r\n")
                               << 10;
    QTest::newRow("port") << "setPort" << QByteArray("AT+ATCPCONFIG=2,4002,192.168.1.10,1\r\n") << 11;
    QTest::newRow("remote port: the same field")
        << "setRemotePort" << QByteArray("AT+ATCPCONFIG=2,4003,192.168.1.10,1\r\n") << 12;
    QTest::newRow("start") << "startClientServer" << QByteArray("AT+ATCPSTART\r\n") << 13;
    QTest::newRow("no protocol setting") << "setProtocol" << QByteArray() << 0;
    QTest::newRow("no speed setting") << "setBaudrate" << QByteArray() << 0;
    QTest::newRow("no reboot") << "reboot" << QByteArray() << 0;
}

void TstCESP::datagramOfEachOperation()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, datagram);
    QFETCH(int, command);

    ModulePeer peer(ModuleHost);
    LoopEsp module(peer.port());
    ModuleSpies spies(&module);
    operations().value(operation)(module);
    QCOMPARE(module.command(), command);
    if (datagram.isEmpty()) {
        // Nothing sent and nothing awaited: no outcome can ever come.
        QCOMPARE(spies.out.count(), 0);
        QVERIFY(!module.isTimeoutTimerActive());
        return;
    }
    QVERIFY(peer.waitForDatagrams(1));
    QCOMPARE(peer.received, QByteArrayList{datagram});
    QCOMPARE(spies.sent(), QStringList{QString::fromLatin1(datagram)});
    QCOMPARE(spies.sentTo(), QStringList{"127.0.0.2," + QString::number(peer.port())});
    QCOMPARE(module.lastDatagram(), datagram);
    QVERIFY(module.isTimeoutTimerActive());
}

void TstCESP::answersChangeTheRecord_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("outcome"); // empty: incomplete, the time-out restarted
    QTest::addColumn<QString>("changes");

    QTest::newRow("status static") << "readStatus" << QByteArray("AA:BB:CC:DD:EE:FF,1\r\n") << "ok"
                                   << "mac=AA:BB:CC:DD:EE:FF dhcp=0 obtained=0";
    QTest::newRow("status waiting for DHCP") << "readStatus" << QByteArray("00:1A:2B:3C:4D:5E,2") << "ok"
                                             << "dhcp=1 obtained=0";
    QTest::newRow("status leased") << "readStatus" << QByteArray("00:1A:2B:3C:4D:5E,3") << "ok"
                                   << "dhcp=1 obtained=1";
    QTest::newRow("status of unknown kind") << "readStatus" << QByteArray("00:1A:2B:3C:4D:5F,7") << "ok"
                                            << "mac=00:1A:2B:3C:4D:5F";
    QTest::newRow("status without state") << "readStatus" << QByteArray("00:1A:2B:3C:4D:5F,") << ""
                                          << "";
    QTest::newRow("status in three parts") << "readStatus" << QByteArray("a,b,3") << ""
                                           << "";
    QTest::newRow("information")
        << "readInfo" << QByteArray("ssid,wpa,6,2,127.0.0.9,127.0.0.254,255.0.0.0,2,127.0.0.1,4005\r\n")
        << "info"
        << "dhcp=1 obtained=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=1 "
           "remote=127.0.0.1 port=4005 remotePort=4005";
    QTest::newRow("information of a client")
        << "readInfo" << QByteArray("s,w,1,1,127.0.0.9,,255.0.0.0,1,,4006") << "info"
        << "dhcp=0 obtained=1 ip=127.0.0.9 gateway= netmask=255.0.0.0 "
           "routing=2 remote= port=4006 remotePort=4006";
    QTest::newRow("information in nine parts")
        << "readInfo" << QByteArray("s,w,1,1,127.0.0.9,,255.0.0.0,1,") << ""
        << "";
    QTest::newRow("information in eleven parts")
        << "readInfo" << QByteArray("s,w,1,1,127.0.0.9,,255.0.0.0,1,,4006,x") << ""
        << "";
    QTest::newRow("port confirmed") << "setPort" << QByteArray("OK\r\n") << "ok"
                                    << "port=4002";
    QTest::newRow("port refused") << "setPort" << QByteArray("ERROR\r\n") << "failed"
                                  << "";
    QTest::newRow("remote port confirmed") << "setRemotePort" << QByteArray("\r\nOK\r\n") << "ok"
                                           << "remotePort=4003";
    QTest::newRow("routing confirmed") << "setRoutingMode(2)" << QByteArray("OK") << "ok"
                                       << "routing=2";
    QTest::newRow("remote IP confirmed") << "setRemoteIP" << QByteArray("OK\r\n") << "ok"
                                         << "remote=192.168.1.11";
    QTest::newRow("DHCP confirmed") << "setDhcp(true)" << QByteArray("OK\r\n") << "ok"
                                    << "dhcp=1";
    QTest::newRow("IP confirmed moves the module") << "setIP" << QByteArray("OK\r\n") << "ok"
                                                   << "ip=127.0.0.9 module=127.0.0.9";
    QTest::newRow("IP refused") << "setIP" << QByteArray("ERROR\r\n") << "failed"
                                << "";
    QTest::newRow("gateway confirmed") << "setGateway" << QByteArray("OK\r\n") << "ok"
                                       << "gateway=127.0.0.254";
    QTest::newRow("netmask confirmed") << "setNetmask" << QByteArray("OK\r\n") << "ok"
                                       << "netmask=255.0.0.0";
    QTest::newRow("IP layer confirmed") << "setIPLayer(false)" << QByteArray("OK\r\n") << "ok"
                                        << "dhcp=0 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 "
                                           "module=127.0.0.9";
    QTest::newRow("IP layer with DHCP") << "setIPLayer(true)" << QByteArray("OK\r\n") << "ok"
                                        << "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 "
                                           "module=127.0.0.9";
    QTest::newRow("start confirmed") << "startClientServer" << QByteArray("OK\r\n") << "ok"
                                     << "";
    QTest::newRow("start refused") << "startClientServer" << QByteArray("BUSY\r\n") << "failed"
                                   << "";
}

void TstCESP::answersChangeTheRecord()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    QFETCH(QString, changes);

    ModulePeer peer(ModuleHost);
    peer.responder = [reply](const QByteArray&) { return QByteArrayList{reply}; };
    LoopEsp module(peer.port());
    ModuleSpies spies(&module);
    const QString expected = recordWith(module, changes);

    operations().value(operation)(module);
    QTRY_COMPARE(spies.in.count(), 1);
    QCOMPARE(spies.outcome(), outcome);
    QCOMPARE(record(module), expected);
    QCOMPARE(module.isTimeoutTimerActive(), outcome.isEmpty());
    if (!outcome.isEmpty()) {
        QCOMPARE(module.lastResponse(), reply);
    }
}

void TstCESP::linesOfAddresses()
{
    // A null address is an empty field.
    QCOMPARE(CESP::ipLine(false, QHostAddress(), QHostAddress(), QHostAddress()),
             QByteArray("AT+ASTAIPCONFIG=1,,,\r\n"));
    QCOMPARE(CESP::tcpLine(0, 0, QHostAddress()), QByteArray("AT+ATCPCONFIG=2,0,,1\r\n"));
}

QTEST_GUILESS_MAIN(TstCESP)
#include "tst_cesp.moc"
