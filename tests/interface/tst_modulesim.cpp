// Both module dialects against mervik-sim's modules, inside two network namespaces: the computer
// (this test's thread) in one, the modules in the other, inside the computer's subnet or outside
// it (reached by broadcast, selected by MAC). Also the instrument behind a module, and mervik-cli.
#include "device/cdevice.h"
#include "interface/cesp.h"
#include "interface/cserverspool.h"
#include "interface/ctibbo.h"
#include "modulepeer.h"
#include "netnssim.h"

#include <QtTest>

#include <memory>

namespace {

struct Exchange
{
    QStringList sent;
    QStringList to;
};

// The decimal dotted form in which the Tibbo module reports a MAC.
QByteArray tibboMac(const QString& colonMac)
{
    QByteArrayList parts;
    for (const QString& part : colonMac.split(QLatin1Char(':'))) {
        parts << QByteArray::number(part.toUInt(nullptr, 16)).rightJustified(3, '0');
    }
    return parts.join('.');
}

QString record(const CInterfaceModule& m)
{
    return QStringLiteral("dhcp=%1 obtained=%2 ip=%3 gateway=%4 netmask=%5 routing=%6 remote=%7 port=%8 "
                          "remotePort=%9 protocol=%10 baud=%11")
        .arg(m.dhcp())
        .arg(m.ipObtained())
        .arg(m.ip().toString(), m.gateway().toString(), m.netmask().toString())
        .arg(m.routingMode())
        .arg(m.remoteIp().toString())
        .arg(m.port())
        .arg(m.remotePort())
        .arg(m.protocol())
        .arg(m.baudrate());
}

} // namespace

class TstModuleSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void wifiStatusAndInformation_data();
    void wifiStatusAndInformation();
    void wifiSettersThenTheInstrumentDialsIn();
    void wifiRefusedAndIncomplete();
    void tibboStatusAndInformationChain_data();
    void tibboStatusAndInformationChain();
    void tibboSettersChainsAndReboot();
    void tibboRefusedAndIncomplete();
    void cliReadsModules_data();
    void cliReadsModules();
    void cliReachesTheInstrumentBehindAModule();

private:
    QHostAddress address(const char* key) const { return QHostAddress(m_netns.value(QLatin1String(key))); }
    QString value(const char* key) const { return m_netns.value(QLatin1String(key)); }
    template <class Dialect>
    std::unique_ptr<Dialect> module(const char* moduleKey, const QByteArray& mac = {})
    {
        return std::make_unique<Dialect>(address("A_ADDR"), 0xffffff00, mac, address(moduleKey));
    }
    // Starts a module in the instruments' namespace and waits until its TCP side is up.
    bool startModule(NetnsProcess& sim, const QString& dialect, const char* addressKey,
                     const QStringList& extra)
    {
        const QStringList arguments = QStringList{"--module",        dialect,        "--module-address",
                                                  value(addressKey), "--module-mac", value("B_MAC")} +
                                      extra;
        return sim.startSim(m_netns, arguments) && sim.waitForLine("MODULE ").startsWith("MODULE") &&
               sim.waitForLine("ROLE ").startsWith("ROLE");
    }
    // Runs one module operation and checks its single outcome and the datagrams it sent.
    void expect(CInterfaceModule& module, const std::function<void()>& operation, const QString& outcome,
                const QStringList& sent, const QString& to = QString());

    TestNetns m_netns;
    bool m_inside = false;
    QString m_skipReason;
};

void TstModuleSim::initTestCase()
{
    if (m_netns.up(&m_skipReason)) {
        m_inside = m_netns.enterA();
        if (!m_inside) {
            m_skipReason = QStringLiteral("cannot enter the computer's namespace");
        }
    }
}

void TstModuleSim::cleanupTestCase()
{
    m_netns.down();
}

void TstModuleSim::init()
{
    if (!m_inside) {
        QSKIP(qPrintable(TestNetns::skipMessage(m_skipReason)));
    }
}

void TstModuleSim::cleanup()
{
    delete CServersPool::instance();
}

