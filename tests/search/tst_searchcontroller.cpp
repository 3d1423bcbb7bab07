#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "search/csearching.h"
#include "search/searchcontroller.h"
#include "support/childprocess.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

// The search controller in front of a search in its worker thread: a found instrument is
// connected and disconnected in place and becomes the current device.
class TstSearchController : public QObject
{
    Q_OBJECT
private slots:
    void togglesAFoundDevice();
};

void TstSearchController::togglesAFoundDevice()
{
    QStandardPaths::setTestModeEnabled(true);
    // No interface is searched: nothing leaves this machine.
    qputenv("MERVIK_SEARCH_INTERFACES", "");
    ChildProcess sim;
    sim.process.start(QStringLiteral(MERVIK_SIM_PATH),
                      {"--pty", "--max-seconds", "60", "--model", "PS 750.X2", "--serial", "4711"});
    const QString port = QString::fromUtf8(sim.waitForLine("PTY ").mid(4));
    QVERIFY(!port.isEmpty());
    qputenv("MERVIK_SERIAL_PORTS", port.toLocal8Bit());

    SearchController controller;
    controller.searching()->setNetworkWait(100);
    QSignalSpy found(&controller, &SearchController::newDevice);
    QSignalSpy finished(&controller, &SearchController::searchFinished);
    controller.startSearching();
    QVERIFY(finished.wait(20000));
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

QTEST_GUILESS_MAIN(TstSearchController)
#include "tst_searchcontroller.moc"
