// The simulated network modules' side of the conversation, one per dialect. The executable serving them,
// with the instrument behind, is driven by the application's module tests in network namespaces; its
// option errors are in tst_simulator.
#include "simtibbomodule.h"
#include "simwifimodule.h"

#include <QSignalSpy>
#include <QtTest>

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

} // namespace

class TstSimModules : public QObject
{
    Q_OBJECT

private slots:
    void wifi();
    void tibbo();
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
                     "AT+ATCPCONFIG=1,0,10.0.0.1,1\r\n=>ERROR\r\n", "AT+ASTAIPCONFIG=3,,,\r\n=>ERROR\r\n",
                     "AT+AWHAT\r\n=>ERROR\r\n", "hello=>", "AT+ASTATUS?=>", "fault incomplete",
                     "AT+ASTATUS?\r\n=>02:00:4D:56:00:01\r\n",
                     "AT+ACONFIG?\r\n=>MERVIK,WPA2,6,1,10.0.0.7,10.0.0.1,255.255.0.0,1,10.0.0.1\r\n",
                     "fault error", "AT+ASTATUS?\r\n=>ERROR\r\n", "fault silent", "AT+ASTATUS?\r\n=>"}),
        QByteArray());
}

void TstSimModules::tibbo()
{
    SimTibboModule module(settings());
    module.setRebootTime(100);
    // Steps joined by ';': status, selection by MAC, login, every setting read, written and read back,
    // refused values, then the faults and a DHCP lease.
    const QByteArrayList steps =
        QByteArray(
            "X=>A002.000.077.086.000.001/00042/NORM/3.90.12/MERVIK/SCALE;W2.0.77.86.0.1=>A;"
            "W002.000.077.086.000.002=>;L=>A;GDH=>A0;GIP=>A10.0.0.2;GGI=>A0.0.0.0;GNM=>A255.255.255.0;"
            "GRM=>A0;GDI=>A0.0.0.0;GPN=>A4001;GDP=>A4001;GTP=>A1;GBR=>A7;GXX=>C;GIPX=>C;"
            "SIP10.0.0.9=>A;SGI10.0.0.1=>A;SNM255.0.0.0=>A;SDI10.0.0.1=>A;SPN4100=>A;SDP4101=>A;STP0=>A;"
            "SBR3=>A;GIP=>A10.0.0.9;GGI=>A10.0.0.1;GNM=>A255.0.0.0;GDI=>A10.0.0.1;GPN=>A4100;GDP=>A4101;"
            "GTP=>A0;GBR=>A3;SIP10.0.0=>C;SPN0=>C;SPN70000=>C;SBR12=>C;SBRx=>C;STP5=>C;SRM7=>C;SDH2=>C;"
            "Q=>C;fault incomplete;X=>A002.000.077.086.000.001/00042/NORM/3.90.12/MERVIK;GIP=>A10.0.0;"
            "fault error;X=>C;W002.000.077.086.000.001=>C;SPN10=>C;fault none;SDH1=>A;"
            "X=>A002.000.077.086.000.001/00042/NORI/3.90.12/MERVIK/SCALE;GDH=>A1")
            .split(';');
    QCOMPARE(run(module, steps), QByteArray());

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

QTEST_GUILESS_MAIN(TstSimModules)
#include "tst_simmodules.moc"
