// The Tibbo dialect on loopback: the datagram of every operation, the replies of single commands,
// and the two chains (information, IP layer). Selection by broadcast is tested in tst_modulesim.
#include "interface/ctibbo.h"
#include "modulepeer.h"
#include "support/recordfields.h"

#include <QtTest>

#include <functional>

namespace {

const QHostAddress Local(QStringLiteral("127.0.0.1"));
const QHostAddress ModuleHost(QStringLiteral("127.0.0.2"));

class LoopTibbo : public CTibbo
{
public:
    explicit LoopTibbo(quint16 port) : CTibbo(Local, 0xff000000, "0.26.43.60.77.94", ModuleHost)
    {
        m_udp_port = port;
    }
};

using Operation = std::function<void(CInterfaceModule&)>;

Operation operation(const QString& name)
{
    const QHostAddress nine(QStringLiteral("127.0.0.9"));
    const QHostAddress gateway(QStringLiteral("127.0.0.254"));
    const QHostAddress mask(QStringLiteral("255.0.0.0"));
    const QMap<QString, Operation> table = {
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
         [](CInterfaceModule& m) { m.setRemoteIP(QHostAddress(QStringLiteral("127.0.0.1"))); }},
        {"setPort", [](CInterfaceModule& m) { m.setPort(4002); }},
        {"setRemotePort", [](CInterfaceModule& m) { m.setRemotePort(4003); }},
        {"setProtocol(2)", [](CInterfaceModule& m) { m.setProtocol(2); }},
        {"setProtocol(1)", [](CInterfaceModule& m) { m.setProtocol(1); }},
        {"setBaudrate(9600)", [](CInterfaceModule& m) { m.setBaudrate(9600); }},
        {"setBaudrate(600)", [](CInterfaceModule& m) { m.setBaudrate(600); }},
        {"setBaudrate(28800)", [](CInterfaceModule& m) { m.setBaudrate(28800); }},
        {"setBaudrate(14400)", [](CInterfaceModule& m) { m.setBaudrate(14400); }},
        {"reboot", [](CInterfaceModule& m) { m.reboot(); }},
    };
    return table.value(name);
}

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
                       QStringLiteral("protocol=%1").arg(m.protocol()),
                       QStringLiteral("baud=%1").arg(m.baudrate())}
        .join(QLatin1Char(' '));
}

QString recordWith(const CInterfaceModule& m, const QString& changes)
{
    return withFields(record(m), changes);
}

// A module that answers the information chain; one reply can be replaced.
QMap<QByteArray, QByteArray> chainReplies()
{
    return {{"L", "A"},
            {"GDH", "A1"},
            {"GIP", "A127.0.0.9"},
            {"GGI", "A127.0.0.254"},
            {"GNM", "A255.0.0.0"},
            {"GRM", "A2"},
            {"GDI", "A127.0.0.1"},
            {"GPN", "A4005"},
            {"GDP", "A4006"},
            {"GTP", "A0"},
            {"GBR", "A3"}};
}

} // namespace

class TstCTibbo : public QObject
{
    Q_OBJECT

private slots:
    void datagramOfEachOperation_data();
    void datagramOfEachOperation();
    void repliesChangeTheRecord_data();
    void repliesChangeTheRecord();
    void informationChain_data();
    void informationChain();
    void ipLayerChain_data();
    void ipLayerChain();
    void startClientServerSendsNothing();
};

void TstCTibbo::datagramOfEachOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("command");

    QTest::newRow("status") << "readStatus" << QByteArray("X") << 1;
    QTest::newRow("information in the subnet") << "readInfo" << QByteArray("L") << 3;
    QTest::newRow("DHCP on") << "setDhcp(true)" << QByteArray("SDH1") << 4;
    QTest::newRow("DHCP off") << "setDhcp(false)" << QByteArray("SDH0") << 4;
    QTest::newRow("IP") << "setIP" << QByteArray("SIP127.0.0.9") << 5;
    QTest::newRow("gateway") << "setGateway" << QByteArray("SGI127.0.0.254") << 6;
    QTest::newRow("netmask") << "setNetmask" << QByteArray("SNM255.0.0.0") << 7;
    QTest::newRow("IP layer starts with DHCP") << "setIPLayer(false)" << QByteArray("SDH0") << 8;
    QTest::newRow("client") << "setRoutingMode(2)" << QByteArray("SRM2") << 9;
    QTest::newRow("server") << "setRoutingMode(1)" << QByteArray("SRM0") << 9;
    QTest::newRow("remote IP") << "setRemoteIP" << QByteArray("SDI127.0.0.1") << 10;
    QTest::newRow("port") << "setPort" << QByteArray("SPN4002") << 11;
    QTest::newRow("remote port") << "setRemotePort" << QByteArray("SDP4003") << 12;
    QTest::newRow("UDP") << "setProtocol(2)" << QByteArray("STP0") << 21;
    QTest::newRow("TCP") << "setProtocol(1)" << QByteArray("STP1") << 21;
    QTest::newRow("9600") << "setBaudrate(9600)" << QByteArray("SBR3") << 22;
    QTest::newRow("600") << "setBaudrate(600)" << QByteArray("SBR10") << 22;
    QTest::newRow("28800") << "setBaudrate(28800)" << QByteArray("SBR11") << 22;
    QTest::newRow("14400 is not in the table") << "setBaudrate(14400)" << QByteArray("SBR7") << 22;
    QTest::newRow("reboot") << "reboot" << QByteArray("E") << 23;
}

