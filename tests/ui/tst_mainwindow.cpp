#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/reconnector.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"
#include "support/scripteddevice.h"
#include "support/testdatabase.h"
#include "support/widgetuser.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/clickableframe.h"
#include "ui/datafeedwidget.h"
#include "ui/focusmark.h"
#include "ui/log/datafeedtableview.h"
#include "ui/mainwindow.h"
#include "ui/qwinwidget.h"
#include "ui/requestnotice.h"
#include "ui/settings/settingscontroller.h"
#include "ui/transferwidget.h"
#include "ui/windowplacement.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QWindow>
#include <QtTest>

#include <memory>

// The host window and the main window: status line, file label, pages, hotkeys and the frame; where it
// opens, that every page fits a 1280x720 screen, and that Tab and the shortcuts reach every page.
class TstMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        DeviceTypes::registerMetaTypes();
        QVERIFY(database.isValid());
        log = std::make_unique<CPelmLog>();
        ApplicationController::instance()->init();
    }
    void init()
    {
        host = std::make_unique<QWinWidget>();
        host->resize(1280, 720);
        host->show();
        QApplication::setActiveWindow(host.get());
        QVERIFY(QTest::qWaitForWindowActive(host.get()));
    }
    void cleanup()
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
    void statusLine()
    {
        const QStringList disconnected{QStringLiteral("No connection to the instrument")};
        QCOMPARE(shownStatus(), disconnected);
        ScriptedDevice device;
        device.fake->name = QStringLiteral("FAKE 9600");
        CDeviceController::instance()->setCurrentDevice(&device);
        // A failed identity read or another command's end leaves the model and the serial number out.
        device.holdIdentity = true;
        QVERIFY(device.connectDevice(false));
        device.m_model = QStringLiteral("PS 750.X2");
        device.m_serialNumber = QStringLiteral("123456");
        const int ends[][2] = {{COMMAND_FAILED, COMMAND_READ_INFO}, {COMMAND_OK, COMMAND_TARE}};
        for (const auto& end : ends) {
            device.finishCommand(end[0], end[1]);
            QCOMPARE(label("deviceLabel")->text() + label("idLabel")->text(),
                     QStringLiteral("Device: <b></b>ID: <b></b>"));
        }
        device.disconnectDevice();
        device.holdIdentity = false;
        // Whatever the setting, a disconnection says OFF: the next connection without it keeps no ON.
        for (const bool autoConnect : {true, false}) {
            SettingsController::instance()->autoConnect.setState(autoConnect);
            QVERIFY(device.connectDevice(false));
            // The identity is read once every listener has seen the connection.
            QTRY_COMPARE(
                shownStatus(),
                (QStringList{"Device: <b>PS 750.X2</b>", "ID: <b>123456</b>", "Interface: <b>FAKE 9600</b>",
                             autoConnect ? "Auto connect: <b>ON</b>" : "Auto connect: <b>OFF</b>"}));
            device.disconnectDevice();
            QCOMPARE(shownStatus(), disconnected);
        }
    }
    void fileLabel()
    {
        QLabel* file = label("fileLabel");
        QVERIFY(!file->isVisible());
        emit ApplicationController::instance()->newFilePath(QStringLiteral("/home/anna/results.txt"));
        QVERIFY(file->isVisible());
        QCOMPARE(file->text(), QStringLiteral("File: <b>.../results.txt</b>"));
        emit ApplicationController::instance()->newFilePath(QString());
        QVERIFY(!file->isVisible());
    }
    void startScreenOpensPage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("page");
        QTest::newRow("device") << "device" << 0;
        QTest::newRow("data capture") << "dataCapture" << 1;
        QTest::newRow("transfer") << "transfer" << 2;
    }
    void startScreenOpensPage()
    {
        QFETCH(QString, name);
        QFETCH(int, page);
        QVERIFY(!child<QWidget>("mainWidget")->isVisible());
        QTest::mouseClick(host->findChild<ClickableFrame*>(name + QStringLiteral("Frame")), Qt::LeftButton);
        QVERIFY(!child<QWidget>("deviceFrame")->isVisible());
        QVERIFY(child<QWidget>("mainWidget")->isVisible());
        QCOMPARE(child<QStackedWidget>("mainStack")->currentIndex(), page);
        QVERIFY(host->findChild<QAbstractButton*>(name + QStringLiteral("Button"))->isChecked());

        // The pages send the user to each other.
        auto* capture = child<DataFeedWidget>("dataFeedWidget");
        auto* transfer = child<TransferWidget>("transferWidget");
        emit capture->swapToTransfer();
        QCOMPARE(child<QStackedWidget>("mainStack")->currentWidget(), transfer);
        QVERIFY(child<QAbstractButton>("transferButton")->isChecked());
        emit transfer->changeToData();
        QCOMPARE(child<QStackedWidget>("mainStack")->currentWidget(), capture);
        QVERIFY(child<QAbstractButton>("dataCaptureButton")->isChecked());
    }
    void hotkeys_data()
    {
        QTest::addColumn<int>("hotkey");
        QTest::addColumn<bool>("stableOnly");
        QTest::addColumn<QString>("line");
        QTest::newRow("send") << 0 << false << "Sx1\r\n";
        QTest::newRow("send, stable results only") << 0 << true << "SI\r\n";
        QTest::newRow("tare") << 1 << false << "ST\r\n";
        QTest::newRow("zero") << 2 << false << "SZ\r\n";
        QTest::newRow("on/off") << 3 << false << "SS\r\n";
    }
    void hotkeys()
    {
        QFETCH(int, hotkey);
        QFETCH(bool, stableOnly);
        QFETCH(QString, line);
        SettingsController* settings = SettingsController::instance();
        LineElement* const elements[] = {&settings->sendHotkey, &settings->tareHotkey, &settings->zeroHotkey,
                                         &settings->onOffHotkey};
        settings->stableOnly.setState(stableOnly);
        // The key follows its option: the one set before no longer works.
        elements[hotkey]->setState(QStringLiteral("F5"));
        elements[hotkey]->setState(QStringLiteral("Ctrl+T"));

        ScriptedDevice device;
        CDeviceController::instance()->setCurrentDevice(&device);
        QVERIFY(device.connectDevice(false));
        const int before = device.fake->writtenLines().size();
        QTest::keyClick(host->mainWindow(), Qt::Key_F5);
        QTest::keyClick(host->mainWindow(), Qt::Key_T, Qt::ControlModifier);
        QTRY_COMPARE(device.fake->writtenLines().mid(before), QStringList{line});
    }
    void requestNotices_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("instrument");
        QTest::addColumn<QString>("notice");
        const auto row = [](const char* name, const char* control, const char* instrument,
                            const char* notice) {
            QTest::newRow(name) << QString(control) << QString(instrument) << QString(notice);
        };
        row("TARE, no instrument", "tareFrame", "none", "No instrument connected — TARE not sent");
        row("terminal command, no instrument", "commandLine", "none",
            "No instrument connected — \"SZ\" not sent");
        row("ZERO while reconnecting", "zeroFrame", "reconnecting", "Reconnecting — ZERO not sent");
        row("SEND, busy", "sendFrame", "busy", "The instrument is busy — SEND not sent");
        row("ON/OFF, busy", "onOffFrame", "busy", "The instrument is busy — ON/OFF not sent");
        row("TARE refused", "tareFrame", "refusing", "The instrument refused TARE");
        row("ZERO, no answer", "zeroFrame", "silent", "The instrument did not answer ZERO");
        row("TARE done", "tareFrame", "answering", "");
    }
    void requestNotices()
    {
        QFETCH(QString, control);
        QFETCH(QString, instrument);
        QFETCH(QString, notice);
        QHash<QString, QByteArray> answers = ScriptedDevice::instrumentAnswers();
        answers.insert(QStringLiteral("ST\r\n"), instrument == "refusing" ? "ES\r\n" : "MT\r\n");
        if (instrument == "silent") {
            answers.remove(QStringLiteral("SZ\r\n"));
        }
        ScriptedDevice device(answers);
        // The notice of an earlier request goes when the next one is given.
        QLabel* shown = label("noticeLabel");
        RequestNotice::instance()->onOff();
        QCOMPARE(shown->text(), QStringLiteral("No instrument connected — ON/OFF not sent"));
        // No trial of the reconnection runs while the test looks.
        Reconnector::instance()->setPauses(600000, 600000);
        if (instrument != "none") {
            CDeviceController::instance()->setCurrentDevice(&device);
            QVERIFY(device.connectDevice(false));
            QTRY_COMPARE(device.serialNumber(), QStringLiteral("123456"));
        }
        if (instrument == "reconnecting") {
            device.fake->emitState(STATE_DISCONNECTED);
            QTRY_VERIFY(Reconnector::instance()->isReconnecting());
        }
        device.setBusyFlag(instrument == "busy");
        const int written = device.fake->writtenLines().size();

        QTest::mouseClick(child<ClickableFrame>("dataCaptureFrame"), Qt::LeftButton);
        if (control == "commandLine") {
            QTest::mouseClick(child<QAbstractButton>("terminalButton"), Qt::LeftButton);
            auto* line = child<QLineEdit>("commandLine");
            line->setText(QStringLiteral("SZ"));
            QTest::keyClick(line, Qt::Key_Return);
        } else {
            // The terminal's panel has a SEND of its own.
            QTest::mouseClick(child<QAbstractButton>("feedButton"), Qt::LeftButton);
            auto* panel = child<QWidget>("exportBottomContext");
            QTest::mouseClick(panel->findChild<ClickableFrame*>(control), Qt::LeftButton);
        }
        QTRY_COMPARE(shown->isVisible() ? shown->text() : QString(), notice);
        // A request the program did not send left nothing on the wire.
        const bool sent = instrument == "refusing" || instrument == "silent" || instrument == "answering";
        QCOMPARE(device.fake->writtenLines().size() > written, sent);
    }
    void resizeBorders_data()
    {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        // The window starts at (100, 100), 1600 by 900; it is never smaller than 1024 by 640.
        QTest::newRow("right edge wider")
            << QPoint(1598, 450) << QPoint(40, 25) << QRect(100, 100, 1640, 900);
        QTest::newRow("left edge narrower") << QPoint(3, 450) << QPoint(100, 0) << QRect(200, 100, 1500, 900);
        QTest::newRow("left edge below the minimum")
            << QPoint(3, 450) << QPoint(700, 0) << QRect(676, 100, 1024, 900);
        QTest::newRow("top-left corner") << QPoint(2, 2) << QPoint(-30, -20) << QRect(70, 80, 1630, 920);
        QTest::newRow("bottom-right corner below the minimum")
            << QPoint(1597, 897) << QPoint(-700, -500) << QRect(100, 100, 1024, 640);
        QTest::newRow("inside the border does not resize")
            << QPoint(800, 450) << QPoint(-300, -300) << QRect(100, 100, 1600, 900);
    }
    void resizeBorders()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        host->setGeometry(100, 100, 1600, 900);
        QCOMPARE(host->geometry(), QRect(100, 100, 1600, 900));
        drag(host->windowHandle(), from, delta);
        QCOMPARE(host->geometry(), expected);
    }
    void titleBar()
    {
        // Dragged by the title bar the window moves; dragged from one of its buttons it does not.
        host->setGeometry(100, 100, 1600, 900);
        QWidget* title = host->mainWindow()->titleBar();
        drag(host->windowHandle(), title->mapTo(host.get(), QPoint(400, title->height() / 2)),
             QPoint(35, 60));
        QCOMPARE(host->geometry(), QRect(135, 160, 1600, 900));
        QAbstractButton* minimize = host->mainWindow()->minimizeButton();
        drag(host->windowHandle(), minimize->mapTo(host.get(), minimize->rect().center()), QPoint(35, 60));
        QCOMPARE(host->geometry(), QRect(135, 160, 1600, 900));

        QAbstractButton* fullScreen = host->mainWindow()->fullScreenButton();
        QTest::mouseClick(fullScreen, Qt::LeftButton);
        QTRY_VERIFY(host->isMaximized());
        QTest::mouseClick(fullScreen, Qt::LeftButton);
        QTRY_VERIFY(!host->isMaximized());
        // Maximised by other means, the button follows.
        host->showMaximized();
        QTRY_VERIFY(fullScreen->isChecked());
        host->showNormal();
        QTRY_VERIFY(!fullScreen->isChecked());

        QTest::mouseClick(host->mainWindow()->minimizeButton(), Qt::LeftButton);
        QTRY_VERIFY(host->isMinimized());
        // The capture export hides the window while it types into another one, and brings it back.
        emit ApplicationController::instance()->show();
        QTRY_VERIFY(!host->isMinimized());
        emit ApplicationController::instance()->minimize();
        QTRY_VERIFY(host->isMinimized());
        host->showNormal();
        QTest::mouseClick(host->mainWindow()->closeButton(), Qt::LeftButton);
        QVERIFY(!host->isVisible());
    }
    void resultsWaitWhileTheDatabaseRefusesWrites_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("reason");
        // SQLite's page limit on the program's own connection stands in for a full disk.
        QTest::newRow("disk full") << false << int(DataFeedTableModel::MaxWaitingRows) << "disk full";
        // Another program holds the write lock; the next result, not the timer, finds it free again.
        QTest::newRow("locked by another program")
            << true << int(DataFeedTableModel::MaxWaitingRows) << "database locked";
        QTest::newRow("waiting list full") << false << 6 << "disk full";
    }
    // Results that the database refuses wait, shown, and are stored in their order once it takes them;
    // the status line says so while they wait and when they are stored.
    void resultsWaitWhileTheDatabaseRefusesWrites()
    {
        QFETCH(bool, locked);
        QFETCH(int, limit);
        QFETCH(QString, reason);
        constexpr int Results = 20;
        auto* view = child<DataFeedTableView>("tableWidget");
        DataFeedTableModel* model = view->feedModel();
        view->clearAll();
        model->setWaitingLimit(limit);
        QLabel* status = label("storageLabel");
        const QString holderName = QStringLiteral("another program");
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holderName);
            holder.setDatabaseName(database.path());
            QVERIFY(holder.open());
            QSqlQuery own;
            QSqlQuery other(holder);
            if (locked) {
                // A short wait keeps the test quick; how long is the connection's setting.
                QVERIFY(own.exec(QStringLiteral("PRAGMA busy_timeout = 100")));
                QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
            } else {
                // Pages freed by earlier rows would take new ones.
                log->commitPending();
                QVERIFY(own.exec(QStringLiteral("VACUUM")));
                QVERIFY(own.exec(QStringLiteral("PRAGMA max_page_count = 1")));
            }
            // Rows of most of a page each: the table's pages fill after a row or two.
            const QString serial(3000, QLatin1Char('7'));
            QStringList sent;
            for (int i = 1; i <= Results; ++i) {
                sent << QStringLiteral("%1.00").arg(i);
                view->addRow({"03-04-2026", "05:06:07", serial, sent.last(), "g", QString()});
            }
            const auto committed = [&holder] {
                return TestDatabase::rows(QStringLiteral("SELECT VAL FROM DATAFEED ORDER BY COUNT"), holder);
            };
            const int stored = locked ? 0 : int(committed().size());
            const int waiting = model->waitingRows();
            QVERIFY(waiting > 0);
            QCOMPARE(waiting, std::min(limit, Results - stored));
            QCOMPARE(model->refusedRows(), Results - stored - waiting);
            QCOMPARE(model->rowCount(), stored + waiting);
            // Shown as they will be stored.
            const QModelIndex lastShown = model->index(model->rowCount() - 1, DataFeedTableModel::ValColumn);
            QCOMPARE(lastShown.data().toString(), sent.at(stored + waiting - 1));
            const QString lost =
                model->refusedRows() == 0
                    ? QString()
                    : QStringLiteral("; %1 newer results lost (memory full)").arg(model->refusedRows());
            QVERIFY(status->isVisible());
            QCOMPARE(status->text(),
                     QStringLiteral("Results not stored: %1 \u2014 %2 waiting").arg(reason).arg(waiting) +
                         lost);

            if (locked) {
                QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
                sent << QStringLiteral("next");
                view->addRow({"03-04-2026", "05:06:08", serial, sent.last(), "g", QString()});
                QCOMPARE(model->waitingRows(), 0);
                QVERIFY(own.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(AppDatabase::BusyTimeoutMs)));
            } else {
                QVERIFY(own.exec(QStringLiteral("PRAGMA max_page_count = 1073741823")));
                QTRY_COMPARE(model->waitingRows(), 0);
            }
            const QStringList kept = sent.mid(0, sent.size() - model->refusedRows());
            QCOMPARE(committed(), kept);
            QCOMPARE(model->rowCount(), kept.size());
            QCOMPARE(status->text(), QStringLiteral("Waiting results stored: %1").arg(waiting) + lost);
            QVERIFY(status->isVisible());

            view->clearAll();
            model->setWaitingLimit(DataFeedTableModel::MaxWaitingRows);
        }
        QSqlDatabase::removeDatabase(holderName);
    }
    void startGeometry_data()
    {
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QRect>("expected");
        // A full HD screen and, to its right, a 1280x720 one whose panel takes 40 pixels.
        QTest::newRow("first start: centred on the pointer's screen, fitted")
            << QRect() << QPoint(2000, 300) << QRect(1984, 34, 1152, 640);
        QTest::newRow("first start on the large screen")
            << QRect() << QPoint(5, 5) << QRect(96, 54, 1728, 972);
        QTest::newRow("restored where it was left")
            << QRect(2000, 10, 1100, 650) << QPoint(5, 5) << QRect(2000, 10, 1100, 650);
        QTest::newRow("too large for its screen now: shrunk onto it")
            << QRect(1900, -20, 1600, 900) << QPoint(5, 5) << QRect(1920, 0, 1280, 680);
        QTest::newRow("its screen is gone: centred on the pointer's")
            << QRect(3400, 200, 1200, 700) << QPoint(100, 100) << QRect(96, 54, 1728, 972);
        QTest::newRow("off every screen above")
            << QRect(100, -2000, 1200, 700) << QPoint(2000, 300) << QRect(1984, 34, 1152, 640);
    }
    void startGeometry()
    {
        QFETCH(QRect, saved);
        QFETCH(QPoint, pointer);
        QFETCH(QRect, expected);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 680)};
        QCOMPARE(WindowPlacement::startGeometry(saved, screens, pointer, host->minimumSize()), expected);
    }
    // At 1280x720 every page is shown whole, with nothing to scroll; at the window's minimum a page that
    // needs more room scrolls instead of being cut.
    void pagesFitSmallScreen()
    {
        QCOMPARE(host->size(), QSize(1280, 720));
        MainWindow* main = host->mainWindow();
        auto* scroll = child<QScrollArea>("pageScrollArea");
        auto* stack = child<QStackedWidget>("mainStack");
        for (int page = 0; page < stack->count(); ++page) {
            QTest::keyClick(main, Qt::Key(Qt::Key_1 + page), Qt::ControlModifier);
            QCOMPARE(stack->currentIndex(), page);
            QVERIFY(QTest::qWaitForWindowExposed(host.get()));
            QTRY_COMPARE(host->size(), QSize(1280, 720));
            // The data capture page in each of its views.
            for (const char* view : {"feedButton", "terminalButton", "displayButton"}) {
                if (page == MainWindow::DataCapturePage) {
                    ::child<QAbstractButton>(stack->currentWidget(), view)->click();
                }
                // Nothing to scroll: the page has the whole viewport, which shows it whole.
                QTRY_COMPARE(stack->size(), scroll->viewport()->size());
                QVERIFY2(!scroll->verticalScrollBar()->isVisible(), view);
                QVERIFY(!scroll->horizontalScrollBar()->isVisible());
            }
        }
        host->resize(host->minimumSize());
        QCOMPARE(host->size(), QSize(QWinWidget::MinimumWidth, QWinWidget::MinimumHeight));
        QVERIFY(host->minimumSize().width() <= 1280 && host->minimumSize().height() <= 680);
        QWidget* page = stack->currentWidget();
        QTRY_VERIFY(page->height() >= page->minimumSizeHint().height() &&
                    page->width() >= page->minimumSizeHint().width());
    }
    // Tab goes round every control of the page shown, the side bar included, each ringed and named; the
    // shortcuts open the pages and F11 switches full screen.
    void keyboardReachesEveryPage()
    {
        MainWindow* main = host->mainWindow();
        auto* stack = child<QStackedWidget>("mainStack");
        QStringList unnamed;
        for (int page : {2, 0, 1}) {
            QTest::keyClick(main, Qt::Key(Qt::Key_1 + page), Qt::ControlModifier);
            QCOMPARE(stack->currentIndex(), page);
            QVERIFY(child<QAbstractButton>(page == 0   ? "deviceButton"
                                           : page == 1 ? "dataCaptureButton"
                                                       : "transferButton")
                        ->isChecked());
            // From the top of the window, in reading order.
            if (QWidget* focus = QApplication::focusWidget()) {
                focus->clearFocus();
            }
            QStringList sideBar;
            QWidget* first = nullptr;
            for (int i = 0; i < 200; ++i) {
                QWidget* focus = QApplication::focusWidget();
                QTest::keyClick(focus ? focus : main, Qt::Key_Tab);
                focus = QApplication::focusWidget();
                QVERIFY(focus);
                if (focus == first) {
                    break;
                }
                first = first ? first : focus;
                QCOMPARE(FocusMark::target(), focus);
                if (focus->accessibleName().isEmpty()) {
                    unnamed << focus->objectName() + QLatin1Char('/') +
                                   QLatin1String(focus->metaObject()->className());
                }
                if (focus->parentWidget()->objectName() == QLatin1String("pagesBar")) {
                    sideBar << focus->accessibleName();
                }
            }
            QCOMPARE(sideBar, (QStringList{"Device", "Data Capture", "Transfer"}));
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1Char(' '))));

        QTest::keyClick(main, Qt::Key_F11);
        QTRY_VERIFY(host->isFullScreen());
        QTest::keyClick(main, Qt::Key_F11);
        QTRY_VERIFY(!host->isFullScreen());
    }

private:
    // The status line's labels; the pages have labels of the same names.
    QLabel* label(const char* name) const
    {
        return child<QWidget>("statusWidget")->findChild<QLabel*>(QLatin1String(name));
    }
    template <typename T> T* child(const char* name) const { return ::child<T>(host.get(), name); }
    // The texts of the status labels shown.
    QStringList shownStatus() const
    {
        QStringList shown;
        for (const char* name :
             {"noConnectionLabel", "deviceLabel", "idLabel", "interfaceLabel", "autoConnectLabel"}) {
            if (label(name)->isVisible()) {
                shown << label(name)->text();
            }
        }
        return shown;
    }

    TestDatabase database;
    std::unique_ptr<CPelmLog> log;
    std::unique_ptr<QWinWidget> host;
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
