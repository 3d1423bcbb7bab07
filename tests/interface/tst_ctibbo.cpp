// The Tibbo dialect on loopback: the datagram of every operation, the replies of single commands,
// and the two chains (information, IP layer). Selection by broadcast is tested in tst_modulesim.
#include "interface/ctibbo.h"
#include "modulepeer.h"

#include <QtTest>

namespace {

const QByteArray Mac = "0.26.43.60.77.94";

} // namespace

class TstCTibbo : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data();
    void exchanges() { checkExchange<CTibbo>(Mac); }
    void informationChain_data();
    void informationChain();
    void ipLayerChain_data();
    void ipLayerChain();
};

void TstCTibbo::exchanges_data()
{
    using M = CInterfaceModule;
    exchangeColumns();

    const Operation status = [](M& m) { m.readStatus(); };
    exchange("status leased", "X", "A0.26.43.60.77.95/1/NORI/3.9/o/d", "ok",
             "mac=0.26.43.60.77.95 dhcp=1 obtained=1", status);
    exchange("status static", "X", "A002.000.077.086.000.001/1/NORM/3.9/o/d", "ok",
             "mac=002.000.077.086.000.001 dhcp=0 obtained=0", status);
    exchange("status waiting", "X", "A0.26.43.60.77.94/1/NOR*/3.9/o/d", "ok", "dhcp=1 obtained=0", status);
    exchange("status with a short mode part", "X", "A0.26.43.60.77.94/1/I/3/o/d", "ok", "", status);
    exchange("status in five parts", "X", "A0.26.43.60.77.94/1/NORI/3.9/o", "", "", status);
    exchange("status refused", "X", "C", "failed", "", status);
    exchange("status without status byte", "X", "", "failed", "", status);
    exchange("information refused", "L", "F", "failed", "", [](M& m) { m.readInfo(1); });

    exchange("DHCP on", "SDH1", "A", "ok", "dhcp=1", [](M& m) { m.setDhcp(true); });
    exchange("DHCP off refused", "SDH0", "C", "failed", "", [](M& m) { m.setDhcp(false); });
    exchange("IP", "SIP127.0.0.9", "A", "ok", "ip=127.0.0.9",
             [](M& m) { m.setIP(QHostAddress("127.0.0.9")); });
    exchange("gateway", "SGI127.0.0.254", "A", "ok", "gateway=127.0.0.254",
             [](M& m) { m.setGateway(QHostAddress("127.0.0.254")); });
    exchange("netmask", "SNM255.0.0.0", "A", "ok", "netmask=255.0.0.0",
             [](M& m) { m.setNetmask(QHostAddress("255.0.0.0")); });
    exchange("client", "SRM2", "A", "ok", "routing=2", [](M& m) { m.setRoutingMode(M::ROUTING_CLIENT); });
    exchange("server", "SRM0", "A", "ok", "routing=1", [](M& m) { m.setRoutingMode(M::ROUTING_SERVER); });
    exchange("remote IP", "SDI127.0.0.1", "A", "ok", "remote=127.0.0.1",
             [](M& m) { m.setRemoteIP(LocalHost); });
    exchange("port", "SPN4002", "A", "ok", "port=4002", [](M& m) { m.setPort(4002); });
    exchange("remote port", "SDP4003", "A", "ok", "remotePort=4003", [](M& m) { m.setRemotePort(4003); });
    exchange("UDP", "STP0", "A", "ok", "protocol=2", [](M& m) { m.setProtocol(M::PROTOCOL_UDP); });
    exchange("TCP", "STP1", "A", "ok", "protocol=1", [](M& m) { m.setProtocol(M::PROTOCOL_TCP); });
    exchange("9600", "SBR3", "A", "ok", "baud=9600", [](M& m) { m.setBaudrate(9600); });
    exchange("28800", "SBR11", "A", "ok", "baud=28800", [](M& m) { m.setBaudrate(28800); });
    // The record keeps the speed that was really sent.
    exchange("14400 is not in the table", "SBR7", "A", "ok", "baud=115200",
             [](M& m) { m.setBaudrate(14400); });
    exchange("reboot", "E", "A", "ok", "", [](M& m) { m.reboot(); });
    // The module takes its role from its settings when it starts.
    exchange("start sends nothing", "", "", "ok", "", [](M& m) { m.startClientServer(); });
    exchange("test datagram takes any answer", "ping", "?", "ok", "",
             [](M& m) { m.sendTestDatagram("ping", false); });
}