void TstCTibbo::datagramOfEachOperation()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, datagram);
    QFETCH(int, command);

    ModulePeer peer(ModuleHost);
    LoopTibbo module(peer.port());
    ModuleSpies spies(&module);
    ::operation(operation)(module);
    QVERIFY(peer.waitForDatagrams(1));
    QCOMPARE(peer.received, QByteArrayList{datagram});
    QCOMPARE(spies.sent(), QStringList{QString::fromLatin1(datagram)});
    QCOMPARE(spies.sentTo(), QStringList{"127.0.0.2," + QString::number(peer.port())});
    QCOMPARE(module.command(), command);
}

void TstCTibbo::repliesChangeTheRecord_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("changes");

    QTest::newRow("status leased") << "readStatus" << QByteArray("A0.26.43.60.77.95/1/NORI/3.9/o/d") << "ok"
                                   << "mac=0.26.43.60.77.95 dhcp=1 obtained=1";
    QTest::newRow("status static") << "readStatus" << QByteArray("A002.000.077.086.000.001/1/NORM/3.9/o/d")
                                   << "ok"
                                   << "mac=002.000.077.086.000.001 dhcp=0 obtained=0";
    QTest::newRow("status waiting") << "readStatus" << QByteArray("A0.26.43.60.77.94/1/NOR*/3.9/o/d") << "ok"
                                    << "dhcp=1 obtained=0";
    QTest::newRow("status with a short mode part")
        << "readStatus" << QByteArray("A0.26.43.60.77.94/1/I/3/o/d") << "ok"
        << "";
    QTest::newRow("status in five parts")
        << "readStatus" << QByteArray("A0.26.43.60.77.94/1/NORI/3.9/o") << ""
        << "";
    QTest::newRow("status refused") << "readStatus" << QByteArray("C") << "failed"
                                    << "";
    QTest::newRow("selection") << "readInfo" << QByteArray("F") << "failed"
                               << "";
    QTest::newRow("DHCP") << "setDhcp(true)" << QByteArray("A") << "ok"
                          << "dhcp=1";
    QTest::newRow("IP") << "setIP" << QByteArray("A") << "ok"
                        << "ip=127.0.0.9";
    QTest::newRow("IP refused") << "setIP" << QByteArray("C") << "failed"
                                << "";
    QTest::newRow("gateway") << "setGateway" << QByteArray("A") << "ok"
                             << "gateway=127.0.0.254";
    QTest::newRow("netmask") << "setNetmask" << QByteArray("A") << "ok"
                             << "netmask=255.0.0.0";
    QTest::newRow("routing") << "setRoutingMode(2)" << QByteArray("A") << "ok"
                             << "routing=2";
    QTest::newRow("remote IP") << "setRemoteIP" << QByteArray("A") << "ok"
                               << "remote=127.0.0.1";
    QTest::newRow("port") << "setPort" << QByteArray("A") << "ok"
                          << "port=4002";
    QTest::newRow("remote port") << "setRemotePort" << QByteArray("A") << "ok"
                                 << "remotePort=4003";
    QTest::newRow("protocol") << "setProtocol(2)" << QByteArray("A") << "ok"
                              << "protocol=2";
    QTest::newRow("speed") << "setBaudrate(600)" << QByteArray("A") << "ok"
                           << "baud=600";
    QTest::newRow("speed not in the table keeps what was sent")
        << "setBaudrate(14400)" << QByteArray("A") << "ok"
        << "baud=115200";
    QTest::newRow("reboot answered") << "reboot" << QByteArray("A") << "ok"
                                     << "";
}

void TstCTibbo::repliesChangeTheRecord()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    QFETCH(QString, changes);

    ModulePeer peer(ModuleHost);
    peer.responder = [reply](const QByteArray&) { return QByteArrayList{reply}; };
    LoopTibbo module(peer.port());
    ModuleSpies spies(&module);
    const QString expected = recordWith(module, changes);

    ::operation(operation)(module);
    QTRY_COMPARE(spies.in.count(), 1);
    QCOMPARE(spies.outcome(), outcome);
    QCOMPARE(record(module), expected);
    QCOMPARE(module.isTimeoutTimerActive(), outcome.isEmpty());
}

