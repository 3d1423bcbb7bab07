#include "controller/applicationcontroller.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/settingscontroller.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "log/datafeedtablemodel.h"
#include "log/datafeedtableview.h"
#include "support/fakeinterface.h"

#include <QCheckBox>
#include <QFile>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <memory>

namespace {

// A device whose transport the test scripts.
class ScriptedDevice : public CDevice
{
public:
    ScriptedDevice() : fake(new FakeInterface) { adoptInterface(fake); }
    FakeInterface* fake;
};

Measurement measurement(float value, int decimals, const QString& unit)
{
    Measurement m;
    m.value = value;
    m.decimals = decimals;
    m.unit = unit;
    return m;
}

// The option values a start begins with.
void resetSettings()
{
    SettingsController* s = SettingsController::instance();
    for (TwoStateElement* e : {&s->pasteToCursor, &s->saveToFile, &s->deviceIdField, &s->dateField,
                               &s->timeField, &s->countField, &s->noteField, &s->autoSend, &s->stableOnly,
                               &s->betweenNone, &s->betweenSemicolon, &s->betweenEnter, &s->betweenComma,
                               &s->afterNone, &s->afterSemicolon, &s->afterTab, &s->afterComma}) {
        e->setState(false);
    }
    s->unitField.setState(true);
    s->betweenTab.setState(true);
    s->afterEnter.setState(true);
    s->autoSendUnit.setState(SettingsController::UnitSec);
    s->autoSendInterval.setState(5);
}

} // namespace

// The capture export: auto-send interval, result lines, the table writer, starting and stopping.
class TstCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void autoSendInterval_data();
    void autoSendInterval();
    void formatLine_data();
    void formatLine();
    void writeTable_data();
    void writeTable();
    void startRefusedWithoutConnectedDevice();
    void startAndStopWithoutFile();
    void fileExportFinishAndCancel();
    void chooseFileFollowsTheOption();
    void saveData();
    void elapsedTime();

private:
    void addRows();
    QString readFile(const QString& path);

    QTemporaryDir m_dir;
    std::unique_ptr<DataFeedTableView> m_view;
    std::unique_ptr<ScriptedDevice> m_device;
    ApplicationController* m_app = nullptr;
};

void TstCapture::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    QVERIFY(AppDatabase::open(m_dir.filePath(QStringLiteral("capture.db"))));
    CDeviceController::instance();
    CBalanceController::instance();
    m_app = ApplicationController::instance();
    m_app->init();
    m_app->setFinishQuestion([](const QString&) { return true; });
    m_app->setFileChooser([] { return QString(); });
}

void TstCapture::init()
{
    resetSettings();
    m_view = std::make_unique<DataFeedTableView>();
    m_view->clearAll();
    m_app->setDataFeed(m_view.get());
    m_device = std::make_unique<ScriptedDevice>();
    m_device->connectDevice(false);
    m_device->fake->name = QStringLiteral("FAKE");
    CDeviceController::instance()->setCurrentDevice(m_device.get());
}

void TstCapture::cleanup()
{
    if (m_app->isExporting()) {
        m_app->setFinishQuestion([](const QString&) { return true; });
        m_app->stopExport();
    }
    CDeviceController::instance()->setCurrentDevice(nullptr);
    m_device.reset();
    m_view.reset();
}

void TstCapture::addRows()
{
    m_view->addRow({"2026-12-06", "10:00:00", "123456", "12.345", "g", "plain"});
    m_view->addRow({"2026-12-06", "10:00:01", "123456", "-0.5", "kg", "a;b\tc \"quoted\""});
}

QString TstCapture::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("<unreadable>");
    }
    return QString::fromUtf8(file.readAll());
}

void TstCapture::autoSendInterval_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("ms");

    QTest::newRow("ms") << 300 << 0 << 300;
    QTest::newRow("ms below the floor") << 5 << 0 << 250;
    QTest::newRow("seconds") << 5 << 1 << 5000;
    QTest::newRow("minutes") << 2 << 2 << 120000;
    QTest::newRow("hours") << 3 << 3 << 3 * 3600000;
}

void TstCapture::autoSendInterval()
{
    QFETCH(int, value);
    QFETCH(int, unit);
    QFETCH(int, ms);

    SettingsController* s = SettingsController::instance();
    s->autoSendUnit.setState(unit);
    s->autoSendInterval.setState(value);
    QCOMPARE(m_app->autoSendIntervalMs(), ms);
}