void TstCTibbo::informationChain_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // replaces the good reply to request
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("changes");

    const QString all =
        "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=2 remote=127.0.0.1 "
        "port=4005 remotePort=4006 protocol=2 baud=9600";
    const auto upTo = [&all](const char* field) { return all.left(all.indexOf(QLatin1String(field)) - 1); };
    QTest::newRow("whole chain") << QByteArray() << QByteArray() << "info" << 11 << all;
    QTest::newRow("speed index 12") << QByteArray("GBR") << QByteArray("A12") << "failed" << 11
                                    << upTo("baud");
    QTest::newRow("speed not a number")
        << QByteArray("GBR") << QByteArray("Afast") << "failed" << 11 << upTo("baud");
    QTest::newRow("routing 3") << QByteArray("GRM") << QByteArray("A3") << "failed" << 6 << upTo("routing");
    QTest::newRow("routing 0 is server") << QByteArray("GRM") << QByteArray("A0") << "info" << 11
                                         << QString(all).replace("routing=2", "routing=1");
    QTest::newRow("port 0") << QByteArray("GPN") << QByteArray("A0") << "failed" << 8 << upTo("port");
    QTest::newRow("protocol 2") << QByteArray("GTP") << QByteArray("A2") << "failed" << 10
                                << upTo("protocol");
    QTest::newRow("refused midway") << QByteArray("GNM") << QByteArray("C") << "failed" << 5
                                    << upTo("netmask");
    QTest::newRow("DHCP off") << QByteArray("GDH") << QByteArray("A0") << "info" << 11
                              << QString(all).replace("dhcp=1", "dhcp=0");
    QTest::newRow("DHCP reply without value")
        << QByteArray("GDH") << QByteArray("A") << "info" << 11 << QString(all).replace("dhcp=1", "dhcp=0");
    // An incomplete address starts the time-out again: the chain waits there.
    QTest::newRow("address in three parts")
        << QByteArray("GGI") << QByteArray("A127.0.0") << "" << 4 << upTo("gateway");
    QTest::newRow("address of garbage")
        << QByteArray("GDI") << QByteArray("Aa.b.c.d") << "" << 7 << upTo("remote");
}

void TstCTibbo::informationChain()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    QFETCH(int, sent);
    QFETCH(QString, changes);

    // A module that answers the chain; one reply can be replaced.
    const QByteArrayList chain = {"L", "GDH", "GIP", "GGI", "GNM", "GRM", "GDI", "GPN", "GDP", "GTP", "GBR"};
    const QByteArrayList good = {"A",          "A1",    "A127.0.0.9", "A127.0.0.254", "A255.0.0.0", "A2",
                                 "A127.0.0.1", "A4005", "A4006",      "A0",           "A3"};
    ModulePeer peer(ModuleHost);
    peer.responder = [&](const QByteArray& d) {
        return d == request ? reply : good.value(chain.indexOf(d), "C");
    };
    OnLoopback<CTibbo> module(peer.port(), Mac);
    ModuleSpies spies(&module);
    const QString expected = withFields(record(module), changes);

    module.readInfo(1);
    QTRY_COMPARE(spies.in.count(), sent);
    QCOMPARE(spies.outcome(), outcome);
    QCOMPARE(peer.received, chain.mid(0, sent));
    QCOMPARE(record(module), expected);
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
    peer.responder = [](const QByteArray&) { return QByteArray("A"); };
    OnLoopback<CTibbo> module(peer.port(), Mac);
    module.setDhcpState(!dhcp, true);
    ModuleSpies spies(&module);
    const QString expected = withFields(record(module), changes);

    module.setIPLayer(dhcp, QHostAddress("127.0.0.9"), QHostAddress("127.0.0.254"),
                      QHostAddress("255.0.0.0"));
    QTRY_COMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(peer.received, expectedSent);
    QCOMPARE(record(module), expected);
}

QTEST_GUILESS_MAIN(TstCTibbo)
#include "tst_ctibbo.moc"
