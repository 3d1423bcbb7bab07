// Both module dialects against mervik-sim's modules inside two network namespaces: the computer
// (this test's thread) in one, the modules in the other. Only what loopback cannot show is here:
// modules outside the computer's subnet (broadcast, selection by MAC), the instrument behind a
// module dialling in, and mervik-cli.
#include "device/cdevice.h"
#include "interface/cesp.h"
#include "interface/cserverspool.h"
#include "interface/ctibbo.h"
#include "modulepeer.h"
#include "support/testnetns.h"

#include <QtTest>

#include <memory>

namespace {

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
    void init() { REQUIRE_NETNS(m_netns); }
    void cleanup() { delete CServersPool::instance(); }

    void readsModulesOutsideTheSubnet_data();
    void readsModulesOutsideTheSubnet();
    void clientRoleThenTheInstrumentDialsIn();
    void cliReadsModules_data();
    void cliReadsModules();
    void cliReachesTheInstrumentBehindAModule();

private:
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
    // The MAC as the dialect's module reports it.
    QString mac(const QString& dialect) const
    {
        return dialect == QLatin1String("tibbo") ? QString::fromLatin1(tibboMac(m_netns.value("B_MAC")))
                                                 : m_netns.value("B_MAC").toUpper();
    }

    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
};

void TstModuleSim::readsModulesOutsideTheSubnet_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("expected"); // the record read; empty: the selection is refused

    QTest::newRow("wifi")
        << "wifi" << QStringList{"--module-gateway", "10.231.0.254"}
        << QStringList{"AT+ASTATUS?\r\n", "AT+ASELECT=MAC\r\n", "AT+ACONFIG?\r\n"}
        << "mac=MAC dhcp=0 obtained=1 ip=10.232.0.2 gateway=10.231.0.254 netmask=255.255.255.0 "
           "routing=1 remote= port=4001 remotePort=4001 protocol=1 baud=115200 module=10.232.0.2";
    QTest::newRow("tibbo") << "tibbo"
                           << QStringList{"--module-dhcp",     "leased",     "--module-mode",        "client",
                                          "--module-remote",   "10.231.0.1", "--module-remote-port", "4006",
                                          "--module-protocol", "udp",        "--module-baud",        "9600"}
                           << QStringList{"X",   "WMAC", "L",   "GDH", "GIP", "GGI", "GNM",
                                          "GRM", "GDI",  "GPN", "GDP", "GTP", "GBR"}
                           << "mac=MAC dhcp=1 obtained=1 ip=10.232.0.2 gateway=0.0.0.0 netmask=255.255.255.0 "
                              "routing=2 remote=10.231.0.1 port=4001 remotePort=4006 protocol=2 baud=9600 "
                              "module=10.232.0.2";
    // The configuration is never asked for.
    QTest::newRow("wifi refusing the selection")
        << "wifi" << QStringList{"--module-fault", "error"} << QStringList{"AT+ASELECT=MAC\r\n"} << QString();
}

void TstModuleSim::readsModulesOutsideTheSubnet()
{
    QFETCH(QString, dialect);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, sent);
    QFETCH(QString, expected);

    ChildProcess sim;
    QVERIFY(startModule(sim, dialect, "B_FAR_ADDR", extra));
    const bool tibbo = dialect == QLatin1String("tibbo");
    const QHostAddress computer = m_netns.address("A_ADDR");
    const QHostAddress where = m_netns.address("B_FAR_ADDR");
    // Known beforehand only when the status cannot tell it.
    const QByteArray known = expected.isEmpty() ? mac(dialect).toLatin1() : QByteArray();
    std::unique_ptr<CInterfaceModule> module;
    if (tibbo) {
        module = std::make_unique<CTibbo>(computer, 0xffffff00, known, where);
    } else {
        module = std::make_unique<CESP>(computer, 0xffffff00, known, where);
    }
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
    const QString port = QLatin1Char(',') + QString::number(tibbo ? CTibbo::UdpPort : CESP::UdpPort);
    QCOMPARE(distinct(spies.sentTo()), QStringList{"BROADCAST" + port});
    QCOMPARE(distinct(spies.receivedFrom()), QStringList{where.toString() + port});
    if (!expected.isEmpty()) {
        QCOMPARE(record(*module), expected.replace(QLatin1String("MAC"), mac(dialect)));
    }
}

