// Whether a device can reach its network instrument, judged from the module's settings alone.
// The modules here are bound to an address that is not on this machine, so nothing is ever sent.
#include "device/cdevice.h"
#include "interface/cesp.h"
#include "interface/ctibbo.h"
#include "support/fakeinterface.h"

#include <QLoggingCategory>
#include <QThread>
#include <QtTest>

namespace {

// The computer at 192.168.1.20/24.
const QHostAddress Computer(QStringLiteral("192.168.1.20"));
constexpr quint32 ComputerMask = 0xffffff00;

struct Settings
{
    bool dhcp = false;
    bool obtained = true;
    QString address = QStringLiteral("192.168.1.50");
    int routing = CInterfaceModule::ROUTING_SERVER;
    QString remote = QStringLiteral("192.168.1.20");
    QString netmask = QStringLiteral("255.255.255.0");
    int protocol = CInterfaceModule::PROTOCOL_TCP;
};

CTibbo* moduleWith(const Settings& s, QObject* parent = nullptr)
{
    auto* module = new CTibbo(Computer, ComputerMask, "0.26.43.60.77.94", QHostAddress(s.address), parent);
    module->setPlannedSettings(s.dhcp, s.routing, QHostAddress(s.remote), QHostAddress(s.netmask),
                               s.protocol);
    module->setDhcpState(s.dhcp, s.obtained);
    return module;
}

} // namespace

Q_DECLARE_METATYPE(Settings)

class TstReachability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reasons_data();
    void reasons();
    void withoutModuleOrTransport();
    void plannedSettingsInAnotherModule();
    void moduleTravelsWithTheDevice();
};

void TstReachability::initTestCase()
{
    // The modules cannot bind to the made-up computer address; that is the point, so be quiet about it.
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.interface.warning=false"));
}

void TstReachability::reasons_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QList<int>>("expected");

    const Settings good;
    Settings s;
    QTest::newRow("server in the subnet") << good << QList<int>{};

    s = good;
    s.dhcp = true;
    s.obtained = false;
    QTest::newRow("no DHCP address") << s << QList<int>{REASON_NO_DHCP_ADDRESS};
    // Without an address nothing else of the IP layer is looked at, only the protocol.
    s.address = QStringLiteral("10.0.0.9");
    s.routing = CInterfaceModule::ROUTING_CLIENT;
    s.remote = QStringLiteral("10.0.0.1");
    s.protocol = CInterfaceModule::PROTOCOL_UDP;
    QTest::newRow("no DHCP address, UDP") << s << QList<int>{REASON_NO_DHCP_ADDRESS, REASON_WRONG_PROTOCOL};

    s = good;
    s.address = QStringLiteral("10.0.0.9");
    QTest::newRow("static server elsewhere") << s << QList<int>{REASON_ADDRESS_NOT_LOCAL};
    s.dhcp = true;
    QTest::newRow("leased server elsewhere") << s << QList<int>{REASON_DHCP_ADDRESS_NOT_LOCAL};
    s.protocol = CInterfaceModule::PROTOCOL_UDP;
    QTest::newRow("leased server elsewhere, UDP")
        << s << QList<int>{REASON_DHCP_ADDRESS_NOT_LOCAL, REASON_WRONG_PROTOCOL};
    // A server elsewhere is not judged by its remote address.
    s = good;
    s.remote = QStringLiteral("192.168.1.99");
    QTest::newRow("server with another remote") << s << QList<int>{};

    s = good;
    s.routing = CInterfaceModule::ROUTING_CLIENT;
    QTest::newRow("client in the subnet") << s << QList<int>{};
    s.netmask = QStringLiteral("255.255.255.192");
    s.address = QStringLiteral("192.168.1.130");
    QTest::newRow("client whose netmask hides the computer") << s << QList<int>{REASON_CANNOT_REACH_COMPUTER};
    s.dhcp = true;
    QTest::newRow("leased client whose netmask hides the computer")
        << s << QList<int>{REASON_DHCP_CANNOT_REACH_COMPUTER};
    s = good;
    s.routing = CInterfaceModule::ROUTING_CLIENT;
    s.address = QStringLiteral("192.168.2.5");
    s.netmask = QStringLiteral("255.255.0.0");
    QTest::newRow("client outside the computer's subnet") << s << QList<int>{REASON_CANNOT_REACH_COMPUTER};
    s = good;
    s.routing = CInterfaceModule::ROUTING_CLIENT;
    s.remote = QStringLiteral("192.168.1.21");
    QTest::newRow("client dialling another computer") << s << QList<int>{REASON_WRONG_REMOTE_IP};
    s.address = QStringLiteral("10.0.0.9");
    s.protocol = CInterfaceModule::PROTOCOL_UDP;
    QTest::newRow("client elsewhere, wrong remote, UDP")
        << s << QList<int>{REASON_CANNOT_REACH_COMPUTER, REASON_WRONG_REMOTE_IP, REASON_WRONG_PROTOCOL};
    s = good;
    s.routing = 0;
    s.remote = QString();
    QTest::newRow("unknown routing judged as client") << s << QList<int>{REASON_WRONG_REMOTE_IP};

    s = good;
    s.protocol = CInterfaceModule::PROTOCOL_UDP;
    QTest::newRow("UDP only") << s << QList<int>{REASON_WRONG_PROTOCOL};
}

