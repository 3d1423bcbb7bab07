// The servers pool, the TCP server transport and both module dialects against mervik-sim in two network
// namespaces joined by veth pairs, for what loopback cannot show: the hand-over by MAC, modules outside
// the computer's subnet, the settings sequence against a module, and mervik-cli.
#include "controller/cdevicecontroller.h"
#include "controller/interfacesetter.h"
#include "device/cdevice.h"
#include "interface/cesp.h"
#include "interface/clanserver.h"
#include "interface/cserverspool.h"
#include "interface/ctibbo.h"
#include "modulepeer.h"
#include "platform/queuedcall.h"
#include "support/testnetns.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

QList<int> states(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& args : spy) {
        values << args.at(0).toInt();
    }
    return values;
}

QString ask(CInterface& transport, const QByteArray& line)
{
    QString answer;
    return transport.write(line) && transport.waitAndRead(answer, 3000) ? answer : QString();
}

constexpr int L = CInterface::StateListening;
constexpr int C = CInterface::StateConnected;

// The decimal dotted form in which the Tibbo module reports a MAC.
QByteArray tibboMac(const QString& colonMac)
{
    QByteArrayList parts;
    for (const QString& part : colonMac.split(QLatin1Char(':'))) {
        parts << QByteArray::number(part.toUInt(nullptr, 16)).rightJustified(3, '0');
    }
    return parts.join('.');
}

QStringList distinct(QStringList texts)
{
    texts.removeDuplicates();
    return texts;
}

// The dialect's module, as the computer at local sees the one at where.
CInterfaceModule* moduleOf(const QString& dialect, const QHostAddress& local, const QByteArray& mac,
                           const QHostAddress& where, QObject* parent = nullptr)
{
    if (dialect == QLatin1String("tibbo")) {
        return new CTibbo(local, 0xffffff00, mac, where, parent);
    }
    return new CESP(local, 0xffffff00, mac, where, parent);
}

// Runs one operation and gives its single outcome ("" when none came).
QString outcomeOf(CInterfaceModule& module, const Operation& operation)
{
    ModuleSpies spies(&module);
    operation(module);
    return QTest::qWaitFor([&spies] { return spies.outcomes() > 0; }, 5000) ? spies.outcome() : QString();
}

} // namespace

class TstModuleSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_netns.enter(); }
    void cleanup()
    {
        delete CServersPool::instance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void poolInstanceThenTransportWithoutPool();
    void transportsShareOnePort();
    void adoptionIntoAnotherThread();
    void readsModulesOutsideTheSubnet_data();
    void readsModulesOutsideTheSubnet();
    void settingsSequence_data();
    void settingsSequence();

private:
    // An instrument dialling the computer's address under key.
    bool dialIn(ChildProcess& instrument, const char* key, int port, const QStringList& extra = {})
    {
        return m_netns.startSim(instrument, QStringList{"--tcp-client", m_netns.target(key, port)} + extra);
    }
    // Starts a module in the instruments' namespace and waits until its TCP side is up.
    bool startModule(ChildProcess& sim, const QString& dialect, const QString& addressKey,
                     const QStringList& extra)
    {
        return m_netns.startSim(sim, QStringList{"--module", dialect, "--module-address",
                                                 m_netns.value(addressKey), "--module-mac",
                                                 m_netns.value("B_MAC")} +
                                         extra) &&
               sim.waitForLine("MODULE ").startsWith("MODULE") && sim.waitForLine("ROLE ").startsWith("ROLE");
    }
    QString mac(const QString& dialect) const
    {
        return dialect == QLatin1String("tibbo") ? QString::fromLatin1(tibboMac(m_netns.value("B_MAC")))
                                                 : m_netns.value("B_MAC").toUpper();
    }

    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
};

