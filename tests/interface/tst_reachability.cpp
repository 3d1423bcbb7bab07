// Whether a device can reach its network instrument, judged from the module's settings alone.
// The modules here are bound to an address that is not on this machine, so nothing is ever sent.
#include "device/cdevice.h"
#include "interface/cinterface.h"
#include "interface/ctibbo.h"
#include "support/recordfields.h"

#include <QLoggingCategory>
#include <QThread>
#include <QtTest>

namespace {

// The computer at 192.168.1.20/24; by default a static server at 192.168.1.50/24 over TCP.
const QHostAddress Computer(QStringLiteral("192.168.1.20"));

// A module with some settings changed: "dhcp=1 routing=2".
CTibbo* moduleWith(const QString& changes = QString())
{
    QMap<QString, QString> s;
    const QString settings = withFields("dhcp=0 obtained=1 address=192.168.1.50 routing=1 "
                                        "remote=192.168.1.20 netmask=255.255.255.0 protocol=1",
                                        changes);
    for (const QString& field : settings.split(QLatin1Char(' '))) {
        s.insert(field.section(QLatin1Char('='), 0, 0), field.section(QLatin1Char('='), 1));
    }
    auto* module = new CTibbo(Computer, 0xffffff00, "0.26.43.60.77.94", QHostAddress(s["address"]));
    module->setPlannedSettings(s["dhcp"] == "1", s["routing"].toInt(), QHostAddress(s["remote"]),
                               QHostAddress(s["netmask"]), s["protocol"].toInt());
    module->setDhcpState(s["dhcp"] == "1", s["obtained"] == "1");
    return module;
}

} // namespace

class TstReachability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reasons_data();
    void reasons();
    void withoutTransport();
    void moduleTravelsWithTheDevice();
};

void TstReachability::initTestCase()
{
    // The modules cannot bind to the made-up computer address; that is the point, so be quiet about it.
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.interface.warning=false"));
}

void TstReachability::reasons_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("server in the subnet") << "" << QList<int>{};
    // Without an address nothing else of the IP layer is looked at, only the protocol.
    QTest::newRow("no DHCP address, UDP") << "dhcp=1 obtained=0 address=10.0.0.9 routing=2 protocol=2"
                                          << QList<int>{REASON_NO_DHCP_ADDRESS, REASON_WRONG_PROTOCOL};
    QTest::newRow("static server elsewhere") << "address=10.0.0.9" << QList<int>{REASON_ADDRESS_NOT_LOCAL};
    QTest::newRow("leased server elsewhere, UDP")
        << "dhcp=1 address=10.0.0.9 protocol=2"
        << QList<int>{REASON_DHCP_ADDRESS_NOT_LOCAL, REASON_WRONG_PROTOCOL};
    // A server is not judged by its remote address.
    QTest::newRow("server with another remote") << "remote=192.168.1.99" << QList<int>{};
    QTest::newRow("client in the subnet") << "routing=2" << QList<int>{};
    QTest::newRow("client whose netmask hides the computer")
        << "routing=2 address=192.168.1.130 netmask=255.255.255.192"
        << QList<int>{REASON_CANNOT_REACH_COMPUTER};
    QTest::newRow("leased client whose netmask hides the computer")
        << "dhcp=1 routing=2 address=192.168.1.130 netmask=255.255.255.192"
        << QList<int>{REASON_DHCP_CANNOT_REACH_COMPUTER};
    QTest::newRow("client outside the computer's subnet")
        << "routing=2 address=192.168.2.5 netmask=255.255.0.0" << QList<int>{REASON_CANNOT_REACH_COMPUTER};
    QTest::newRow("client dialling another computer")
        << "routing=2 remote=192.168.1.21" << QList<int>{REASON_WRONG_REMOTE_IP};
    QTest::newRow("client elsewhere, wrong remote, UDP")
        << "routing=2 address=10.0.0.9 remote=192.168.1.21 protocol=2"
        << QList<int>{REASON_CANNOT_REACH_COMPUTER, REASON_WRONG_REMOTE_IP, REASON_WRONG_PROTOCOL};
    QTest::newRow("UDP only") << "protocol=2" << QList<int>{REASON_WRONG_PROTOCOL};
    QTest::newRow("unknown routing judged as client")
        << "routing=0 remote=" << QList<int>{REASON_WRONG_REMOTE_IP};
}

void TstReachability::reasons()
{
    QFETCH(QString, settings);
    QFETCH(QList<int>, expected);

    CDevice device;
    device.setLAN(Computer, 4001);
    device.setModule(moduleWith(settings));
    QCOMPARE(device.isReachable(), expected.isEmpty());
    QCOMPARE(device.unreachableReasons(), expected);
    QCOMPARE(device.reasonText(),
             expected.isEmpty() ? QStringLiteral("Everything good") : CDevice::reasonText(expected.first()));
    // Planned settings in another module are judged in its place.
    const std::unique_ptr<CTibbo> planned(moduleWith());
    QVERIFY(device.isReachable(planned.get()));
    QCOMPARE(device.unreachableReasons(), QList<int>{});
}

void TstReachability::withoutTransport()
{
    // A module but no transport: unreachable, and the earlier reasons stay.
    CDevice bare;
    bare.setModule(moduleWith());
    const std::unique_ptr<CTibbo> plannedUdp(moduleWith("protocol=2"));
    QVERIFY(!bare.isReachable(plannedUdp.get()));
    QVERIFY(!bare.isReachable());
    QCOMPARE(bare.unreachableReasons(), QList<int>{REASON_WRONG_PROTOCOL});
    QVERIFY(bare.isReachable(nullptr));
    // Without a serial transport the rate is the module's.
    QCOMPARE(bare.baudRate(), 115200);
}

void TstReachability::moduleTravelsWithTheDevice()
{
    auto* device = new CDevice;
    device->setLAN(Computer, 4001);
    CTibbo* module = moduleWith();
    device->setModule(module);
    QCOMPARE(module->parent(), device);

    // A clone has a module of its own.
    std::unique_ptr<CDevice> copy(device->clone(nullptr));
    QVERIFY(copy->module() && copy->module() != module);
    QCOMPARE(copy->module()->parent(), copy.get());
    QCOMPARE(copy->module()->moduleAddress(), module->moduleAddress());

    // Detached and moved to another thread, the device takes its module and transport along.
    device->setParent(nullptr);
    QThread worker;
    worker.start();
    device->moveToThread(&worker);
    QCOMPARE(module->thread(), &worker);
    QCOMPARE(device->interface()->thread(), &worker);
    QMetaObject::invokeMethod(
        device, [device] { delete device; }, Qt::BlockingQueuedConnection);
    worker.quit();
    QVERIFY(worker.wait(5000));
}

QTEST_GUILESS_MAIN(TstReachability)
#include "tst_reachability.moc"
