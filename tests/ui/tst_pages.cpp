#include "controller/applicationcontroller.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/settingscontroller.h"
#include "device/cdeviceold.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"
#include "log/datafeedtableview.h"
#include "log/pelmlogview.h"
#include "platform/keystrokeservice.h"
#include "ui/clickableframe.h"
#include "ui/confirmationdialog.h"
#include "ui/datafeedwidget.h"
#include "ui/panelkit.h"
#include "ui/rightterminalcontext.h"
#include "ui/transferstopdialog.h"
#include "ui/transferwidget.h"

#include "siminstrument.h"
#include "simpty.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <functional>
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
    bool pressReturn() override
    {
        typed += QLatin1Char('\n');
        return true;
    }
    bool capsLockOn() override { return false; }
    bool toggleCapsLock() override { return true; }
    void flush() override {}

    QString typed;
};

// Answers the next confirmation dialogs with the button of the given text and keeps their texts.
// It polls because the dialogs run their own event loops; the polling ends by itself.
class DialogAnswerer : public QObject
{
public:
    explicit DialogAnswerer(const QString& button) : m_button(button)
    {
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::poll);
        m_timer.start(10);
    }

    QStringList texts;

private:
    void poll()
    {
        const QList<QWidget*> windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            auto* dialog = qobject_cast<ConfirmationDialog*>(window);
            if (!dialog || !dialog->isVisible()) {
                continue;
            }
            texts << dialog->findChild<QLabel*>(QStringLiteral("mainLabel"))->text();
            const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
            for (QPushButton* button : buttons) {
                if (button->isVisible() && button->text() == m_button) {
                    button->click();
                    return;
                }
            }
            dialog->done(-1);
        }
        if (++m_polls > 500) {
            m_timer.stop();
        }
    }

    QString m_button;
    QTimer m_timer;
    int m_polls = 0;
};

// Chooses an entry of the next popup menu the way a user does, and keeps the menu's title.
class MenuAnswerer : public QObject
{
public:
    explicit MenuAnswerer(const QString& entry) : m_entry(entry)
    {
        connect(&m_timer, &QTimer::timeout, this, &MenuAnswerer::poll);
        m_timer.start(10);
    }

    QStringList titles;

private:
    void poll()
    {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu) {
            titles << menu->title();
            const QList<QAction*> actions = menu->actions();
            for (QAction* action : actions) {
                if (action->text() == m_entry) {
                    menu->setActiveAction(action);
                }
            }
            QTest::keyClick(menu, menu->activeAction() ? Qt::Key_Return : Qt::Key_Escape);
        }
        if (++m_polls > 300) {
            m_timer.stop();
        }
    }

    QString m_entry;
    QTimer m_timer;
    int m_polls = 0;
};

// The option values a start begins with, before start-up switches auto send on.
void resetSettings()
{
    SettingsController* s = SettingsController::instance();
    for (TwoStateElement* e :
         {&s->pasteToCursor, &s->saveToFile, &s->deviceIdField, &s->dateField, &s->timeField, &s->countField,
          &s->noteField, &s->autoSend, &s->stableOnly, &s->betweenNone, &s->betweenSemicolon,
          &s->betweenEnter, &s->betweenComma, &s->afterNone, &s->afterSemicolon, &s->afterTab, &s->afterComma,
          &s->terminalRawChunks}) {
        e->setState(false);
    }
    for (TwoStateElement* e : {&s->unitField, &s->betweenTab, &s->afterEnter, &s->terminalInOut,
                               &s->terminalInterface, &s->terminalDate, &s->terminalTime, &s->terminalEcho}) {
        e->setState(true);
    }
    s->autoSendUnit.setState(SettingsController::UnitSec);
    s->autoSendInterval.setState(5);
}

QList<QStringList> datafeedRows()
{
    QList<QStringList> rows;
    QSqlQuery query(
        QStringLiteral("SELECT COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED ORDER BY COUNT"));
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < 7; ++i) {
            row << query.value(i).toString();
        }
        rows << row;
    }
    return rows;
}

// The colour of the icon's opaque pixels, as the panels tint them.
QString iconColour(const QAbstractButton* button)
{
    const QImage image = button->icon().pixmap(button->iconSize()).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.alpha() == 255) {
                return colour.name();
            }
        }
    }
    return QStringLiteral("no icon");
}

int logRows()
{
    QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM LOGS"));
    return query.next() ? query.value(0).toInt() : -1;
}

// "INOUT Message" of every row the log view shows.
QStringList shownLog(const PelmLogView* view)
{
    QStringList rows;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        rows << model->index(row, 2).data().toString() + QLatin1Char(' ') +
                    model->index(row, 6).data().toString();
    }
    return rows;
}

} // namespace

