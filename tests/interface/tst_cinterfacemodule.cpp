// The module command engine and both dialects on loopback: the datagram of every operation, what the
// answer does to the record, the Tibbo chains (information, IP layer), and the engine's logs, time-outs
// and lists. Broadcasts (the selection step) are never sent here; they are tested in tst_modulesim.
#include "interface/cesp.h"
#include "interface/ctibbo.h"
#include "modulepeer.h"

#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const QByteArray EspMac = "00:1A:2B:3C:4D:5E";
const QByteArray TibboMac = "0.26.43.60.77.94";

// Runs a command list (id 42).
Operation list(const QList<int>& commands, const QVariantList& arguments, int commandRepetitions,
               int listRepetitions)
{
    return [=](CInterfaceModule& m) {
        m.startCommandsList(42, commands, arguments, commandRepetitions, listRepetitions);
    };
}

std::unique_ptr<CInterfaceModule> loopModule(bool tibbo, quint16 port, const QByteArray& mac = QByteArray())
{
    if (tibbo) {
        return std::make_unique<OnLoopback<CTibbo>>(port, mac.isNull() ? TibboMac : mac);
    }
    return std::make_unique<OnLoopback<CESP>>(port, mac.isNull() ? EspMac : mac);
}

} // namespace

class TstCInterfaceModule : public QObject
{
    Q_OBJECT

private slots:
    void espExchanges_data();
    void espExchanges() { checkExchange<CESP>(EspMac); }
    void tibboExchanges_data();
    void tibboExchanges() { checkExchange<CTibbo>(TibboMac); }
    void answersLogsAndTimeOut();
    void badAndIncompleteReplies();
    void callsFromOtherThreadsArePosted();
    void macForArp_data();
    void macForArp(); // and clone
};

void TstCInterfaceModule::answersLogsAndTimeOut()
{
    ModulePeer peer(ModuleHost);
    ModulePeer elsewhere(OtherHost, peer.port());
    OnLoopback<CESP> module(peer.port(), EspMac);
    ModuleSpies spies(&module);
    const QString port = QLatin1Char(',') + QString::number(peer.port());

    // Answered from another address: the module is there from now on.
    module.readStatus();
    QVERIFY(peer.waitForDatagrams(1));
    elsewhere.socket.writeDatagram("00:1A:2B:3C:4D:5F,3\r\n", peer.lastSender, peer.lastSenderPort);
    QTRY_COMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(spies.sentTo(), QStringList{"127.0.0.2" + port});
    QCOMPARE(spies.sent(), QStringList{"AT+ASTATUS?\r\n"});
    QCOMPARE(spies.receivedFrom(), QStringList{"127.0.0.3" + port});
    QCOMPARE(ModuleSpies::field(spies.in, &PelmLogRecord::message), QStringList{"00:1A:2B:3C:4D:5F,3\r\n"});
    QVERIFY(spies.out.at(0).at(0).value<PelmLogRecord>().date.isValid());
    QCOMPARE(module.lastResponseText(), QStringLiteral("00:1A:2B:3C:4D:5F,3\r\n"));
    QCOMPARE(module.moduleAddress(), OtherHost);

    module.setPort(4002);
    QVERIFY(elsewhere.waitForDatagrams(1));
    QCOMPARE(spies.sentTo().last(), "127.0.0.3" + port);
    QCOMPARE(peer.received.size(), 1);

    // Unanswered, it times out once; a late answer is logged and changes nothing, not even where
    // the next command goes.
    QTRY_COMPARE_WITH_TIMEOUT(spies.timeout.count(), 1, 3000);
    QVERIFY(!module.isTimeoutTimerActive());
    peer.reply("OK\r\n");
    QTRY_COMPARE(spies.in.count(), 2);
    QCOMPARE(spies.outcomes(), 2);
    QCOMPARE(module.port(), 1001);
    QCOMPARE(module.moduleAddress(), OtherHost);
}