void TstCTibbo::informationChain_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("changes");

    const QString all =
        "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=2 remote=127.0.0.1 "
        "port=4005 remotePort=4006 protocol=2 baud=9600";
    QTest::newRow("whole chain") << QByteArray() << QByteArray() << "info" << 11 << all;
    QTest::newRow("speed index 7") << QByteArray("GBR") << QByteArray("A7") << "info" << 11
                                   << QString(all).replace("baud=9600", "baud=115200");
    QTest::newRow("speed index 12") << QByteArray("GBR") << QByteArray("A12") << "failed" << 11
                                    << QString(all).remove(" baud=9600");
    QTest::newRow("speed not a number")
        << QByteArray("GBR") << QByteArray("Afast") << "failed" << 11 << QString(all).remove(" baud=9600");
    QTest::newRow("routing 3") << QByteArray("GRM") << QByteArray("A3") << "failed" << 6
                               << "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0";
    QTest::newRow("routing 0 is server") << QByteArray("GRM") << QByteArray("A0") << "info" << 11
                                         << QString(all).replace("routing=2", "routing=1");
    QTest::newRow("port 0") << QByteArray("GPN") << QByteArray("A0") << "failed" << 8
                            << "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=2 "
                               "remote=127.0.0.1";
    QTest::newRow("protocol 2") << QByteArray("GTP") << QByteArray("A2") << "failed" << 10
                                << "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=2 "
                                   "remote=127.0.0.1 port=4005 remotePort=4006";
    QTest::newRow("refused midway") << QByteArray("GNM") << QByteArray("C") << "failed" << 5
                                    << "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254";
    QTest::newRow("DHCP off") << QByteArray("GDH") << QByteArray("A0") << "info" << 11
                              << QString(all).replace("dhcp=1", "dhcp=0");
    QTest::newRow("DHCP reply without value")
        << QByteArray("GDH") << QByteArray("A") << "info" << 11 << QString(all).replace("dhcp=1", "dhcp=0");
    // An address in three parts is incomplete: the time-out restarts and the chain waits there.
    QTest::newRow("address in three parts")
        << QByteArray("GGI") << QByteArray("A127.0.0") << "" << 4 << "dhcp=1 ip=127.0.0.9";
    QTest::newRow("address of garbage")
        << QByteArray("GDI") << QByteArray("Aa.b.c.d") << "" << 7
        << "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=2";
}

void TstCTibbo::informationChain()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    QFETCH(int, sent);
    QFETCH(QString, changes);

    QMap<QByteArray, QByteArray> replies = chainReplies();
    if (!request.isEmpty()) {
        replies[request] = reply;
    }
    ModulePeer peer(ModuleHost);
    peer.responder = [replies](const QByteArray& d) { return QByteArrayList{replies.value(d, "C")}; };
    LoopTibbo module(peer.port());
    ModuleSpies spies(&module);
    const QString expected = recordWith(module, changes);

    module.readInfo(1);
    QTRY_COMPARE(spies.in.count(), sent);
    QCOMPARE(spies.outcome(), outcome);
    const QByteArrayList chain = {"L", "GDH", "GIP", "GGI", "GNM", "GRM", "GDI", "GPN", "GDP", "GTP", "GBR"};
    QCOMPARE(peer.received, chain.mid(0, sent));
    QCOMPARE(record(module), expected);
    QCOMPARE(module.command(), int(CInterfaceModule::COMMAND_GET_INFO));
    QCOMPARE(module.isTimeoutTimerActive(), outcome.isEmpty());
}

void TstCTibbo::ipLayerChain_data()
{
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<QByteArrayList>("expectedSent");
    QTest::addColumn<QString>("changes");

    QTest::newRow("DHCP: one step") << true << QByteArrayList{"SDH1"} << "dhcp=1";
    QTest::newRow("static: four steps")
        << false << QByteArrayList{"SDH0", "SIP127.0.0.9", "SGI127.0.0.254", "SNM255.0.0.0"}
        << "dhcp=0 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0";
}

void TstCTibbo::ipLayerChain()
{
    QFETCH(bool, dhcp);
    QFETCH(QByteArrayList, expectedSent);
    QFETCH(QString, changes);

    ModulePeer peer(ModuleHost);
    peer.responder = [](const QByteArray&) { return QByteArrayList{"A"}; };
    LoopTibbo module(peer.port());
    module.setDhcpState(!dhcp, true);
    ModuleSpies spies(&module);
    const QString expected = recordWith(module, changes);

    module.setIPLayer(dhcp, QHostAddress("127.0.0.9"), QHostAddress("127.0.0.254"),
                      QHostAddress("255.0.0.0"));
    QTRY_COMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(peer.received, expectedSent);
    QCOMPARE(record(module), expected);
    QCOMPARE(module.command(), int(CInterfaceModule::COMMAND_SET_IP_LAYER));
}

void TstCTibbo::startClientServerSendsNothing()
{
    ModulePeer peer(ModuleHost);
    LoopTibbo module(peer.port());
    ModuleSpies spies(&module);
    module.startClientServer();
    QCOMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(spies.out.count(), 0);
    QVERIFY(!module.isTimeoutTimerActive());
}

QTEST_GUILESS_MAIN(TstCTibbo)
#include "tst_ctibbo.moc"