// The data capture and transfer pages against the simulated instrument on a pseudo-terminal.
class TstPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sendLandsInFeed_data();
    void sendLandsInFeed();
    void streamedResultsLand();
    void displayShowsEveryResultFeedOnlySignificant();
    void instrumentKeys_data();
    void instrumentKeys();
    void terminalCommandLine_data();
    void terminalCommandLine();
    void feedColumnOptions_data();
    void feedColumnOptions();
    void terminalColumnOptions_data();
    void terminalColumnOptions();
    void elapsedLabel_data();
    void elapsedLabel();
    void transferApply_data();
    void transferApply();
    void fileExportAtFinish_data();
    void fileExportAtFinish();
    void clearContents_data();
    void clearContents();
    void contextMenuDeletesSelectedRows();
    void logRefreshThrottled();
    void feedFollowsOnlyAtBottom();
    void msRaisesMinimum();
    void testFramesFitNarrowPanel();
    void fullScreenDisplay();
    void echoBoxFollowsDevice();
    void stopDialogStaysOnCancel();
    void startFrameRefusedWithoutDevice();
    void rawChunksOption();
    void stopDialogDrags_data();
    void stopDialogDrags();

private:
    template <typename T> T* child(QWidget* parent, const char* name)
    {
        T* found = parent->findChild<T*>(QLatin1String(name));
        if (!found) {
            qWarning() << "no child" << name;
        }
        return found;
    }
    void click(QWidget* parent, const char* frameName);
    void showPage(const char* viewButton);
    QString wire() const { return QString::fromLatin1(m_wire); }

    QTemporaryDir m_dir;
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

void TstPages::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
    SimPty probe;
    QString error;
    if (!probe.open(&error)) {
        QSKIP(qPrintable(QStringLiteral("pseudo-terminals are not available here: ") + error));
    }
    QVERIFY(m_dir.isValid());
    QVERIFY(AppDatabase::open(m_dir.filePath(QStringLiteral("pages.db"))));
    m_log = std::make_unique<CPelmLog>();
    CDeviceController::instance();
    CBalanceController::instance();
    ApplicationController* app = ApplicationController::instance();
    app->init();
    app->setFileChooser([this] { return m_chosenFile; });
    app->setFinishQuestion([this](const QString& text) {
        m_finishQuestions << text;
        return true;
    });
    // Nothing is ever typed into a real window.
    app->keyboardOutput().setKeystrokeService(&m_keys);
}

void TstPages::init()
{
    resetSettings();
    m_wire.clear();
    m_keys.typed.clear();
    m_finishQuestions.clear();
    m_chosenFile.clear();

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

void TstPages::cleanup()
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
    m_pty.reset();
    m_instrument.reset();
}

void TstPages::click(QWidget* parent, const char* frameName)
{
    auto* frame = child<ClickableFrame>(parent, frameName);
    QVERIFY(frame);
    QTest::mouseClick(frame, Qt::LeftButton);
}

void TstPages::showPage(const char* viewButton)
{
    // The view first: the display view would start asking the instrument as soon as it is shown.
    child<QPushButton>(m_page.get(), viewButton)->click();
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
}

void TstPages::sendLandsInFeed_data()
{
    QTest::addColumn<double>("weight");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<QString>("value");

    QTest::newRow("two decimals") << 12.5 << 2 << QByteArray("kg") << "12.50";
    QTest::newRow("no decimals") << 3.0 << 0 << QByteArray("g") << "3";
    QTest::newRow("negative, three decimals") << -0.125 << 3 << QByteArray("lb") << "-0.125";
}