void TstCInterfaceModule::badAndIncompleteReplies()
{
    ModulePeer peer(ModuleHost);
    OnLoopback<CESP> module(peer.port(), EspMac);
    ModuleSpies spies(&module);

    module.readInfo(2);
    QVERIFY(peer.waitForDatagrams(1));
    QCOMPARE(peer.received, QByteArrayList{"AT+ACONFIG?\r\n"});
    // Garbage of any size, NULs, nothing, an answer in nine parts: each is logged and only starts
    // the time-out again.
    peer.reply(QByteArray(60000, 'x'));
    peer.reply(QByteArray("\0\0,\0", 4));
    peer.reply(QByteArray());
    peer.reply("a,b,c,1,127.0.0.9,127.0.0.254,255.0.0.0,1,127.0.0.1");
    QTRY_COMPARE(spies.in.count(), 4);
    QCOMPARE(ModuleSpies::field(spies.in, &PelmLogRecord::message).at(1), QString());
    QCOMPARE(spies.outcomes(), 0);
    QVERIFY(module.isTimeoutTimerActive());

    peer.reply("a,b,c,1,127.0.0.9,127.0.0.254,255.0.0.0,1,127.0.0.1,4001\r\n");
    QTRY_COMPARE(spies.outcome(), QStringLiteral("info"));
    QCOMPARE(module.infoCnt(), 2);
    QCOMPARE(module.port(), 4001);
    QCOMPARE(module.lastResponseText(),
             QStringLiteral("a,b,c,1,127.0.0.9,127.0.0.254,255.0.0.0,1,127.0.0.1,4001\r\n"));
}

void TstCInterfaceModule::callsFromOtherThreadsArePosted()
{
    ModulePeer peer(ModuleHost);
    peer.responder = [](const QByteArray&) { return QByteArray("OK\r\n"); };
    OnLoopback<CESP> module(peer.port(), EspMac);
    ModuleSpies spies(&module);

    QThread* caller = QThread::create([&module] {
        module.readInfo(3);
        module.sendDatagram("AT+ATCPSTART\r\n", CInterfaceModule::COMMAND_START_CLIENT_SERVER);
    });
    caller->start();
    QVERIFY(caller->wait(5000));
    delete caller;
    // Nothing ran in the calling thread; both requests run here, in order.
    QCOMPARE(peer.received.size(), 0);
    QTRY_COMPARE(spies.ok.count(), 1);
    QCOMPARE(peer.received, QByteArrayList({"AT+ACONFIG?\r\n", "AT+ATCPSTART\r\n"}));
    QCOMPARE(module.infoCnt(), 3);
}

void TstCInterfaceModule::macForArp_data()
{
    QTest::addColumn<bool>("tibbo");
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("wifi") << false << QByteArray("00:1A:2B:3C:4D:5E") << QByteArray("00-1a-2b-3c-4d-5e");
    QTest::newRow("wifi short groups")
        << false << QByteArray("0:1a:2:3c:4d:5e") << QByteArray("00-1a-02-3c-4d-5e");
    QTest::newRow("wifi not hex") << false << QByteArray("00:1A:2B:3C:4D:ZZ") << QByteArray();
    QTest::newRow("wifi above a byte") << false << QByteArray("00:1A:2B:3C:4D:100") << QByteArray();
    QTest::newRow("tibbo") << true << QByteArray("0.26.43.60.77.94") << QByteArray("00-1a-2b-3c-4d-5e");
    QTest::newRow("tibbo padded") << true << QByteArray("002.000.077.086.000.255")
                                  << QByteArray("02-00-4d-56-00-ff");
    QTest::newRow("tibbo colons") << true << QByteArray("00:1A:2B:3C:4D:5E") << QByteArray();
}

