// The module command engine on loopback: a test socket plays the module, the Wi-Fi dialect (and
// the Tibbo one where it differs) drives the engine. Broadcasts are never sent here; they are
// tested inside network namespaces (tst_modulesim).
#include "interface/cesp.h"
#include "interface/ctibbo.h"
#include "modulepeer.h"

#include <QThread>
#include <QtTest>

namespace {

const QHostAddress Local(QStringLiteral("127.0.0.1"));
const QHostAddress ModuleHost(QStringLiteral("127.0.0.2"));
const QHostAddress OtherHost(QStringLiteral("127.0.0.3"));
constexpr quint32 LoopbackMask = 0xff000000;

// The dialects on the peer's port instead of their own, so that tests never meet each other.
class LoopEsp : public CESP
{
public:
    LoopEsp(quint16 port, const QHostAddress& moduleAddress = ModuleHost)
        : CESP(Local, LoopbackMask, "00:1A:2B:3C:4D:5E", moduleAddress)
    {
        m_udp_port = port;
    }
    void setNetmaskField(const QHostAddress& netmask) { m_netmask = netmask; }
};

class LoopTibbo : public CTibbo
{
public:
    explicit LoopTibbo(quint16 port) : CTibbo(Local, LoopbackMask, "0.26.43.60.77.94", ModuleHost)
    {
        m_udp_port = port;
    }
};

QByteArrayList okTo(const QByteArray&)
{
    return {"OK\r\n"};
}

} // namespace

class TstCInterfaceModule : public QObject
{
    Q_OBJECT

private slots:
    void unicastInsideSubnetWithLogTexts();
    void moduleAddressIsTakenFromReplies();
    void lateReplyChangesNothing();
    void incompleteReplyRestartsTimeout();
    void commandLists_data();
    void commandLists();
    void listRepetitionsAfterTimeouts();
    void badDatagramsNeverBreakTheEngine();
    void testDatagramAcceptsAnyAnswer();
    void callsFromOtherThreadsArePosted();
    void macForArp_data();
    void macForArp();
    void subnetTests_data();
    void subnetTests();
    void plannedSettingsCloneAndTexts();
};

void TstCInterfaceModule::unicastInsideSubnetWithLogTexts()
{
    ModulePeer peer(ModuleHost);
    peer.responder = [](const QByteArray&) { return QByteArrayList{"00:1A:2B:3C:4D:5F,3\r\n"}; };
    LoopEsp module(peer.port());
    ModuleSpies spies(&module);

    module.readStatus();
    QTRY_COMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(peer.received, QByteArrayList{"AT+ASTATUS?\r\n"});
    const QString port = QString::number(peer.port());
    QCOMPARE(spies.sentTo(), QStringList{"127.0.0.2," + port});
    QCOMPARE(spies.sent(), QStringList{"AT+ASTATUS?\r\n"});
    QCOMPARE(spies.receivedFrom(), QStringList{"127.0.0.2," + port});
    QCOMPARE(spies.in.at(0).at(0).value<PelmLogRecord>().message, QStringLiteral("00:1A:2B:3C:4D:5F,3\r\n"));
    QVERIFY(spies.out.at(0).at(0).value<PelmLogRecord>().date.isValid());
    QCOMPARE(module.mac(), QByteArray("00:1A:2B:3C:4D:5F"));
    QVERIFY(module.dhcp());
    QVERIFY(module.ipObtained());
    QCOMPARE(module.lastResponseText(), QStringLiteral("00:1A:2B:3C:4D:5F,3\r\n"));
    QCOMPARE(module.command(), int(CInterfaceModule::COMMAND_GET_STATUS));
    QVERIFY(!module.isTimeoutTimerActive());
}