void TstPages::sendLandsInFeed()
{
    QFETCH(double, weight);
    QFETCH(int, decimals);
    QFETCH(QByteArray, unit);
    QFETCH(QString, value);

    m_instrument->setWeight(weight);
    m_instrument->setDecimals(decimals);
    m_instrument->setUnit(unit);
    showPage("feedButton");
    const QString before = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    click(child<QWidget>(m_page.get(), "exportBottomContext"), "sendFrame");

    QTRY_COMPARE(datafeedRows().size(), 1);
    const QStringList row = datafeedRows().first();
    const QString after = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    QCOMPARE(row.at(0), QStringLiteral("1"));
    QCOMPARE(row.at(1), QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")));
    QVERIFY2(row.at(2) == before || row.at(2) == after, qPrintable(row.at(2)));
    QCOMPARE(row.mid(3),
             (QStringList{QStringLiteral("123456"), value, QString::fromLatin1(unit), QString()}));

    const auto* table = child<DataFeedTableView>(m_page.get(), "tableWidget");
    QCOMPARE(table->model()->rowCount(), 1);
    QCOMPARE(table->model()->index(0, DataFeedTableModel::ValColumn).data().toString(), value);
    QVERIFY(!table->isColumnHidden(DataFeedTableModel::ValColumn));
    QVERIFY(!table->isColumnHidden(DataFeedTableModel::UnitColumn));
}

void TstPages::streamedResultsLand()
{
    showPage("feedButton");
    m_instrument->setStreaming(40);
    QTRY_VERIFY(datafeedRows().size() >= 3);
    m_instrument->setStreaming(0);
    const QList<QStringList> rows = datafeedRows();
    for (const QStringList& row : rows) {
        QCOMPARE(row.mid(4, 2), (QStringList{QStringLiteral("12.50"), QStringLiteral("kg")}));
    }
    QVERIFY2(!m_wire.contains("Sx1") && !m_wire.contains("SI"), m_wire.constData());
}

void TstPages::displayShowsEveryResultFeedOnlySignificant()
{
    auto* label = child<QLabel>(m_page.get(), "displayValueLabel");
    QCOMPARE(label->text(), QStringLiteral("0.0g"));
    QVERIFY(!m_page->isDisplayTimerActive());
    showPage("displayButton");
    QVERIFY(m_page->isDisplayTimerActive());

    // Requests with stability flag keep the display current and store nothing.
    QTRY_COMPARE(label->text(), QStringLiteral("12.50kg"));
    m_instrument->setWeight(7.25);
    QTRY_COMPARE(label->text(), QStringLiteral("7.25kg"));
    QVERIFY(m_wire.contains("Sx3\r\n"));
    QCOMPARE(datafeedRows().size(), 0);

    // A significant result is stored and flashes the display.
    auto* display = child<QWidget>(m_page.get(), "displayWidget");
    QVERIFY(CBalanceController::instance()->result());
    QTRY_COMPARE(datafeedRows().size(), 1);
    QCOMPARE(display->styleSheet(), QLatin1String(DataFeedWidget::FlashStyle));
    QTRY_COMPARE(display->styleSheet(), QString());

    child<QPushButton>(m_page.get(), "feedButton")->click();
    QVERIFY(!m_page->isDisplayTimerActive());
    child<QPushButton>(m_page.get(), "displayButton")->click();
    QVERIFY(m_page->isDisplayTimerActive());
    m_page->hide();
    QVERIFY(!m_page->isDisplayTimerActive());
}

void TstPages::instrumentKeys_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("line");

    QTest::newRow("tare") << QByteArray("tareFrame") << "TARE"
                          << "ST\r\n";
    QTest::newRow("zero") << QByteArray("zeroFrame") << "ZERO"
                          << "SZ\r\n";
    QTest::newRow("on/off") << QByteArray("onOffFrame") << "ON/Off"
                            << "SS\r\n";
}

void TstPages::instrumentKeys()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, text);
    QFETCH(QString, line);

    showPage("feedButton");
    auto* frameWidget = child<ClickableFrame>(m_page.get(), frame.constData());
    auto* label = child<QLabel>(m_page.get(), (frame + "T").constData());
    QCOMPARE(label->text(), text);
    auto* icon = child<QAbstractButton>(m_page.get(), (frame + "B").constData());
    const QString iconAtRest = iconColour(icon);
    QVERIFY(iconAtRest != QStringLiteral("#ffffff") && iconAtRest != QStringLiteral("no icon"));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(frameWidget, &enter);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(iconColour(icon), QStringLiteral("#ffffff"));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(frameWidget, &leave);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(iconColour(icon), iconAtRest);

    click(m_page.get(), frame.constData());
    QTRY_COMPARE(wire(), line);
}

void TstPages::terminalCommandLine_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("command");

    QTest::newRow("return in the command line") << "return"
                                                << "HELLO";
    QTest::newRow("send frame") << "send"
                                << "XY 12";
    QTest::newRow("test command frame, then return") << "STFrame"
                                                     << "ST";
}

void TstPages::terminalCommandLine()
{
    QFETCH(QString, how);
    QFETCH(QString, command);

    showPage("terminalButton");
    auto* line = child<QLineEdit>(m_page.get(), "commandLine");
    if (how == QLatin1String("return")) {
        line->setText(command);
        QTest::keyClick(line, Qt::Key_Return);
    } else if (how == QLatin1String("send")) {
        line->setText(command);
        click(child<QWidget>(m_page.get(), "terminalBottomContext"), "sendFrame");
    } else {
        line->setText(QStringLiteral("something else"));
        click(m_page.get(), how.toLatin1().constData());
        QCOMPARE(line->text(), command);
        QTest::keyClick(line, Qt::Key_Return);
    }

    QTRY_COMPARE(wire(), command + QStringLiteral("\r\n"));
    const auto* view = child<PelmLogView>(m_page.get(), "tableLogs");
    QTRY_VERIFY2(shownLog(view).contains(QStringLiteral("OUT ") + command + QStringLiteral("<CR><LF>")),
                 qPrintable(shownLog(view).join(QLatin1Char('|'))));
}

