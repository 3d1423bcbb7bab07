// Connecting a found or a known instrument: the search controller in front of a search in its worker
// thread, the repair of an unreachable network instrument with a scripted user, and the direct
// connection. Network cases run inside the test namespaces with mervik-sim's modules.
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cinterfacemodule.h"
#include "platform/addressresolver.h"
#include "platform/queuedcall.h"
#include "search/csearching.h"
#include "search/directconnecter.h"
#include "search/repairprompt.h"
#include "search/searchcontroller.h"
#include "support/simprocess.h"
#include "support/testnetns.h"

#include <QtTest>

namespace {

// The user, as a script: accepts or declines the proposal with the given commands.
class ScriptedPrompt : public RepairPrompt
{
public:
    bool proposeSettings(CDevice*, QList<int>* c, QList<QVariant>* a) override
    {
        ++proposals;
        *c = commands;
        *a = arguments;
        return accept;
    }
    void showProgress(const QString&) override { ++progressShown; }
    void closeProgress() override { ++closed; }

    bool accept = false;
    QList<int> commands;
    QList<QVariant> arguments;
    int proposals = 0;
    int progressShown = 0;
    int closed = 0;
};

// The neighbour table as it stands once the computer has talked to the module.
class KnownNeighbour : public AddressResolver
{
public:
    QByteArray macForIp(const QString& ip) override { return ip == address ? mac : QByteArray(); }
    QString address;
    QByteArray mac;
};

// The device the connecter reports, or -1 if it reports none in time. Its result is queued to a receiver in
// the test's thread: a QSignalSpy records in the emitting thread, where it would race the test reading it.
CDevice* connectTo(DirectConnecter& connecter, void (DirectConnecter::*slot)(QString, int),
                   const QString& place, int number)
{
    CDevice* const none = reinterpret_cast<CDevice*>(-1);
    CDevice* device = none;
    QObject receiver;
    QObject::connect(&connecter, &DirectConnecter::result, &receiver,
                     [&device](CDevice* found) { device = found; });
    // Through the event queue, as the device page calls it: the slot runs in the connecter's thread.
    queueCall(&connecter, [&connecter, slot, place, number] { (connecter.*slot)(place, number); });
    return QTest::qWaitFor([&device, none] { return device != none; }, 20000) ? device : none;
}

// A controller that lets go of a found device before the search that owns it goes.
class Controller : public SearchController
{
public:
    ~Controller() override
    {
        disconnectCurrentDevice();
        CDeviceController::instance()->setCurrentDevice(nullptr);
    }
    bool search(int networkWaitMs)
    {
        searching()->setNetworkWait(networkWaitMs);
        QSignalSpy finished(this, &SearchController::searchFinished);
        startSearching();
        return finished.wait(20000);
    }
};

} // namespace

class TstSearchController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void togglesAFoundDevice();
    void repairsAnUnreachableModule();
    void connectsToAPlace_data();
    void connectsToAPlace();

private:
    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
};

void TstSearchController::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings().remove(QStringLiteral("AutoConnect"));
    // The controllers' threads are made in the tests, after this thread entered the namespace.
    m_netns.enter();
}

void TstSearchController::init()
{
    // Whatever a test forgets, nothing here touches the machine's own ports or interfaces.
    qputenv("MERVIK_SERIAL_PORTS", "");
    qputenv("MERVIK_SEARCH_INTERFACES", "");
}

void TstSearchController::cleanup()
{
    CDevice* device = CDeviceController::currentDevice();
    CDeviceController::instance()->setCurrentDevice(nullptr);
    if (device && !device->parent()) {
        device->disconnectDevice();
        delete device;
    }
    AddressResolver::setInstance(nullptr);
}

void TstSearchController::togglesAFoundDevice()
{
    SimProcess sim;
    const QString port = sim.startPty({"--model", "PS 750.X2", "--serial", "4711"});
    QVERIFY(!port.isEmpty());
    qputenv("MERVIK_SERIAL_PORTS", port.toLocal8Bit());

    Controller controller;
    QSignalSpy found(&controller, &SearchController::newDevice);
    QVERIFY(controller.search(100));
    QCOMPARE(found.count(), 1);
    CDevice* device = controller.device(0);
    QCOMPARE(controller.indexOf(device), 0);
    QCOMPARE(device->serialNumber(), QStringLiteral("4711"));

    controller.toggleConnection(0);
    QTRY_COMPARE(device->state(), int(STATE_CONNECTED));
    QCOMPARE(CDeviceController::currentDevice(), device);
    controller.toggleConnection(0);
    QTRY_COMPARE(device->state(), int(STATE_DISCONNECTED));

    // A new search first lets go of the connected instrument.
    controller.toggleConnection(0);
    QTRY_COMPARE(device->state(), int(STATE_CONNECTED));
    QVERIFY(controller.disconnectCurrentDevice());
    QCOMPARE(CDeviceController::currentDevice(), nullptr);
    QVERIFY(!controller.disconnectCurrentDevice());
}