void TstCInterfaceModule::moduleAddressIsTakenFromReplies()
{
    ModulePeer peer(ModuleHost);
    ModulePeer elsewhere(OtherHost, peer.port());
    QVERIFY(elsewhere.socket.state() == QAbstractSocket::BoundState);
    LoopEsp module(peer.port());
    ModuleSpies spies(&module);

    module.readStatus();
    QVERIFY(peer.waitForDatagrams(1));
    elsewhere.replyTo(peer, "00:1A:2B:3C:4D:5E,1");
    QTRY_COMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(module.moduleAddress(), OtherHost);
    QVERIFY(!module.dhcp());

    // The next command goes where the answer came from.
    elsewhere.responder = okTo;
    module.setPort(1001);
    QVERIFY(elsewhere.waitForDatagrams(1));
    QCOMPARE(spies.sentTo().last(), "127.0.0.3," + QString::number(peer.port()));
    QCOMPARE(peer.received.size(), 1);
}

void TstCInterfaceModule::lateReplyChangesNothing()
{
    ModulePeer peer(ModuleHost);
    ModulePeer elsewhere(OtherHost, peer.port());
    LoopEsp module(peer.port());
    ModuleSpies spies(&module);

    module.readStatus();
    QVERIFY(peer.waitForDatagrams(1));
    QTRY_COMPARE_WITH_TIMEOUT(spies.outcome(), QStringLiteral("timeout"), 3000);
    QVERIFY(!module.isTimeoutTimerActive());

    elsewhere.replyTo(peer, "AA:BB:CC:DD:EE:FF,3");
    QTRY_COMPARE(spies.in.count(), 1);
    QCOMPARE(spies.receivedFrom().at(0).section(QLatin1Char(','), 0, 0), QStringLiteral("127.0.0.3"));
    QCOMPARE(spies.outcomes(), 1);
    QCOMPARE(module.mac(), QByteArray("00:1A:2B:3C:4D:5E"));
    QVERIFY(!module.dhcp());
    // A stray datagram must not redirect the module's commands either.
    QCOMPARE(module.moduleAddress(), ModuleHost);
}

void TstCInterfaceModule::incompleteReplyRestartsTimeout()
{
    ModulePeer peer(ModuleHost);
    LoopEsp module(peer.port());
    ModuleSpies spies(&module);

    module.readInfo(2);
    QCOMPARE(module.infoCnt(), 2);
    QVERIFY(peer.waitForDatagrams(1));
    QCOMPARE(peer.received.at(0), QByteArray("AT+ACONFIG?\r\n"));
    // Nine parts: not an answer yet.
    peer.reply("a,b,c,1,127.0.0.9,127.0.0.254,255.0.0.0,2,127.0.0.1");
    QTRY_COMPARE(spies.in.count(), 1);
    QVERIFY(module.isTimeoutTimerActive());
    QCOMPARE(spies.outcomes(), 0);

    peer.reply("a,b,c,1,127.0.0.9,127.0.0.254,255.0.0.0,1,127.0.0.1,4001\r\n");
    QTRY_COMPARE(spies.outcome(), QStringLiteral("info"));
    QVERIFY(!module.dhcp());
    QVERIFY(module.ipObtained());
    QCOMPARE(module.ip(), QHostAddress("127.0.0.9"));
    QCOMPARE(module.gateway(), QHostAddress("127.0.0.254"));
    QCOMPARE(module.netmask(), QHostAddress("255.0.0.0"));
    QCOMPARE(module.routingMode(), int(CInterfaceModule::ROUTING_CLIENT));
    QCOMPARE(module.remoteIp(), Local);
    QCOMPARE(module.port(), 4001);
    QCOMPARE(module.remotePort(), 4001);
    // Only the complete answer is kept as the last response.
    QVERIFY(module.lastResponseText().endsWith(QLatin1String(",4001\r\n")));
}

