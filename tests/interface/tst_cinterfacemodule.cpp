// The module command engine on loopback, driven by the Wi-Fi dialect (and the Tibbo one where
// only it reaches a path). Broadcasts are never sent here; they are tested in tst_modulesim.
#include "interface/cesp.h"
#include "interface/ctibbo.h"
#include "modulepeer.h"

#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const QByteArray EspMac = "00:1A:2B:3C:4D:5E";
const QByteArray TibboMac = "0.26.43.60.77.94";

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
    void answersLogsAndTimeOut();
    void badAndIncompleteReplies();
    void commandLists_data();
    void commandLists();
    void callsFromOtherThreadsArePosted();
    void macForArp_data();
    void macForArp(); // and clone
};

void TstCInterfaceModule::answersLogsAndTimeOut()
{
    ModulePeer peer(ModuleHost);
    ModulePeer elsewhere(OtherHost, peer.port());
    QCOMPARE(elsewhere.socket.state(), QAbstractSocket::BoundState);
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

void TstCInterfaceModule::commandLists_data()
{
    QTest::addColumn<bool>("tibbo");
    QTest::addColumn<QList<int>>("commands");
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<int>("commandRepetitions");
    QTest::addColumn<int>("listRepetitions");
    QTest::addColumn<QByteArrayList>("replies"); // one per datagram, the last repeats; "" is none
    QTest::addColumn<QByteArrayList>("expectedSent");
    QTest::addColumn<int>("result");

    using M = CInterfaceModule;
    const QByteArray dhcpOff = "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.255.255.0\r\n";
    const QByteArray setIp = "AT+ASTAIPCONFIG=1,127.0.0.7,192.168.1.1,255.255.255.0\r\n";
    const QByteArray setMask = "AT+ASTAIPCONFIG=1,127.0.0.2,192.168.1.1,255.0.0.0\r\n";
    const QList<int> dhcpThenIp = {M::COMMAND_SET_DHCP, M::COMMAND_SET_IP};
    const QVariantList args = {false, QStringLiteral("127.0.0.7")};

    QTest::newRow("a command repeated")
        << false << dhcpThenIp << args << 2 << 1 << QByteArrayList{"ERROR\r\n", "OK\r\n"}
        << QByteArrayList{dhcpOff, dhcpOff, setIp} << 1;
    QTest::newRow("whole list again") << false << QList<int>{M::COMMAND_SET_DHCP, M::COMMAND_SET_NETMASK}
                                      << QVariantList{false, QStringLiteral("255.0.0.0")} << 1 << 2
                                      << QByteArrayList{"OK\r\n", "ERROR\r\n", "OK\r\n"}
                                      << QByteArrayList{dhcpOff, setMask, dhcpOff, setMask} << 1;
    QTest::newRow("repetitions exhausted")
        << false << dhcpThenIp << args << 2 << 2 << QByteArrayList{"ERROR\r\n"}
        << QByteArrayList{dhcpOff, dhcpOff, dhcpOff, dhcpOff} << 0;
    QTest::newRow("a time-out repeats the command")
        << false << QList<int>{M::COMMAND_GET_INFO} << QVariantList{QVariant()} << 2 << 1
        << QByteArrayList{"", "s,e,c,2,127.0.0.2,,255.0.0.0,2,,4001\r\n"}
        << QByteArrayList{"AT+ACONFIG?\r\n", "AT+ACONFIG?\r\n"} << 1;
    QTest::newRow("command a list cannot run")
        << false << QList<int>{M::COMMAND_SET_PORT} << QVariantList{1001} << 2 << 1
        << QByteArrayList{"OK\r\n"} << QByteArrayList{} << 0;
    QTest::newRow("empty list") << false << QList<int>{} << QVariantList{} << 1 << 1
                                << QByteArrayList{"OK\r\n"} << QByteArrayList{} << 1;
    QTest::newRow("tibbo: protocol, start without datagram")
        << true << QList<int>{M::COMMAND_SET_TRANSPORT_PROTOCOL, M::COMMAND_START_CLIENT_SERVER}
        << QVariantList{2, 0} << 1 << 1 << QByteArrayList{"A"} << QByteArrayList{"STP0"} << 1;
    QTest::newRow("tibbo: refused, then accepted")
        << true << QList<int>{M::COMMAND_SET_NETMASK, M::COMMAND_SET_REMOTE_IP}
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
    peer.responder = [&](const QByteArray&) {
        return replies.at(qMin(peer.received.size(), replies.size()) - 1);
    };
    const std::unique_ptr<CInterfaceModule> module = loopModule(tibbo, peer.port());
    ModuleSpies spies(module.get());

    module->startCommandsList(42, commands, arguments, commandRepetitions, listRepetitions);
    QVERIFY(module->isListRunning() || commands.isEmpty());
    QTRY_COMPARE(spies.list.count(), 1);
    QCOMPARE(spies.list.at(0).at(0).toInt(), result);
    QCOMPARE(module->getListId(), 42);
    QVERIFY(!module->isListRunning());
    QCOMPARE(peer.received, expectedSent);
    // The steps' own outcomes stay inside the list, and nothing is awaited after its end.
    QCOMPARE(spies.outcomes(), 0);
    QVERIFY(!module->isTimeoutTimerActive());
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

QTEST_GUILESS_MAIN(TstCInterfaceModule)
#include "tst_cinterfacemodule.moc"
