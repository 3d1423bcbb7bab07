#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "search/directconnecter.h"
#include "support/childprocess.h"

#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CDevice*)

namespace {
// mervik-sim serving on a pseudo-terminal or on a loopback TCP port; it ends with the test.
bool startSim(ChildProcess& sim, const QStringList& options, QString* place)
{
    sim.process.start(QStringLiteral(MERVIK_SIM_PATH),
                      QStringList{QStringLiteral("--max-seconds"), QStringLiteral("60"),
                                  QStringLiteral("--model"), QStringLiteral("PS 750.X2")} +
                          options);
    const QByteArray line =
        sim.waitForLine(options.contains(QStringLiteral("--tcp-server")) ? "TCP " : "PTY ");
    *place = QString::fromUtf8(line.mid(4));
    return !place->isEmpty();
}
} // namespace

// Connecting to a known place: the device answers, moves into the device thread, becomes current
// and connects there; the automatic connection is stored and made at start.
class TstDirectConnecter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void connectsToAPlace_data();
    void connectsToAPlace();
    void automaticConnection();

private:
    CDevice* connectTo(DirectConnecter& connecter, const char* slot, const QString& place, int number);
};

void TstDirectConnecter::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qRegisterMetaType<CDevice*>();
    QSettings().remove(QStringLiteral("AutoConnect"));
}

void TstDirectConnecter::cleanup()
{
    CDevice* device = CDeviceController::currentDevice();
    CDeviceController::instance()->setCurrentDevice(nullptr);
    if (device) {
        device->disconnectDevice();
        delete device;
    }
    qunsetenv("MERVIK_SERIAL_PORTS");
}

CDevice* TstDirectConnecter::connectTo(DirectConnecter& connecter, const char* slot, const QString& place,
                                       int number)
{
    QSignalSpy result(&connecter, &DirectConnecter::result);
    // Through the event queue, as the device page calls it: the slot runs in the connecter's thread.
    QMetaObject::invokeMethod(&connecter, slot, Qt::QueuedConnection, Q_ARG(QString, place),
                              Q_ARG(int, number));
    if (!result.wait(20000)) {
        return reinterpret_cast<CDevice*>(-1);
    }
    return result.first().first().value<CDevice*>();
}

void TstDirectConnecter::connectsToAPlace_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("named");
    QTest::newRow("serial 115200") << QStringList{"--pty"} << 115200 << true;
    QTest::newRow("serial port not in the list") << QStringList{"--pty"} << 9600 << false;
    // No module answers on loopback: the instrument is judged by its echo and identity.
    QTest::newRow("TCP without a module") << QStringList{"--tcp-server", "127.0.0.1:0"} << 0 << true;
}

void TstDirectConnecter::connectsToAPlace()
{
    QFETCH(QStringList, simOptions);
    QFETCH(int, baud);
    QFETCH(bool, named);

    ChildProcess sim;
    QString place;
    QVERIFY(startSim(sim, simOptions, &place));
    qputenv("MERVIK_SERIAL_PORTS", named ? place.toUtf8() : QByteArray("/tmp/no-such-port"));
    DirectConnecter connecter(QThread::currentThread());
    CDevice* device = baud > 0 ? connectTo(connecter, "connectToCom", place, baud)
                               : connectTo(connecter, "connectToEth", place.section(QLatin1Char(':'), 0, 0),
                                           place.section(QLatin1Char(':'), 1).toInt());
    QVERIFY(device != reinterpret_cast<CDevice*>(-1));
    if (!named) {
        QCOMPARE(device, nullptr);
        return;
    }
    QVERIFY(device);
    QCOMPARE(device->thread(), QThread::currentThread());
    QCOMPARE(device->parent(), nullptr);
    QCOMPARE(device->model(), QStringLiteral("PS 750.X2"));
    QTRY_COMPARE(CDeviceController::currentDevice(), device);
    QTRY_COMPARE(device->state(), int(STATE_CONNECTED));
    QVERIFY(device->checkConnection());
}

void TstDirectConnecter::automaticConnection()
{
    ChildProcess sim;
    QString port;
    QVERIFY(startSim(sim, {QStringLiteral("--pty")}, &port));
    qputenv("MERVIK_SERIAL_PORTS", port.toUtf8());
    DirectConnecter connecter(QThread::currentThread());
    QSettings settings;

    // Only stored here: nothing is sent to this address.
    connecter.autoConnect(QStringLiteral("192.168.1.10"), 1001);
    QCOMPARE(settings.value(QStringLiteral("AutoConnect/COM")).toString(), QStringLiteral("0"));
    QCOMPARE(settings.value(QStringLiteral("AutoConnect/Address")).toString(),
             QStringLiteral("192.168.1.10"));
    connecter.disableAutoConnect();
    QCOMPARE(settings.value(QStringLiteral("AutoConnect/Enabled")).toString(), QStringLiteral("0"));
    QVERIFY(!connecter.checkAuto());

    connecter.autoConnect(port, 9600);
    QCOMPARE(settings.value(QStringLiteral("AutoConnect/Enabled")).toString(), QStringLiteral("1"));
    QCOMPARE(settings.value(QStringLiteral("AutoConnect/COM")).toString(), QStringLiteral("1"));
    QCOMPARE(settings.value(QStringLiteral("AutoConnect/Port")).toString(), QStringLiteral("9600"));
    QSignalSpy states(&connecter, &DirectConnecter::connectingState);
    QSignalSpy result(&connecter, &DirectConnecter::result);
    QMetaObject::invokeMethod(&connecter, "checkAuto", Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 2, 20000);
    QCOMPARE(states.at(0).at(0).toBool(), true);
    QCOMPARE(result.count(), 1);
    QVERIFY(result.first().first().value<CDevice*>());
    QTRY_COMPARE(CDeviceController::currentDevice(), result.first().first().value<CDevice*>());
}

QTEST_GUILESS_MAIN(TstDirectConnecter)
#include "tst_directconnecter.moc"