void TstCapture::formatLine_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("line");

    QTest::newRow("start values") << QStringList() << "12.345\tg\n";
    QTest::newRow("no unit") << QStringList{"-unitField"} << "12.345\n";
    QTest::newRow("count and id") << QStringList{"countField", "deviceIdField"} << "2\tSN77\t12.345\tg\n";
    QTest::newRow("semicolon, comma after")
        << QStringList{"-betweenTab", "betweenSemicolon", "-afterEnter", "afterComma"} << "12.345;g,";
    QTest::newRow("no delimiters keep the last field")
        << QStringList{"-betweenTab", "betweenNone", "-afterEnter", "afterNone"} << "12.345g";
    QTest::newRow("enter between") << QStringList{"betweenEnter", "-afterEnter", "afterTab"} << "12.345\ng\t";
    QTest::newRow("note never typed") << QStringList{"noteField"} << "12.345\tg\n";
}

void TstCapture::formatLine()
{
    QFETCH(QStringList, options);
    QFETCH(QString, line);

    SettingsController* s = SettingsController::instance();
    for (const QString& option : options) {
        const bool on = !option.startsWith(QLatin1Char('-'));
        const QString name = on ? option : option.mid(1);
        const QHash<QString, TwoStateElement*> elements = {
            {"unitField", &s->unitField},         {"countField", &s->countField},
            {"deviceIdField", &s->deviceIdField}, {"noteField", &s->noteField},
            {"betweenTab", &s->betweenTab},       {"betweenSemicolon", &s->betweenSemicolon},
            {"betweenNone", &s->betweenNone},     {"betweenEnter", &s->betweenEnter},
            {"afterEnter", &s->afterEnter},       {"afterComma", &s->afterComma},
            {"afterNone", &s->afterNone},         {"afterTab", &s->afterTab}};
        TwoStateElement* byName = elements.value(name);
        QVERIFY2(byName, qPrintable(name));
        byName->setState(on);
    }
    // The count is the one of the row just stored.
    m_view->addRow({"d", "t", "SN77", "12.345", "g", ""});
    m_view->addRow({"d", "t", "SN77", "12.345", "g", ""});
    // The serial number comes from the current device.
    class Identified : public CDevice
    {
    public:
        Identified() { m_serialNumber = QStringLiteral("SN77"); }
    } identified;
    CDeviceController::instance()->setCurrentDevice(&identified);
    QCOMPARE(m_app->formatLine(measurement(12.345f, 3, "g")), line);
    CDeviceController::instance()->setCurrentDevice(m_device.get());
}

void TstCapture::writeTable_data()
{
    QTest::addColumn<QList<int>>("hidden");
    QTest::addColumn<bool>("semicolon");
    QTest::addColumn<QString>("text");

    const QList<int> all;
    QTest::newRow("every column, tab and enter")
        << all << false
        << "\t1\t2026-12-06\t10:00:00\t123456\t12.345\tg\tplain\n"
           "\t2\t2026-12-06\t10:00:01\t123456\t-0.5\tkg\t\"a;b\tc \"\"quoted\"\"\"\n";
    QTest::newRow("value and note, semicolons")
        << QList<int>{DataFeedTableModel::CountColumn, DataFeedTableModel::DateColumn,
                      DataFeedTableModel::TimeColumn, DataFeedTableModel::SnColumn,
                      DataFeedTableModel::UnitColumn}
        << true << ";12.345;plain;;-0.5;\"a;b\tc \"\"quoted\"\"\";";
}

void TstCapture::writeTable()
{
    QFETCH(QList<int>, hidden);
    QFETCH(bool, semicolon);
    QFETCH(QString, text);

    addRows();
    for (int column : hidden) {
        m_view->setColumnHidden(column, true);
    }
    if (semicolon) {
        SettingsController* s = SettingsController::instance();
        s->betweenTab.setState(false);
        s->betweenSemicolon.setState(true);
        s->afterEnter.setState(false);
        s->afterSemicolon.setState(true);
    }
    QString written;
    QTextStream out(&written);
    QVERIFY(m_app->writeTable(out));
    QCOMPARE(written, text);
}

void TstCapture::startRefusedWithoutConnectedDevice()
{
    QSignalSpy started(m_app, &ApplicationController::exportStarted);
    CDeviceController::instance()->setCurrentDevice(nullptr);
    QVERIFY(!m_app->startExport());
    m_device->disconnectDevice();
    CDeviceController::instance()->setCurrentDevice(m_device.get());
    QVERIFY(!m_app->startExport());
    QCOMPARE(started.count(), 0);
    QVERIFY(!m_app->isExporting());
}