void TstPages::feedColumnOptions_data()
{
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("shownAtStart");

    QTest::newRow("count") << QByteArray("countBox") << int(DataFeedTableModel::CountColumn) << false;
    QTest::newRow("date") << QByteArray("dateBox") << int(DataFeedTableModel::DateColumn) << false;
    QTest::newRow("time") << QByteArray("timeBox") << int(DataFeedTableModel::TimeColumn) << false;
    QTest::newRow("device id") << QByteArray("snBox") << int(DataFeedTableModel::SnColumn) << false;
    QTest::newRow("unit") << QByteArray("unitBox") << int(DataFeedTableModel::UnitColumn) << true;
    QTest::newRow("note") << QByteArray("customBox") << int(DataFeedTableModel::NoteColumn) << false;
}

void TstPages::feedColumnOptions()
{
    QFETCH(QByteArray, box);
    QFETCH(int, column);
    QFETCH(bool, shownAtStart);

    auto* panel = child<QWidget>(m_page.get(), "exportRightContext");
    auto* option = child<QCheckBox>(panel, box.constData());
    const auto* table = child<DataFeedTableView>(m_page.get(), "tableWidget");
    QCOMPARE(option->isChecked(), shownAtStart);
    QCOMPARE(table->isColumnHidden(column), !shownAtStart);

    option->click();
    QCOMPARE(table->isColumnHidden(column), shownAtStart);
    option->click();
    QCOMPARE(table->isColumnHidden(column), !shownAtStart);
    // The value and the delete button's column stay whatever is chosen.
    QVERIFY(!table->isColumnHidden(DataFeedTableModel::EmptyColumn));
    QVERIFY(!table->isColumnHidden(DataFeedTableModel::ValColumn));
}

void TstPages::terminalColumnOptions_data()
{
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<int>("column");

    QTest::newRow("in/out") << QByteArray("inoutBox") << 2;
    QTest::newRow("interface") << QByteArray("interfaceBox") << 3;
    QTest::newRow("date") << QByteArray("dateBox") << 4;
    QTest::newRow("time") << QByteArray("timeBox") << 5;
}

void TstPages::terminalColumnOptions()
{
    QFETCH(QByteArray, box);
    QFETCH(int, column);

    showPage("terminalButton");
    auto* panel = child<QWidget>(m_page.get(), "terminalRightContext");
    auto* option = child<QCheckBox>(panel, box.constData());
    auto* view = child<PelmLogView>(m_page.get(), "tableLogs");
    QVERIFY(option->isChecked());
    QVERIFY(!view->isColumnHidden(column));

    option->click();
    QVERIFY(view->isColumnHidden(column));
    // The log view rebuilds its model with every new line; the choice must outlive that.
    QSignalSpy resets(view->model(), &QAbstractItemModel::modelReset);
    QVERIFY(CBalanceController::instance()->sendString(QStringLiteral("PING\r\n")));
    QTRY_VERIFY(resets.count() > 0);
    QVERIFY(view->isColumnHidden(column));
    QVERIFY(!view->isColumnHidden(6));

    option->click();
    QVERIFY(!view->isColumnHidden(column));
}

void TstPages::elapsedLabel_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("start") << 0 << "00:00";
    QTest::newRow("under a minute") << 59 << "00:59";
    QTest::newRow("75 s") << 75 << "01:15";
    QTest::newRow("one hour") << 3600 << "60:00";
    QTest::newRow("over 99 minutes") << 6001 << "100:01";
}

void TstPages::elapsedLabel()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);

    TransferStopDialog dialog;
    emit ApplicationController::instance()->elapsedTimeSig(seconds);
    QCOMPARE(child<QLabel>(child<QWidget>(m_page.get(), "exportBottomContext"), "timeLabel")->text(), text);
    QCOMPARE(child<QLabel>(child<QWidget>(m_page.get(), "terminalBottomContext"), "timeLabel")->text(), text);
    QCOMPARE(child<QLabel>(&dialog, "timeLabel")->text(), text);
    QCOMPARE(PanelKit::elapsedText(seconds), text);
}

void TstPages::transferApply_data()
{
    QTest::addColumn<bool>("textField");
    QTest::addColumn<bool>("connected");

    QTest::newRow("to the data feed") << false << true;
    QTest::newRow("text field") << true << true;
    QTest::newRow("no device") << false << false;
}