void TstCInterfaceModule::macForArp()
{
    QFETCH(bool, tibbo);
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, expected);
    const std::unique_ptr<CInterfaceModule> module = loopModule(tibbo, 65000, mac);
    QCOMPARE(module->macForArp(), expected);

    // A clone (the device's copy for another thread) is of the same dialect with the same record.
    module->setPlannedSettings(true, CInterfaceModule::ROUTING_CLIENT, LocalHost, QHostAddress("255.255.0.0"),
                               CInterfaceModule::PROTOCOL_UDP);
    const std::unique_ptr<CInterfaceModule> copy(module->clone(nullptr));
    QCOMPARE(copy->macForArp(), expected);
    QCOMPARE(record(*copy), record(*module));
    QCOMPARE(copy->localAddress(), LocalHost);
}

void TstCInterfaceModule::espExchanges_data()
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
    exchange("status in three parts", "AT+ASTATUS?\r\n", "a,b,3", "", "", status);
    // Bytes beyond ASCII come back byte for byte, as the search reads them.
    exchange("status beyond ASCII", "AT+ASTATUS?\r\n", "AA:BB:CC:DD:EE:\xC3\xBF,1\r\n", "ok",
             QString::fromLatin1("mac=AA:BB:CC:DD:EE:\xC3\xBF dhcp=0 obtained=0"), status);

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

    // The IP line carries the module's address, gateway and netmask as known, whatever changes.
    exchange("DHCP on", "AT+ASTAIPCONFIG=2,127.0.0.2,192.168.1.1,255.255.255.0\r\n", ok, "ok", "dhcp=1",
             [](M& m) { m.setDhcp(true); });
    exchange("DHCP off refused", "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.255.255.0\r\n", "ERROR\r\n",
             "failed", "", [](M& m) { m.setDhcp(false); });
    exchange("IP moves the module", "AT+ASTAIPCONFIG=1,127.0.0.9,192.168.1.1,255.255.255.0\r\n", ok, "ok",
             "ip=127.0.0.9 module=127.0.0.9", [=](M& m) { m.setIP(nine); });
    exchange("gateway", "AT+ASTAIPCONFIG=1,127.0.0.2,127.0.0.254,255.255.255.0\r\n", ok, "ok",
             "gateway=127.0.0.254", [=](M& m) { m.setGateway(gateway); });
    exchange("IP layer static", "AT+ASTAIPCONFIG=1,127.0.0.9,127.0.0.254,255.0.0.0\r\n", ok, "ok",
             "dhcp=0 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 module=127.0.0.9",
             [=](M& m) { m.setIPLayer(false, nine, gateway, mask); });

    // The TCP line carries role, port and server; "1" is the client role.
    exchange("client", "AT+ATCPCONFIG=1,1001,192.168.1.10,1\r\n", "OK", "ok", "routing=2",
             [](M& m) { m.setRoutingMode(M::ROUTING_CLIENT); });
    exchange("server", "AT+ATCPCONFIG=2,1001,192.168.1.10,1\r\n", ok, "ok", "routing=1",
             [](M& m) { m.setRoutingMode(M::ROUTING_SERVER); });
    exchange("port", "AT+ATCPCONFIG=2,4002,192.168.1.10,1\r\n", ok, "ok", "port=4002",
             [](M& m) { m.setPort(4002); });
    exchange("remote port: the same field", "AT+ATCPCONFIG=2,4003,192.168.1.10,1\r\n", "\r\nOK\r\n", "ok",
             "remotePort=4003", [](M& m) { m.setRemotePort(4003); });
    exchange("start", "AT+ATCPSTART\r\n", ok, "ok", "", [](M& m) { m.startClientServer(); });
    exchange("no protocol, speed or reboot", "", "", "", "", [](M& m) {
        m.setProtocol(M::PROTOCOL_UDP);
        m.setBaudrate(9600);
        m.reboot();
    });

    // Command lists: each step tried up to a number of times, the whole list up to another; the steps'
    // own outcomes stay inside the list.
    const QByteArray dhcpOff = "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.255.255.0\r\n";
    const QByteArray setIp = "AT+ASTAIPCONFIG=1,127.0.0.7,192.168.1.1,255.255.255.0\r\n";
    const QByteArray setMask = "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.0.0.0\r\n";
    const QList<int> dhcpThenIp = {M::COMMAND_SET_DHCP, M::COMMAND_SET_IP};
    const QVariantList args = {false, QStringLiteral("127.0.0.7")};
    exchange("list: a command repeated", dhcpOff + '|' + dhcpOff + '|' + setIp, "ERROR\r\n|OK\r\n", "list 1",
             "ip=127.0.0.7 module=127.0.0.7", list(dhcpThenIp, args, 2, 1));
    exchange("list: whole list again", dhcpOff + '|' + setMask + '|' + dhcpOff + '|' + setMask,
             "OK\r\n|ERROR\r\n|OK\r\n", "list 1", "netmask=255.0.0.0",
             list({M::COMMAND_SET_DHCP, M::COMMAND_SET_NETMASK}, {false, QStringLiteral("255.0.0.0")}, 1, 2));
    exchange("list: repetitions exhausted", dhcpOff + '|' + dhcpOff + '|' + dhcpOff + '|' + dhcpOff,
             "ERROR\r\n", "list 0", "", list(dhcpThenIp, args, 2, 2));
    // An empty answer only starts the time-out again; at its end the command goes again.
    exchange("list: a time-out repeats the command", "AT+ACONFIG?\r\n|AT+ACONFIG?\r\n",
             "|s,e,c,2,127.0.0.2,,255.0.0.0,2,,4001\r\n", "list 1",
             "dhcp=1 obtained=1 ip=127.0.0.2 gateway= netmask=255.0.0.0 routing=1 remote= port=4001 "
             "remotePort=4001",
             list({M::COMMAND_GET_INFO}, {QVariant()}, 2, 1));
    exchange("list: a command a list cannot run", "", "", "list 0", "",
             list({M::COMMAND_SET_PORT}, {1001}, 2, 1));
    exchange("list: empty", "", "", "list 1", "", list({}, {}, 1, 1));
}