void TstCInterfaceModule::commandLists_data()
{
    QTest::addColumn<bool>("tibbo");
    QTest::addColumn<QList<int>>("commands");
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<int>("commandRepetitions");
    QTest::addColumn<int>("listRepetitions");
    QTest::addColumn<QByteArrayList>("replies"); // one per datagram; the last repeats
    QTest::addColumn<QByteArrayList>("expectedSent");
    QTest::addColumn<int>("result");

    const QByteArray dhcpOff = "AT+ASTAIPCONFIG=1,127.0.0.2,,\r\n";
    const QByteArray setIp = "AT+ASTAIPCONFIG=1,127.0.0.7,,\r\n";
    const QByteArray setMask = "AT+ASTAIPCONFIG=1,127.0.0.2,,255.0.0.0\r\n";
    const QList<int> dhcpThenIp = {CInterfaceModule::COMMAND_SET_DHCP, CInterfaceModule::COMMAND_SET_IP};
    const QVariantList args = {false, QStringLiteral("127.0.0.7")};

    QTest::newRow("every command answered")
        << false << dhcpThenIp << args << 2 << 1 << QByteArrayList{"OK\r\n"} << QByteArrayList{dhcpOff, setIp}
        << 1;
    QTest::newRow("a command repeated")
        << false << dhcpThenIp << args << 2 << 1 << QByteArrayList{"ERROR\r\n", "OK\r\n"}
        << QByteArrayList{dhcpOff, dhcpOff, setIp} << 1;
    QTest::newRow("whole list again")
        << false << QList<int>{CInterfaceModule::COMMAND_SET_DHCP, CInterfaceModule::COMMAND_SET_NETMASK}
        << QVariantList{false, QStringLiteral("255.0.0.0")} << 1 << 2
        << QByteArrayList{"OK\r\n", "ERROR\r\n", "OK\r\n"}
        << QByteArrayList{dhcpOff, setMask, dhcpOff, setMask} << 1;
    QTest::newRow("repetitions exhausted")
        << false << dhcpThenIp << args << 2 << 2 << QByteArrayList{"ERROR\r\n"}
        << QByteArrayList{dhcpOff, dhcpOff, dhcpOff, dhcpOff} << 0;
    QTest::newRow("command a list cannot run")
        << false << QList<int>{CInterfaceModule::COMMAND_SET_PORT} << QVariantList{1001} << 2 << 1
        << QByteArrayList{"OK\r\n"} << QByteArrayList{} << 0;
    QTest::newRow("operation the dialect lacks")
        << false << QList<int>{CInterfaceModule::COMMAND_SET_TRANSPORT_PROTOCOL} << QVariantList{1} << 1 << 1
        << QByteArrayList{"OK\r\n"} << QByteArrayList{} << 0;
    QTest::newRow("empty list") << false << QList<int>{} << QVariantList{} << 1 << 1
                                << QByteArrayList{"OK\r\n"} << QByteArrayList{} << 1;
    QTest::newRow("tibbo: protocol, start without datagram")
        << true
        << QList<int>{CInterfaceModule::COMMAND_SET_TRANSPORT_PROTOCOL,
                      CInterfaceModule::COMMAND_START_CLIENT_SERVER}
        << QVariantList{2, 0} << 1 << 1 << QByteArrayList{"A"} << QByteArrayList{"STP0"} << 1;
    QTest::newRow("tibbo: refused, then accepted")
        << true << QList<int>{CInterfaceModule::COMMAND_SET_NETMASK, CInterfaceModule::COMMAND_SET_REMOTE_IP}
        << QVariantList{QStringLiteral("255.255.0.0"), QVariant::fromValue(QHostAddress("127.0.0.1"))} << 3
        << 1 << QByteArrayList{"C", "A", "A"}
        << QByteArrayList{"SNM255.255.0.0", "SNM255.255.0.0", "SDI127.0.0.1"} << 1;
}