void TstModuleSim::poolInstanceThenTransportWithoutPool()
{
    QPointer<CServersPool> first = new CServersPool;
    auto* second = new CServersPool;
    QCOMPARE(CServersPool::instance(), second);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    // The old pool's end must not take its successor off the books.
    QCOMPARE(CServersPool::instance(), second);
    delete second;
    QCOMPARE(CServersPool::instance(), nullptr);

    // Without a pool the server transport cannot listen, and nothing is connected.
    CLANServer server(QHostAddress("10.0.0.5"), 1001, "00-1a-2b-3c-4d-5e");
    QSignalSpy stateSpy(&server, &CInterface::stateChanged);
    QVERIFY(!server.open());
    QVERIFY(!server.write(QByteArray("SI\r\n")));
    QByteArray bytes;
    QCOMPARE(server.read(bytes), 0);
    QVERIFY(server.close());
    QCOMPARE(states(stateSpy), QList<int>({CInterface::StateDisconnected, CInterface::StateDisconnected}));
    // The copy for another thread awaits the same instrument.
    std::unique_ptr<CInterface> copy(server.clone(nullptr));
    QCOMPARE(qobject_cast<CLANServer*>(copy.get())->mac(), QByteArray("00-1a-2b-3c-4d-5e"));

    // A pool in a thread that takes no more events: a blocking call into it would never return.
    QThread gone;
    (new CServersPool)->moveToThread(&gone);
    gone.start();
    gone.quit();
    QVERIFY(gone.wait(5000));
    stateSpy.clear();
    QVERIFY(!server.open());
    QCOMPARE(states(stateSpy), QList<int>{CInterface::StateDisconnected});
}

