#include "controller/applicationcontroller.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/settingscontroller.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/datafeedtableview.h"
#include "platform/qwinwidget.h"
#include "support/fakeinterface.h"
#include "ui/clickableframe.h"
#include "ui/datafeedwidget.h"
#include "ui/mainwindow.h"
#include "ui/transferwidget.h"

#include <QAbstractButton>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

// A current instrument on a scripted transport. Its identity read can be held back, so that a test
// decides when it finishes and with what result.
class TestDevice : public CDevice
{
public:
    explicit TestDevice(bool holdIdentity = false) : fake(new FakeInterface), m_holdIdentity(holdIdentity)
    {
        m_deviceType = 1;
        fake->name = QStringLiteral("FAKE 9600");
        const QHash<QString, QByteArray> answers{
            {QStringLiteral("SI\r\n"), "S    12.345 g  \r\n"},
            {QStringLiteral("Sx1\r\n"), "    12.345 g  \r\n"},
            {QStringLiteral("ST\r\n"), "MT\r\n"},
            {QStringLiteral("SZ\r\n"), "MZ\r\n"},
            {QStringLiteral("SW9\r\n"), "PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n"},
        };
        fake->setResponder([answers](const QString& line) -> QList<QByteArray> {
            return answers.contains(line) ? QList<QByteArray>{answers.value(line)} : QList<QByteArray>{};
        });
        adoptInterface(fake);
    }

    bool readInfo() override { return m_holdIdentity ? false : CDevice::readInfo(); }

    // What a finished identity read leaves behind.
    void finishIdentity(int result, int command)
    {
        m_model = QStringLiteral("PS 750.X2");
        m_serialNumber = QStringLiteral("123456");
        emit commandFinished(result, command);
    }

    FakeInterface* fake;

private:
    bool m_holdIdentity;
};

QColor opaqueColour(const QLabel* label)
{
    const QImage image = label->pixmap(Qt::ReturnByValue).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.alpha() == 255) {
                return colour;
            }
        }
    }
    return QColor();
}

void sendMouse(QWindow* window, QEvent::Type type, const QPoint& pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, window->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
}

// A press at from, a move by delta and a release, as a user drags with the left button.
void drag(QWindow* window, const QPoint& from, const QPoint& delta)
{
    sendMouse(window, QEvent::MouseButtonPress, from, Qt::LeftButton);
    // The press took the window's geometry as it was; the pointer's screen position follows it.
    QMouseEvent move(QEvent::MouseMove, from + delta, window->mapToGlobal(from) + delta, Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, from + delta, window->mapToGlobal(from) + delta,
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &release);
}

} // namespace

// The host window and the main window: status line, file label, pages, hotkeys, sizes and title bar.
class TstMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void statusLine_data();
    void statusLine();
    void identityShownOnlyAfterItsRead_data();
    void identityShownOnlyAfterItsRead();
    void fileLabel_data();
    void fileLabel();
    void startScreenOpensPage_data();
    void startScreenOpensPage();
    void pageButtonsSwitchPages();
    void pagesSwitchToEachOther();
    void hotkeys_data();
    void hotkeys();
    void hotkeyFollowsItsOption();
    void minimumSizes();
    void resizeBorders_data();
    void resizeBorders();
    void titleBarMovesWindow();
    void titleBarButtons();
    void captureExportMinimizesAndRestores();

private:
    // The status line's labels; the pages have labels of the same names.
    QLabel* label(const char* name) const
    {
        return child<QWidget>("statusWidget")->findChild<QLabel*>(QLatin1String(name));
    }
    template <typename T> T* child(const char* name) const
    {
        return host->findChild<T*>(QLatin1String(name));
    }
    void connectDevice(TestDevice& device);

    QTemporaryDir dataDir;
    std::unique_ptr<CPelmLog> log;
    std::unique_ptr<QWinWidget> host;
};

void TstMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
    QVERIFY(dataDir.isValid());
    QVERIFY(AppDatabase::open(dataDir.filePath(QStringLiteral("test.db"))));
    log = std::make_unique<CPelmLog>();
    ApplicationController::instance()->init();
}