void TstCInterfaceModule::commandLists()
{
    QFETCH(bool, tibbo);
    QFETCH(QList<int>, commands);
    QFETCH(QVariantList, arguments);
    QFETCH(int, commandRepetitions);
    QFETCH(int, listRepetitions);
    QFETCH(QByteArrayList, replies);
    QFETCH(QByteArrayList, expectedSent);
    QFETCH(int, result);

    ModulePeer peer(ModuleHost);
    int answered = 0;
    peer.responder = [&](const QByteArray&) {
        return QByteArrayList{replies.at(qMin(answered++, replies.size() - 1))};
    };
    std::unique_ptr<CInterfaceModule> module;
    if (tibbo) {
        module = std::make_unique<LoopTibbo>(peer.port());
    } else {
        module = std::make_unique<LoopEsp>(peer.port());
    }
    ModuleSpies spies(module.get());

    module->startCommandsList(42, commands, arguments, commandRepetitions, listRepetitions);
    QTRY_COMPARE(spies.list.count(), 1);
    QCOMPARE(spies.list.at(0).at(0).toInt(), result);
    QCOMPARE(module->getListId(), 42);
    QVERIFY(!module->isListRunning());
    QCOMPARE(peer.received, expectedSent);
    QCOMPARE(spies.outcomes(), 0);
    // Nothing is awaited any more, so nothing can follow the end of the list.
    QVERIFY(!module->isTimeoutTimerActive());
}

