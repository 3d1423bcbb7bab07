#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "log/centralforwarder.h"
#include "search/searchcontroller.h"
#include "support/ptypair.h"
#include "support/scripteddevice.h"
#include "support/widgetuser.h"
#include "ui/devicewidget.h"
#include "ui/pelmprogressdialog.h"
#include "ui/settings/settingscontroller.h"

#include "siminstrument.h"
#include "simpty.h"
#include "simtcpserver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// The search as the page sees it: the test announces the devices; connecting one connects it in place.
class ScriptedSearch : public SearchController
{
public:
    void startSearching() override { ++starts; }
    void stopAndWait() override {}
    bool disconnectCurrentDevice() override { return false; }
    CDevice* device(int index) const override { return devices.value(index); }
    int indexOf(CDevice* dev) const override { return devices.indexOf(dev); }
    void toggleConnection(int index) override
    {
        CDevice* dev = devices.value(index);
        if (dev->state() != STATE_DISCONNECTED) {
            dev->disconnectDevice();
            return;
        }
        CDeviceController::instance()->setCurrentDevice(dev);
        dev->connectDevice(true);
    }

    void announce(CDevice* dev)
    {
        devices << dev;
        emit newDevice(dev);
    }

    QList<CDevice*> devices;
    int starts = 0;
};

QString autoConnectSetting(const char* key)
{
    return QSettings().value(QStringLiteral("AutoConnect/") + QLatin1String(key)).toString();
}

// Enabled, COM, Address, Port; written by the direct connecter in its own thread.
QStringList autoConnectTarget()
{
    QStringList settings;
    for (const char* key : {"Enabled", "COM", "Address", "Port"}) {
        settings << autoConnectSetting(key);
    }
    return settings;
}

} // namespace