void TstPages::transferApply()
{
    QFETCH(bool, textField);
    QFETCH(bool, connected);

    ApplicationController* app = ApplicationController::instance();
    m_transfer = std::make_unique<TransferWidget>();
    QCOMPARE(m_transfer->windowTitle(), QStringLiteral("Data Transfer and File Settings"));
    m_transfer->show();
    if (!connected) {
        CDeviceController::instance()->setCurrentDevice(nullptr);
    }
    if (textField) {
        child<QCheckBox>(m_transfer.get(), "cursorBox")->click();
    }
    QVERIFY(SettingsController::instance()->pasteToCursor.value() == textField);

    // While the stop dialog is up a result comes in, then the user clicks STOP.
    QPointer<TransferStopDialog> stopDialog;
    Qt::WindowFlags stopFlags;
    app->setStopDialogFactory([&] {
        auto* dialog = new TransferStopDialog;
        stopDialog = dialog;
        stopFlags = dialog->windowFlags();
        QTimer::singleShot(0, dialog, [this, dialog] {
            CBalanceController::instance()->result();
            click(dialog, "stopFrame");
        });
        return dialog;
    });
    QSignalSpy toData(m_transfer.get(), &TransferWidget::changeToData);
    QSignalSpy minimized(app, &ApplicationController::minimize);
    QSignalSpy shownAgain(app, &ApplicationController::show);
    DialogAnswerer notices(QStringLiteral("OK"));
    child<QPushButton>(m_transfer.get(), "startButton")->click();

    auto* autoLabel = child<QLabel>(child<QWidget>(m_page.get(), "exportBottomContext"), "startStopLabel");
    auto* startLabel = child<QLabel>(child<QWidget>(m_page.get(), "terminalBottomContext"), "startStopLabel");
    if (!connected) {
        QTRY_COMPARE(notices.texts, QStringList{QStringLiteral("Failed to start exporting")});
        QVERIFY(!app->isExporting());
        QCOMPARE(toData.count(), 0);
        QCOMPARE(autoLabel->text(), QStringLiteral("AUTO SEND"));
        return;
    }
    auto* autoIcon =
        child<QAbstractButton>(child<QWidget>(m_page.get(), "exportBottomContext"), "startStopFrameB");
    if (!textField) {
        QCOMPARE(toData.count(), 1);
        QVERIFY(app->isExporting());
        QCOMPARE(autoLabel->text(), QStringLiteral("STOP"));
        QCOMPARE(startLabel->text(), QStringLiteral("STOP"));
        QCOMPARE(iconColour(autoIcon), QStringLiteral("#ff4141"));
        click(child<QWidget>(m_page.get(), "exportBottomContext"), "startStopFrame");
        QVERIFY(!app->isExporting());
        QCOMPARE(autoLabel->text(), QStringLiteral("AUTO SEND"));
        QCOMPARE(startLabel->text(), QStringLiteral("START"));
        QCOMPARE(iconColour(autoIcon), QStringLiteral("#797979"));
        QCOMPARE(minimized.count(), 0);
        QVERIFY(m_keys.typed.isEmpty());
        return;
    }
    QCOMPARE(toData.count(), 0);
    QCOMPARE(minimized.count(), 1);
    QTRY_COMPARE(shownAgain.count(), 1);
    QVERIFY(stopDialog.isNull());
    QVERIFY(stopFlags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(stopFlags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(!app->isExporting());
    QCOMPARE(m_keys.typed, QStringLiteral("12.50\tkg\n"));
    QCOMPARE(datafeedRows().size(), 1);
    QCOMPARE(notices.texts, QStringList());
}

void TstPages::fileExportAtFinish_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QByteArray>("between");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("expected");

    const QString date = QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"));
    QTest::newRow("unit, tab, enter") << QStringList() << QByteArray("betweenTab") << QByteArray("afterEnter")
                                      << "\t12.50\tkg\n\t13.00\tkg\n";
    QTest::newRow("count and id, semicolon, enter")
        << QStringList{"countBox", "idBox"} << QByteArray("betweenSemicolon") << QByteArray("afterEnter")
        << ";1;123456;12.50;kg\n;2;123456;13.00;kg\n";
    QTest::newRow("date without unit, comma, semicolon")
        << QStringList{"dateBox", "unitBox"} << QByteArray("betweenComma") << QByteArray("afterSemicolon")
        << QStringLiteral(",%1,12.50;,%1,13.00;").arg(date);
}

void TstPages::fileExportAtFinish()
{
    QFETCH(QStringList, boxes);
    QFETCH(QByteArray, between);
    QFETCH(QByteArray, after);
    QFETCH(QString, expected);

    m_transfer = std::make_unique<TransferWidget>();
    for (const QString& box : qAsConst(boxes)) {
        child<QCheckBox>(m_transfer.get(), box.toLatin1().constData())->click();
    }
    child<QAbstractButton>(m_transfer.get(), between.constData())->click();
    child<QAbstractButton>(m_transfer.get(), after.constData())->click();
    m_chosenFile = m_dir.filePath(QStringLiteral("exports/capture.csv"));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("exports"))));
    QFile::remove(m_chosenFile);
    child<QCheckBox>(m_transfer.get(), "fileBox")->click();
    QCOMPARE(child<QLabel>(m_transfer.get(), "fileLabel")->text(), QStringLiteral("capture.csv"));

    child<QPushButton>(m_transfer.get(), "startButton")->click();
    QVERIFY(ApplicationController::instance()->isExporting());
    click(child<QWidget>(m_page.get(), "exportBottomContext"), "sendFrame");
    QTRY_COMPARE(datafeedRows().size(), 1);
    m_instrument->setWeight(13.0);
    click(child<QWidget>(m_page.get(), "exportBottomContext"), "sendFrame");
    QTRY_COMPARE(datafeedRows().size(), 2);
    QFile file(m_chosenFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), 0);
    file.close();

    click(child<QWidget>(m_page.get(), "terminalBottomContext"), "startStopFrame");
    QVERIFY(!ApplicationController::instance()->isExporting());
    QCOMPARE(m_finishQuestions.size(), 1);
    QVERIFY(m_finishQuestions.first().endsWith(m_chosenFile));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), expected);

    child<QCheckBox>(m_transfer.get(), "fileBox")->click();
    QCOMPARE(child<QLabel>(m_transfer.get(), "fileLabel")->text(), QString());
}

