#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "log/datafeedtablemodel.h"
#include "support/scripteddevice.h"
#include "support/testdatabase.h"
#include "support/uicommon.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/settings/settingscontroller.h"

#include <QCheckBox>
#include <QSpinBox>
#include <QtTest>

#include <memory>

namespace {

const QString FirstRow = QStringLiteral("\t1\t2026-12-06\t10:00:00\t123456\t12.345\tg\tplain\n");

} // namespace

// The capture export: auto-send interval, result lines, the table writer, starting and stopping.
class TstCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void formatLine_data();
    void formatLine();
    void writeTable_data();
    void writeTable();
    void startStopAndElapsedTime();
    void fileExport();
    void saveData();

private:
    void addRows();

    TestDatabase m_db;
    DataFeedTableModel* m_feed = nullptr;
    std::unique_ptr<ScriptedDevice> m_device;
    ApplicationController* m_app = ApplicationController::instance();
    SettingsController& s = *SettingsController::instance();
};

void TstCapture::initTestCase()
{
    QVERIFY(m_db.isValid());
    CBalanceController::instance();
    m_app->init();
}

void TstCapture::init()
{
    resetCaptureSettings();
    m_app->setFinishQuestion([](const QString&) { return true; });
    m_app->setFileChooser([] { return QString(); });

    // The capture's rows, which the export reads; no view shows them here.
    m_feed = CaptureCore::instance()->model();
    m_feed->clear();
    // It answers nothing; its serial number goes into the result lines.
    m_device = std::make_unique<ScriptedDevice>(QHash<QString, QByteArray>());
    m_device->m_serialNumber = QStringLiteral("SN77");
    m_device->connectDevice(false);
    CDeviceController::instance()->setCurrentDevice(m_device.get());
}

void TstCapture::cleanup()
{
    s.saveToFile.setState(false);
    m_app->setFinishQuestion([](const QString&) { return true; });
    m_app->stopExport();
    CDeviceController::instance()->setCurrentDevice(nullptr);
}

void TstCapture::addRows()
{
    m_feed->appendRow({"2026-12-06", "10:00:00", "123456", "12.345", "g", "plain"});
    m_feed->appendRow({"2026-12-06", "10:00:01", "123456", "-0.5", "kg", "a;b\tc \"quoted\""});
}

void TstCapture::formatLine_data()
{
    QTest::addColumn<bool>("unit");
    QTest::addColumn<bool>("countAndId");
    QTest::addColumn<bool>("noDelimiters");
    QTest::addColumn<QString>("line");
    // The count is the one of the row just stored; the serial number is the sending instrument's, not
    // the current one's; the note, an option of the table, is never typed.
    QTest::newRow("count, id and unit") << true << true << false << "2\tSN77\t12.345\tg\n";
    QTest::newRow("no unit") << false << false << false << "12.345\n";
    QTest::newRow("no delimiters keep the last field") << true << false << true << "12.345g";
}

void TstCapture::formatLine()
{
    QFETCH(bool, unit);
    QFETCH(bool, countAndId);
    QFETCH(bool, noDelimiters);
    QFETCH(QString, line);

    s.unitField.setState(unit);
    s.countField.setState(countAndId);
    s.deviceIdField.setState(countAndId);
    s.noteField.setState(true);
    s.betweenNone.setState(noDelimiters);
    s.betweenTab.setState(!noDelimiters);
    s.afterNone.setState(noDelimiters);
    s.afterEnter.setState(!noDelimiters);
    addRows();
    Measurement m;
    m.value = 12.345f;
    m.decimals = 3;
    m.unit = QStringLiteral("g");
    m.serialNumber = QStringLiteral("SN77");
    QCOMPARE(m_app->formatLine(m), line);
}

void TstCapture::writeTable_data()
{
    QTest::addColumn<bool>("everyColumn");
    QTest::addColumn<bool>("semicolon");
    QTest::addColumn<QString>("text");
    QTest::newRow("every column, tab and enter")
        << true << false
        << FirstRow + "\t2\t2026-12-06\t10:00:01\t123456\t-0.5\tkg\t\"a;b\tc \"\"quoted\"\"\"\n";
    QTest::newRow("value and note, semicolons")
        << false << true << ";12.345;plain;;-0.5;\"a;b\tc \"\"quoted\"\"\";";
}

void TstCapture::writeTable()
{
    QFETCH(bool, everyColumn);
    QFETCH(bool, semicolon);
    QFETCH(QString, text);

    addRows();
    // The columns the options show, as the feed shows them.
    for (TwoStateElement* option :
         {&s.countField, &s.dateField, &s.timeField, &s.deviceIdField, &s.unitField}) {
        option->setState(everyColumn);
    }
    s.noteField.setState(true);
    s.betweenTab.setState(!semicolon);
    s.betweenSemicolon.setState(semicolon);
    s.afterEnter.setState(!semicolon);
    s.afterSemicolon.setState(semicolon);
    QString written;
    QTextStream out(&written);
    QVERIFY(m_app->writeTable(out));
    QCOMPARE(written, text);
}