void TstMainWindow::init()
{
    host = std::make_unique<QWinWidget>();
    host->show();
    QApplication::setActiveWindow(host.get());
    QVERIFY(QTest::qWaitForWindowActive(host.get()));
}

void TstMainWindow::cleanup()
{
    host.reset();
    CDeviceController::instance()->setCurrentDevice(nullptr);
    SettingsController* settings = SettingsController::instance();
    for (LineElement* hotkey :
         {&settings->sendHotkey, &settings->tareHotkey, &settings->zeroHotkey, &settings->onOffHotkey}) {
        hotkey->setState(QString());
    }
    settings->autoConnect.setState(false);
    settings->stableOnly.setState(false);
}

void TstMainWindow::connectDevice(TestDevice& device)
{
    CDeviceController::instance()->setCurrentDevice(&device);
    QVERIFY(device.connectDevice(false));
    QCOMPARE(device.state(), int(STATE_CONNECTED));
}

void TstMainWindow::statusLine_data()
{
    QTest::addColumn<bool>("autoConnect");
    QTest::addColumn<QString>("connectedAutoText");
    QTest::newRow("auto connect off") << false << QStringLiteral("Auto connect: <b>OFF</b>");
    QTest::newRow("auto connect on") << true << QStringLiteral("Auto connect: <b>ON</b>");
}

void TstMainWindow::statusLine()
{
    QFETCH(bool, autoConnect);
    QFETCH(QString, connectedAutoText);
    SettingsController::instance()->autoConnect.setState(autoConnect);
    const char* const connectedLabels[] = {"deviceLabel", "idLabel", "interfaceLabel", "autoConnectLabel"};

    QCOMPARE(label("noConnectionLabel")->text(), QStringLiteral("No device connection found"));
    QVERIFY(label("noConnectionLabel")->isVisible());
    for (const char* name : connectedLabels) {
        QVERIFY2(!label(name)->isVisible(), name);
    }
    QCOMPARE(opaqueColour(label("connectionIcon")), QColor(QStringLiteral("#797979")));

    TestDevice device;
    connectDevice(device);
    // The identity is read once every listener has seen the connection.
    QTRY_COMPARE(label("deviceLabel")->text(), QStringLiteral("Device: <b>PS 750.X2</b>"));
    QCOMPARE(label("idLabel")->text(), QStringLiteral("ID: <b>123456</b>"));
    QCOMPARE(label("interfaceLabel")->text(), QStringLiteral("Interface: <b>FAKE 9600</b>"));
    QCOMPARE(label("autoConnectLabel")->text(), connectedAutoText);
    for (const char* name : connectedLabels) {
        QVERIFY2(label(name)->isVisible(), name);
    }
    QVERIFY(!label("noConnectionLabel")->isVisible());
    QCOMPARE(opaqueColour(label("connectionIcon")), QColor(QStringLiteral("#6fc420")));

    // Whatever the setting, a disconnection says OFF.
    device.disconnectDevice();
    QCOMPARE(label("autoConnectLabel")->text(), QStringLiteral("Auto connect: <b>OFF</b>"));
    QVERIFY(label("noConnectionLabel")->isVisible());
    for (const char* name : connectedLabels) {
        QVERIFY2(!label(name)->isVisible(), name);
    }
    QCOMPARE(opaqueColour(label("connectionIcon")), QColor(QStringLiteral("#797979")));
}

void TstMainWindow::identityShownOnlyAfterItsRead_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("shown");
    QTest::newRow("identity read") << int(COMMAND_OK) << int(COMMAND_READ_INFO) << true;
    QTest::newRow("identity read failed") << int(COMMAND_FAILED) << int(COMMAND_READ_INFO) << false;
    QTest::newRow("identity read timed out") << int(COMMAND_TIMEOUT) << int(COMMAND_READ_INFO) << false;
    QTest::newRow("another command") << int(COMMAND_OK) << int(COMMAND_TARE) << false;
}