void TstCapture::startAndStopWithoutFile()
{
    SettingsController* s = SettingsController::instance();
    QCheckBox autoSendBox;
    QSpinBox intervalBox;
    intervalBox.setRange(1, 9999);
    s->autoSend.bind(&autoSendBox);
    s->autoSendInterval.bind(&intervalBox);
    s->autoSend.setState(true);
    QSignalSpy started(m_app, &ApplicationController::exportStarted);
    QSignalSpy stopped(m_app, &ApplicationController::exportStopped);
    QSignalSpy cleared(m_app, &ApplicationController::clearContents);

    QVERIFY(m_app->startExport());
    QCOMPARE(started.count(), 1);
    QCOMPARE(cleared.count(), 0);
    QVERIFY(m_app->isAutoSendRunning());
    QVERIFY(!autoSendBox.isEnabled());
    QVERIFY(!intervalBox.isEnabled());

    // Without a file the stop asks nothing.
    m_app->setFinishQuestion([](const QString&) {
        qFatal("no question expected");
        return false;
    });
    addRows();
    QVERIFY(m_app->stopExport());
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!m_app->isAutoSendRunning());
    QVERIFY(autoSendBox.isEnabled());
    QVERIFY(intervalBox.isEnabled());
    m_app->setFinishQuestion([](const QString&) { return true; });
}

void TstCapture::fileExportFinishAndCancel()
{
    const QString path = m_dir.filePath(QStringLiteral("capture.txt"));
    m_app->setFileChooser([path] { return path; });
    SettingsController::instance()->saveToFile.setState(true);
    QCOMPARE(m_app->currentFilePath(), path);
    QSignalSpy cleared(m_app, &ApplicationController::clearContents);

    QVERIFY(m_app->startExport());
    QCOMPARE(cleared.count(), 1);
    // A second start while the file export runs is refused.
    QVERIFY(!m_app->startExport());
    addRows();

    QString asked;
    m_app->setFinishQuestion([&asked](const QString& text) {
        asked = text;
        return false;
    });
    QVERIFY(!m_app->stopExport());
    QVERIFY(asked.endsWith(path));
    QVERIFY(asked.startsWith(
        "Select <b>CANCEL</b> to continue capturing data or <b>FINISH</b> to save data to "));
    QVERIFY(m_app->isExporting());
    QCOMPARE(readFile(path), QString());

    m_app->setFinishQuestion([](const QString&) { return true; });
    QVERIFY(m_app->stopExport());
    QVERIFY(!m_app->isExporting());
    QVERIFY(!m_app->isFileExportRunning());
    QVERIFY(readFile(path).startsWith("\t1\t2026-12-06\t10:00:00\t123456\t12.345\tg\tplain\n"));

    SettingsController::instance()->saveToFile.setState(false);
    m_app->setFileChooser([] { return QString(); });
}

void TstCapture::chooseFileFollowsTheOption()
{
    QSignalSpy paths(m_app, &ApplicationController::newFilePath);
    // Nothing chosen: the option switches itself off again.
    m_app->setFileChooser([] { return QString(); });
    SettingsController::instance()->saveToFile.setState(true);
    QVERIFY(!SettingsController::instance()->saveToFile.value());
    QVERIFY(m_app->currentFilePath().isEmpty());

    // A file that cannot be opened refuses the start and leaves nothing running.
    m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/out.txt"); });
    SettingsController::instance()->saveToFile.setState(true);
    QCOMPARE(paths.last().at(0).toString(), QStringLiteral("/nonexistent/dir/out.txt"));
    QVERIFY(!m_app->startExport());
    QVERIFY(!m_app->isExporting());
    SettingsController::instance()->saveToFile.setState(false);
    QCOMPARE(paths.last().at(0).toString(), QString());
    m_app->setFileChooser([] { return QString(); });
}

void TstCapture::saveData()
{
    const QString path = m_dir.filePath(QStringLiteral("saved.csv"));
    m_app->setFileChooser([path] { return path; });
    // An empty table writes nothing.
    QVERIFY(!m_app->saveData());
    QVERIFY(!QFile::exists(path));
    addRows();
    QVERIFY(m_app->saveData());
    QCOMPARE(readFile(path).count(QLatin1Char('\n')), 2);
    m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/saved.csv"); });
    QVERIFY(!m_app->saveData());
    m_app->setFileChooser([] { return QString(); });
}

void TstCapture::elapsedTime()
{
    QSignalSpy ticks(m_app, &ApplicationController::elapsedTimeSig);
    m_app->restartTimer();
    QCOMPARE(ticks.count(), 1);
    QCOMPARE(ticks.last().at(0).toInt(), 0);
    QVERIFY(m_app->startExport());
    // An empty feed without keyboard output does not count.
    addRows();
    QVERIFY(ticks.wait(2500));
    QCOMPARE(ticks.last().at(0).toInt(), 1);
    QVERIFY(m_app->stopExport());
    QCOMPARE(ticks.last().at(0).toInt(), m_app->elapsed());
}

QTEST_MAIN(TstCapture)
#include "tst_capture.moc"
