// The simulated network modules: one conversation per dialect in-process, and the executable serving a
// module on loopback with the instrument behind it (server, then client after a new TCP role). The
// application's side of the same conversations is proved against the executable in network namespaces.
#include "simtibbomodule.h"
#include "simwifimodule.h"
#include "support/simprocess.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

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

// Each step is "datagram=>expected reply" (the reply may be empty), or "fault F" to switch faults on.
QByteArray run(SimModule& module, const QByteArrayList& steps)
{
    QByteArray mismatches;
    for (const QByteArray& step : steps) {
        if (step.startsWith("fault ")) {
            const QByteArray fault = step.mid(6);
            module.setFault(fault == "none"         ? SimModule::Fault::None
                            : fault == "incomplete" ? SimModule::Fault::Incomplete
                            : fault == "error"      ? SimModule::Fault::Error
                                                    : SimModule::Fault::Silent);
            continue;
        }
        const int arrow = step.indexOf("=>");
        const QByteArray reply = module.respond(step.left(arrow));
        if (reply != step.mid(arrow + 2)) {
            mismatches += step + " gave " + reply + "\n";
        }
    }
    return mismatches;
}

// Reads from a TCP peer until a line has come.
QByteArray readLine(QTcpSocket& socket)
{
    QByteArray answer;
    while (!answer.endsWith("\r\n") && socket.waitForReadyRead(3000)) {
        answer += socket.readAll();
    }
    return answer;
}

} // namespace

class TstSimModules : public QObject
{
    Q_OBJECT

private slots:
    void wifi();
    void tibbo();
    void executableServesModuleAndInstrument();
};

void TstSimModules::wifi()
{
    SimWifiModule module(settings());
    QCOMPARE(
        run(module, {"AT+ASTATUS?\r\n=>02:00:4D:56:00:01,1\r\n",
                     "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.2,,255.255.255.0,2,,4001\r\n",
                     // Selected by MAC, in any case.
                     "AT+ASELECT=02:00:4D:56:00:02\r\n=>", "AT+ASELECT=02:00:4d:56:00:01\r\n=>OK\r\n",
                     "AT+ASTAIPCONFIG=2,,,\r\n=>OK\r\n", "AT+ASTATUS?\r\n=>02:00:4D:56:00:01,3\r\n",
                     "AT+ASTAIPCONFIG=1,10.0.0.7,10.0.0.1,255.255.0.0\r\n=>OK\r\n",
                     "AT+ATCPCONFIG=1,4100,10.0.0.1,1\r\n=>OK\r\n",
                     "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.7,10.0.0.1,255.255.0.0,1,10.0.0.1,4100\r\n",
                     "AT+ASTAIPCONFIG=1,10.0.0.300,10.0.0.1,255.255.0.0\r\n=>ERROR\r\n",
                     "AT+ATCPCONFIG=1,0,10.0.0.1,1\r\n=>ERROR\r\n", "AT+AWHAT\r\n=>ERROR\r\n", "hello=>",
                     "AT+ASTATUS?=>", "fault incomplete", "AT+ASTATUS?\r\n=>02:00:4D:56:00:01\r\n",
                     "fault error", "AT+ASTATUS?\r\n=>ERROR\r\n", "fault silent", "AT+ASTATUS?\r\n=>"}),
        QByteArray());
}

void TstSimModules::tibbo()
{
    SimTibboModule module(settings());
    module.setRebootTime(100);
    QCOMPARE(run(module, {"X=>A002.000.077.086.000.001/00042/NORM/3.90.12/MERVIK/SCALE",
                          "W2.0.77.86.0.1=>A",
                          "W002.000.077.086.000.002=>",
                          "L=>A",
                          "GIP=>A10.0.0.2",
                          "GPN=>A4001",
                          "GBR=>A7",
                          "GXX=>C",
                          "SIP10.0.0.9=>A",
                          "SPN4100=>A",
                          "SBR3=>A",
                          "GIP=>A10.0.0.9",
                          "GPN=>A4100",
                          "GBR=>A3",
                          "SIP10.0.0=>C",
                          "SPN0=>C",
                          "SPN70000=>C",
                          "SBR12=>C",
                          "SDH2=>C",
                          "Q=>C",
                          "fault incomplete",
                          "X=>A002.000.077.086.000.001/00042/NORM/3.90.12/MERVIK",
                          "GIP=>A10.0.0",
                          "fault error",
                          "X=>C",
                          "SPN10=>C",
                          "fault none",
                          "SDH1=>A",
                          "X=>A002.000.077.086.000.001/00042/NORI/3.90.12/MERVIK/SCALE",
                          "GDH=>A1"}),
             QByteArray());

    // A new role is stored at once but starts only with the next boot, during which the module is deaf.
    QSignalSpy started(&module, &SimModule::roleApplied);
    QCOMPARE(run(module, {"SRM2=>A", "E=>", "X=>"}), QByteArray());
    QVERIFY(module.isRebooting());
    QCOMPARE(started.count(), 0);
    QVERIFY(started.wait(3000));
    QVERIFY(module.settings().client);
    QCOMPARE(run(module, {"L=>A"}), QByteArray());
    QCOMPARE(module.reboots(), 1);
}

void TstSimModules::executableServesModuleAndInstrument()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    SimProcess sim;
    QVERIFY(sim.start({"--module", "wifi", "--module-bind", "127.0.0.1", "--module-udp-port", "0",
                       "--module-address", "127.0.0.1", "--module-port", QString::number(port), "--weight",
                       "3.5", "--decimals", "1"}));
    QVERIFY2(sim.announcement.startsWith("MODULE wifi 127.0.0.1:"), sim.announcement.constData());
    const quint16 udpPort = quint16(sim.announcement.mid(sim.announcement.lastIndexOf(':') + 1).toUInt());
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
    QCOMPARE(readLine(instrument), QByteArray("       3.5 g  \r\n"));

    // A new role: the instrument now dials out to us, and the old server is gone.
    QTcpServer computer;
    QVERIFY(computer.listen(QHostAddress::LocalHost, 0));
    QCOMPARE(exchange("AT+ATCPCONFIG=1," + QByteArray::number(computer.serverPort()) + ",127.0.0.1,1\r\n"),
             QByteArray("OK\r\n"));
    QCOMPARE(exchange("AT+ATCPSTART\r\n"), QByteArray("OK\r\n"));
    QCOMPARE(sim.waitForLine("ROLE "),
             QByteArray("ROLE client 127.0.0.1:" + QByteArray::number(computer.serverPort())));
    QVERIFY(computer.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> dialled(computer.nextPendingConnection());
    dialled->write("SJ\r\n");
    QCOMPARE(readLine(*dialled), QByteArray("MJ\r\n"));
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(3000));
}

QTEST_GUILESS_MAIN(TstSimModules)
#include "tst_simmodules.moc"