void TstMainWindow::identityShownOnlyAfterItsRead()
{
    QFETCH(int, result);
    QFETCH(int, command);
    QFETCH(bool, shown);
    TestDevice device(true);
    connectDevice(device);
    QCOMPARE(label("deviceLabel")->text(), QStringLiteral("Device: <b></b>"));
    QCOMPARE(label("idLabel")->text(), QStringLiteral("ID: <b></b>"));

    device.finishIdentity(result, command);
    QCOMPARE(label("deviceLabel")->text(),
             shown ? QStringLiteral("Device: <b>PS 750.X2</b>") : QStringLiteral("Device: <b></b>"));
    QCOMPARE(label("idLabel")->text(),
             shown ? QStringLiteral("ID: <b>123456</b>") : QStringLiteral("ID: <b></b>"));
}

void TstMainWindow::fileLabel_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("text");
    QTest::newRow("windows path") << QStringLiteral("C:/data/out.csv") << true
                                  << QStringLiteral("File: <b>.../out.csv</b>");
    QTest::newRow("home folder") << QStringLiteral("/home/anna/results.txt") << true
                                 << QStringLiteral("File: <b>.../results.txt</b>");
    QTest::newRow("no file") << QString() << false << QString();
}

void TstMainWindow::fileLabel()
{
    QFETCH(QString, path);
    QFETCH(bool, visible);
    QFETCH(QString, text);
    QLabel* file = label("fileLabel");
    QVERIFY(!file->isVisible());
    // Shown first, so that an empty path has something to hide.
    emit ApplicationController::instance()->newFilePath(QStringLiteral("/tmp/first.csv"));
    QVERIFY(file->isVisible());
    emit ApplicationController::instance()->newFilePath(path);
    QCOMPARE(file->isVisible(), visible);
    if (visible) {
        QCOMPARE(file->text(), text);
    }
}

void TstMainWindow::startScreenOpensPage_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("pageName");
    QTest::newRow("device") << QStringLiteral("deviceFrame") << QStringLiteral("deviceButton") << 0
                            << QStringLiteral("deviceWidget");
    QTest::newRow("data capture") << QStringLiteral("dataCaptureFrame") << QStringLiteral("dataCaptureButton")
                                  << 1 << QStringLiteral("dataFeedWidget");
    QTest::newRow("transfer") << QStringLiteral("transferFrame") << QStringLiteral("transferButton") << 2
                              << QStringLiteral("transferWidget");
}

void TstMainWindow::startScreenOpensPage()
{
    QFETCH(QString, frame);
    QFETCH(QString, button);
    QFETCH(int, page);
    QFETCH(QString, pageName);
    auto* mainWidget = child<QWidget>("mainWidget");
    auto* stack = child<QStackedWidget>("mainStack");
    auto* clicked = host->findChild<ClickableFrame*>(frame);
    QVERIFY(clicked);
    QVERIFY(clicked->isVisible());
    QVERIFY(!mainWidget->isVisible());

    QTest::mouseClick(clicked, Qt::LeftButton);
    QVERIFY(!clicked->isVisible());
    for (const char* name : {"deviceFrame", "dataCaptureFrame", "transferFrame"}) {
        QVERIFY2(!child<QWidget>(name)->isVisible(), name);
    }
    QVERIFY(mainWidget->isVisible());
    QCOMPARE(stack->currentIndex(), page);
    QCOMPARE(stack->currentWidget()->objectName(), pageName);
    QVERIFY(host->findChild<QAbstractButton*>(button)->isChecked());
}

void TstMainWindow::pageButtonsSwitchPages()
{
    QTest::mouseClick(child<ClickableFrame>("deviceFrame"), Qt::LeftButton);
    auto* stack = child<QStackedWidget>("mainStack");
    const QStringList buttons{QStringLiteral("transferButton"), QStringLiteral("dataCaptureButton"),
                              QStringLiteral("deviceButton")};
    const QList<int> pages{2, 1, 0};
    for (int i = 0; i < buttons.size(); ++i) {
        auto* button = host->findChild<QAbstractButton*>(buttons.at(i));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(stack->currentIndex(), pages.at(i));
        // One page button is checked at a time.
        int checked = 0;
        for (const QString& name : buttons) {
            checked += host->findChild<QAbstractButton*>(name)->isChecked() ? 1 : 0;
        }
        QCOMPARE(checked, 1);
    }
}

