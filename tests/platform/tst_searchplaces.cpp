#include "platform/pinger.h"
#include "platform/procarpresolver.h"
#include "platform/searchinterfaces.h"
#include "platform/serialports.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Where a search may look: the serial ports it may open, the network interfaces it may use, the
// pinger that tells a free address from a taken one, and the neighbour table that names a peer's MAC.
class TstSearchPlaces : public QObject
{
    Q_OBJECT
private slots:
    void portsAndInterfacesNamedInTheEnvironment();
    void portKinds_data();
    void portKinds();
    void permissionProblem_data();
    void permissionProblem();
    void pinger_data();
    void pinger();
    void macFromNeighbourTable_data();
    void macFromNeighbourTable();
};

void TstSearchPlaces::portsAndInterfacesNamedInTheEnvironment()
{
    const auto available = [] {
        QStringList names;
        for (const SerialPortEntry& port : SerialPorts::available()) {
            names << port.name;
        }
        return names;
    };
    qputenv("MERVIK_SERIAL_PORTS", "/tmp/pts-a::/tmp/pts-b");
    qputenv("MERVIK_EXTRA_SERIAL_PORTS", "/tmp/extra");
    QCOMPARE(available(), QStringList({"/tmp/pts-a", "/tmp/pts-b"}));
    QVERIFY(SerialPorts::find(QStringLiteral("/tmp/pts-b")));
    QVERIFY(!SerialPorts::find(QStringLiteral("/tmp/extra")));

    // Without the replacement the extra paths follow the system's ports, each once.
    qunsetenv("MERVIK_SERIAL_PORTS");
    qputenv("MERVIK_EXTRA_SERIAL_PORTS", "/tmp/extra:/tmp/extra");
    const QStringList ports = available();
    QCOMPARE(ports.count(QStringLiteral("/tmp/extra")), 1);
    QCOMPARE(ports.last(), QStringLiteral("/tmp/extra"));
    qunsetenv("MERVIK_EXTRA_SERIAL_PORTS");

    qputenv("MERVIK_SEARCH_INTERFACES", "lo, no-such-interface");
    const QList<QNetworkInterface> chosen = SearchInterfaces::interfaces();
    qunsetenv("MERVIK_SEARCH_INTERFACES");
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().name(), QStringLiteral("lo"));
    QVERIFY(!SearchInterfaces::isSearched(chosen.first()));

    // The route decides the local address, whatever the host name resolves to.
    QHostAddress address;
    QHostAddress netmask;
    QVERIFY(SearchInterfaces::localAddressFor(QHostAddress(QStringLiteral("127.0.0.9")), &address, &netmask));
    QCOMPARE(address, QHostAddress(QStringLiteral("127.0.0.1")));
    QCOMPARE(netmask, QHostAddress(QStringLiteral("255.0.0.0")));
}

void TstSearchPlaces::portKinds_data()
{
    QTest::addColumn<QStringList>("port"); // name, description, manufacturer
    QTest::addColumn<QString>("kind");
    QTest::newRow("Bluetooth by description")
        << QStringList{"/dev/ttyACM0", "Standard Serial over Bluetooth link", "FTDI"} << "Bluetooth";
    QTest::newRow("rfcomm") << QStringList{"/dev/rfcomm0", "", ""} << "Bluetooth";
    QTest::newRow("FTDI adapter") << QStringList{"/dev/ttyUSB0", "FT232R USB UART", "FTDI"} << "FTDI";
    QTest::newRow("other adapter") << QStringList{"/dev/ttyUSB1", "USB Serial", "Prolific"} << "Prolific";
    QTest::newRow("built-in") << QStringList{"/dev/ttyS0", "", ""} << "Built-in";
    QTest::newRow("pseudo-terminal") << QStringList{"/dev/pts/4", "", ""} << "Serial port";
}

void TstSearchPlaces::portKinds()
{
    QFETCH(QStringList, port);
    QFETCH(QString, kind);
    QCOMPARE(SerialPorts::kind({port.at(0), port.at(1), port.at(2)}), kind);
}

void TstSearchPlaces::permissionProblem_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("inGroup");
    QTest::addColumn<unsigned>("uid"); // 0: root; 1: the file's owner
    QTest::addColumn<QString>("told"); // what the message proposes; empty: no message
    QTest::newRow("group's port, user outside it")
        << 0660 << false << 54321u << "sudo usermod -a -G {GROUP} tech";
    QTest::newRow("user in the group") << 0660 << true << 54321u << "";
    QTest::newRow("open to everyone") << 0666 << false << 54321u << "";
    QTest::newRow("owner") << 0600 << false << 1u << "";
    QTest::newRow("read-only for the group") << 0640 << true << 54321u << "only the administrator";
    QTest::newRow("root") << 0600 << false << 0u << "";
}

