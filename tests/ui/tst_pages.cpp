#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdeviceold.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"
#include "platform/keystrokeservice.h"
#include "support/srecord.h"
#include "support/testdatabase.h"
#include "support/uicommon.h"
#include "support/widgetuser.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/clickableframe.h"
#include "ui/confirmationdialog.h"
#include "ui/datafeedwidget.h"
#include "ui/firmwaredialog.h"
#include "ui/log/datafeedtableview.h"
#include "ui/log/pelmlogview.h"
#include "ui/settings/settingscontroller.h"
#include "ui/transferstopdialog.h"
#include "ui/transferwidget.h"

#include "siminstrument.h"
#include "simpty.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

// Types nothing: it records what the capture export would have typed into another window.
class RecordingKeystrokes : public KeystrokeService
{
public:
    bool isAvailable() override { return true; }
    bool typeCharacter(char32_t character) override
    {
        typed += QString::fromUcs4(&character, 1);
        return true;
    }
    bool pressKey(int, int) override { return true; }
    bool pressReturn() override { return typeCharacter(U'\n'); }
    bool capsLockOn() override { return false; }
    bool toggleCapsLock() override { return true; }
    void flush() override {}

    QString typed;
};

void click(const QWidget* parent, const QByteArray& frameName)
{
    QTest::mouseClick(child<ClickableFrame>(parent, frameName.constData()), Qt::LeftButton);
}

// COUNT|DATE|TIME|SN|VAL|UNIT|NOTE of every data feed row.
QStringList datafeedRows()
{
    return TestDatabase::rows(
        QStringLiteral("SELECT COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED ORDER BY COUNT"));
}

} // namespace