void TstModuleSim::transportsShareOnePort()
{
    REQUIRE_NETNS(m_netns);
    auto* pool = new CServersPool;
    const QByteArray mac1 = m_netns.arpMac("B_MAC");
    const QByteArray mac2 = m_netns.arpMac("B_MAC2");
    CLANServer first(m_netns.address("B_ADDR"), 4100, mac1);
    QSignalSpy firstStates(&first, &CInterface::stateChanged);
    QVERIFY(first.open());

    // A known MAC that nobody awaits: closed at once, so the peer sees its end of the stream.
    ChildProcess stranger;
    QVERIFY(m_netns.startInB(stranger, "socat", {"-u", "TCP:" + m_netns.target("A_ADDR2", 4100), "STDOUT"}));
    // Waited for in the event loop, which is where the pool accepts and closes the connection.
    QTRY_COMPARE_WITH_TIMEOUT(stranger.process.state(), QProcess::NotRunning, 5000);
    QCOMPARE(stranger.process.exitCode(), 0);
    // A peer whose MAC cannot be learnt (loopback has no neighbours): closed too.
    QTcpSocket local;
    QSignalSpy localGone(&local, &QTcpSocket::disconnected);
    local.connectToHost(QHostAddress(QHostAddress::LocalHost), 4100);
    QVERIFY(local.waitForConnected(3000));
    QVERIFY(localGone.wait(3000));

    CLANServer second(m_netns.address("B_ADDR2"), 4100, mac2);
    QSignalSpy secondStates(&second, &CInterface::stateChanged);
    QVERIFY(second.open());
    QCOMPARE(pool->serverCount(), 1);
    QCOMPARE(pool->awaited(), QList<QByteArray>({mac1, mac2}));

    // The instrument on the second link reaches the shared port; only its own transport takes it.
    ChildProcess secondInstrument;
    QVERIFY(dialIn(secondInstrument, "A_ADDR2", 4100, {"--weight", "222"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(secondStates), QList<int>({L, C}), 5000);
    QCOMPARE(states(firstStates), QList<int>{L});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});

    ChildProcess firstInstrument;
    QVERIFY(dialIn(firstInstrument, "A_ADDR", 4100, {"--weight", "111"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({L, C}), 5000);
    QVERIFY(ask(first, "SI\r\n").contains(QLatin1String("111")));
    QVERIFY(ask(second, "SI\r\n").contains(QLatin1String("222")));

    // Every awaited MAC served: nothing listens any more.
    QCOMPARE(pool->serverCount(), 0);
    QTcpSocket late;
    late.connectToHost(QHostAddress(QHostAddress::LocalHost), 4100);
    QVERIFY(!late.waitForConnected(3000));

    // The first instrument drops: its transport listens again, and takes the instrument back.
    firstInstrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({L, C, L}), 5000);
    // Its MAC now awaited twice: the connection goes to one transport, and the port stays open.
    CLANServer twin(m_netns.address("B_ADDR"), 4100, mac1);
    QSignalSpy twinStates(&twin, &CInterface::stateChanged);
    QVERIFY(twin.open());
    ChildProcess firstAgain;
    QVERIFY(dialIn(firstAgain, "A_ADDR", 4100, {"--weight", "333"}));
    QTRY_COMPARE_WITH_TIMEOUT(firstStates.size() + twinStates.size(), 5, 5000);
    QCOMPARE(states(firstStates), QList<int>({L, C, L, C}));
    QCOMPARE(states(twinStates), QList<int>{L});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    QCOMPARE(pool->serverCount(), 1);
    QVERIFY(ask(first, "SI\r\n").contains(QLatin1String("333")));
    QCOMPARE(states(secondStates), QList<int>({L, C}));
}

void TstModuleSim::adoptionIntoAnotherThread()
{
    REQUIRE_NETNS(m_netns);
    // Made before the pool: the transport finds it when it opens.
    auto* transport = new CLANServer(m_netns.address("B_ADDR"), 4104, m_netns.arpMac("B_MAC"));
    new CServersPool;
    QThread worker;
    transport->moveToThread(&worker);
    QList<int> seen;
    connect(transport, &CInterface::stateChanged, this, [&seen](int state) { seen << state; });
    worker.start();
    // Waits for the worker's event loop: a call posted before the loop runs is handed over without a
    // wake-up, an order that ThreadSanitizer cannot see.
    waitForCall(transport, [] {});
    queueCall(transport, [transport] { transport->open(); });
    QTRY_COMPARE(seen, QList<int>{L});

    ChildProcess instrument;
    QVERIFY(dialIn(instrument, "A_ADDR", 4104));
    QTRY_COMPARE_WITH_TIMEOUT(seen, QList<int>({L, C}), 5000);
    // The connection works from the transport's own thread.
    QString answer;
    waitForCall(transport, [transport, &answer] { answer = ask(*transport, "SJ\r\n"); });
    QCOMPARE(answer, QStringLiteral("MJ\r\n"));

    instrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(seen, QList<int>({L, C, L}), 5000);
    waitForCall(transport, [transport] { delete transport; });
    worker.quit();
    QVERIFY(worker.wait(5000));
}

void TstModuleSim::readsModulesOutsideTheSubnet_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("expected"); // the record read; empty: the selection is refused
    QTest::addColumn<QString>("cli");      // what mervik-cli module prints: its output, or its error

    QTest::newRow("wifi")
        << "wifi" << QStringList{"--module-gateway", "10.231.0.254"}
        << QStringList{"AT+ASTATUS?\r\n", "AT+ASELECT=MAC\r\n", "AT+ACONFIG?\r\n"}
        << "mac=MAC dhcp=0 obtained=1 ip=10.232.0.2 gateway=10.231.0.254 netmask=255.255.255.0 "
           "routing=1 remote= port=4001 remotePort=4001 protocol=1 baud=115200 module=10.232.0.2"
        << "mac: MAC\ndhcp: off\nip obtained: yes\nip: 10.232.0.2\ngateway: 10.231.0.254\n"
           "netmask: 255.255.255.0\nrouting mode: server\nremote ip: \nport: 4001\nremote port: 4001\n"
           "protocol: TCP\nbaud rate: 115200\n";
    QTest::newRow("tibbo")
        << "tibbo" << QStringList{"--module-dhcp",     "leased",     "--module-mode",        "client",
                                  "--module-remote",   "10.231.0.1", "--module-remote-port", "4006",
                                  "--module-protocol", "udp",        "--module-baud",        "9600"}
        << QStringList{"X", "WMAC", "L", "GDH", "GIP", "GGI", "GNM", "GRM", "GDI", "GPN", "GDP", "GTP", "GBR"}
        << "mac=MAC dhcp=1 obtained=1 ip=10.232.0.2 gateway=0.0.0.0 netmask=255.255.255.0 "
           "routing=2 remote=10.231.0.1 port=4001 remotePort=4006 protocol=2 baud=9600 "
           "module=10.232.0.2"
        << "mac: MAC\ndhcp: on\nip obtained: yes\nip: 10.232.0.2\ngateway: 0.0.0.0\n"
           "netmask: 255.255.255.0\nrouting mode: client\nremote ip: 10.231.0.1\nport: 4001\n"
           "remote port: 4006\nprotocol: UDP\nbaud rate: 9600\n";
    // The configuration is never asked for.
    QTest::newRow("wifi refusing the selection")
        << "wifi" << QStringList{"--module-fault", "error"} << QStringList{"AT+ASELECT=MAC\r\n"} << QString()
        << "mervik-cli: no module answered at 10.232.0.2\n";
}