void TstModuleSim::clientRoleThenTheInstrumentDialsIn()
{
    ChildProcess sim;
    QVERIFY(startModule(sim, "wifi", "B_ADDR", {}));
    const QHostAddress computer = m_netns.address("A_ADDR");
    CESP esp(computer, 0xffffff00, QByteArray(), m_netns.address("B_ADDR"));
    using M = CInterfaceModule;
    QCOMPARE(outcomeOf(esp, [](M& m) { m.readStatus(); }), QStringLiteral("ok"));
    QCOMPARE(outcomeOf(esp, [](M& m) { m.readInfo(1); }), QStringLiteral("info"));
    const QList<Operation> settings = {[](M& m) { m.setRoutingMode(M::ROUTING_CLIENT); },
                                       [computer](M& m) { m.setRemoteIP(computer); },
                                       [](M& m) { m.setPort(4300); }, [](M& m) { m.setRemotePort(4300); }};
    for (const Operation& setting : settings) {
        QCOMPARE(outcomeOf(esp, setting), QStringLiteral("ok"));
    }
    // Read back, the module holds what the record says.
    const QString written = record(esp);
    QCOMPARE(outcomeOf(esp, [](M& m) { m.readInfo(1); }), QStringLiteral("info"));
    QCOMPARE(record(esp), written);

    // Started in its new role, the instrument dials in and is taken by its MAC.
    new CServersPool;
    CDevice device;
    device.setLANServer(esp.localAddress(), esp.remotePort(), esp.macForArp());
    QVERIFY(device.connectDevice(false));
    QCOMPARE(outcomeOf(esp, [](M& m) { m.startClientServer(); }), QStringLiteral("ok"));
    QCOMPARE(sim.waitForLine("ROLE "), QByteArray("ROLE client 10.231.0.1:4300"));
    QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_CONNECTED), 5000);
    QVERIFY(device.checkEcho());
}

void TstModuleSim::cliReadsModules_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("local"); // the computer's address when the module is outside its subnet
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("wifi in the subnet")
        << "wifi"
        << QStringList{"--module-mode", "client", "--module-remote", "10.231.0.1", "--module-port", "4400"}
        << QStringList{} << 0
        << "mac: MAC\ndhcp: off\nip obtained: yes\nip: 10.231.0.2\ngateway: \nnetmask: "
           "255.255.255.0\nrouting "
           "mode: client\nremote ip: 10.231.0.1\nport: 4400\nremote port: 4400\nprotocol: TCP\nbaud rate: "
           "115200\n";
    QTest::newRow("tibbo outside")
        << "tibbo" << QStringList{"--module-protocol", "udp", "--module-baud", "19200"}
        << QStringList{"--local", "10.231.0.1"} << 0
        << "mac: MAC\ndhcp: off\nip obtained: no\nip: 10.232.0.2\ngateway: 0.0.0.0\n"
           "netmask: 255.255.255.0\nrouting mode: server\nremote ip: 0.0.0.0\nport: "
           "4001\nremote port: 4001\nprotocol: UDP\nbaud rate: 19200\n";
    QTest::newRow("no answer") << "tibbo" << QStringList{"--module-fault", "silent"} << QStringList{} << 4
                               << QString();
}

void TstModuleSim::cliReadsModules()
{
    QFETCH(QString, dialect);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, local);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    const QString key = local.isEmpty() ? QStringLiteral("B_ADDR") : QStringLiteral("B_FAR_ADDR");
    ChildProcess sim;
    QVERIFY(startModule(sim, dialect, key, extra));
    QProcess cli;
    QVERIFY(m_netns.runInA(cli, QStringLiteral(MERVIK_CLI_PATH),
                           QStringList{"module", m_netns.value(key), "--dialect", dialect} + local));
    QCOMPARE(cli.exitCode(), exitCode);
    QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()),
             output.replace(QLatin1String("MAC"), mac(dialect)));
    if (exitCode != 0) {
        QVERIFY(cli.readAllStandardError().startsWith("mervik-cli: no module answered at 10.231.0.2"));
    }
}

void TstModuleSim::cliReachesTheInstrumentBehindAModule()
{
    ChildProcess sim;
    QVERIFY(startModule(sim, "wifi", "B_ADDR", {"--module-port", "4500", "--firmware", "2.01.3"}));
    QProcess cli;
    QVERIFY(m_netns.runInA(cli, QStringLiteral(MERVIK_CLI_PATH), {"probe", m_netns.target("B_ADDR", 4500)}));
    QCOMPARE(cli.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("port: LAN (10.231.0.2,4500)"));
    QVERIFY(lines.contains(QStringLiteral("firmware: 2.01.3")));

    QVERIFY(m_netns.runInA(cli, QStringLiteral(MERVIK_CLI_PATH), {"probe", m_netns.target("B_ADDR", 4501)}));
    QCOMPARE(cli.exitCode(), 3);
    QCOMPARE(cli.readAllStandardError(), QByteArray("mervik-cli: cannot connect to 10.231.0.2:4501\n"));
}

QTEST_GUILESS_MAIN(TstModuleSim)
#include "tst_modulesim.moc"