void TstSearchPlaces::permissionProblem()
{
    QFETCH(int, mode);
    QFETCH(bool, inGroup);
    QFETCH(unsigned, uid);
    QFETCH(QString, told);
    QTemporaryFile port;
    QVERIFY(port.open());
    QVERIFY(::chmod(port.fileName().toLocal8Bit().constData(), mode_t(mode)) == 0);
    const QFileInfo file(port.fileName());
    SerialPorts::PortUser user;
    user.uid = uid == 1 ? file.ownerId() : uid;
    user.name = QStringLiteral("tech");
    if (inGroup) {
        user.groups = {file.groupId()};
    }
    const QString problem = SerialPorts::permissionProblem(port.fileName(), user);
    QCOMPARE(problem.isEmpty(), told.isEmpty());
    QVERIFY2(problem.contains(told.replace(QStringLiteral("{GROUP}"), file.group())), qPrintable(problem));
    QVERIFY(told.isEmpty() || problem.contains(port.fileName()));
    QVERIFY(SerialPorts::permissionProblem(QStringLiteral("/nonexistent/ttyX"), user).isEmpty());
}

void TstSearchPlaces::pinger_data()
{
    QTest::addColumn<QString>("program"); // a stand-in for ping (empty: none), or "system"
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("result");
    // The stand-ins answer for 10.9.9.9 without sending anything; the system's ping only to loopback.
    const auto row = [](const char* name, const QString& program, const QString& address, int result) {
        QTest::newRow(name) << program << address << result;
    };
    row("a reply", "echo \"64 bytes from $6: icmp_seq=1 ttl=64\"", "10.9.9.9", Pinger::Answered);
    row("no reply", "exit 1", "10.9.9.9", Pinger::Silent);
    row("no route", "echo 'connect: Network is unreachable' >&2; exit 2", "10.9.9.9", Pinger::Unknown);
    row("no ping program", "", "10.9.9.9", Pinger::Unknown);
    row("not IPv4", "exit 0", "::1", Pinger::Unknown);
    row("system ping, loopback", "system", "127.0.0.1", Pinger::Answered);
}

void TstSearchPlaces::pinger()
{
    QFETCH(QString, program);
    QFETCH(QString, address);
    QFETCH(int, result);

    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    if (program != QLatin1String("system")) {
        QFile script(bin.filePath(QStringLiteral("ping")));
        QVERIFY(program.isEmpty() || (script.open(QIODevice::WriteOnly) &&
                                      script.write("#!/bin/sh\nprintf '%s\\n' \"$*\" > \"$0.args\"\n" +
                                                   program.toUtf8() + "\n") > 0));
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        qputenv("PATH", bin.path().toLocal8Bit());
    }
    SystemPinger pinger;
    QSignalSpy finished(&pinger, &Pinger::finished);
    pinger.ping(QHostAddress(address));
    QVERIFY(finished.wait(SystemPinger::BoundMs + 1000));
    qputenv("PATH", path);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).value<QHostAddress>(), QHostAddress(address));
    QCOMPARE(finished.first().at(1).toInt(), result);
    QFile args(bin.filePath(QStringLiteral("ping.args")));
    if (program.startsWith(QLatin1String("echo \"64"))) {
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(args.readAll(), QByteArray("-n -c 1 -W 1 10.9.9.9\n"));
    }
}

void TstSearchPlaces::macFromNeighbourTable_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QByteArray>("mac");

    const auto entry = [](const char* ip, const char* flags, const char* mac, const char* device) {
        return QByteArray(ip) + "       0x1         " + flags + "         " + mac + "     *   " + device +
               "\n";
    };
    const QByteArray header =
        "IP address       HW type     Flags       HW address            Mask     Device\n";
    const QByteArray pending = header + entry("10.231.0.3", "0x0", "00:00:00:00:00:00", "veth0");
    QTest::newRow("complete entry") << header + entry("10.231.0.2", "0x2", "BE:5e:88:72:43:fa", "veth0")
                                    << "10.231.0.2" << QByteArray("be-5e-88-72-43-fa");
    QTest::newRow("other address") << header + entry("10.231.0.20", "0x2", "be:5e:88:72:43:fa", "veth0")
                                   << "10.231.0.2" << QByteArray();
    QTest::newRow("resolution pending") << pending << "10.231.0.3" << QByteArray();
    QTest::newRow("second interface") << pending + entry("10.231.0.3", "0x2", "02:00:4d:56:00:01", "veth1")
                                      << "10.231.0.3" << QByteArray("02-00-4d-56-00-01");
    QTest::newRow("garbage") << QByteArray("10.231.0.2 0x1 0x2\n\n\x01\x02") << "10.231.0.2" << QByteArray();
}

void TstSearchPlaces::macFromNeighbourTable()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, ip);
    QFETCH(QByteArray, mac);
    QCOMPARE(ProcArpResolver::macFromTable(table, ip), mac);
}

QTEST_GUILESS_MAIN(TstSearchPlaces)
#include "tst_searchplaces.moc"