void TstModuleSim::readsModulesOutsideTheSubnet()
{
    REQUIRE_NETNS(m_netns);
    QFETCH(QString, dialect);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, sent);
    QFETCH(QString, expected);
    QFETCH(QString, cli);

    ChildProcess sim;
    QVERIFY(startModule(sim, dialect, "B_FAR_ADDR", extra));
    const QHostAddress computer = m_netns.address("A_ADDR");
    const QHostAddress where = m_netns.address("B_FAR_ADDR");
    // Known beforehand only when the status cannot tell it.
    const QByteArray known = expected.isEmpty() ? mac(dialect).toLatin1() : QByteArray();
    const std::unique_ptr<CInterfaceModule> module(moduleOf(dialect, computer, known, where));
    ModuleSpies spies(module.get());

    if (!expected.isEmpty()) {
        QCOMPARE(outcomeOf(*module, [](CInterfaceModule& m) { m.readStatus(); }), QStringLiteral("ok"));
        // The pool will see the same MAC on the instrument's connection.
        QCOMPARE(module->macForArp(), m_netns.arpMac("B_MAC"));
    }
    QCOMPARE(outcomeOf(*module, [](CInterfaceModule& m) { m.readInfo(1); }),
             expected.isEmpty() ? QStringLiteral("failed") : QStringLiteral("info"));
    QCOMPARE(spies.sent(), sent.replaceInStrings(QStringLiteral("MAC"), mac(dialect)));
    // All of it broadcast, every answer from the module's own address.
    const QString port = QLatin1Char(',') +
                         QString::number(dialect == QLatin1String("tibbo") ? CTibbo::UdpPort : CESP::UdpPort);
    QCOMPARE(distinct(spies.sentTo()), QStringList{"BROADCAST" + port});
    QCOMPARE(distinct(spies.receivedFrom()), QStringList{where.toString() + port});
    if (!expected.isEmpty()) {
        QCOMPARE(record(*module), expected.replace(QLatin1String("MAC"), mac(dialect)));
    }

    // The same module read by mervik-cli, which must be told the local address outside the subnet.
    QProcess reader;
    QVERIFY(
        m_netns.runInA(reader, QStringLiteral(MERVIK_CLI_PATH),
                       {"module", where.toString(), "--dialect", dialect, "--local", computer.toString()}));
    QCOMPARE(reader.exitCode(), expected.isEmpty() ? 4 : 0);
    QCOMPARE(QString::fromUtf8(expected.isEmpty() ? reader.readAllStandardError()
                                                  : reader.readAllStandardOutput()),
             cli.replace(QLatin1String("MAC"), mac(dialect)));
}