void TstMainWindow::pagesSwitchToEachOther()
{
    QTest::mouseClick(child<ClickableFrame>("deviceFrame"), Qt::LeftButton);
    auto* stack = child<QStackedWidget>("mainStack");
    auto* capture = host->findChild<DataFeedWidget*>(QStringLiteral("dataFeedWidget"));
    auto* transfer = host->findChild<TransferWidget*>(QStringLiteral("transferWidget"));
    QVERIFY(capture);
    QVERIFY(transfer);
    QCOMPARE(stack->indexOf(capture), 1);
    QCOMPARE(stack->indexOf(transfer), 2);

    emit capture->swapToTransfer();
    QCOMPARE(stack->currentIndex(), 2);
    QVERIFY(child<QAbstractButton>("transferButton")->isChecked());
    emit transfer->changeToData();
    QCOMPARE(stack->currentIndex(), 1);
    QVERIFY(child<QAbstractButton>("dataCaptureButton")->isChecked());
}

void TstMainWindow::hotkeys_data()
{
    QTest::addColumn<QString>("hotkey");
    QTest::addColumn<bool>("stableOnly");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("line");
    QTest::newRow("send") << QStringLiteral("sendHotkey") << false << int(Qt::Key_F5)
                          << QStringLiteral("Sx1\r\n");
    QTest::newRow("send, stable results only")
        << QStringLiteral("sendHotkey") << true << int(Qt::Key_F5) << QStringLiteral("SI\r\n");
    QTest::newRow("tare") << QStringLiteral("tareHotkey") << false << int(Qt::Key_F6)
                          << QStringLiteral("ST\r\n");
    QTest::newRow("zero") << QStringLiteral("zeroHotkey") << false << int(Qt::Key_F7)
                          << QStringLiteral("SZ\r\n");
    QTest::newRow("on/off") << QStringLiteral("onOffHotkey") << false << int(Qt::Key_F8)
                            << QStringLiteral("SS\r\n");
}

void TstMainWindow::hotkeys()
{
    QFETCH(QString, hotkey);
    QFETCH(bool, stableOnly);
    QFETCH(int, key);
    QFETCH(QString, line);
    SettingsController* settings = SettingsController::instance();
    const QHash<QString, LineElement*> elements{
        {QStringLiteral("sendHotkey"), &settings->sendHotkey},
        {QStringLiteral("tareHotkey"), &settings->tareHotkey},
        {QStringLiteral("zeroHotkey"), &settings->zeroHotkey},
        {QStringLiteral("onOffHotkey"), &settings->onOffHotkey},
    };
    settings->stableOnly.setState(stableOnly);
    elements.value(hotkey)->setState(QKeySequence(key).toString());

    TestDevice device;
    connectDevice(device);
    const int before = device.fake->writtenLines().size();
    QTest::keyClick(host->mainWindow(), Qt::Key(key));
    QTRY_COMPARE(device.fake->writtenLines().mid(before), QStringList{line});
}

void TstMainWindow::hotkeyFollowsItsOption()
{
    SettingsController* settings = SettingsController::instance();
    settings->tareHotkey.setState(QStringLiteral("F5"));
    settings->tareHotkey.setState(QStringLiteral("Ctrl+T"));
    TestDevice device;
    connectDevice(device);
    const int before = device.fake->writtenLines().size();

    QTest::keyClick(host->mainWindow(), Qt::Key_F5);
    QTest::keyClick(host->mainWindow(), Qt::Key_T, Qt::ControlModifier);
    QTRY_COMPARE(device.fake->writtenLines().mid(before), QStringList{QStringLiteral("ST\r\n")});
}