// The data capture and transfer pages against the simulated instrument on a pseudo-terminal.
class TstPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        DeviceTypes::registerMetaTypes();
        SimPty probe;
        QString error;
        if (!probe.open(&error)) {
            QSKIP(qPrintable(QStringLiteral("pseudo-terminals are not available here: ") + error));
        }
        QVERIFY(m_db.isValid());
        m_log = std::make_unique<CPelmLog>();
        CDeviceController::instance();
        CBalanceController::instance();
        ApplicationController* app = ApplicationController::instance();
        app->init();
        app->setFileChooser([this] { return m_chosenFile; });
        // Nothing is ever typed into a real window.
        app->keyboardOutput().setKeystrokeService(&m_keys);
    }
    void init()
    {
        resetCaptureSettings();
        m_keys.typed.clear();
        m_finishQuestions.clear();
        m_chosenFile.clear();
        ApplicationController::instance()->setFinishQuestion([this](const QString& text) {
            m_finishQuestions << text;
            return true;
        });

        m_instrument = std::make_unique<SimInstrument>();
        m_instrument->setWeight(12.5);
        m_instrument->setDecimals(2);
        m_instrument->setUnit("kg");
        m_pty = std::make_unique<SimPty>();
        QVERIFY(m_pty->open());
        connect(m_pty.get(), &SimPty::received, m_instrument.get(), &SimInstrument::feed);
        connect(m_instrument.get(), &SimInstrument::output, m_pty.get(), &SimPty::write);
        connect(m_pty.get(), &SimPty::received, this, [this](const QByteArray& bytes) { m_wire += bytes; });

        m_device = std::make_unique<CDeviceOld>();
        connect(m_device.get(), &CDevice::newOutLog, m_log.get(), &CPelmLog::onNewOutLog);
        connect(m_device.get(), &CDevice::newInLog, m_log.get(), &CPelmLog::onNewInLog);
        m_device->setRS232(m_pty->slavePath(), QStringLiteral("sim"), 9600);
        CDeviceController::instance()->setCurrentDevice(m_device.get());
        QVERIFY(m_device->connectDevice(false));
        QVERIFY(m_device->checkEcho());
        QTRY_COMPARE(m_device->serialNumber(), QStringLiteral("123456"));

        m_page = std::make_unique<DataFeedWidget>();
        m_page->resize(1200, 700);
        child<DataFeedTableView>(m_page.get(), "tableWidget")->clearAll();
        m_wire.clear();
    }
    void cleanup()
    {
        ApplicationController* app = ApplicationController::instance();
        if (app->isExporting()) {
            app->stopExport();
        }
        app->setStopDialogFactory(nullptr);
        m_transfer.reset();
        m_page.reset();
        CDeviceController::instance()->setCurrentDevice(nullptr);
        if (m_device) {
            m_device->disconnectDevice();
        }
        m_device.reset();
    }
    void feedPage()
    {
        m_instrument->setWeight(-0.125);
        m_instrument->setDecimals(3);
        m_instrument->setUnit("lb");
        showPage("feedButton");
        // The stamps' forms are the capture core's (tst_controllers).
        click(part("exportBottomContext"), "sendFrame");
        QTRY_COMPARE(datafeedRows().size(), 1);
        QVERIFY2(datafeedRows().first().endsWith(QLatin1String("|123456|-0.125|lb|")),
                 qPrintable(datafeedRows().first()));

        auto* table = child<DataFeedTableView>(m_page.get(), "tableWidget");
        // Rows picked from the top down: the row numbers of the later rows must not shift under the deletion.
        for (double weight : {1.0, 2.0}) {
            m_instrument->setWeight(weight);
            QVERIFY(CBalanceController::instance()->result());
        }
        QTRY_COMPARE(datafeedRows().size(), 3);
        // Nothing selected, no menu comes.
        ModalAnswerer answerer(QStringLiteral("Delete"));
        m_page->menuRequested(QPoint(5, 5));
        for (int selected : {0, 2}) {
            table->selectionModel()->select(table->model()->index(selected, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        m_page->menuRequested(table->visualRect(table->model()->index(2, 5)).center());
        QCOMPARE(answerer.texts.size(), 1);
        QCOMPARE(datafeedRows().size(), 1);
        QVERIFY(datafeedRows().first().contains(QLatin1String("|1.000|")));
    }
    void displayShowsEveryResultFeedOnlySignificant()
    {
        auto* label = child<QLabel>(m_page.get(), "displayValueLabel");
        auto* notice = child<QLabel>(m_page.get(), "displayNoticeLabel");
        // No reading without a connected instrument: the display says so until one is connected.
        m_device->disconnectDevice();
        showPage("displayButton");
        QVERIFY(m_page->isDisplayTimerActive());
        QVERIFY(label->isHidden() && !notice->isHidden());
        QVERIFY(m_device->connectDevice(false));
        QVERIFY(!label->isHidden() && notice->isHidden());

        // Requests with stability flag keep the display current and store nothing.
        QTRY_COMPARE(label->text(), QStringLiteral("12.50kg"));
        m_instrument->setWeight(7.25);
        QTRY_COMPARE(label->text(), QStringLiteral("7.25kg"));
        QVERIFY(m_wire.contains("Sx3\r\n"));
        QCOMPARE(datafeedRows().size(), 0);

        // A significant result is stored and flashes the display.
        QWidget* display = part("displayWidget");
        QVERIFY(CBalanceController::instance()->result());
        QTRY_COMPARE(datafeedRows().size(), 1);
        QCOMPARE(display->styleSheet(), QLatin1String(DataFeedWidget::FlashStyle));
        QTRY_COMPARE(display->styleSheet(), QString());

        // Full screen, it is a window of its own until Escape.
        auto* fullScreen = child<QToolButton>(m_page.get(), "fullScreenButton");
        fullScreen->setChecked(true);
        QVERIFY(display->isWindow() && display->isVisible());
        QVERIFY(display->windowState().testFlag(Qt::WindowFullScreen));
        QTest::keyClick(display, Qt::Key_Escape);
        QVERIFY(!fullScreen->isChecked());
        QCOMPARE(display->parentWidget(), part("displayPage"));
        QVERIFY(display->isVisible());

        // Asked only while shown.
        child<QPushButton>(m_page.get(), "feedButton")->click();
        QVERIFY(!m_page->isDisplayTimerActive());
        child<QPushButton>(m_page.get(), "displayButton")->click();
        QVERIFY(m_page->isDisplayTimerActive());
        m_page->hide();
        QVERIFY(!m_page->isDisplayTimerActive());

        // Nor with none at all; the last reading does not stay behind.
        CDeviceController::instance()->setCurrentDevice(nullptr);
        QVERIFY(label->isHidden() && !notice->isHidden());
        QCOMPARE(label->text(), QString());
    }
    void terminalPage()
    {
        QWidget* panel = part("terminalRightContext");
        auto* echo = child<QCheckBox>(panel, "echoBox");
        QVERIFY(echo->isChecked());
        QVERIFY(!m_device->checkConnection());
        // Shown, the echo box tells what the device does.
        showPage("terminalButton");
        auto* view = child<PelmLogView>(m_page.get(), "tableLogs");
        // A burst of lines: one refresh at once, one more for the lines that came during the pause. The
        // view rebuilds its model each time; a hidden column must stay hidden.
        const int timeColumn = 5;
        child<QCheckBox>(panel, "timeBox")->click();
        QSignalSpy refreshes(view->model(), &QAbstractItemModel::modelReset);
        for (int i = 0; i < 5; ++i) {
            m_log->onNewInLog({QString(), QDate::currentDate(), QTime::currentTime(),
                               QStringLiteral("LINE %1\r\n").arg(i)});
        }
        QCOMPARE(refreshes.count(), 1);
        QVERIFY(!shownLogRows(view->model()).contains(QStringLiteral("IN|LINE 4<CR><LF>")));
        QTRY_COMPARE(refreshes.count(), 2);
        QVERIFY(shownLogRows(view->model()).contains(QStringLiteral("IN|LINE 4<CR><LF>")));
        QVERIFY(view->isColumnHidden(timeColumn));
        child<QCheckBox>(panel, "timeBox")->click();
        QVERIFY(!view->isColumnHidden(timeColumn));

        QVERIFY(!echo->isChecked() && !SettingsController::instance()->terminalEcho.value());
        echo->click();
        QVERIFY(m_device->checkConnection());
        echo->click();
        QVERIFY(!m_device->checkConnection());
        ModalAnswerer firmware(QString(), [](QWidget* modal) {
            modal->close();
            return QString::fromLatin1(modal->metaObject()->className());
        });
        child<QPushButton>(panel, "firmwareButton")->click();
        QCOMPARE(firmware.texts, QStringList{"FirmwareDialog"});

        auto* line = child<QLineEdit>(m_page.get(), "commandLine");
        // Return in the command line, the send key, and a test command key that fills the line.
        for (const QByteArray how : {"return", "send", "STFrame"}) {
            const QString command =
                how == "STFrame" ? QStringLiteral("ST") : QStringLiteral("XY ") + QLatin1String(how);
            line->setText(command);
            m_wire.clear();
            if (how == "send") {
                click(part("terminalBottomContext"), "sendFrame");
            } else {
                if (how == "STFrame") {
                    line->setText(QStringLiteral("something else"));
                    click(m_page.get(), how);
                    QCOMPARE(line->text(), command);
                }
                QTest::keyClick(line, Qt::Key_Return);
            }
            QTRY_COMPARE(QString::fromLatin1(m_wire), command + QStringLiteral("\r\n"));
            QTRY_VERIFY2(shownLogRows(view->model())
                             .contains(QStringLiteral("OUT|") + command + QStringLiteral("<CR><LF>")),
                         qPrintable(shownLogRows(view->model()).join(QLatin1Char(' '))));
        }
        child<QCheckBox>(panel, "rawChunkBox")->click();
        QVERIFY(!view->isLineMode());
    }
    void fileExport_data()
    {
        // One answer to both questions, the file's (Append or Replace) and then the feed's (Yes or No);
        // a question without that button is closed unanswered.
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("feedCleared");
        QTest::addColumn<bool>("fileKept");
        QTest::newRow("feed cleared, file appended to") << "Yes" << true << true;
        QTest::newRow("feed kept, file appended to") << "No" << false << true;
        QTest::newRow("Enter keeps both") << ModalAnswerer::EnterKey << false << true;
        QTest::newRow("file replaced") << "Replace" << false << false;
    }
    void fileExport()
    {
        QFETCH(QString, answer);
        QFETCH(bool, feedCleared);
        QFETCH(bool, fileKept);

        m_transfer = std::make_unique<TransferWidget>();
        // The options the page sets: count, id and date added, unit and header row left out, comma and
        // semicolon.
        for (const char* box :
             {"countBox", "idBox", "dateBox", "unitBox", "headerBox", "betweenComma", "afterSemicolon"}) {
            child<QAbstractButton>(m_transfer.get(), box)->click();
        }
        // A finished capture in the file, and its row still in the feed.
        m_chosenFile = m_db.filePath(QStringLiteral("capture.csv"));
        const QByteArray finished = ",1,12-06-2026,123456,9.99;";
        QFile earlier(m_chosenFile);
        QVERIFY(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate) && earlier.write(finished) > 0);
        earlier.close();
        QVERIFY(CBalanceController::instance()->result());
        QTRY_COMPARE(datafeedRows().size(), 1);
        child<QCheckBox>(m_transfer.get(), "fileBox")->click();
        QCOMPARE(child<QLabel>(m_transfer.get(), "fileLabel")->text(), QStringLiteral("capture.csv"));

        // Started on the transfer page, the export goes on in the data feed.
        QSignalSpy toData(m_transfer.get(), &TransferWidget::changeToData);
        ModalAnswerer answerer(answer);
        child<QPushButton>(m_transfer.get(), "startButton")->click();
        QVERIFY(ApplicationController::instance()->isExporting());
        QCOMPARE(toData.count(), 1);
        QCOMPARE(answerer.texts.size(), 2);
        QVERIFY2(answerer.texts.first().contains(m_chosenFile), qPrintable(answerer.texts.first()));
        QCOMPARE(answerer.texts.last(), QStringLiteral("Delete the only result of the data feed?"));
        QCOMPARE(fileBytes(m_chosenFile), fileKept ? finished : QByteArray());

        // Each result is in the file as soon as it is stored, while the file is still open.
        auto* autoLabel = child<QLabel>(part("exportBottomContext"), "startStopLabel");
        auto* startLabel = child<QLabel>(part("terminalBottomContext"), "startStopLabel");
        QCOMPARE(autoLabel->text() + startLabel->text(), QStringLiteral("STOPSTOP"));
        const int first = feedCleared ? 1 : 2;
        const QString line = QStringLiteral(",%1,") +
                             QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")) +
                             QStringLiteral(",123456,%2;");
        QByteArray expected = fileKept ? finished : QByteArray();
        const double weights[] = {12.5, 13.0};
        for (int i = 0; i < 2; ++i) {
            m_instrument->setWeight(weights[i]);
            click(part("exportBottomContext"), "sendFrame");
            expected += line.arg(first + i).arg(weights[i], 0, 'f', 2).toUtf8();
            QTRY_COMPARE(fileBytes(m_chosenFile), expected);
        }

        // FINISH adds nothing more.
        click(part("terminalBottomContext"), "startStopFrame");
        QVERIFY(!ApplicationController::instance()->isExporting());
        QCOMPARE(autoLabel->text() + startLabel->text(), QStringLiteral("AUTO SENDSTART"));
        QCOMPARE(m_finishQuestions.size(), 1);
        QVERIFY(m_finishQuestions.first().endsWith(m_chosenFile));
        QCOMPARE(fileBytes(m_chosenFile), expected);

        child<QCheckBox>(m_transfer.get(), "fileBox")->click();
        QCOMPARE(child<QLabel>(m_transfer.get(), "fileLabel")->text(), QString());
    }
    void pasteToTextField()
    {
        ApplicationController* app = ApplicationController::instance();
        m_transfer = std::make_unique<TransferWidget>();
        m_transfer->show();
        child<QCheckBox>(m_transfer.get(), "cursorBox")->click();
        QVERIFY(SettingsController::instance()->pasteToCursor.value());

        // While the stop dialog is up a result comes in, then the user clicks STOP.
        QPointer<TransferStopDialog> stopDialog;
        Qt::WindowFlags stopFlags;
        app->setStopDialogFactory([&] {
            auto* dialog = new TransferStopDialog;
            stopDialog = dialog;
            stopFlags = dialog->windowFlags();
            QTimer::singleShot(0, dialog, [dialog] {
                CBalanceController::instance()->result();
                click(dialog, "stopFrame");
            });
            return dialog;
        });
        QSignalSpy toData(m_transfer.get(), &TransferWidget::changeToData);
        QSignalSpy minimized(app, &ApplicationController::minimize);
        QSignalSpy shownAgain(app, &ApplicationController::show);
        child<QPushButton>(m_transfer.get(), "startButton")->click();

        QCOMPARE(toData.count(), 0);
        QCOMPARE(minimized.count(), 1);
        QTRY_COMPARE(shownAgain.count(), 1);
        QVERIFY(stopDialog.isNull());
        QVERIFY(stopFlags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!app->isExporting());
        QCOMPARE(m_keys.typed, QStringLiteral("12.50\tkg\n"));
        QCOMPARE(datafeedRows().size(), 1);
    }
    void startRefusedWithoutDevice()
    {
        CDeviceController::instance()->setCurrentDevice(nullptr);
        m_transfer = std::make_unique<TransferWidget>();
        QSignalSpy toData(m_transfer.get(), &TransferWidget::changeToData);
        ModalAnswerer notices(QStringLiteral("OK"));
        child<QPushButton>(m_transfer.get(), "startButton")->click();
        click(part("exportBottomContext"), "startStopFrame");

        const QString refused = QStringLiteral("Failed to start exporting: no instrument is connected.");
        QCOMPARE(notices.texts, (QStringList{refused, refused}));
        QVERIFY(!ApplicationController::instance()->isExporting());
        QCOMPARE(toData.count(), 0);
        QCOMPARE(child<QLabel>(part("exportBottomContext"), "startStopLabel")->text(),
                 QStringLiteral("AUTO SEND"));
    }
    void clearContents_data()
    {
        QTest::addColumn<QByteArray>("view");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("byExport"); // the start of a file export, not the CLEAR button

        QTest::newRow("feed, yes") << QByteArray("feedButton") << 2 << "Yes" << 0 << true << false;
        QTest::newRow("display, no") << QByteArray("displayButton") << 2 << "No" << 2 << true << false;
        QTest::newRow("Enter alone keeps the rows")
            << QByteArray("feedButton") << 2 << ModalAnswerer::EnterKey << 2 << true << false;
        QTest::newRow("empty feed asks nothing")
            << QByteArray("feedButton") << 0 << "Yes" << 0 << false << false;
        QTest::newRow("terminal clears the log only")
            << QByteArray("terminalButton") << 2 << "Yes" << 2 << false << false;
        QTest::newRow("an export from the terminal view keeps the log")
            << QByteArray("terminalButton") << 2 << "Yes" << 0 << true << true;
    }
    void clearContents()
    {
        QFETCH(QByteArray, view);
        QFETCH(int, rows);
        QFETCH(QString, answer);
        QFETCH(int, rowsAfter);
        QFETCH(bool, asked);
        QFETCH(bool, byExport);

        showPage(view.constData());
        for (int i = 0; i < rows; ++i) {
            QVERIFY(CBalanceController::instance()->result());
        }
        QTRY_COMPARE(datafeedRows().size(), rows);
        emit ApplicationController::instance()->elapsedTimeSig(6001);
        QSqlQuery logs(QStringLiteral("SELECT COUNT(*) FROM LOGS"));
        QVERIFY(logs.next() && logs.value(0).toInt() > 0);

        ModalAnswerer answerer(answer);
        const bool terminal = view == "terminalButton";
        QWidget* panel = part(terminal ? "terminalBottomContext" : "exportBottomContext");
        if (byExport) {
            emit ApplicationController::instance()->clearContents();
        } else {
            click(panel, "clearFrame");
        }

        QCOMPARE(answerer.texts, asked ? QStringList{QStringLiteral("Delete all 2 results of the data feed?")}
                                       : QStringList());
        QCOMPARE(datafeedRows().size(), rowsAfter);
        QVERIFY(logs.exec() && logs.next());
        QCOMPARE(logs.value(0).toInt() == 0, terminal && !byExport);
        // Clearing the feed starts the count and the elapsed time (minutes past 99 shown whole) anew.
        const bool cleared = asked && rowsAfter == 0;
        QCOMPARE(child<QLabel>(panel, "timeLabel")->text(), QLatin1String(cleared ? "00:00" : "100:01"));
        if (cleared) {
            QCOMPARE(child<DataFeedTableView>(m_page.get(), "tableWidget")->nextCount(), 1);
        }
    }
    void msRaisesMinimum()
    {
        // The transfer page and the data feed's panel show the same interval.
        m_transfer = std::make_unique<TransferWidget>();
        QWidget* panel = part("exportRightContext");
        const QList<QSpinBox*> spins{child<QSpinBox>(m_transfer.get(), "delaySpinBox"),
                                     child<QSpinBox>(panel, "delaySpinBox")};
        child<QComboBox>(m_transfer.get(), "delayComboBox")->setCurrentIndex(SettingsController::UnitMs);
        for (QSpinBox* spin : spins) {
            QCOMPARE(QPoint(spin->minimum(), spin->value()), QPoint(250, 250));
        }
        QCOMPARE(ApplicationController::instance()->autoSendIntervalMs(), 250);

        child<QComboBox>(panel, "delayComboBox")->setCurrentIndex(SettingsController::UnitSec);
        for (QSpinBox* spin : spins) {
            QCOMPARE(QPoint(spin->minimum(), spin->value()), QPoint(1, 250));
        }
        QCOMPARE(ApplicationController::instance()->autoSendIntervalMs(), 250000);
    }
    void stopDialog()
    {
        ApplicationController* app = ApplicationController::instance();
        m_chosenFile = m_db.filePath(QStringLiteral("stopped.txt"));
        SettingsController::instance()->saveToFile.setState(true);
        QVERIFY(app->startExport());
        QVERIFY(CBalanceController::instance()->result());
        QTRY_COMPARE(datafeedRows().size(), 1);
        TransferStopDialog dialog;
        dialog.move(300, 200);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        emit app->elapsedTimeSig(75);
        QCOMPARE(child<QLabel>(&dialog, "timeLabel")->text(), QStringLiteral("01:15"));

        // Dragged by the time or by STOP, it moves, and the drag is no click on STOP. The events go to the
        // window, which hands them to what is under the pointer.
        QWindow* window = dialog.windowHandle();
        for (const char* grip : {"timeLabel", "stopFrame"}) {
            const QPoint start = dialog.pos();
            const QPoint grab = child(&dialog, grip)->mapTo(&dialog, child(&dialog, grip)->rect().center());
            QTest::mousePress(window, Qt::LeftButton, {}, grab);
            for (const QPoint step : {QPoint(20, 10), QPoint(40, 30)}) {
                QTest::mouseMove(window, start + grab + step - dialog.pos());
            }
            QTest::mouseRelease(window, Qt::LeftButton, {}, start + grab + QPoint(40, 30) - dialog.pos());
            QCOMPARE(dialog.pos(), start + QPoint(40, 30));
            QCOMPARE(m_finishQuestions.size(), 0);
        }
        QCOMPARE(child(&dialog, "stopFrame")->property("pressed").toBool(), false);

        // CANCEL in the finish question keeps the export and the dialog; FINISH ends both.
        bool finish = false;
        app->setFinishQuestion([&finish](const QString&) { return finish; });
        click(&dialog, "stopFrame");
        QVERIFY(dialog.isVisible() && app->isExporting());
        finish = true;
        click(&dialog, "stopFrame");
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!app->isExporting());
    }
    void firmwareDialog_data()
    {
        // The answer to the question ("" chooses no file), the questions and notices the user saw, the bar
        // at the end, and how much of the image reached the instrument's bootloader.
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QStringList>("notices");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QByteArray>("reached");

        const QStringList asked{
            QStringLiteral("Are you sure you wish to upload this file as a firmware to device?\nIf the file "
                           "is invalid it can "
                           "cause scale to work incorrectly\nThe process may take several minutes")};
        // The last notice is compared up to its length.
        const auto failed = [&asked](const char* reason) {
            return asked + QStringList{QStringLiteral("Sending firmware failed!\n") + QLatin1String(reason)};
        };
        QTest::newRow("uploaded") << "Yes" << QByteArray()
                                  << asked +
                                         QStringList{
                                             "Firmware uploaded successfully!\nThe instrument took the "
                                             "whole of image.s19."}
                                  << 100 << QByteArray("all");
        QTest::newRow("disconnected mid-upload")
            << "Yes" << QByteArray("disconnect") << failed("The connection to the instrument was lost") << 0
            << QByteArray("part");
        QTest::newRow("no device") << "Yes" << QByteArray("no device")
                                   << failed("No instrument is connected.") << 0 << QByteArray("none");
        QTest::newRow("answered No") << "No" << QByteArray() << asked << 0 << QByteArray("none");
        QTest::newRow("no file chosen") << "" << QByteArray() << QStringList() << 0 << QByteArray("none");
    }
    void firmwareDialog()
    {
        QFETCH(QString, answer);
        QFETCH(QByteArray, fault);
        QFETCH(QStringList, notices);
        QFETCH(int, bar);
        QFETCH(QByteArray, reached);

        const int lines = 120;
        const QString folder = m_db.filePath(QStringLiteral("firmware"));
        QVERIFY(QDir(folder).removeRecursively() && QDir().mkpath(folder));
        for (const char* name : {"image.s19", "OLD.S19", "notes.txt"}) {
            QFile file(folder + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(sRecordImage(lines)) > 0);
        }
        QSettings().remove(QStringLiteral("SavedFilePaths/firmwarePath"));
        if (fault == "no device") {
            CDeviceController::instance()->setCurrentDevice(nullptr);
        }

        FirmwareDialog dialog;
        dialog.show();
        auto* progress = child<QProgressBar>(&dialog, "progressBar");
        auto* upload = child<QPushButton>(&dialog, "uploadButton");
        const QString image = answer.isEmpty() ? QString() : folder + QStringLiteral("/image.s19");
        QVERIFY(!upload->isEnabled());
        // The chooser's buttons say what they do, in the colour its own style gives them (the dialog's
        // white button text made them a bare icon each).
        QStringList chooserButtons;
        QTimer::singleShot(0, &dialog, [&chooserButtons] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            const QList<QPushButton*> buttons =
                chooser ? chooser->findChild<QDialogButtonBox*>()->findChildren<QPushButton*>()
                        : QList<QPushButton*>();
            for (QPushButton* button : buttons) {
                button->ensurePolished();
                const QColor text = button->palette().color(QPalette::Active, QPalette::ButtonText);
                chooserButtons << button->text().remove('&') +
                                      (text == chooser->palette().color(QPalette::Active,
                                                                        QPalette::ButtonText)
                                           ? ""
                                           : " in " + text.name());
            }
            chooserButtons.sort();
        });
        QString startFolder;
        QStringList offered;
        chooseFile(image, &startFolder, &offered);
        child<QPushButton>(&dialog, "pickButton")->click();
        QCOMPARE(chooserButtons, (QStringList{"Cancel", "Open"}));
        QCOMPARE(upload->isEnabled(), !image.isEmpty());
        if (!image.isEmpty()) {
            QCOMPARE(startFolder, QDir::homePath());
            QCOMPARE(offered, (QStringList{"OLD.S19", "image.s19"}));
            QCOMPARE(child<QLabel>(&dialog, "pathLabel")->text(), image);
        }

        // While the image goes out, neither the buttons nor closing can interrupt it.
        int reports = 0;
        bool heldOpen = true;
        connect(progress, &QProgressBar::valueChanged, &dialog, [&](int value) {
            reports += value > 0;
            if (value > 0) {
                dialog.reject();
                dialog.close();
                heldOpen = heldOpen && dialog.isVisible() && !upload->isEnabled() &&
                           !child(&dialog, "closeButton")->isEnabled() &&
                           !child(&dialog, "pickButton")->isEnabled();
            }
            if (fault == "disconnect" && value == 30) {
                m_device->disconnectDevice();
            }
        });
        ModalAnswerer answerer(answer);
        upload->click();

        // It closes once an upload has ended, whichever way; otherwise it stays.
        QTRY_COMPARE(dialog.isVisible(), notices.size() < 2 && reached == "none");
        QCOMPARE(answerer.texts.size(), notices.size());
        if (!notices.isEmpty()) {
            answerer.texts.last().truncate(notices.constLast().size());
        }
        QCOMPARE(answerer.texts, notices);
        QCOMPARE(progress->value(), bar);
        QVERIFY(heldOpen);
        QCOMPARE(reports > 0, reached != "none");
        QCOMPARE(upload->isEnabled(), !image.isEmpty());
        const int received = m_instrument->bootloader().linesReceived();
        const char* got = !m_wire.contains("Sfirmwupd\r\n") ? "none" : received == lines ? "all" : "part";
        QCOMPARE(got, reached.constData());
    }

private:
    QWidget* part(const char* name) const { return child(m_page.get(), name); }
    void showPage(const char* viewButton)
    {
        // The view first: the display view would start asking the instrument as soon as it is shown.
        child<QPushButton>(m_page.get(), viewButton)->click();
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    }

    TestDatabase m_db;
    std::unique_ptr<CPelmLog> m_log;
    std::unique_ptr<SimInstrument> m_instrument;
    std::unique_ptr<SimPty> m_pty;
    std::unique_ptr<CDeviceOld> m_device;
    std::unique_ptr<DataFeedWidget> m_page;
    std::unique_ptr<TransferWidget> m_transfer;
    RecordingKeystrokes m_keys;
    QByteArray m_wire;
    QString m_chosenFile;
    QStringList m_finishQuestions;
};

QTEST_MAIN(TstPages)
#include "tst_pages.moc"