// The device page with a scripted search, and against the simulated instrument for the direct
// connection and the automatic connection at start.
class TstDevicePage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        DeviceTypes::registerMetaTypes();
        // Made before any device is chosen, as at start-up, so that it follows the chosen one.
        CBalanceController::instance();
        m_pty = std::make_unique<SimPty>();
        QString error;
        if (!m_pty->open(&error)) {
            QSKIP(qPrintable(QStringLiteral("pseudo-terminals are not available here: ") + error));
        }
        m_instrument.setWeight(12.5);
        m_instrument.setDecimals(2);
        m_instrument.setUnit("kg");
        connect(m_pty.get(), &SimPty::received, &m_instrument, &SimInstrument::feed);
        connect(&m_instrument, &SimInstrument::output, m_pty.get(), &SimPty::write);
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &SimTcpServer::received, &m_instrument, &SimInstrument::feed);
        connect(&m_instrument, &SimInstrument::output, &m_server, &SimTcpServer::write);
        // The only serial ports the page may open.
        QVERIFY(m_silent.isValid());
        qputenv("MERVIK_SERIAL_PORTS",
                (m_pty->slavePath() + QLatin1Char(':') + m_silent.slavePath()).toLocal8Bit());
    }
    void init()
    {
        QSettings().remove(QStringLiteral("AutoConnect"));
        SettingsController::instance()->autoConnect.setState(false);
    }
    void cleanup()
    {
        if (CDevice* current = CDeviceController::currentDevice()) {
            current->disconnectDevice();
        }
        CDeviceController::instance()->setCurrentDevice(nullptr);
        m_page.reset();
    }
    void findView()
    {
        makePage();
        auto* start = child<QPushButton>("startSearchingButton");
        auto* connectButton = child<QPushButton>("connectButton");
        auto* table = child<QTableWidget>("tableDevices");
        QSignalSpy stops(m_search, &SearchController::stopSearching);

        // Start, Stop, Stopping...; a click while stopping is ignored; the end of the search resets it.
        QStringList texts;
        for (int click = 0; click < 3; ++click) {
            start->click();
            texts << start->text();
        }
        QCOMPARE(texts, (QStringList{"Stop", "Stopping...", "Stopping..."}));
        QCOMPARE(stops.count(), 1);
        QCOMPARE(m_search->starts, 1);
        emit m_search->newLog(QStringLiteral("COM probe\n"));
        const QString summary =
            QStringLiteral("No instrument found. Searched serial ports: none; network interfaces: none.");
        emit m_search->summary(summary);
        emit m_search->searchFinished();
        QCOMPARE(child<QLabel>("searchStateLabel")->text(), summary);
        QCOMPARE(start->text(), QStringLiteral("Start"));
        QCOMPARE(child<QProgressBar>("progressBar")->value(), 100);
        QCOMPARE(child<QPlainTextEdit>("deviceLogText")->toPlainText(), QStringLiteral("COM probe"));

        ScriptedDevice good;
        ScriptedDevice refusing;
        ScriptedDevice unreachable;
        refusing.fake->setOpenResult(false);
        unreachable.m_unreachableReasons = {REASON_WRONG_PROTOCOL};
        for (CDevice* dev : {&good, &refusing, &unreachable}) {
            m_search->announce(dev);
        }
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(0, DeviceWidget::StatusColumn)->text(), QString());
        QCOMPARE(table->item(2, DeviceWidget::StatusColumn)->text(), QStringLiteral("Not reachable!"));
        QCOMPARE(table->item(0, DeviceWidget::InterfaceColumn)->text(), good.interfaceDescription());

        // The first find is chosen; connecting it: the row and the button follow the device, the identity
        // fills the row.
        QCOMPARE(table->currentRow(), 0);
        QSignalSpy feed(m_page.get(), &DeviceWidget::setDataFeed);
        QCOMPARE(connectAndWait(), QStringLiteral("Connected"));
        QCOMPARE(feed.count(), 1);
        QCOMPARE(table->item(0, DeviceWidget::StatusColumn)->text(), QStringLiteral("Connected"));
        QTRY_COMPARE(table->item(0, DeviceWidget::ModelColumn)->text(), QStringLiteral("PS 750.X2"));
        QCOMPARE(table->item(0, DeviceWidget::FirmwareColumn)->text(), QStringLiteral("1.04.7"));
        QCOMPARE(connectButton->text(), QStringLiteral("Disconnect"));
        // Connected with the box unchecked: nothing is connected by itself at the next start.
        QTRY_COMPARE(autoConnectSetting("Enabled"), QStringLiteral("0"));

        connectButton->click();
        QTRY_COMPARE(table->item(0, DeviceWidget::StatusColumn)->text(), QStringLiteral("Disconnected"));
        QCOMPARE(connectButton->text(), QStringLiteral("Connect"));
        QVERIFY(!QApplication::activeModalWidget());

        // A device whose port cannot be opened.
        table->selectRow(1);
        QCOMPARE(connectAndWait(), QStringLiteral("Failed to connect"));
        QCOMPARE(table->item(1, DeviceWidget::StatusColumn)->text(), QString());

        // A device without a place to connect to at start (it calls the computer): the user is told.
        child<QCheckBox>("autoConnectOnFindButton")->setChecked(true);
        table->selectRow(0);
        QVERIFY(connectAndWait().contains(QStringLiteral("cannot be connected automatically")));
        QTRY_COMPARE(autoConnectSetting("Enabled"), QStringLiteral("0"));
        table->clearSelection();
        QVERIFY(!connectButton->isEnabled());
    }
    void directViews_data()
    {
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("place");
        QTest::addColumn<bool>("autoConnect");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QStringList>("stored"); // Enabled, COM, Address, Port
        QTest::newRow("serial, stored")
            << false << "{PTY}" << true << "Connected" << QStringList{"1", "1", "{PTY}", "19200"};
        QTest::newRow("serial, not stored")
            << false << "{PTY}" << false << "Connected" << QStringList{"0", "", "", ""};
        QTest::newRow("network, stored") << true << "127.0.0.1:{PORT}" << true << "Connected"
                                         << QStringList{"1", "0", "127.0.0.1", "{PORT}"};
        QTest::newRow("network, nobody there")
            << true << "127.0.0.1:{NEXT}" << false
            << "Failed to connect: connection refused by 127.0.0.1:{NEXT}" << QStringList{"", "", "", ""};
    }
    void directViews()
    {
        QFETCH(bool, network);
        QFETCH(QString, place);
        QFETCH(bool, autoConnect);
        QFETCH(QString, notice);
        QFETCH(QStringList, stored);
        makePage();
        chooseDirectPlace(network, place, autoConnect);
        QCOMPARE(connectAndWait(), expand(notice));
        CDevice* device = CDeviceController::currentDevice();
        const bool connected = notice == QLatin1String("Connected");
        if (connected) {
            QTRY_COMPARE(device ? device->state() : -1, int(STATE_CONNECTED));
        } else {
            QVERIFY(!device);
        }
        QTRY_COMPARE(autoConnectTarget(), expand(stored.join(QLatin1Char('|'))).split(QLatin1Char('|')));
        if (!connected) {
            return;
        }

        // The view's button lets go of its place and connects it again; so does My Devices, which lists the
        // instrument however it was connected.
        auto* button = child<QPushButton>("connectButton");
        auto* table = child<QTableWidget>("tableDevices");
        for (const bool listed : {false, true}) {
            if (listed) {
                child<QPushButton>("findButton")->click();
                QCOMPARE(table->rowCount(), 1);
                QCOMPARE(table->item(0, DeviceWidget::InterfaceColumn)->text(),
                         device->interfaceDescription());
            }
            QCOMPARE(button->text(), QStringLiteral("Disconnect"));
            button->click();
            QTRY_COMPARE(device->state(), int(STATE_DISCONNECTED));
            QCOMPARE(button->text(), QStringLiteral("Connect"));
            QCOMPARE(connectAndWait(), QStringLiteral("Connected"));
            device = CDeviceController::currentDevice();
            QTRY_COMPARE(device->state(), int(STATE_CONNECTED));
        }
        QCOMPARE(table->item(0, DeviceWidget::StatusColumn)->text(), QStringLiteral("Connected"));
    }
    void failedConnectionKeepsTheInstrument_data()
    {
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("why");
        QTest::newRow("no such port") << false << "/dev/mervik-none"
                                      << "no serial port at /dev/mervik-none";
        QTest::newRow("nobody answers") << false << "{SILENT}"
                                        << "no answer at 19200 baud on {SILENT}";
        QTest::newRow("nobody at the address") << true << "127.0.0.1:{NEXT}"
                                               << "connection refused by 127.0.0.1:{NEXT}";
    }
    void failedConnectionKeepsTheInstrument()
    {
        QFETCH(bool, network);
        QFETCH(QString, place);
        QFETCH(QString, why);
        makePage();
        chooseDirectPlace(false, QStringLiteral("{PTY}"), true);
        QCOMPARE(connectAndWait(), QStringLiteral("Connected"));
        CDevice* working = CDeviceController::currentDevice();
        QTRY_COMPARE(working ? working->state() : -1, int(STATE_CONNECTED));
        const QStringList stored{"1", "1", m_pty->slavePath(), "19200"};
        QTRY_COMPARE(autoConnectTarget(), stored);
        QSignalSpy states(working, &CDevice::stateChanged);

        // Asked to store the new place as well: nothing is stored, the working instrument is never let go.
        chooseDirectPlace(network, place, true);
        QCOMPARE(connectAndWait(),
                 expand(QStringLiteral("Failed to connect: ") + why +
                        QStringLiteral("\n\nThe instrument on ") + working->interfaceDescription() +
                        QStringLiteral(" is still connected.")));
        QCOMPARE(CDeviceController::currentDevice(), working);
        QCOMPARE(working->state(), int(STATE_CONNECTED));
        QCOMPARE(states.count(), 0);
        QCOMPARE(autoConnectTarget(), stored);
    }
    void advancedButtons_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("advanced");
        QTest::addColumn<int>("instrument"); // 0 none, 1 connected directly, 2 through its module
        QTest::addColumn<QString>("seen");
        const QString notLoaded = QStringLiteral(
            "Error|Can't configure IP connection settings\nAuto-connected devices should be connected from "
            "'Find my device' to configure them|");
        QTest::newRow("no instrument") << "ethButton"
                                       << "advancedOnEthernetButton" << 0 << notLoaded;
        QTest::newRow("an instrument without its module") << "usbButton"
                                                          << "advancedOnUsbButton" << 1 << notLoaded;
        QTest::newRow("an instrument connected through its module")
            << "ethButton"
            << "advancedOnEthernetButton" << 2 << "Dialog";
    }
    void advancedButtons()
    {
        QFETCH(QString, view);
        QFETCH(QString, advanced);
        QFETCH(int, instrument);
        QFETCH(QString, seen);
        ScriptedDevice device;
        if (instrument == 2) {
            device.giveLoopbackModule();
        }
        if (instrument > 0) {
            CDeviceController::instance()->setCurrentDevice(&device);
            QVERIFY(device.connectDevice(false));
        }
        makePage();
        child<QPushButton>(qPrintable(view))->click();
        // The form is left with Cancel.
        ModalAnswerer watcher(QString(), [](QWidget* form) {
            form->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
            return form->windowTitle();
        });
        child<QPushButton>(qPrintable(advanced))->click();
        QCOMPARE(watcher.texts, QStringList{seen});
        QVERIFY(!QApplication::activeModalWidget());
        CDeviceController::instance()->setCurrentDevice(nullptr);
    }
    void autoConnectAtStart()
    {
        // The target stored from a found instrument's own transport: its port path and baud rate.
        makePage();
        std::unique_ptr<CDevice> found(new CDevice);
        found->setRS232(m_pty->slavePath(), QStringLiteral("Serial port"), 9600);
        m_search->announce(found.get());
        child<QTableWidget>("tableDevices")->selectRow(0);
        child<QCheckBox>("autoConnectOnFindButton")->setChecked(true);
        QCOMPARE(connectAndWait(), QStringLiteral("Connected"));
        QTRY_COMPARE(autoConnectSetting("Address"), m_pty->slavePath());
        QCOMPARE(autoConnectSetting("Port"), QStringLiteral("9600"));
        cleanup();
        found.reset();

        // The next start connects it without a click, under a progress notice, and says nothing more.
        SettingsController::instance()->autoConnect.setState(false);
        makePage();
        QSignalSpy autoOn(m_page.get(), &DeviceWidget::autoOn);
        QSignalSpy identity(CDeviceController::instance(), &CControllerInterface::commandFinished);
        // Slow enough for the notice to be seen.
        m_instrument.setAnswerDelay(200);
        m_page->start();
        QTRY_VERIFY(m_page->findChild<PelmProgressDialog*>() &&
                    m_page->findChild<PelmProgressDialog*>()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(autoOn.count(), 1, 15000);
        QVERIFY(SettingsController::instance()->autoConnect.value());
        QTRY_COMPARE(CDeviceController::currentDevice() ? CDeviceController::currentDevice()->state() : -1,
                     int(STATE_CONNECTED));
        QVERIFY(!QApplication::activeModalWidget());
        QTRY_VERIFY(!m_page->findChild<PelmProgressDialog*>());
        m_instrument.setAnswerDelay(0);
        // Listed, so that it can be disconnected.
        auto* table = child<QTableWidget>("tableDevices");
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, DeviceWidget::StatusColumn)->text(), QStringLiteral("Connected"));
        // The identity read that follows every connection is over: a request sent meanwhile would meet it.
        QTRY_VERIFY(std::any_of(identity.begin(), identity.end(), [](const QList<QVariant>& args) {
            return args.at(1).toInt() == COMMAND_READ_INFO;
        }));

        // Its results reach the program.
        QSignalSpy results(CBalanceController::instance(), &CBalanceController::anyResultReceived);
        QVERIFY(CBalanceController::instance()->sendSI());
        QVERIFY(results.wait(5000));
        QCOMPARE(results.first().first().value<Measurement>().value, 12.5);
    }
    void centralTraffic()
    {
        QTemporaryDir settingsDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        // The program's forwarder, never started: nothing is sent.
        CentralForwarder central(QStringLiteral("postgresql://lab@/results?host=/nonexistent"),
                                 QStringLiteral("station"));
        makePage();
        auto* check = child<QCheckBox>("centralTrafficCheck");
        QVERIFY(!check->isChecked());
        QList<bool> told;
        for (int click = 0; click < 2; ++click) {
            check->click();
            told << central.forwardsTraffic() << CentralForwarder::configuredTraffic();
        }
        QCOMPARE(told, (QList<bool>{true, true, false, false}));
    }

