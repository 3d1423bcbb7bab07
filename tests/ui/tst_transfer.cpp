#include "controller/capturecore.h"
#include "controller/cdevicecontroller.h"
#include "log/datafeedtablemodel.h"
#include "support/scripteddevice.h"
#include "support/testdatabase.h"
#include "support/uicommon.h"
#include "support/widgetuser.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/log/datafeedtableview.h"
#include "ui/requestnotice.h"
#include "ui/settings/optionstore.h"
#include "ui/settings/settingscontroller.h"
#include "ui/transferwidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

namespace {

const QString FirstRow = QStringLiteral("\t1\t2026-12-06\t10:00:00\t123456\t12.345\tg\tplain\n");

// A plain reader of delimited text as a spreadsheet reads it: fields in double quotes may hold the
// delimiter, line breaks and doubled quotes; every line ends with a line feed.
QList<QStringList> readDelimited(const QByteArray& bytes, QChar delimiter)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == QLatin1Char('"') && text.mid(i + 1, 1) == QLatin1String("\"")) {
            field += text.at(i++);
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (quoted || (c != delimiter && c != QLatin1Char('\n'))) {
            field += c;
        } else {
            row << field;
            field.clear();
            if (c == QLatin1Char('\n')) {
                rows << row;
                row.clear();
            }
        }
    }
    if (!row.isEmpty() || !field.isEmpty()) {
        rows << (row << field + QStringLiteral("<no line end>"));
    }
    return rows;
}

} // namespace