void TstMainWindow::minimumSizes()
{
    QCOMPARE(host->minimumSize(), QSize(1450, 830));
    QCOMPARE(host->mainWindow()->minimumSize(), QSize(1400, 800));
    host->resize(1000, 600);
    QCOMPARE(host->size(), QSize(1450, 830));
    QVERIFY(host->mainWindow()->width() >= 1400);
    QVERIFY(host->mainWindow()->height() >= 800);
}

void TstMainWindow::resizeBorders_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<QRect>("expected");
    // The window starts at (100, 100), 1600 by 900.
    QTest::newRow("right edge wider") << QPoint(1598, 450) << QPoint(40, 25) << QRect(100, 100, 1640, 900);
    QTest::newRow("right edge below the minimum")
        << QPoint(1598, 450) << QPoint(-400, 0) << QRect(100, 100, 1450, 900);
    QTest::newRow("bottom edge below the minimum")
        << QPoint(800, 897) << QPoint(0, -300) << QRect(100, 100, 1600, 830);
    QTest::newRow("left edge narrower") << QPoint(3, 450) << QPoint(100, 0) << QRect(200, 100, 1500, 900);
    QTest::newRow("left edge below the minimum")
        << QPoint(3, 450) << QPoint(400, 0) << QRect(250, 100, 1450, 900);
    QTest::newRow("top-left corner") << QPoint(2, 2) << QPoint(-30, -20) << QRect(70, 80, 1630, 920);
    QTest::newRow("bottom-right corner below the minimum")
        << QPoint(1597, 897) << QPoint(-500, -500) << QRect(100, 100, 1450, 830);
    QTest::newRow("inside the border does not resize")
        << QPoint(800, 450) << QPoint(-300, -300) << QRect(100, 100, 1600, 900);
}

void TstMainWindow::resizeBorders()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, delta);
    QFETCH(QRect, expected);
    host->setGeometry(100, 100, 1600, 900);
    QCOMPARE(host->geometry(), QRect(100, 100, 1600, 900));
    drag(host->windowHandle(), from, delta);
    QCOMPARE(host->geometry(), expected);
}

void TstMainWindow::titleBarMovesWindow()
{
    host->setGeometry(100, 100, 1600, 900);
    QWidget* title = host->mainWindow()->titleBar();
    const QPoint onTitle = title->mapTo(host.get(), QPoint(400, title->height() / 2));
    drag(host->windowHandle(), onTitle, QPoint(35, 60));
    QCOMPARE(host->geometry(), QRect(135, 160, 1600, 900));

    // The title bar's buttons keep their clicks: a drag from one moves nothing.
    QAbstractButton* minimize = host->mainWindow()->minimizeButton();
    drag(host->windowHandle(), minimize->mapTo(host.get(), minimize->rect().center()), QPoint(35, 60));
    QCOMPARE(host->geometry(), QRect(135, 160, 1600, 900));
}

void TstMainWindow::titleBarButtons()
{
    QAbstractButton* fullScreen = host->mainWindow()->fullScreenButton();
    QVERIFY(fullScreen->isCheckable());
    QTest::mouseClick(fullScreen, Qt::LeftButton);
    QTRY_VERIFY(host->isMaximized());
    QVERIFY(fullScreen->isChecked());
    QTest::mouseClick(fullScreen, Qt::LeftButton);
    QTRY_VERIFY(!host->isMaximized());
    QVERIFY(!fullScreen->isChecked());

    // Maximised by other means, the button follows.
    host->showMaximized();
    QTRY_VERIFY(fullScreen->isChecked());
    host->showNormal();
    QTRY_VERIFY(!fullScreen->isChecked());

    QTest::mouseClick(host->mainWindow()->minimizeButton(), Qt::LeftButton);
    QTRY_VERIFY(host->isMinimized());
    host->showNormal();

    QTest::mouseClick(host->mainWindow()->closeButton(), Qt::LeftButton);
    QVERIFY(!host->isVisible());
}

void TstMainWindow::captureExportMinimizesAndRestores()
{
    emit ApplicationController::instance()->minimize();
    QTRY_VERIFY(host->isMinimized());
    emit ApplicationController::instance()->show();
    QTRY_VERIFY(!host->isMinimized());
    QVERIFY(host->isVisible());
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