void TstModuleSim::expect(CInterfaceModule& module, const std::function<void()>& operation,
                          const QString& outcome, const QStringList& sent, const QString& to)
{
    ModuleSpies spies(&module);
    operation();
    if (outcome.isEmpty()) {
        QCOMPARE(spies.outcomes(), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(spies.outcomes() > 0, 5000);
        QCOMPARE(spies.outcome(), outcome);
    }
    QCOMPARE(spies.sent(), sent);
    if (!to.isEmpty()) {
        for (const QString& target : spies.sentTo()) {
            QCOMPARE(target, to);
        }
    }
}

void TstModuleSim::wifiStatusAndInformation_data()
{
    QTest::addColumn<QByteArray>("moduleKey");
    QTest::addColumn<bool>("outside");
    QTest::newRow("in the subnet: unicast") << QByteArray("B_ADDR") << false;
    QTest::newRow("outside: broadcast, selected by MAC") << QByteArray("B_FAR_ADDR") << true;
}

void TstModuleSim::wifiStatusAndInformation()
{
    QFETCH(QByteArray, moduleKey);
    QFETCH(bool, outside);
    NetnsProcess sim;
    QVERIFY(
        startModule(sim, "wifi", moduleKey, {"--module-gateway", "10.231.0.254", "--module-port", "4001"}));
    auto esp = module<CESP>(moduleKey);
    const QString where = value(moduleKey);
    const QString to = outside ? QStringLiteral("BROADCAST,65534") : where + QStringLiteral(",65534");
    const QString mac = value("B_MAC").toUpper();

    ModuleSpies spies(esp.get());
    expect(
        *esp, [&] { esp->readStatus(); }, "ok", {"AT+ASTATUS?\r\n"}, to);
    QCOMPARE(esp->mac(), mac.toLatin1());
    QCOMPARE(esp->macForArp(), m_netns.arpMac("B_MAC"));
    QVERIFY(!esp->dhcp());
    // The answer came from the module's own address.
    QCOMPARE(spies.receivedFrom(), QStringList{where + QStringLiteral(",65534")});
    QCOMPARE(esp->moduleAddress(), QHostAddress(where));

    const QStringList information = outside ? QStringList{"AT+ASELECT=" + mac + "\r\n", "AT+ACONFIG?\r\n"}
                                            : QStringList{"AT+ACONFIG?\r\n"};
    expect(
        *esp, [&] { esp->readInfo(1); }, "info", information, to);
    QCOMPARE(record(*esp),
             QStringLiteral("dhcp=0 obtained=1 ip=%1 gateway=10.231.0.254 netmask=255.255.255.0 "
                            "routing=1 remote= port=4001 remotePort=4001 protocol=1 baud=115200")
                 .arg(where));
    QCOMPARE(esp->isInLocalSubnet(), !outside);
}

void TstModuleSim::wifiSettersThenTheInstrumentDialsIn()
{
    NetnsProcess sim;
    QVERIFY(startModule(sim, "wifi", "B_ADDR", {"--module-port", "4001"}));
    auto esp = module<CESP>("B_ADDR");
    expect(*esp, [&] { esp->readStatus(); }, "ok", {"AT+ASTATUS?\r\n"});
    expect(*esp, [&] { esp->readInfo(1); }, "info", {"AT+ACONFIG?\r\n"});

    const QHostAddress computer = address("A_ADDR");
    const QHostAddress gateway(QStringLiteral("10.231.0.254"));
    const QHostAddress self = address("B_ADDR");
    expect(*esp, [&] { esp->setRoutingMode(2); }, "ok", {"AT+ATCPCONFIG=1,4001,,1\r\n"});
    QCOMPARE(esp->routingMode(), 2);
    expect(*esp, [&] { esp->setRemoteIP(computer); }, "ok", {"AT+ATCPCONFIG=1,4001,10.231.0.1,1\r\n"});
    QCOMPARE(esp->remoteIp(), computer);
    expect(*esp, [&] { esp->setPort(4300); }, "ok", {"AT+ATCPCONFIG=1,4300,10.231.0.1,1\r\n"});
    QCOMPARE(esp->port(), 4300);
    expect(*esp, [&] { esp->setRemotePort(4300); }, "ok", {"AT+ATCPCONFIG=1,4300,10.231.0.1,1\r\n"});
    QCOMPARE(esp->remotePort(), 4300);
    // A port the module refuses leaves the record alone.
    expect(*esp, [&] { esp->setPort(0); }, "failed", {"AT+ATCPCONFIG=1,0,10.231.0.1,1\r\n"});
    QCOMPARE(esp->port(), 4300);
    expect(*esp, [&] { esp->setGateway(gateway); }, "ok",
           {"AT+ASTAIPCONFIG=1,10.231.0.2,10.231.0.254,255.255.255.0\r\n"});
    QCOMPARE(esp->gateway(), gateway);
    expect(*esp, [&] { esp->setNetmask(QHostAddress("255.255.0.0")); }, "ok",
           {"AT+ASTAIPCONFIG=1,10.231.0.2,10.231.0.254,255.255.0.0\r\n"});
    QCOMPARE(esp->netmask(), QHostAddress("255.255.0.0"));
    expect(*esp, [&] { esp->setIPLayer(false, self, gateway, QHostAddress("255.255.255.0")); }, "ok",
           {"AT+ASTAIPCONFIG=1,10.231.0.2,10.231.0.254,255.255.255.0\r\n"});
    expect(*esp, [&] { esp->setIP(self); }, "ok",
           {"AT+ASTAIPCONFIG=1,10.231.0.2,10.231.0.254,255.255.255.0\r\n"});
    QCOMPARE(esp->moduleAddress(), self);
    expect(*esp, [&] { esp->setDhcp(true); }, "ok",
           {"AT+ASTAIPCONFIG=2,10.231.0.2,10.231.0.254,255.255.255.0\r\n"});
    QVERIFY(esp->dhcp());
    // Read back, the module holds what the record says.
    const QString written = record(*esp);
    expect(*esp, [&] { esp->readInfo(1); }, "info", {"AT+ACONFIG?\r\n"});
    QCOMPARE(record(*esp), written);

    // Started in its new role, the instrument dials in and is taken by its MAC.
    new CServersPool;
    CDevice device;
    device.setLANServer(esp->localAddress(), esp->remotePort(), esp->macForArp());
    QVERIFY(device.connectDevice(false));
    expect(*esp, [&] { esp->startClientServer(); }, "ok", {"AT+ATCPSTART\r\n"});
    QCOMPARE(sim.waitForLine("ROLE "), QByteArray("ROLE client 10.231.0.1:4300"));
    QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_CONNECTED), 5000);
    QVERIFY(device.checkEcho());
    QVERIFY(device.isReachable());
}