void TstPages::clearContents_data()
{
    QTest::addColumn<QByteArray>("view");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("rowsAfter");
    QTest::addColumn<bool>("asked");

    QTest::newRow("feed, yes") << QByteArray("feedButton") << 2 << "Yes" << 0 << true;
    QTest::newRow("display, no") << QByteArray("displayButton") << 2 << "No" << 2 << true;
    QTest::newRow("empty feed asks nothing") << QByteArray("feedButton") << 0 << "Yes" << 0 << false;
    QTest::newRow("terminal clears the log only") << QByteArray("terminalButton") << 2 << "Yes" << 2 << false;
}

void TstPages::clearContents()
{
    QFETCH(QByteArray, view);
    QFETCH(int, rows);
    QFETCH(QString, answer);
    QFETCH(int, rowsAfter);
    QFETCH(bool, asked);

    showPage(view.constData());
    for (int i = 0; i < rows; ++i) {
        QVERIFY(CBalanceController::instance()->result());
    }
    QTRY_COMPARE(datafeedRows().size(), rows);
    emit ApplicationController::instance()->elapsedTimeSig(42);
    QVERIFY(logRows() > 0);

    DialogAnswerer answerer(answer);
    const bool terminal = view == "terminalButton";
    click(child<QWidget>(m_page.get(), terminal ? "terminalBottomContext" : "exportBottomContext"),
          "clearFrame");

    QCOMPARE(answerer.texts,
             asked ? QStringList{QStringLiteral("Do you want to clear all the data?")} : QStringList());
    QCOMPARE(datafeedRows().size(), rowsAfter);
    QCOMPARE(logRows() == 0, terminal);
    const auto* table = child<DataFeedTableView>(m_page.get(), "tableWidget");
    const QString time =
        child<QLabel>(child<QWidget>(m_page.get(), "exportBottomContext"), "timeLabel")->text();
    if (asked && rowsAfter == 0) {
        QCOMPARE(table->nextCount(), 1);
        QCOMPARE(time, QStringLiteral("00:00"));
    } else {
        QCOMPARE(time, QStringLiteral("00:42"));
    }
}

