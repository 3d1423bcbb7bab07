// The simulated network modules: their replies in-process, and the executable serving a module on
// loopback with the instrument behind it (server, then client after a new TCP role).
#include "simtibbomodule.h"
#include "simwifimodule.h"
#include "support/childprocess.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(SimModule::Fault)

namespace {

SimModuleSettings settings()
{
    SimModuleSettings s;
    s.ownAddress = QHostAddress(QStringLiteral("10.0.0.2"));
    s.ip = s.ownAddress;
    s.port = 4001;
    s.remotePort = 4001;
    return s;
}

// Each step is "datagram=>expected reply"; the reply may be empty.
QByteArray run(SimModule& module, const QByteArrayList& steps)
{
    QByteArray mismatches;
    for (const QByteArray& step : steps) {
        const int arrow = step.indexOf("=>");
        const QByteArray request = step.left(arrow);
        const QByteArray expected = step.mid(arrow + 2);
        const QByteArray reply = module.respond(request);
        if (reply != expected) {
            mismatches += request + " gave " + reply + " instead of " + expected + "\n";
        }
    }
    return mismatches;
}

using SimProcess = ChildProcess;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TstSimModules : public QObject
{
    Q_OBJECT

private slots:
    void wifi_data();
    void wifi();
    void tibbo_data();
    void tibbo();
    void tibboRebootsDeafThenStarts();
    void executableServesModuleAndInstrument();
    void badOptions_data();
    void badOptions();
};

void TstSimModules::wifi_data()
{
    QTest::addColumn<SimModule::Fault>("fault");
    QTest::addColumn<QByteArrayList>("steps");

    const auto none = SimModule::Fault::None;
    QTest::newRow("status and configuration")
        << none
        << QByteArrayList{"AT+ASTATUS?\r\n=>02:00:4D:56:00:01,1\r\n",
                          "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.2,,255.255.255.0,2,,4001\r\n"};
    QTest::newRow("selection by MAC")
        << none
        << QByteArrayList{"AT+ASELECT=02:00:4D:56:00:02\r\n=>", "AT+ASELECT=02:00:4d:56:00:01\r\n=>OK\r\n"};
    QTest::newRow("static IP line") << none
                                    << QByteArrayList{
                                           "AT+ASTAIPCONFIG=1,10.0.0.7,10.0.0.1,255.255.0.0\r\n=>OK\r\n",
                                           "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.7,10.0.0.1,255.255.0."
                                           "0,2,,4001\r\n"};
    QTest::newRow("DHCP lease")
        << none
        << QByteArrayList{"AT+ASTAIPCONFIG=2,,,\r\n=>OK\r\n", "AT+ASTATUS?\r\n=>02:00:4D:56:00:01,3\r\n",
                          "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,2,10.0.0.2,,255.255.255.0,2,,4001\r\n"};
    QTest::newRow("client role") << none
                                 << QByteArrayList{
                                        "AT+ATCPCONFIG=1,4100,10.0.0.1,1\r\n=>OK\r\n",
                                        "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.2,,255.255.255.0,1,10.0."
                                        "0.1,4100\r\n"};
    QTest::newRow("refused lines") << none
                                   << QByteArrayList{
                                          "AT+ASTAIPCONFIG=1,10.0.0.300,10.0.0.1,255.255.0.0\r\n=>ERROR\r\n",
                                          "AT+ASTAIPCONFIG=3,,,\r\n=>ERROR\r\n",
                                          "AT+ATCPCONFIG=1,0,10.0.0.1,1\r\n=>ERROR\r\n",
                                          "AT+ATCPCONFIG=1,4100,10.0.0.1,2\r\n=>ERROR\r\n",
                                          "AT+AWHAT\r\n=>ERROR\r\n",
                                          "hello=>",
                                          "AT+ASTATUS?=>"};
    QTest::newRow("incomplete answers")
        << SimModule::Fault::Incomplete
        << QByteArrayList{"AT+ASTATUS?\r\n=>02:00:4D:56:00:01\r\n",
                          "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.2,,255.255.255."
                          "0,2,\r\n"};
    QTest::newRow("everything refused")
        << SimModule::Fault::Error
        << QByteArrayList{"AT+ASTATUS?\r\n=>ERROR\r\n", "AT+ASELECT=02:00:4D:56:00:01\r\n=>ERROR\r\n"};
    QTest::newRow("silent") << SimModule::Fault::Silent << QByteArrayList{"AT+ASTATUS?\r\n=>"};
}

void TstSimModules::wifi()
{
    QFETCH(SimModule::Fault, fault);
    QFETCH(QByteArrayList, steps);
    SimWifiModule module(settings());
    module.setFault(fault);
    QCOMPARE(run(module, steps), QByteArray());
}

void TstSimModules::tibbo_data()
{
    QTest::addColumn<SimModule::Fault>("fault");
    QTest::addColumn<QByteArrayList>("steps");

    const auto none = SimModule::Fault::None;
    QTest::newRow("status, selection, login")
        << none
        << QByteArrayList{"X=>A002.000.077.086.000.001/00042/NORM/3.90.12/MERVIK/SCALE", "W2.0.77.86.0.1=>A",
                          "W002.000.077.086.000.002=>", "L=>A"};
    QTest::newRow("every setting read")
        << none << QByteArrayList{"GDH=>A0", "GIP=>A10.0.0.2", "GGI=>A0.0.0.0", "GNM=>A255.255.255.0",
                                  "GRM=>A0", "GDI=>A0.0.0.0",  "GPN=>A4001",    "GDP=>A4001",
                                  "GTP=>A1", "GBR=>A7",        "GXX=>C",        "GIPX=>C"};
    QTest::newRow("every setting written")
        << none << QByteArrayList{"SDH0=>A",         "SIP10.0.0.9=>A", "SGI10.0.0.1=>A", "SNM255.0.0.0=>A",
                                  "SRM2=>A",         "SDI10.0.0.1=>A", "SPN4100=>A",     "SDP4101=>A",
                                  "STP0=>A",         "SBR3=>A",        "GIP=>A10.0.0.9", "GGI=>A10.0.0.1",
                                  "GNM=>A255.0.0.0", "GRM=>A2",        "GDI=>A10.0.0.1", "GPN=>A4100",
                                  "GDP=>A4101",      "GTP=>A0",        "GBR=>A3"};
    QTest::newRow("DHCP lease") << none
                                << QByteArrayList{"SDH1=>A",
                                                  "X=>A002.000.077.086.000.001/00042/NORI/3.90.12/"
                                                  "MERVIK/SCALE",
                                                  "GDH=>A1"};
    QTest::newRow("refused values") << none << QByteArrayList{"SDH2=>C",     "SIP10.0.0=>C", "SPN0=>C",
                                                              "SPN70000=>C", "SBR12=>C",     "SBRx=>C",
                                                              "STP5=>C",     "SRM7=>C",      "Q=>C"};
    QTest::newRow("incomplete replies")
        << SimModule::Fault::Incomplete
        << QByteArrayList{"X=>A002.000.077.086.000.001/00042/NORM/3.90.12/MERVIK", "GIP=>A10.0.0", "GDH=>A0"};
    QTest::newRow("everything refused")
        << SimModule::Fault::Error << QByteArrayList{"X=>C", "W002.000.077.086.000.001=>C", "SPN10=>C"};
}

void TstSimModules::tibbo()
{
    QFETCH(SimModule::Fault, fault);
    QFETCH(QByteArrayList, steps);
    SimTibboModule module(settings());
    module.setFault(fault);
    QCOMPARE(run(module, steps), QByteArray());
}

void TstSimModules::tibboRebootsDeafThenStarts()
{
    SimTibboModule module(settings());
    module.setRebootTime(100);
    QSignalSpy started(&module, &SimModule::roleApplied);
    QCOMPARE(module.respond("SRM2"), QByteArray("A"));
    // Stored at once, but the role starts only with the next boot.
    QCOMPARE(started.count(), 0);
    QCOMPARE(module.respond("E"), QByteArray());
    QVERIFY(module.isRebooting());
    QCOMPARE(module.respond("X"), QByteArray());
    QVERIFY(started.wait(3000));
    QVERIFY(module.settings().client);
    QCOMPARE(module.respond("L"), QByteArray("A"));
    QCOMPARE(module.reboots(), 1);
}

void TstSimModules::executableServesModuleAndInstrument()
{
    const quint16 port = freePort();
    SimProcess sim;
    sim.process.start(QStringLiteral(MERVIK_SIM_PATH),
                      {"--max-seconds", "30", "--module", "wifi", "--module-bind", "127.0.0.1",
                       "--module-udp-port", "0", "--module-address", "127.0.0.1", "--module-port",
                       QString::number(port), "--weight", "3.5", "--decimals", "1"});
    const QByteArray module = sim.waitForLine("MODULE ");
    QVERIFY2(module.startsWith("MODULE wifi 127.0.0.1:"), module.constData());
    const quint16 udpPort = quint16(module.mid(module.lastIndexOf(':') + 1).toUInt());
    QCOMPARE(sim.waitForLine("ROLE "), QByteArray("ROLE server 127.0.0.1:" + QByteArray::number(port)));

    QUdpSocket udp;
    QVERIFY(udp.bind(QHostAddress(QHostAddress::LocalHost), 0));
    auto exchange = [&](const QByteArray& request) {
        udp.writeDatagram(request, QHostAddress::LocalHost, udpPort);
        if (!udp.hasPendingDatagrams() && !udp.waitForReadyRead(3000)) {
            return QByteArray();
        }
        const QNetworkDatagram reply = udp.receiveDatagram();
        return reply.senderAddress() == QHostAddress::LocalHost && reply.senderPort() == udpPort
                   ? reply.data()
                   : QByteArray("?");
    };
    QCOMPARE(exchange("AT+ASTATUS?\r\n"), QByteArray("02:00:4D:56:00:01,1\r\n"));

    QTcpSocket instrument;
    instrument.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(instrument.waitForConnected(3000));
    instrument.write("SI\r\n");
    QByteArray answer;
    while (!answer.endsWith("\r\n") && instrument.waitForReadyRead(3000)) {
        answer += instrument.readAll();
    }
    QCOMPARE(answer, QByteArray("       3.5 g  \r\n"));

    // A new role: the instrument now dials out to us.
    QTcpServer computer;
    QVERIFY(computer.listen(QHostAddress::LocalHost, 0));
    const QByteArray tcpLine =
        "AT+ATCPCONFIG=1," + QByteArray::number(computer.serverPort()) + ",127.0.0.1,1\r\n";
    QCOMPARE(exchange(tcpLine), QByteArray("OK\r\n"));
    QCOMPARE(exchange("AT+ATCPSTART\r\n"), QByteArray("OK\r\n"));
    QCOMPARE(sim.waitForLine("ROLE "),
             QByteArray("ROLE client 127.0.0.1:" + QByteArray::number(computer.serverPort())));
    QVERIFY(computer.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> dialled(computer.nextPendingConnection());
    dialled->write("SJ\r\n");
    answer.clear();
    while (!answer.endsWith("\r\n") && dialled->waitForReadyRead(3000)) {
        answer += dialled->readAll();
    }
    QCOMPARE(answer, QByteArray("MJ\r\n"));
    // The old server is gone.
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(3000));
}

void TstSimModules::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("dialect") << QStringList{"--module", "serial"};
    QTest::newRow("MAC") << QStringList{"--module", "wifi", "--module-mac", "02:00:4d:56:00"};
    QTest::newRow("address") << QStringList{"--module", "tibbo", "--module-address", "fe80::1"};
    QTest::newRow("mode") << QStringList{"--module", "tibbo", "--module-mode", "both"};
    QTest::newRow("speed") << QStringList{"--module", "tibbo", "--module-baud", "14400"};
    QTest::newRow("fault") << QStringList{"--module", "wifi", "--module-fault", "sometimes"};
    QTest::newRow("with a pty") << QStringList{"--module", "wifi", "--pty"};
}

void TstSimModules::badOptions()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(QStringLiteral(MERVIK_SIM_PATH), QStringList{"--max-seconds", "5"} + arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().startsWith("mervik-sim: "));
}

QTEST_GUILESS_MAIN(TstSimModules)
#include "tst_simmodules.moc"