void TstCInterfaceModule::tibboExchanges_data()
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
    exchange("status beyond ASCII", "X", "A0.26.43.60.77.\xB5/1/NORM/3.9/o/d", "ok",
             QString::fromLatin1("mac=0.26.43.60.77.\xB5"), status);
    exchange("status refused", "X", "C", "failed", "", status);

    // The information chain: a good answer to every request but the one replaced. It goes as far as
    // that request, or to its end when the information comes.
    const QByteArrayList chain = {"L", "GDH", "GIP", "GGI", "GNM", "GRM", "GDI", "GPN", "GDP", "GTP", "GBR"};
    const QByteArrayList good = {"A",          "A1",    "A127.0.0.9", "A127.0.0.254", "A255.0.0.0", "A2",
                                 "A127.0.0.1", "A4005", "A4006",      "A0",           "A3"};
    const QString all =
        "dhcp=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0 routing=2 remote=127.0.0.1 "
        "port=4005 remotePort=4006 protocol=2 baud=9600";
    const auto upTo = [&all](const char* field) { return all.left(all.indexOf(QLatin1String(field)) - 1); };
    const auto info = [&](const char* name, const QByteArray& request, const QByteArray& reply,
                          const QString& outcome, const QString& changes) {
        QByteArrayList replies = good;
        const int at = chain.indexOf(request);
        if (at >= 0) {
            replies[at] = reply;
        }
        const int sent = outcome == QLatin1String("info") ? chain.size() : at + 1;
        exchange(name, chain.mid(0, sent).join('|'), replies.mid(0, sent).join('|'), outcome, changes,
                 [](M& m) { m.readInfo(1); });
    };
    info("information", "", "", "info", all);
    info("speed index 12", "GBR", "A12", "failed", upTo("baud"));
    info("routing 3", "GRM", "A3", "failed", upTo("routing"));
    info("routing 0 is server", "GRM", "A0", "info", QString(all).replace("routing=2", "routing=1"));
    info("port 0", "GPN", "A0", "failed", upTo("port"));
    info("protocol 2", "GTP", "A2", "failed", upTo("protocol"));
    info("refused midway", "GNM", "C", "failed", upTo("netmask"));
    info("DHCP off", "GDH", "A0", "info", QString(all).replace("dhcp=1", "dhcp=0"));
    info("DHCP reply without value", "GDH", "A", "info", QString(all).replace("dhcp=1", "dhcp=0"));
    // An incomplete address starts the time-out again: the chain waits there.
    info("address in three parts", "GGI", "A127.0.0", "", upTo("gateway"));

    exchange("DHCP on", "SDH1", "A", "ok", "dhcp=1", [](M& m) { m.setDhcp(true); });
    exchange("DHCP off refused", "SDH0", "C", "failed", "", [](M& m) { m.setDhcp(false); });
    exchange("IP", "SIP127.0.0.9", "A", "ok", "ip=127.0.0.9",
             [](M& m) { m.setIP(QHostAddress("127.0.0.9")); });
    exchange("gateway", "SGI127.0.0.254", "A", "ok", "gateway=127.0.0.254",
             [](M& m) { m.setGateway(QHostAddress("127.0.0.254")); });
    // The IP layer as a chain of settings: DHCP alone when it is on.
    exchange("IP layer DHCP", "SDH1", "A", "ok", "dhcp=1", [](M& m) {
        m.setIPLayer(true, QHostAddress("127.0.0.9"), QHostAddress("127.0.0.254"), QHostAddress("255.0.0.0"));
    });
    exchange("IP layer static", "SDH0|SIP127.0.0.9|SGI127.0.0.254|SNM255.0.0.0", "A", "ok",
             "dhcp=0 obtained=1 ip=127.0.0.9 gateway=127.0.0.254 netmask=255.0.0.0", [](M& m) {
                 m.setDhcpState(true, true);
                 m.setIPLayer(false, QHostAddress("127.0.0.9"), QHostAddress("127.0.0.254"),
                              QHostAddress("255.0.0.0"));
             });
    exchange("client", "SRM2", "A", "ok", "routing=2", [](M& m) { m.setRoutingMode(M::ROUTING_CLIENT); });
    exchange("server", "SRM0", "A", "ok", "routing=1", [](M& m) { m.setRoutingMode(M::ROUTING_SERVER); });
    exchange("port", "SPN4002", "A", "ok", "port=4002", [](M& m) { m.setPort(4002); });
    exchange("remote port", "SDP4003", "A", "ok", "remotePort=4003", [](M& m) { m.setRemotePort(4003); });
    exchange("UDP", "STP0", "A", "ok", "protocol=2", [](M& m) { m.setProtocol(M::PROTOCOL_UDP); });
    exchange("9600", "SBR3", "A", "ok", "baud=9600", [](M& m) { m.setBaudrate(9600); });
    // The record keeps the speed that was really sent.
    exchange("14400 is not in the table", "SBR7", "A", "ok", "baud=115200",
             [](M& m) { m.setBaudrate(14400); });
    exchange("reboot", "E", "A", "ok", "", [](M& m) { m.reboot(); });
    // The module takes its role from its settings when it starts.
    exchange("start sends nothing", "", "", "ok", "", [](M& m) { m.startClientServer(); });
    exchange("list: protocol, start without datagram", "STP0", "A", "list 1", "protocol=2",
             list({M::COMMAND_SET_TRANSPORT_PROTOCOL, M::COMMAND_START_CLIENT_SERVER}, {2, 0}, 1, 1));
    exchange("list: refused, then accepted", "SNM255.255.0.0|SNM255.255.0.0|SDI127.0.0.1", "C|A", "list 1",
             "netmask=255.255.0.0 remote=127.0.0.1",
             list({M::COMMAND_SET_NETMASK, M::COMMAND_SET_REMOTE_IP},
                  {QStringLiteral("255.255.0.0"), QVariant::fromValue(LocalHost)}, 3, 1));
    exchange("test datagram takes any answer", "ping", "?", "ok", "",
             [](M& m) { m.sendTestDatagram("ping", false); });
}

QTEST_GUILESS_MAIN(TstCInterfaceModule)
#include "tst_cinterfacemodule.moc"