void TstCapture::startStopAndElapsedTime()
{
    QSignalSpy started(m_app, &ApplicationController::exportStarted);
    QSignalSpy stopped(m_app, &ApplicationController::exportStopped);
    // Refused with a device that is not connected (without any: tst_pages, startRefusedWithoutDevice).
    ScriptedDevice idle;
    CDeviceController::instance()->setCurrentDevice(&idle);
    QVERIFY(!m_app->startExport());
    CDeviceController::instance()->setCurrentDevice(m_device.get());

    // While it runs, the auto-send options are locked and the elapsed time counts (an empty feed
    // without keyboard output would not); without a file the stop asks nothing.
    QCheckBox autoSendBox;
    QSpinBox intervalBox;
    s.autoSend.bind(&autoSendBox);
    s.autoSendInterval.bind(&intervalBox);
    s.autoSend.setState(true);
    QSignalSpy ticks(m_app, &ApplicationController::elapsedTimeSig);
    m_app->restartTimer();
    QCOMPARE(ticks.last().at(0).toInt(), 0);
    QVERIFY(m_app->startExport());
    QCOMPARE(started.count(), 1);
    QVERIFY(m_app->isAutoSendRunning());
    QVERIFY(!autoSendBox.isEnabled() && !intervalBox.isEnabled());
    m_app->setFinishQuestion([](const QString&) { return false; });
    addRows();
    QVERIFY(ticks.wait(2500));
    QCOMPARE(ticks.last().at(0).toInt(), 1);
    QVERIFY(m_app->stopExport());
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(ticks.last().at(0).toInt(), m_app->elapsed());
    QVERIFY(!m_app->isAutoSendRunning());
    QVERIFY(autoSendBox.isEnabled() && intervalBox.isEnabled());
}

void TstCapture::fileExport()
{
    // Nothing chosen switches the option off again; a file that cannot be opened refuses the start.
    s.saveToFile.setState(true);
    QVERIFY(!s.saveToFile.value());
    m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/out.txt"); });
    s.saveToFile.setState(true);
    QVERIFY(!m_app->startExport());
    QVERIFY(!m_app->isExporting());
    s.saveToFile.setState(false);
    QCOMPARE(m_app->currentFilePath(), QString());

    // Each row is in the file as soon as it is stored, read while the file is still open; a second
    // start meanwhile is refused. Every column shown is written.
    for (TwoStateElement* option :
         {&s.countField, &s.dateField, &s.timeField, &s.deviceIdField, &s.noteField}) {
        option->setState(true);
    }
    const QString path = m_db.filePath(QStringLiteral("capture.txt"));
    m_app->setFileChooser([path] { return path; });
    s.saveToFile.setState(true);
    QCheckBox autoSendBox;
    s.autoSend.bind(&autoSendBox);
    QSignalSpy cleared(m_app, &ApplicationController::clearContents);
    QVERIFY(m_app->startExport());
    QCOMPARE(cleared.count(), 1);
    QVERIFY(!m_app->startExport());
    addRows();
    QVERIFY(fileBytes(path).startsWith(FirstRow.toUtf8()));
    // Rows numbered from 1 again after a clear are new rows too.
    m_feed->clear();
    addRows();
    QByteArray written = fileBytes(path);
    QCOMPARE(written.count(FirstRow.toUtf8()), 2);
    QCOMPARE(written.count('\n'), 4);
    // A result that another program stores in the same table reaches the file too, once.
    const QString otherName = QStringLiteral("other program");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), otherName);
        other.setDatabaseName(m_db.path());
        QVERIFY(other.open());
        DataFeedTableModel beside(nullptr, other);
        QVERIFY(beside.appendRow({"2026-12-06", "10:00:02", "654321", "7.25", "g", QString()}) > 0);
    }
    QSqlDatabase::removeDatabase(otherName);
    QTRY_VERIFY(fileBytes(path).contains("7.25"));
    addRows();
    written = fileBytes(path);
    QCOMPARE(written.count("7.25"), 1);
    QCOMPARE(written.count('\n'), 7);
    // CANCEL in the question: the capture goes on as it was, its options still locked.
    m_app->setFinishQuestion([](const QString&) { return false; });
    QVERIFY(!m_app->stopExport());
    QVERIFY(m_app->isFileExportRunning() && !autoSendBox.isEnabled());
    m_app->setFinishQuestion([](const QString&) { return true; });
    QVERIFY(m_app->stopExport());
    QVERIFY(autoSendBox.isEnabled());
    QVERIFY(!m_app->isFileExportRunning());
    QCOMPARE(fileBytes(path), written);
}

void TstCapture::saveData()
{
    // An empty table writes nothing.
    const QString path = m_db.filePath(QStringLiteral("saved.csv"));
    m_app->setFileChooser([path] { return path; });
    QVERIFY(!m_app->saveData());
    QVERIFY(!QFile::exists(path));
    addRows();
    QVERIFY(m_app->saveData());
    QCOMPARE(fileBytes(path).count('\n'), 2);
    m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/saved.csv"); });
    QVERIFY(!m_app->saveData());
}

QTEST_MAIN(TstCapture)
#include "tst_capture.moc"