private:
    template <typename T = QWidget> T* child(const char* name) const
    {
        return ::child<T>(m_page.get(), name);
    }
    void makePage()
    {
        m_search = new ScriptedSearch;
        m_page = std::make_unique<DeviceWidget>(nullptr, m_search);
        m_page->resize(1200, 700);
        m_page->show();
    }
    // Connects the page's current view and returns the notices it showed, one a line.
    QString connectAndWait()
    {
        ModalAnswerer notices(QStringLiteral("OK"), {}, 1500);
        child<QPushButton>("connectButton")->click();
        (void)QTest::qWaitFor([&] { return !notices.texts.isEmpty() && !QApplication::activeModalWidget(); },
                              15000);
        return notices.texts.join(QLatin1Char('\n'));
    }
    // Puts place ({PTY}, {PORT}, {NEXT}: the simulated instrument's pty, TCP port and the port after it)
    // into the serial or the network view.
    void chooseDirectPlace(bool network, const QString& place, bool autoConnect)
    {
        if (network) {
            child<QPushButton>("ethButton")->click();
            child<QLineEdit>("scaleIPBox")->setText(place.section(QLatin1Char(':'), 0, 0));
            child<QSpinBox>("scalePortBox")->setValue(expand(place.section(QLatin1Char(':'), 1)).toInt());
            child<QCheckBox>("autoConnectOnEthButton")->setChecked(autoConnect);
        } else {
            child<QPushButton>("usbButton")->click();
            child<QComboBox>("comPortBox")->setEditText(expand(place));
            child<QComboBox>("comBaudBox")->setCurrentText(QStringLiteral("19200"));
            child<QCheckBox>("autoConnectOnUsbButton")->setChecked(autoConnect);
        }
    }
    QString expand(QString text) const
    {
        return text.replace(QStringLiteral("{PTY}"), m_pty->slavePath())
            .replace(QStringLiteral("{SILENT}"), m_silent.slavePath())
            .replace(QStringLiteral("{PORT}"), QString::number(m_server.port()))
            .replace(QStringLiteral("{NEXT}"), QString::number(m_server.port() + 1));
    }

    ScriptedSearch* m_search = nullptr;
    std::unique_ptr<DeviceWidget> m_page;
    SimInstrument m_instrument;
    std::unique_ptr<SimPty> m_pty;
    SimTcpServer m_server;
    // A port where nobody answers.
    PtyPair m_silent;
};

QTEST_MAIN(TstDevicePage)
#include "tst_devicepage.moc"