void TstCInterfaceModule::listRepetitionsAfterTimeouts()
{
    // Both lists run at once, so that their time-outs overlap.
    ModulePeer silent(ModuleHost);
    LoopEsp unanswered(silent.port());
    ModuleSpies unansweredSpies(&unanswered);

    ModulePeer slow(ModuleHost);
    int queries = 0;
    slow.responder = [&](const QByteArray&) {
        // The module comes back on the third attempt, as after a reboot.
        return ++queries < 3 ? QByteArrayList{} : QByteArrayList{"s,e,c,2,127.0.0.2,,255.0.0.0,2,,4001\r\n"};
    };
    LoopEsp rebooted(slow.port());
    ModuleSpies rebootedSpies(&rebooted);

    unanswered.startCommandsList(1, {CInterfaceModule::COMMAND_SET_IP, CInterfaceModule::COMMAND_SET_NETMASK},
                                 {QStringLiteral("127.0.0.2"), QStringLiteral("255.0.0.0")}, 2, 1);
    rebooted.startCommandsList(2, {CInterfaceModule::COMMAND_GET_INFO}, {QVariant()}, 6, 1);

    QTRY_COMPARE_WITH_TIMEOUT(unansweredSpies.list.count(), 1, 5000);
    QCOMPARE(unansweredSpies.list.at(0).at(0).toInt(), 0);
    QCOMPARE(silent.received.size(), 2);
    QVERIFY(silent.received.at(1).startsWith("AT+ASTAIPCONFIG=1,127.0.0.2,"));
    QCOMPARE(unansweredSpies.outcomes(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(rebootedSpies.list.count(), 1, 5000);
    QCOMPARE(rebootedSpies.list.at(0).at(0).toInt(), 1);
    QCOMPARE(slow.received, QByteArrayList({"AT+ACONFIG?\r\n", "AT+ACONFIG?\r\n", "AT+ACONFIG?\r\n"}));
    QCOMPARE(rebooted.infoCnt(), 1);
    QVERIFY(rebooted.dhcp());
    QCOMPARE(rebootedSpies.outcomes(), 0);
}

void TstCInterfaceModule::badDatagramsNeverBreakTheEngine()
{
    ModulePeer peer(ModuleHost);
    LoopEsp esp(peer.port());
    ModuleSpies espSpies(&esp);
    LoopTibbo tibbo(peer.port());
    ModuleSpies tibboSpies(&tibbo);

    // Garbage of any size while an answer is awaited is logged and only restarts the time-out.
    esp.readStatus();
    QVERIFY(peer.waitForDatagrams(1));
    peer.reply(QByteArray(60000, 'x'));
    QTRY_COMPARE(espSpies.in.count(), 1);
    QVERIFY(esp.isTimeoutTimerActive());
    peer.reply(QByteArray("\0\0,\0", 4));
    QTRY_COMPARE(espSpies.in.count(), 2);
    QCOMPARE(espSpies.in.at(1).at(0).value<PelmLogRecord>().message, QString());
    peer.reply(QByteArray());
    QTRY_COMPARE(espSpies.in.count(), 3);
    QCOMPARE(espSpies.outcomes(), 0);
    peer.reply("00:1A:2B:3C:4D:5E,2");
    QTRY_COMPARE(espSpies.outcome(), QStringLiteral("ok"));
    QVERIFY(esp.dhcp());
    QVERIFY(!esp.ipObtained());

    // The Tibbo dialect: an empty reply has no "A" and fails; garbage numbers fail too.
    tibbo.readStatus();
    QVERIFY(peer.waitForDatagrams(2));
    peer.reply(QByteArray());
    QTRY_COMPARE(tibboSpies.outcome(), QStringLiteral("failed"));
    tibbo.setPort(1001);
    QVERIFY(peer.waitForDatagrams(3));
    peer.reply(QByteArray(50000, 'A'));
    QTRY_COMPARE(tibboSpies.ok.count(), 1);
    QCOMPARE(tibbo.port(), 1001);
}

void TstCInterfaceModule::testDatagramAcceptsAnyAnswer()
{
    ModulePeer peer(ModuleHost);
    peer.responder = [](const QByteArray&) { return QByteArrayList{"?"}; };
    LoopTibbo tibbo(peer.port());
    ModuleSpies spies(&tibbo);

    tibbo.sendTestDatagram("ping", false);
    QTRY_COMPARE(spies.outcome(), QStringLiteral("ok"));
    QCOMPARE(tibbo.command(), int(CInterfaceModule::COMMAND_TEST_DATAGRAM));
    QCOMPARE(peer.received, QByteArrayList{"ping"});
    QCOMPARE(spies.sentTo(), QStringList{"127.0.0.2," + QString::number(peer.port())});
}

void TstCInterfaceModule::callsFromOtherThreadsArePosted()
{
    ModulePeer peer(ModuleHost);
    peer.responder = okTo;
    LoopEsp module(peer.port());
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
    QTest::newRow("wifi five parts") << false << QByteArray("00:1A:2B:3C:4D") << QByteArray();
    QTest::newRow("wifi not hex") << false << QByteArray("00:1A:2B:3C:4D:ZZ") << QByteArray();
    QTest::newRow("wifi above a byte") << false << QByteArray("00:1A:2B:3C:4D:100") << QByteArray();
    QTest::newRow("tibbo") << true << QByteArray("0.26.43.60.77.94") << QByteArray("00-1a-2b-3c-4d-5e");
    QTest::newRow("tibbo padded") << true << QByteArray("002.000.077.086.000.255")
                                  << QByteArray("02-00-4d-56-00-ff");
    QTest::newRow("tibbo five parts") << true << QByteArray("0.26.43.60.77") << QByteArray();
    QTest::newRow("tibbo above a byte") << true << QByteArray("0.26.43.60.77.256") << QByteArray();
    QTest::newRow("tibbo colons") << true << QByteArray("00:1A:2B:3C:4D:5E") << QByteArray();
}

void TstCInterfaceModule::macForArp()
{
    QFETCH(bool, tibbo);
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, expected);
    std::unique_ptr<CInterfaceModule> module;
    if (tibbo) {
        module = std::make_unique<CTibbo>(Local, LoopbackMask, mac, ModuleHost);
    } else {
        module = std::make_unique<CESP>(Local, LoopbackMask, mac, ModuleHost);
    }
    QCOMPARE(module->macForArp(), expected);
}

void TstCInterfaceModule::subnetTests_data()
{
    QTest::addColumn<QString>("moduleAddress");
    QTest::addColumn<QString>("moduleNetmask");
    QTest::addColumn<bool>("inLocal");
    QTest::addColumn<bool>("inModule");

    QTest::newRow("same /8") << "127.200.0.1"
                             << "255.255.0.0" << true << false;
    QTest::newRow("same /16") << "127.0.9.1"
                              << "255.255.0.0" << true << true;
    QTest::newRow("elsewhere") << "10.0.0.9"
                               << "255.0.0.0" << false << false;
    QTest::newRow("no module netmask") << "10.0.0.9"
                                       << "0.0.0.0" << false << true;
    QTest::newRow("no module address") << "0.0.0.0"
                                       << "255.255.255.0" << false << false;
}

void TstCInterfaceModule::subnetTests()
{
    QFETCH(QString, moduleAddress);
    QFETCH(QString, moduleNetmask);
    QFETCH(bool, inLocal);
    QFETCH(bool, inModule);
    LoopEsp module(65000, QHostAddress(moduleAddress));
    module.setNetmaskField(QHostAddress(moduleNetmask));
    QCOMPARE(module.localAddress(), Local);
    QCOMPARE(module.isInLocalSubnet(), inLocal);
    QCOMPARE(module.isInModuleSubnet(), inModule);
}

void TstCInterfaceModule::plannedSettingsCloneAndTexts()
{
    LoopTibbo module(65000);
    module.setPlannedSettings(true, CInterfaceModule::ROUTING_CLIENT, Local, QHostAddress("255.255.0.0"),
                              CInterfaceModule::PROTOCOL_UDP);
    QVERIFY(module.dhcp());
    QVERIFY(module.ipObtained());
    QCOMPARE(module.routingModeText(), QStringLiteral("client"));
    QCOMPARE(module.protocolText(), QStringLiteral("UDP"));
    QCOMPARE(module.baudrateText(), QStringLiteral("115200"));
    QCOMPARE(module.commandName(), QStringLiteral("COMMAND_UNKNOWN"));
    QCOMPARE(CInterfaceModule::commandName(23), QStringLiteral("COMMAND_REBOOT"));
    QCOMPARE(CInterfaceModule::commandName(14), QStringLiteral("COMMAND_UNKNOWN"));
    module.setPlannedSettings(false, 0, QHostAddress(), QHostAddress(), 7);
    QCOMPARE(module.routingModeText(), QStringLiteral("server/client"));
    QCOMPARE(module.protocolText(), QStringLiteral("fail"));
    module.setPlannedSettings(false, CInterfaceModule::ROUTING_SERVER, Local, QHostAddress("255.0.0.0"),
                              CInterfaceModule::PROTOCOL_TCP);
    QCOMPARE(module.routingModeText(), QStringLiteral("server"));

    std::unique_ptr<CInterfaceModule> copy(module.clone(nullptr));
    QCOMPARE(copy->moduleType(), int(CInterfaceModule::MODULE_TIBBO));
    QCOMPARE(copy->localAddress(), Local);
    QCOMPARE(copy->mac(), module.mac());
    QCOMPARE(copy->moduleAddress(), ModuleHost);
    QCOMPARE(copy->netmask(), QHostAddress("255.0.0.0"));
    QCOMPARE(copy->remoteIp(), Local);
    QCOMPARE(copy->routingMode(), int(CInterfaceModule::ROUTING_SERVER));
    QCOMPARE(copy->udpPort(), int(CTibbo::UdpPort));

    CESP esp(Local, LoopbackMask, "00:1A:2B:3C:4D:5E", ModuleHost);
    QCOMPARE(esp.moduleType(), int(CInterfaceModule::MODULE_WIFI));
    QCOMPARE(esp.udpPort(), int(CESP::UdpPort));
    QCOMPARE(esp.protocol(), int(CInterfaceModule::PROTOCOL_TCP));
    esp.setDhcpState(true, false);
    std::unique_ptr<CInterfaceModule> espCopy(esp.clone(nullptr));
    QCOMPARE(espCopy->moduleType(), int(CInterfaceModule::MODULE_WIFI));
    QVERIFY(espCopy->dhcp());
    QVERIFY(!espCopy->ipObtained());
}

QTEST_GUILESS_MAIN(TstCInterfaceModule)
#include "tst_cinterfacemodule.moc"