void TstPages::contextMenuDeletesSelectedRows()
{
    showPage("feedButton");
    for (double weight : {1.0, 2.0, 3.0}) {
        m_instrument->setWeight(weight);
        QVERIFY(CBalanceController::instance()->result());
    }
    QTRY_COMPARE(datafeedRows().size(), 3);
    auto* table = child<DataFeedTableView>(m_page.get(), "tableWidget");

    {
        MenuAnswerer nothingSelected(QStringLiteral("Delete"));
        m_page->menuRequested(QPoint(5, 5));
        QCOMPARE(nothingSelected.titles, QStringList());
    }

    // Picked from the top down: row numbers of the later rows must not shift under the deletion.
    table->selectionModel()->select(table->model()->index(0, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->selectionModel()->select(table->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    MenuAnswerer answerer(QStringLiteral("Delete"));
    m_page->menuRequested(table->visualRect(table->model()->index(2, 5)).center());
    QCOMPARE(answerer.titles, QStringList{QStringLiteral("Context menu")});
    const QList<QStringList> left = datafeedRows();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.first().at(4), QStringLiteral("2.00"));
}

void TstPages::logRefreshThrottled()
{
    showPage("terminalButton");
    const auto* view = child<PelmLogView>(m_page.get(), "tableLogs");
    QSignalSpy resets(view->model(), &QAbstractItemModel::modelReset);
    PelmLogRecord record;
    record.interface = QStringLiteral("burst");
    record.date = QDate::currentDate();
    for (int i = 0; i < 5; ++i) {
        record.time = QTime::currentTime();
        record.message = QStringLiteral("LINE %1\r\n").arg(i);
        m_log->onNewInLog(record);
    }
    // One refresh at once, one more for the lines that came during the pause.
    QCOMPARE(resets.count(), 1);
    QVERIFY(!shownLog(view).contains(QStringLiteral("IN LINE 4<CR><LF>")));
    QTRY_COMPARE(resets.count(), 2);
    QVERIFY(shownLog(view).contains(QStringLiteral("IN LINE 4<CR><LF>")));
}

void TstPages::feedFollowsOnlyAtBottom()
{
    showPage("feedButton");
    auto* table = child<DataFeedTableView>(m_page.get(), "tableWidget");
    Measurement m;
    m.value = 1.5f;
    m.decimals = 1;
    m.unit = QStringLiteral("g");
    for (int i = 0; i < 60; ++i) {
        m_page->receiveResult(m);
    }
    QScrollBar* bar = table->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(0);
    m_page->receiveResult(m);
    QCOMPARE(bar->value(), 0);
    bar->setValue(bar->maximum());
    m_page->receiveResult(m);
    QTRY_COMPARE(bar->value(), bar->maximum());
    QCOMPARE(datafeedRows().size(), 62);
    QCOMPARE(datafeedRows().last().at(4), QStringLiteral("1.5"));
}

void TstPages::msRaisesMinimum()
{
    m_transfer = std::make_unique<TransferWidget>();
    auto* transferSpin = child<QSpinBox>(m_transfer.get(), "delaySpinBox");
    auto* panelSpin = child<QSpinBox>(child<QWidget>(m_page.get(), "exportRightContext"), "delaySpinBox");
    QCOMPARE(transferSpin->value(), 5);
    QCOMPARE(transferSpin->minimum(), 1);

    child<QComboBox>(m_transfer.get(), "delayComboBox")->setCurrentIndex(SettingsController::UnitMs);
    for (QSpinBox* spin : {transferSpin, panelSpin}) {
        QCOMPARE(spin->minimum(), 250);
        QCOMPARE(spin->value(), 250);
    }
    QCOMPARE(ApplicationController::instance()->autoSendIntervalMs(), 250);

    child<QComboBox>(child<QWidget>(m_page.get(), "exportRightContext"), "delayComboBox")
        ->setCurrentIndex(SettingsController::UnitSec);
    for (QSpinBox* spin : {transferSpin, panelSpin}) {
        QCOMPARE(spin->minimum(), 1);
        QCOMPARE(spin->value(), 250);
    }
    QCOMPARE(ApplicationController::instance()->autoSendIntervalMs(), 250000);
}

void TstPages::testFramesFitNarrowPanel()
{
    RightTerminalContext panel;
    const char* const parts[] = {"SIFrameB", "STFrameB", "SZFrameB", "SSFrameB",
                                 "SIFrameT", "STFrameT", "SZFrameT", "SSFrameT"};
    for (int width : {320, 90, 320}) {
        panel.setFixedWidth(width);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const bool wide = width > 200;
        for (const char* part : parts) {
            QTRY_COMPARE(child<QWidget>(&panel, part)->isVisible(), wide);
        }
        QVERIFY(child<QWidget>(&panel, "SIFrameTT")->isVisible());
        panel.hide();
    }
    auto* firmware = child<QPushButton>(&panel, "firmwareButton");
    QVERIFY(!firmware->isEnabled());
    QVERIFY(!firmware->toolTip().isEmpty());
}

void TstPages::fullScreenDisplay()
{
    showPage("displayButton");
    auto* button = child<QToolButton>(m_page.get(), "fullScreenButton");
    QWidget* display = child<QWidget>(m_page.get(), "displayWidget");
    QWidget* page = child<QWidget>(m_page.get(), "displayPage");

    button->setChecked(true);
    QVERIFY(display->isWindow());
    QVERIFY(display->isVisible());
    QVERIFY(display->windowState().testFlag(Qt::WindowFullScreen));

    QTest::keyClick(display, Qt::Key_Escape);
    QVERIFY(!button->isChecked());
    QCOMPARE(display->parentWidget(), page);
    QVERIFY(!display->isWindow());
    QVERIFY(display->isVisible());
}

void TstPages::echoBoxFollowsDevice()
{
    auto* echo = child<QCheckBox>(child<QWidget>(m_page.get(), "terminalRightContext"), "echoBox");
    QVERIFY(echo->isChecked());
    QVERIFY(!m_device->checkConnection());
    // Shown, the box tells what the device does.
    showPage("terminalButton");
    QVERIFY(!echo->isChecked());
    QVERIFY(!SettingsController::instance()->terminalEcho.value());
    echo->click();
    QVERIFY(m_device->checkConnection());
    echo->click();
    QVERIFY(!m_device->checkConnection());
}

void TstPages::stopDialogStaysOnCancel()
{
    ApplicationController* app = ApplicationController::instance();
    m_chosenFile = m_dir.filePath(QStringLiteral("stopped.txt"));
    SettingsController::instance()->saveToFile.setState(true);
    QVERIFY(app->startExport());
    QVERIFY(CBalanceController::instance()->result());
    QTRY_COMPARE(datafeedRows().size(), 1);

    TransferStopDialog dialog;
    dialog.show();
    bool finish = false;
    app->setFinishQuestion([&finish](const QString&) { return finish; });
    click(&dialog, "stopFrame");
    QVERIFY(dialog.isVisible());
    QVERIFY(app->isExporting());

    finish = true;
    click(&dialog, "stopFrame");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!app->isExporting());
    QFile file(m_chosenFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\t12.50\tkg\n"));
    app->setFinishQuestion([this](const QString& text) {
        m_finishQuestions << text;
        return true;
    });
}

void TstPages::startFrameRefusedWithoutDevice()
{
    CDeviceController::instance()->setCurrentDevice(nullptr);
    DialogAnswerer answerer(QStringLiteral("OK"));
    QWidget* panel = child<QWidget>(m_page.get(), "exportBottomContext");
    click(panel, "startStopFrame");
    QCOMPARE(answerer.texts, QStringList{QStringLiteral("Failed to start exporting")});
    QVERIFY(!ApplicationController::instance()->isExporting());
    QCOMPARE(child<QLabel>(panel, "startStopLabel")->text(), QStringLiteral("AUTO SEND"));
}

void TstPages::rawChunksOption()
{
    m_page->setTerminal(true);
    QVERIFY(child<QPushButton>(m_page.get(), "terminalButton")->isChecked());
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    auto* view = child<PelmLogView>(m_page.get(), "tableLogs");
    PelmLogRecord record;
    record.interface = QStringLiteral("chunks");
    record.date = QDate::currentDate();
    record.time = QTime::currentTime();
    for (const char* chunk : {"12.", "5 g\r\n"}) {
        record.message = QLatin1String(chunk);
        m_log->onNewInLog(record);
    }
    QTRY_VERIFY(shownLog(view).contains(QStringLiteral("IN 12.5 g<CR><LF>")));

    child<QCheckBox>(child<QWidget>(m_page.get(), "terminalRightContext"), "rawChunkBox")->click();
    QVERIFY(!view->isLineMode());
    QVERIFY(shownLog(view).contains(QStringLiteral("IN 12.")));
    QVERIFY(shownLog(view).contains(QStringLiteral("IN 5 g<CR><LF>")));
    child<QCheckBox>(child<QWidget>(m_page.get(), "terminalRightContext"), "rawChunkBox")->click();
    QVERIFY(view->isLineMode());
}

void TstPages::stopDialogDrags_data()
{
    QTest::addColumn<QByteArray>("grip");
    QTest::newRow("on the time") << QByteArray("timeLabel");
    QTest::newRow("on STOP") << QByteArray("stopFrame");
}

void TstPages::stopDialogDrags()
{
    QFETCH(QByteArray, grip);

    ApplicationController* app = ApplicationController::instance();
    QVERIFY(app->startExport());
    TransferStopDialog dialog;
    dialog.move(300, 200);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start = dialog.pos();
    QWidget* target = child<QWidget>(&dialog, grip.constData());
    // What is under the pointer gets the events, as a window system delivers them.
    QWidget* receiver = dialog.childAt(target->mapTo(&dialog, target->rect().center()));
    receiver = receiver && !receiver->testAttribute(Qt::WA_TransparentForMouseEvents) ? receiver : &dialog;
    while (receiver != &dialog && !qobject_cast<ClickableFrame*>(receiver)) {
        receiver = receiver->parentWidget();
    }
    auto send = [receiver](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent event(type, receiver->mapFromGlobal(global), global,
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(receiver, &event);
    };
    const QPoint grab = target->mapToGlobal(target->rect().center());
    send(QEvent::MouseButtonPress, grab, Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(20, 10), Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(40, 30), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grab + QPoint(40, 30), Qt::NoButton);

    QCOMPARE(dialog.pos(), start + QPoint(40, 30));
    QVERIFY(dialog.isVisible());
    QVERIFY(app->isExporting());
    QCOMPARE(child<QWidget>(&dialog, "stopFrame")->property("pressed").toBool(), false);
}

QTEST_MAIN(TstPages)
#include "tst_pages.moc"
