#include "platform/searchinterfaces.h"
#include "platform/serialports.h"

#include <QtTest>

namespace {

// The names of the ports a search may open.
QStringList available()
{
    QStringList list;
    for (const SerialPortEntry& port : SerialPorts::available()) {
        list << port.name;
    }
    return list;
}

} // namespace

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