void TstModuleSim::wifiRefusedAndIncomplete()
{
    {
        NetnsProcess refusing;
        QVERIFY(startModule(refusing, "wifi", "B_FAR_ADDR", {"--module-fault", "error"}));
        auto esp = module<CESP>("B_FAR_ADDR", value("B_MAC").toLatin1());
        // The selection is refused: the configuration is never asked for.
        expect(
            *esp, [&] { esp->readInfo(1); }, "failed", {"AT+ASELECT=" + value("B_MAC") + "\r\n"},
            "BROADCAST,65534");
        expect(*esp, [&] { esp->setPort(4001); }, "failed", {"AT+ATCPCONFIG=2,4001,,1\r\n"});
        QCOMPARE(esp->port(), 0);
    }
    // Cut-short answers restart the time-out; nothing complete follows, so both commands time out
    // (side by side, to wait once).
    NetnsProcess cutting;
    QVERIFY(startModule(cutting, "wifi", "B_ADDR", {"--module-fault", "incomplete"}));
    auto status = module<CESP>("B_ADDR");
    auto info = module<CESP>("B_ADDR");
    ModuleSpies statusSpies(status.get());
    ModuleSpies infoSpies(info.get());
    status->readStatus();
    info->readInfo(1);
    QTRY_COMPARE(statusSpies.in.count() + infoSpies.in.count(), 2);
    QCOMPARE(statusSpies.outcomes() + infoSpies.outcomes(), 0);
    QVERIFY(status->isTimeoutTimerActive());
    QTRY_COMPARE_WITH_TIMEOUT(statusSpies.outcome(), QStringLiteral("timeout"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(infoSpies.outcome(), QStringLiteral("timeout"), 3000);
    QCOMPARE(status->mac(), QByteArray());
    QCOMPARE(info->port(), 0);
}

void TstModuleSim::tibboStatusAndInformationChain_data()
{
    QTest::addColumn<QByteArray>("moduleKey");
    QTest::addColumn<bool>("outside");
    QTest::newRow("in the subnet: unicast") << QByteArray("B_ADDR") << false;
    QTest::newRow("outside: broadcast, selected by MAC") << QByteArray("B_FAR_ADDR") << true;
}

void TstModuleSim::tibboStatusAndInformationChain()
{
    QFETCH(QByteArray, moduleKey);
    QFETCH(bool, outside);
    NetnsProcess sim;
    QVERIFY(
        startModule(sim, "tibbo", moduleKey,
                    {"--module-dhcp", "leased", "--module-gateway", "10.231.0.254", "--module-mode", "client",
                     "--module-remote", "10.231.0.1", "--module-port", "4005", "--module-remote-port", "4006",
                     "--module-protocol", "udp", "--module-baud", "9600"}));
    auto tibbo = module<CTibbo>(moduleKey);
    const QString where = value(moduleKey);
    const QString to = outside ? QStringLiteral("BROADCAST,65535") : where + QStringLiteral(",65535");

    expect(
        *tibbo, [&] { tibbo->readStatus(); }, "ok", {"X"}, to);
    const QByteArray mac = tibboMac(value("B_MAC"));
    QCOMPARE(tibbo->mac(), mac);
    QCOMPARE(tibbo->macForArp(), m_netns.arpMac("B_MAC"));
    QVERIFY(tibbo->dhcp());
    QVERIFY(tibbo->ipObtained());

    QStringList chain = {"L", "GDH", "GIP", "GGI", "GNM", "GRM", "GDI", "GPN", "GDP", "GTP", "GBR"};
    if (outside) {
        chain.prepend(QStringLiteral("W") + QString::fromLatin1(mac));
    }
    expect(
        *tibbo, [&] { tibbo->readInfo(1); }, "info", chain, to);
    QCOMPARE(record(*tibbo),
             QStringLiteral("dhcp=1 obtained=1 ip=%1 gateway=10.231.0.254 netmask=255.255.255.0 "
                            "routing=2 remote=10.231.0.1 port=4005 remotePort=4006 protocol=2 "
                            "baud=9600")
                 .arg(where));
    QCOMPARE(tibbo->moduleAddress(), QHostAddress(where));
}

void TstModuleSim::tibboSettersChainsAndReboot()
{
    NetnsProcess sim;
    QVERIFY(startModule(sim, "tibbo", "B_ADDR", {"--module-reboot-ms", "200"}));
    auto tibbo = module<CTibbo>("B_ADDR");
    expect(*tibbo, [&] { tibbo->readStatus(); }, "ok", {"X"});

    const QHostAddress self = address("B_ADDR");
    const QHostAddress gateway(QStringLiteral("10.231.0.254"));
    expect(*tibbo, [&] { tibbo->setDhcp(true); }, "ok", {"SDH1"});
    QVERIFY(tibbo->dhcp());
    expect(*tibbo, [&] { tibbo->setIPLayer(false, self, gateway, QHostAddress("255.255.0.0")); }, "ok",
           {"SDH0", "SIP10.231.0.2", "SGI10.231.0.254", "SNM255.255.0.0"});
    QVERIFY(record(*tibbo).startsWith(
        QLatin1String("dhcp=0 obtained=0 ip=10.231.0.2 gateway=10.231.0.254 netmask=255.255.0.0 ")));
    expect(*tibbo, [&] { tibbo->setIPLayer(true, self, gateway, QHostAddress("255.255.255.0")); }, "ok",
           {"SDH1"});
    expect(*tibbo, [&] { tibbo->setDhcp(false); }, "ok", {"SDH0"});
    expect(*tibbo, [&] { tibbo->setIP(self); }, "ok", {"SIP10.231.0.2"});
    expect(*tibbo, [&] { tibbo->setGateway(gateway); }, "ok", {"SGI10.231.0.254"});
    expect(*tibbo, [&] { tibbo->setNetmask(QHostAddress("255.255.255.0")); }, "ok", {"SNM255.255.255.0"});
    expect(*tibbo, [&] { tibbo->setRoutingMode(2); }, "ok", {"SRM2"});
    expect(*tibbo, [&] { tibbo->setRemoteIP(address("A_ADDR")); }, "ok", {"SDI10.231.0.1"});
    expect(*tibbo, [&] { tibbo->setPort(4310); }, "ok", {"SPN4310"});
    expect(*tibbo, [&] { tibbo->setRemotePort(4311); }, "ok", {"SDP4311"});
    expect(*tibbo, [&] { tibbo->setProtocol(2); }, "ok", {"STP0"});
    expect(*tibbo, [&] { tibbo->setProtocol(1); }, "ok", {"STP1"});
    expect(*tibbo, [&] { tibbo->setBaudrate(9600); }, "ok", {"SBR3"});
    expect(*tibbo, [&] { tibbo->setPort(0); }, "failed", {"SPN0"});
    expect(*tibbo, [&] { tibbo->startClientServer(); }, "ok", {});
    const QString written = record(*tibbo);
    QCOMPARE(written,
             QStringLiteral("dhcp=0 obtained=0 ip=10.231.0.2 gateway=10.231.0.254 netmask=255.255.255.0 "
                            "routing=2 remote=10.231.0.1 port=4310 remotePort=4311 protocol=1 baud=9600"));
    expect(*tibbo, [&] { tibbo->readInfo(1); }, "info",
           {"L", "GDH", "GIP", "GGI", "GNM", "GRM", "GDI", "GPN", "GDP", "GTP", "GBR"});
    QCOMPARE(record(*tibbo), written);

    // The new role starts only after the reboot, which the module does not answer.
    new CServersPool;
    CDevice device;
    device.setLANServer(tibbo->localAddress(), tibbo->remotePort(), tibbo->macForArp());
    QVERIFY(device.connectDevice(false));
    expect(*tibbo, [&] { tibbo->reboot(); }, "timeout", {"E"});
    QCOMPARE(sim.waitForLine("ROLE "), QByteArray("ROLE client 10.231.0.1:4311"));
    QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_CONNECTED), 5000);
    QVERIFY(device.checkEcho());
}