void TstSearchController::repairsAnUnreachableModule()
{
    REQUIRE_NETNS(m_netns);
    const QString address = m_netns.value(QStringLiteral("B_ADDR"));
    // Set to an address outside the computer's subnet: not reachable until it moves into it.
    SimProcess sim;
    QVERIFY(m_netns.startSim(sim, {"--module", "tibbo", "--module-address", m_netns.value("B_FAR_ADDR"),
                                   "--module-mac", "02:00:4d:56:02:01", "--module-port", "4201",
                                   "--module-reboot-ms", "300", "--model", "T-FIX", "--verbose"}));
    QVERIFY(!sim.waitForLine("ROLE ").isEmpty());
    qputenv("MERVIK_SEARCH_INTERFACES", "veth0");

    Controller controller;
    ScriptedPrompt prompt;
    prompt.commands = {CInterfaceModule::COMMAND_SET_DHCP, CInterfaceModule::COMMAND_SET_IP};
    prompt.arguments = {false, address};
    controller.setRepairPrompt(&prompt);
    QVERIFY(controller.search(1500));
    CDevice* device = controller.device(0);
    QVERIFY(device);
    QCOMPARE(device->unreachableReasons().size(), 1);

    // Declined: nothing changes.
    controller.toggleConnection(0);
    QTRY_COMPARE(prompt.proposals, 1);
    QCOMPARE(prompt.progressShown, 0);
    QCOMPARE(device->state(), int(STATE_DISCONNECTED));

    // Accepted: applied, the module restarted, connected.
    prompt.accept = true;
    controller.toggleConnection(0);
    QTRY_COMPARE(prompt.proposals, 2);
    QTRY_COMPARE_WITH_TIMEOUT(device->state(), int(STATE_CONNECTED), 20000);
    // Read once the device reports Connected.
    QTRY_COMPARE(device->model(), QStringLiteral("T-FIX"));
    QCOMPARE(device->module()->ip().toString(), address);
    QCOMPARE(prompt.progressShown, 1);
    QCOMPARE(prompt.closed, 1);
    // The module took the new settings, and its TCP side started again at its new address.
    QCOMPARE(sim.waitForLine("ROLE "), "ROLE server " + address.toLatin1() + ":4201");
    const QByteArray traffic = sim.process.readAllStandardError();
    QVERIFY2(traffic.contains("DH0") && traffic.contains("IP" + address.toLatin1()), traffic.constData());
}

void TstSearchController::connectsToAPlace_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<int>("baud"); // 0: over TCP
    QTest::addColumn<bool>("named");
    QTest::newRow("serial 115200") << QStringList{"--pty"} << 115200 << true;
    QTest::newRow("serial port not in the list") << QStringList{"--pty"} << 9600 << false;
    QTest::newRow("TCP through a module")
        << QStringList{"--module", "tibbo", "--module-port", "4202"} << 0 << true;
}

void TstSearchController::connectsToAPlace()
{
    QFETCH(QStringList, simOptions);
    QFETCH(int, baud);
    QFETCH(bool, named);

    SimProcess sim;
    const bool module = simOptions.contains(QStringLiteral("--module"));
    KnownNeighbour neighbour;
    QString place;
    if (module) {
        REQUIRE_NETNS(m_netns);
        neighbour.address = m_netns.value(QStringLiteral("B_ADDR"));
        neighbour.mac = m_netns.arpMac(QStringLiteral("B_MAC"));
        AddressResolver::setInstance(&neighbour);
        QVERIFY(m_netns.startSim(sim, simOptions + QStringList{"--model", "PS 750.X2", "--module-address",
                                                               neighbour.address, "--module-mac",
                                                               m_netns.value(QStringLiteral("B_MAC"))}));
        QVERIFY(!sim.waitForLine("ROLE ").isEmpty());
        place = neighbour.address + QStringLiteral(":4202");
    } else {
        QVERIFY(sim.start(simOptions + QStringList{"--model", "PS 750.X2"}));
        place = sim.port();
    }
    qputenv("MERVIK_SERIAL_PORTS", named ? place.toUtf8() : QByteArray("/tmp/no-such-port"));
    DirectConnecter connecter(QThread::currentThread());
    CDevice* device =
        baud > 0 ? connectTo(connecter, &DirectConnecter::connectToCom, place, baud)
                 : connectTo(connecter, &DirectConnecter::connectToEth, place.section(QLatin1Char(':'), 0, 0),
                             place.section(QLatin1Char(':'), 1).toInt());
    QVERIFY(device != reinterpret_cast<CDevice*>(-1));
    if (!named) {
        QCOMPARE(device, nullptr);
        return;
    }
    QVERIFY(device);
    QCOMPARE(device->thread(), QThread::currentThread());
    QCOMPARE(device->model(), QStringLiteral("PS 750.X2"));
    // Through a module, its settings were read on the way.
    QCOMPARE(device->module() ? device->module()->port() : 0, module ? 4202 : 0);
    QTRY_COMPARE(CDeviceController::currentDevice(), device);
    QTRY_COMPARE(device->state(), int(STATE_CONNECTED));
    QVERIFY(device->checkConnection());
}

QTEST_GUILESS_MAIN(TstSearchController)
#include "tst_searchcontroller.moc"
