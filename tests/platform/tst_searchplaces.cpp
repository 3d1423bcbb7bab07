#include "platform/searchinterfaces.h"
#include "platform/serialports.h"

#include <QtTest>

// Where a search may look: the serial ports it may open and the network interfaces it may use.
class TstSearchPlaces : public QObject
{
    Q_OBJECT
private slots:
    void namedPortsReplaceTheSystemList();
    void portKinds_data();
    void portKinds();
    void chosenInterfacesAndRoute();
};

void TstSearchPlaces::namedPortsReplaceTheSystemList()
{
    qputenv("MERVIK_SERIAL_PORTS", "/tmp/pts-a::/tmp/pts-b");
    qputenv("MERVIK_EXTRA_SERIAL_PORTS", "/tmp/extra");
    QList<SerialPortEntry> ports = SerialPorts::available();
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports.at(0).name, QStringLiteral("/tmp/pts-a"));
    QCOMPARE(ports.at(1).name, QStringLiteral("/tmp/pts-b"));
    QVERIFY(SerialPorts::find(QStringLiteral("/tmp/pts-b")));
    QVERIFY(!SerialPorts::find(QStringLiteral("/tmp/extra")));

    // Without the replacement the extra paths follow the system's ports, each once.
    qunsetenv("MERVIK_SERIAL_PORTS");
    qputenv("MERVIK_EXTRA_SERIAL_PORTS", "/tmp/extra:/tmp/extra");
    ports = SerialPorts::available();
    QVERIFY(!ports.isEmpty());
    QCOMPARE(ports.last().name, QStringLiteral("/tmp/extra"));
    int extras = 0;
    for (const SerialPortEntry& port : ports) {
        extras += port.name == QLatin1String("/tmp/extra") ? 1 : 0;
    }
    QCOMPARE(extras, 1);
    qunsetenv("MERVIK_EXTRA_SERIAL_PORTS");
}

void TstSearchPlaces::portKinds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("kind");
    QTest::newRow("Bluetooth by description") << "/dev/ttyACM0"
                                              << "Standard Serial over Bluetooth link"
                                              << "FTDI"
                                              << "Bluetooth";
    QTest::newRow("rfcomm") << "/dev/rfcomm0"
                            << ""
                            << ""
                            << "Bluetooth";
    QTest::newRow("FTDI adapter") << "/dev/ttyUSB0"
                                  << "FT232R USB UART"
                                  << "FTDI"
                                  << "FTDI";
    QTest::newRow("other adapter") << "/dev/ttyUSB1"
                                   << "USB Serial"
                                   << "Prolific"
                                   << "Prolific";
    QTest::newRow("built-in") << "/dev/ttyS0"
                              << ""
                              << ""
                              << "Built-in";
    QTest::newRow("pseudo-terminal") << "/dev/pts/4"
                                     << ""
                                     << ""
                                     << "Serial port";
}

void TstSearchPlaces::portKinds()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, manufacturer);
    QFETCH(QString, kind);
    QCOMPARE(SerialPorts::kind({name, description, manufacturer}), kind);
}

void TstSearchPlaces::chosenInterfacesAndRoute()
{
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

QTEST_GUILESS_MAIN(TstSearchPlaces)
#include "tst_searchplaces.moc"