// The capture export: the transfer options kept between runs, the lines it types and the files it writes.
class TstTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_db.isValid());
        m_app->init();
    }
    void init()
    {
        startValues();
        s.countField.setState(true);
        s.dateField.setState(true);
        s.noteField.setState(true);
        QSettings().clear();
        m_app->setFinishQuestion([](const QString&) { return true; });
        m_app->setFileChooser([] { return QString(); });
        m_feed->clear();
    }
    void cleanup()
    {
        m_app->stopExport();
        s.saveToFile.setState(false);
        CDeviceController::instance()->setCurrentDevice(nullptr);
    }
    void choicesSurviveRestart()
    {
        const QString path = m_db.filePath(QStringLiteral("kept.csv"));
        m_app->setFileChooser([path] { return path; });
        // Boxes that start unchecked and then checked; the file box is checked too when it is kept.
        const auto toggled = {"timeBox",     "unitBox",          "isoDateBox", "headerBox",
                              "autoSendBox", "betweenSemicolon", "afterComma", "fileBox"};
        const auto checked = [&toggled](const QWidget& page) {
            QStringList names;
            for (const char* name : toggled) {
                names << (child<QAbstractButton>(&page, name)->isChecked() ? name : "");
            }
            return names.join(QLatin1Char(' ')).simplified();
        };
        {
            // Made as start-up makes them: the page first, then the stored choices (none yet).
            TransferWidget page;
            s.autoSend.setState(true);
            OptionStore store;
            QVERIFY(s.headerRow.value());
            for (const char* name : toggled) {
                child<QAbstractButton>(&page, name)->click();
            }
            child<QComboBox>(&page, "delayComboBox")->setCurrentIndex(SettingsController::UnitMin);
            child<QSpinBox>(&page, "delaySpinBox")->setValue(7);
            QCOMPARE(m_app->currentFilePath(), path);
        }
        // A new run: every option back at its start value, then the page and the stored choices.
        m_app->setFileChooser([] { return QString(); });
        startValues();
        s.autoSend.setState(true);
        {
            TransferWidget page;
            OptionStore store;
            // Unit, header row and auto send were on at the start; the clicks turned them off.
            QCOMPARE(checked(page), QStringLiteral("timeBox isoDateBox betweenSemicolon afterComma fileBox"));
            QCOMPARE(m_app->autoSendIntervalMs(), 7 * 60 * 1000);
            QCOMPARE(m_app->currentFilePath(), path);
            QCOMPARE(child<QLabel>(&page, "fileLabel")->text(), QStringLiteral("kept.csv"));
            QCOMPARE(s.fileFieldDelimiter(path), QStringLiteral(";"));
        }

        // Settings of an earlier version, which wrote no header row: their files stay so.
        QSettings().clear();
        QSettings().setValue(QStringLiteral("SavedFilePaths/FilePath"), m_db.filePath(QStringLiteral(".")));
        s.headerRow.setState(true);
        OptionStore earlier;
        QVERIFY(!s.headerRow.value());
    }
    void columnWidthsSurviveRestart()
    {
        const int date = DataFeedTableModel::DateColumn;
        int dragged = 0;
        {
            DataFeedTableView view(m_feed);
            view.resize(900, 300);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            // The user drags the right edge of Date 40 pixels further.
            QHeaderView* header = view.horizontalHeader();
            const QPoint edge(header->sectionViewportPosition(date) + header->sectionSize(date) - 1,
                              header->height() / 2);
            dragged = header->sectionSize(date) + 40;
            drag(header->viewport(), edge, QPoint(40, 0));
            QCOMPARE(header->sectionSize(date), dragged);
            // Fitting the contents leaves it as the user made it.
            view.fitColumns();
            QCOMPARE(header->sectionSize(date), dragged);
        }
        DataFeedTableView again(m_feed);
        QCOMPARE(again.horizontalHeader()->sectionSize(date), dragged);
    }
    void formatLine_data()
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
    void formatLine()
    {
        QFETCH(bool, unit);
        QFETCH(bool, countAndId);
        QFETCH(bool, noDelimiters);
        QFETCH(QString, line);

        s.unitField.setState(unit);
        s.countField.setState(countAndId);
        s.deviceIdField.setState(countAndId);
        s.dateField.setState(false);
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
    void exportFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("semicolonChosen");
        QTest::addColumn<bool>("isoDates");
        QTest::addColumn<QString>("delimiter");
        QTest::newRow("csv gets commas") << "results.csv" << false << false << ",";
        QTest::newRow("txt gets tabs") << "results.txt" << false << false << "\t";
        QTest::newRow("a chosen delimiter wins, ISO dates") << "chosen.csv" << true << true << ";";
    }
    void exportFile()
    {
        QFETCH(QString, name);
        QFETCH(bool, semicolonChosen);
        QFETCH(bool, isoDates);
        QFETCH(QString, delimiter);

        if (semicolonChosen) {
            s.betweenSemicolon.setState(true);
            s.betweenTab.setState(false);
            s.delimiterChosen.setState(true);
        }
        s.isoDates.setState(isoDates);
        const QString path = m_db.filePath(name);
        m_app->setFileChooser([path] { return path; });
        // An empty feed writes nothing.
        QVERIFY(!m_app->saveData() && !QFile::exists(path));
        m_feed->appendRow({"12-06-2026", "10:00:00", "123456", "12.345", "g", QString()});
        m_feed->appendRow({"12-06-2026", "10:00:01", "123456", "-0.5", "kg", "a,b;c \"q\""});
        QVERIFY(m_app->saveData());

        // The first column is the feed's empty one, shown and so written; an empty note is an empty
        // last field, nothing more.
        const QString date = isoDates ? QStringLiteral("2026-12-06") : QStringLiteral("12-06-2026");
        const QList<QStringList> expected{{"", "Count", "Date", "Value", "Unit", "Note"},
                                          {"", "1", date, "12.345", "g", ""},
                                          {"", "2", date, "-0.5", "kg", "a,b;c \"q\""}};
        QCOMPARE(readDelimited(fileBytes(path), delimiter.at(0)), expected);
        QCOMPARE(RequestNotice::instance()->text(), QStringLiteral("2 results written to ") + name);
        m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/saved.csv"); });
        QVERIFY(!m_app->saveData());
    }
    void fileExport()
    {
        // Refused with an instrument that is not connected (without any: tst_pages
        // startRefusedWithoutDevice); nothing chosen switches the option off again.
        ScriptedDevice device(QHash<QString, QByteArray>{});
        CDeviceController::instance()->setCurrentDevice(&device);
        QVERIFY(!m_app->startExport());
        device.connectDevice(false);
        s.headerRow.setState(false);
        s.saveToFile.setState(true);
        QVERIFY(!s.saveToFile.value());

        // Each row is in the file as soon as it is stored, read while the file is still open; a second
        // start meanwhile is refused. Every column shown is written.
        for (TwoStateElement* option :
             {&s.countField, &s.dateField, &s.timeField, &s.deviceIdField, &s.noteField}) {
            option->setState(true);
        }
        const QString path = m_db.filePath(QStringLiteral("capture.txt"));
        m_app->setFileChooser([path] { return path; });
        s.saveToFile.setState(true);
        // While it runs, the auto-send options are locked.
        QCheckBox autoSendBox;
        QSpinBox intervalBox;
        s.autoSend.bind(&autoSendBox);
        s.autoSendInterval.bind(&intervalBox);
        s.autoSend.setState(true);
        QSignalSpy cleared(m_app, &ApplicationController::clearContents);
        QVERIFY(m_app->startExport());
        QVERIFY(m_app->isAutoSendRunning() && !autoSendBox.isEnabled() && !intervalBox.isEnabled());
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
        QVERIFY(autoSendBox.isEnabled() && intervalBox.isEnabled() && !m_app->isAutoSendRunning());
        QVERIFY(!m_app->isFileExportRunning());
        QCOMPARE(fileBytes(path), written);
    }
    void captureFileHasOneHeader()
    {
        ScriptedDevice device(QHash<QString, QByteArray>{});
        device.connectDevice(false);
        CDeviceController::instance()->setCurrentDevice(&device);
        m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/out.csv"); });
        s.saveToFile.setState(true);
        QVERIFY(!m_app->startExport());
        QVERIFY(m_app->startFailure().contains(QStringLiteral("cannot be written")));
        s.saveToFile.setState(false);

        const QString path = m_db.filePath(QStringLiteral("capture.csv"));
        m_app->setFileChooser([path] { return path; });
        s.saveToFile.setState(true);
        QSignalSpy ticks(m_app, &ApplicationController::elapsedTimeSig);
        QVERIFY(m_app->startExport());
        m_feed->appendRow({"12-06-2026", "10:00:00", "123456", "12.345", "g", QString()});
        QVERIFY(ticks.wait(2500));
        QVERIFY(m_app->stopExport());
        QCOMPARE(RequestNotice::instance()->text(), QStringLiteral("1 result written to capture.csv"));

        // Added to: no second header, and the time counts from zero again.
        QVERIFY(m_app->elapsed() > 0);
        ModalAnswerer append(QStringLiteral("Append"));
        QVERIFY(m_app->startExport());
        QCOMPARE(m_app->elapsed(), 0);
        QCOMPARE(ticks.last().at(0).toInt(), 0);
        m_feed->appendRow({"12-06-2026", "10:00:05", "123456", "13.5", "g", QString()});
        QCOMPARE(readDelimited(fileBytes(path), QLatin1Char(',')),
                 (QList<QStringList>{{"", "Count", "Date", "Value", "Unit", "Note"},
                                     {"", "1", "12-06-2026", "12.345", "g", ""},
                                     {"", "2", "12-06-2026", "13.5", "g", ""}}));
    }

private:
    // The options as a new run begins with them; the settings store is left alone.
    void startValues()
    {
        resetCaptureSettings();
        for (TwoStateElement* e : {&s.timeField, &s.delimiterChosen, &s.isoDates, &s.afterTab, &s.afterComma,
                                   &s.betweenEnter, &s.stableOnly}) {
            e->setState(false);
        }
        s.headerRow.setState(true);
    }
    void addRows()
    {
        m_feed->appendRow({"2026-12-06", "10:00:00", "123456", "12.345", "g", "plain"});
        m_feed->appendRow({"2026-12-06", "10:00:01", "123456", "-0.5", "kg", "a;b\tc \"quoted\""});
    }

    TestDatabase m_db;
    DataFeedTableModel* m_feed = CaptureCore::instance()->model();
    ApplicationController* m_app = ApplicationController::instance();
    SettingsController& s = *SettingsController::instance();
};

QTEST_MAIN(TstTransfer)
#include "tst_transfer.moc"