void TstReachability::reasons()
{
    QFETCH(Settings, settings);
    QFETCH(QList<int>, expected);

    CDevice device;
    device.setLAN(QHostAddress(settings.address), 4001);
    device.setModule(moduleWith(settings));
    QCOMPARE(device.isReachable(), expected.isEmpty());
    QCOMPARE(device.unreachableReasons(), expected);
    QCOMPARE(device.reasonText(),
             expected.isEmpty() ? QStringLiteral("Everything good") : CDevice::reasonText(expected.first()));
}

void TstReachability::withoutModuleOrTransport()
{
    CDevice serial;
    QVERIFY(serial.isReachable());
    QCOMPARE(serial.reasonText(), QStringLiteral("Everything good"));
    QCOMPARE(serial.baudRate(), -1);

    // A module but no transport: unreachable, and the earlier reasons stay.
    CDevice bare;
    bare.setModule(moduleWith(Settings()));
    Settings udp;
    udp.protocol = CInterfaceModule::PROTOCOL_UDP;
    std::unique_ptr<CTibbo> planned(moduleWith(udp));
    QVERIFY(!bare.isReachable(planned.get()));
    QVERIFY(!bare.isReachable());
    QCOMPARE(bare.unreachableReasons(), QList<int>{REASON_WRONG_PROTOCOL});

    QCOMPARE(CDevice::reasonText(REASON_WRONG_PROTOCOL),
             QStringLiteral("Device not reachable (wrong transport protocol setting)"));
    QCOMPARE(CDevice::reasonText(8), QStringLiteral("Unknown reason"));
    // Without a serial transport the rate is the module's.
    QCOMPARE(bare.baudRate(), 115200);
}

void TstReachability::plannedSettingsInAnotherModule()
{
    CDevice device;
    device.setLAN(Computer, 4001);
    device.setModule(moduleWith(Settings()));
    QVERIFY(device.isReachable());

    Settings planned;
    planned.routing = CInterfaceModule::ROUTING_CLIENT;
    planned.remote = QStringLiteral("192.168.1.30");
    std::unique_ptr<CTibbo> temporary(moduleWith(planned));
    QVERIFY(!device.isReachable(temporary.get()));
    QCOMPARE(device.unreachableReasons(), QList<int>{REASON_WRONG_REMOTE_IP});
    QVERIFY(device.isReachable(nullptr));
    // The device's own module is judged again by the plain check.
    QVERIFY(device.isReachable());
    QCOMPARE(device.unreachableReasons(), QList<int>{});
}

void TstReachability::moduleTravelsWithTheDevice()
{
    auto* device = new CDevice;
    device->setLAN(Computer, 4001);
    CTibbo* module = moduleWith(Settings());
    device->setModule(module);
    QCOMPARE(module->parent(), device);

    // A clone has a module of its own with the same settings.
    std::unique_ptr<CDevice> copy(device->clone(nullptr));
    QVERIFY(copy->module());
    QVERIFY(copy->module() != module);
    QCOMPARE(copy->module()->parent(), copy.get());
    QCOMPARE(copy->module()->moduleType(), int(CInterfaceModule::MODULE_TIBBO));
    QCOMPARE(copy->module()->moduleAddress(), module->moduleAddress());
    QCOMPARE(copy->module()->routingMode(), module->routingMode());

    // Detached, moved to another thread with the device, attached again there.
    device->setParent(nullptr);
    QObject holder;
    device->setParent(&holder);
    QCOMPARE(module->parent(), device);
    device->setParent(nullptr);
    QCOMPARE(module->parent(), nullptr);
    QThread worker;
    worker.start();
    device->moveToThread(&worker);
    QCOMPARE(module->thread(), &worker);
    QCOMPARE(device->interface()->thread(), &worker);
    QMetaObject::invokeMethod(
        device, [device] { delete device; }, Qt::BlockingQueuedConnection);
    worker.quit();
    QVERIFY(worker.wait(5000));
    Q_UNUSED(holder)
}

QTEST_GUILESS_MAIN(TstReachability)
#include "tst_reachability.moc"