void TstModuleSim::tibboRefusedAndIncomplete()
{
    {
        NetnsProcess refusing;
        QVERIFY(startModule(refusing, "tibbo", "B_FAR_ADDR", {"--module-fault", "error"}));
        auto tibbo = module<CTibbo>("B_FAR_ADDR", tibboMac(value("B_MAC")));
        expect(
            *tibbo, [&] { tibbo->readInfo(1); }, "failed", {"W" + QString::fromLatin1(tibbo->mac())},
            "BROADCAST,65535");
        expect(*tibbo, [&] { tibbo->setRemotePort(4001); }, "failed", {"SDP4001"});
        QCOMPARE(tibbo->remotePort(), 0);
    }
    NetnsProcess cutting;
    QVERIFY(
        startModule(cutting, "tibbo", "B_ADDR", {"--module-fault", "incomplete", "--module-dhcp", "leased"}));
    auto status = module<CTibbo>("B_ADDR");
    auto info = module<CTibbo>("B_ADDR");
    ModuleSpies statusSpies(status.get());
    ModuleSpies infoSpies(info.get());
    status->readStatus();
    info->readInfo(1);
    QTRY_COMPARE_WITH_TIMEOUT(statusSpies.outcome(), QStringLiteral("timeout"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(infoSpies.outcome(), QStringLiteral("timeout"), 3000);
    QCOMPARE(status->mac(), QByteArray());
    // The chain stopped at the cut-short address; what was read before it stays.
    QCOMPARE(infoSpies.sent(), QStringList({"L", "GDH", "GIP"}));
    QVERIFY(info->dhcp());
    QVERIFY(info->ip().isNull());
}

void TstModuleSim::cliReadsModules_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QByteArray>("moduleKey");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");

    const QStringList client = {"--module-mode", "client",        "--module-remote",
                                "10.231.0.1",    "--module-port", "4400"};
    QTest::newRow("wifi in the subnet") << "wifi" << QByteArray("B_ADDR") << client << 0
                                        << QStringList{"mac: MAC",
                                                       "dhcp: off",
                                                       "ip obtained: yes",
                                                       "ip: 10.231.0.2",
                                                       "gateway: ",
                                                       "netmask: 255.255.255.0",
                                                       "routing mode: client",
                                                       "remote ip: 10.231.0.1",
                                                       "port: 4400",
                                                       "remote port: 4400",
                                                       "protocol: TCP",
                                                       "baud rate: 115200"};
    QTest::newRow("wifi outside") << "wifi" << QByteArray("B_FAR_ADDR")
                                  << QStringList{"--module-dhcp", "leased"} << 0
                                  << QStringList{"mac: MAC",
                                                 "dhcp: on",
                                                 "ip obtained: yes",
                                                 "ip: 10.232.0.2",
                                                 "gateway: ",
                                                 "netmask: 255.255.255.0",
                                                 "routing mode: server",
                                                 "remote ip: ",
                                                 "port: 4001",
                                                 "remote port: 4001",
                                                 "protocol: TCP",
                                                 "baud rate: 115200"};
    QTest::newRow("tibbo outside") << "tibbo" << QByteArray("B_FAR_ADDR")
                                   << QStringList{"--module-protocol", "udp", "--module-baud", "19200"} << 0
                                   << QStringList{"mac: MAC",
                                                  "dhcp: off",
                                                  "ip obtained: no",
                                                  "ip: 10.232.0.2",
                                                  "gateway: 0.0.0.0",
                                                  "netmask: 255.255.255.0",
                                                  "routing mode: server",
                                                  "remote ip: 0.0.0.0",
                                                  "port: 4001",
                                                  "remote port: 4001",
                                                  "protocol: UDP",
                                                  "baud rate: 19200"};
    QTest::newRow("no answer") << "tibbo" << QByteArray("B_ADDR") << QStringList{"--module-fault", "silent"}
                               << 4 << QStringList{};
}

void TstModuleSim::cliReadsModules()
{
    QFETCH(QString, dialect);
    QFETCH(QByteArray, moduleKey);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);

    NetnsProcess sim;
    QVERIFY(startModule(sim, dialect, moduleKey, extra));
    QStringList arguments = {"module", value(moduleKey), "--dialect", dialect};
    if (moduleKey == "B_FAR_ADDR") {
        arguments << "--local" << value("A_ADDR");
    }
    QProcess cli;
    cli.start(m_netns.program(), m_netns.inA(QStringLiteral(MERVIK_CLI_PATH), arguments));
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), exitCode);
    const QString mac = dialect == QLatin1String("tibbo") ? QString::fromLatin1(tibboMac(value("B_MAC")))
                                                          : value("B_MAC").toUpper();
    expected.replaceInStrings(QStringLiteral("mac: MAC"), QStringLiteral("mac: ") + mac);
    const QString output = QString::fromUtf8(cli.readAllStandardOutput());
    QCOMPARE(output.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    if (exitCode != 0) {
        QVERIFY(cli.readAllStandardError().startsWith("mervik-cli: no module answered at 10.231.0.2"));
    }
}

void TstModuleSim::cliReachesTheInstrumentBehindAModule()
{
    NetnsProcess sim;
    QVERIFY(startModule(sim, "wifi", "B_ADDR", {"--module-port", "4500", "--firmware", "2.01.3"}));
    QProcess cli;
    cli.start(m_netns.program(),
              m_netns.inA(QStringLiteral(MERVIK_CLI_PATH), {"probe", value("B_ADDR") + ":4500"}));
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("port: LAN (10.231.0.2,4500)"));
    QVERIFY(lines.contains(QStringLiteral("firmware: 2.01.3")));

    cli.start(m_netns.program(),
              m_netns.inA(QStringLiteral(MERVIK_CLI_PATH), {"probe", value("B_ADDR") + ":4501"}));
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 3);
    QCOMPARE(cli.readAllStandardError(), QByteArray("mervik-cli: cannot connect to 10.231.0.2:4501\n"));
}

QTEST_GUILESS_MAIN(TstModuleSim)
#include "tst_modulesim.moc"