void TstModuleSim::settingsSequence_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QStringList>("extra");    // mervik-sim's module options
    QTest::addColumn<QStringList>("settings"); // as the form gives them; {A}, {B}: the namespaces' addresses
    QTest::addColumn<int>("ret");
    QTest::addColumn<QString>("role"); // what the module's TCP side announces afterwards

    // A new port taken at a restart and the client role are in the interface dialog's tests.
    QTest::newRow("Wi-Fi: moved into the computer's subnet at once")
        << "wifi" << QStringList{"--module-port", "4307", "--far", "--firmware", "2.01.3"}
        << QStringList{"Static", "{B}", "255.255.255.0", "", "Server", "4308", "{A}"} << 1
        << "ROLE server {B}:4308";
    QTest::newRow("a module that never answers")
        << "tibbo" << QStringList{"--module-fault", "silent"}
        << QStringList{"Static", "{B}", "255.255.255.0", "", "Server", "4302", "{A}"} << 0 << QString();
    QTest::newRow("a netmask with a gap: nothing written")
        << "tibbo" << QStringList{"--module-port", "4305"}
        << QStringList{"Static", "{B}", "255.0.255.0", "", "Server", "4306", "{A}"} << 0 << QString();
}

void TstModuleSim::settingsSequence()
{
    REQUIRE_NETNS(m_netns);
    QFETCH(QString, dialect);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, settings);
    QFETCH(int, ret);
    QFETCH(QString, role);
    const QString a = m_netns.value("A_ADDR");
    const QString b = m_netns.value("B_ADDR");
    role.replace("{A}", a).replace("{B}", b);
    settings.replaceInStrings("{A}", a).replaceInStrings("{B}", b);

    // "--far": the module starts outside the computer's subnet.
    const bool far = extra.removeAll("--far") > 0;
    const QString start = far ? m_netns.value("B_FAR_ADDR") : b;
    ChildProcess sim;
    QVERIFY(startModule(sim, dialect, far ? "B_FAR_ADDR" : "B_ADDR", extra + QStringList{"--verbose"}));
    CDevice device;
    device.setModule(
        moduleOf(dialect, QHostAddress(a), mac(dialect).toLatin1(), QHostAddress(start), &device));
    CDeviceController::instance()->setCurrentDevice(&device);
    QString texts[7];
    std::copy(settings.begin(), settings.end(), texts);
    InterfaceSetter setter(texts);
    QSignalSpy finished(&setter, &InterfaceSetter::settingFinished);
    setter.run();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
    CDeviceController::instance()->setCurrentDevice(nullptr);
    QCOMPARE(finished.first().at(0).toInt(), ret);
    if (ret == 1) {
        // The last start of its TCP side is the one that counts.
        QByteArray line;
        do {
            line = sim.waitForLine("ROLE ");
        } while (!line.isEmpty() && line != role.toLatin1());
        QCOMPARE(QString::fromLatin1(line), role);
        QCOMPARE(device.module()->port(), settings.at(5).toInt());
        QCOMPARE(device.module()->ip().toString(), settings.at(1));
        // mervik-cli reaches the instrument behind the module at its new port, and nothing at the old one.
        QProcess cli;
        QVERIFY(
            m_netns.runInA(cli, QStringLiteral(MERVIK_CLI_PATH), {"probe", m_netns.target("B_ADDR", 4308)}));
        QCOMPARE(cli.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("port: LAN (10.231.0.2,4308)"));
        QVERIFY(lines.contains(QStringLiteral("firmware: 2.01.3")));
        QVERIFY(
            m_netns.runInA(cli, QStringLiteral(MERVIK_CLI_PATH), {"probe", m_netns.target("B_ADDR", 4307)}));
        QCOMPARE(cli.exitCode(), 3);
        QCOMPARE(cli.readAllStandardError(), QByteArray("mervik-cli: cannot connect to 10.231.0.2:4307\n"));
    } else if (extra.contains("--module-port")) {
        // Refused before anything was sent.
        QVERIFY(sim.process.readAllStandardError().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TstModuleSim)
#include "tst_modulesim.moc"
