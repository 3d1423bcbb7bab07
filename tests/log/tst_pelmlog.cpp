#include "device/devicetypes.h"
#include "log/cpelmlog.h"
#include "log/exportfield.h"
#include "log/pelmlogquery.h"
#include "platform/queuedcall.h"
#include "support/testdatabase.h"
#include "support/uicommon.h"
#include "support/widgetuser.h"
#include "ui/log/datefilter.h"
#include "ui/log/filterdialog.h"
#include "ui/log/filterwidget.h"
#include "ui/log/inoutfilter.h"
#include "ui/log/numericfilter.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/log/pelmlogview.h"
#include "ui/log/stringfilter.h"
#include "ui/log/timefilter.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimeEdit>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

// "OUT:text" or "IN:text" to the writer's slot of that direction.
void storeAll(CPelmLog& log, const QStringList& records)
{
    for (const QString& r : records) {
        const PelmLogRecord rec{QStringLiteral("pty0"), QDate(2026, 3, 4), QTime(0, 0), r.section(':', 1)};
        r.startsWith(QLatin1String("OUT")) ? log.onNewOutLog(rec) : log.onNewInLog(rec);
    }
}

const QString KeyOrder =
    QStringLiteral("SELECT PacketId, LineId, INOUT, Message FROM LOGS ORDER BY PacketId, LineId, INOUT");

// Stands in for a device: the writer is connected to it by name, as producers are.
class Producer : public QObject
{
    Q_OBJECT
signals:
    void newOutLog(PelmLogRecord r);
    void newInLog(PelmLogRecord r);
};

} // namespace

// The log store and its view: what the writer stores, the view's query, filters and exports.
class TstPelmLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { m_log = std::make_unique<CPelmLog>(); }
    void cleanup() { m_log.reset(); }
    void storesLinesAndPackets_data();
    void storesLinesAndPackets();
    void queuedRecordsFromAnotherThreadKeepTheirOrder();
    void boundedQueryEqualsFullGrouping_data();
    void boundedQueryEqualsFullGrouping();
    void linesAndChunks();
    void limitColumnsAndClear();
    void filterFragments_data();
    void filterFragments();
    void viewAppliesTheShownFilters();
    void followsTheTailAndKeepsTheSelection();
    void exportsShownRowsAndReceivedBytes();
    void exportFieldRule_data();
    void exportFieldRule();

private:
    std::unique_ptr<PelmLogView> shownView(int limit = 3000);

    TestDatabase m_db;
    std::unique_ptr<CPelmLog> m_log;
};

void TstPelmLog::initTestCase()
{
    QVERIFY(m_db.isValid());
    QCOMPARE(TestDatabase::rows(QStringLiteral("PRAGMA journal_mode")), QStringList{"wal"});
    QCoreApplication::setOrganizationName(QStringLiteral("Mervik"));
    QCoreApplication::setApplicationName(QStringLiteral("Mervik Connect"));
    DeviceTypes::registerMetaTypes();

    // Traffic as devices produce it: lines cut into chunks anywhere, several lines per chunk, answers
    // with tabs and quotes, both directions, a few interfaces, two days. Each source table comes once
    // with the view's index and once (name_PLAIN) with only the primary key.
    CPelmLog log;
    QRandomGenerator random(4711);
    const QStringList lines{
        "SI\r\n", "S S      1.000 g\r\n", "OK\r\n", "C1\t12.5\t3\r\n", "it's\r\n", "ST A\r\n", "\r\n"};
    QString pending[2];
    for (int i = 0; i < 4000; ++i) {
        const int direction = int(random.bounded(2));
        QString& text = pending[direction];
        while (text.size() < 40) {
            text += lines.at(int(random.bounded(lines.size())));
        }
        const int cut = int(random.bounded(text.size() + 1));
        PelmLogRecord r{QStringLiteral("pty%1").arg(random.bounded(3)), QDate(2026, 3, 4 + i / 2000),
                        QTime::fromMSecsSinceStartOfDay(i * 997), text.left(cut)};
        text.remove(0, cut);
        direction == 0 ? log.onNewInLog(r) : log.onNewOutLog(r);
    }
    // Lines missing here and there, as failed inserts leave them; chunks holding both directions,
    // which the writer never stores.
    const QStringList changes{QString(), "DELETE FROM %1 WHERE LineId % 7 = 3",
                              "UPDATE %1 SET INOUT = CASE INOUT WHEN 'IN' THEN 'OUT' ELSE 'IN' END "
                              "WHERE PacketId % 5 = 0 AND LineId % 2 = 0"};
    const QStringList sources{"WRITTEN", "GAPS", "MIXED"};
    QSqlQuery copy;
    for (int i = 0; i < 3; ++i) {
        for (const QString& table : {sources[i], sources[i] + "_PLAIN"}) {
            QVERIFY(copy.exec(QString(CPelmLog::CreateStatement).replace("LOGS(", table + '(')));
            QVERIFY(copy.exec(QStringLiteral("INSERT INTO %1 SELECT * FROM LOGS").arg(table)));
            QVERIFY(changes[i].isEmpty() || copy.exec(changes[i].arg(table)));
        }
        QVERIFY(copy.exec(CPelmLog::lineIndexStatement(sources[i])));
    }
}

std::unique_ptr<PelmLogView> TstPelmLog::shownView(int limit)
{
    auto view = std::make_unique<PelmLogView>();
    view->setTable(QStringLiteral("LOGS"));
    view->setLimit(limit);
    view->resize(500, 300);
    view->show();
    return view;
}

void TstPelmLog::storesLinesAndPackets_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("several lines in one record, the last unfinished")
        << QStringList{"IN:a\r\nb\r\nc", "IN:d\r\n", "IN:e\r\n"}
        << QStringList{"0|0|IN|a\r\n", "0|1|IN|b\r\n", "0|2|IN|c", "1|2|IN|d\r\n", "2|3|IN|e\r\n"};
    QTest::newRow("empty message uses a packet")
        << QStringList{"OUT:", "OUT:SZ\r\n"} << QStringList{"1|0|OUT|SZ\r\n"};
    QTest::newRow("directions interleave on packets, not on lines")
        << QStringList{"OUT:SI\r\n", "IN:S S  1 g\r\n", "OUT:ST\r\n", "IN:ST A", "OUT:SZ\r\n", "IN:\r\n"}
        << QStringList{"0|0|OUT|SI\r\n", "1|0|IN|S S  1 g\r\n", "2|1|OUT|ST\r\n",
                       "3|1|IN|ST A",    "4|2|OUT|SZ\r\n",      "5|1|IN|\r\n"};
}

void TstPelmLog::storesLinesAndPackets()
{
    QFETCH(QStringList, records);
    QFETCH(QStringList, rows);
    // Each row starts with a new writer, which empties the table; made while init's still lives, it stays
    // in charge after the old one's end.
    m_log = std::make_unique<CPelmLog>();
    QCOMPARE(CPelmLog::instance(), m_log.get());
    QSignalSpy newLog(m_log.get(), &CPelmLog::newLog);
    storeAll(*m_log, records);
    QCOMPARE(TestDatabase::rows(KeyOrder), rows);
    QCOMPARE(newLog.count(), records.size());
    // A crash loses at most the open batch: other connections see the rows once it is committed.
    QTRY_COMPARE_WITH_TIMEOUT(m_db.committedRows(KeyOrder), rows, 5 * CPelmLog::CommitIntervalMs);
}

void TstPelmLog::queuedRecordsFromAnotherThreadKeepTheirOrder()
{
    Producer producer;
    QThread thread;
    producer.moveToThread(&thread);
    QVERIFY(
        connect(&producer, SIGNAL(newOutLog(PelmLogRecord)), m_log.get(), SLOT(onNewOutLog(PelmLogRecord))));
    QVERIFY(
        connect(&producer, SIGNAL(newInLog(PelmLogRecord)), m_log.get(), SLOT(onNewInLog(PelmLogRecord))));
    QSignalSpy newLog(m_log.get(), &CPelmLog::newLog);
    constexpr int Exchanges = 500;
    thread.start();
    // Waits for the worker's event loop: a call posted before the loop runs is handed over without a
    // wake-up, an order that ThreadSanitizer cannot see.
    waitForCall(&producer, [] {});
    queueCall(&producer, [&producer] {
        const PelmLogRecord r{QStringLiteral("pty0"), QDate(2026, 3, 4), QTime(5, 6, 7, 89), QString()};
        for (int i = 0; i < Exchanges; ++i) {
            emit producer.newOutLog({r.interface, r.date, r.time, QStringLiteral("SI\r\n")});
            emit producer.newInLog({r.interface, r.date, r.time, QStringLiteral("S S %1").arg(i)});
            emit producer.newInLog({r.interface, r.date, r.time, QStringLiteral(" g\r\n")});
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(newLog.count(), 3 * Exchanges, 10000);
    thread.quit();
    thread.wait();

    QStringList expected;
    for (int i = 0; i < Exchanges; ++i) {
        expected << QStringLiteral("%1|%2|OUT|SI\r\n").arg(3 * i).arg(i)
                 << QStringLiteral("%1|%2|IN|S S %2").arg(3 * i + 1).arg(i)
                 << QStringLiteral("%1|%2|IN| g\r\n").arg(3 * i + 2).arg(i);
    }
    QCOMPARE(TestDatabase::rows(KeyOrder), expected);
}

void TstPelmLog::boundedQueryEqualsFullGrouping_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("lineMode");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("limit");
    const QStringList filters{QString(),
                              "INOUT LIKE 'IN'",
                              "INOUT LIKE 'OUT' AND Message LIKE 'S%' ",
                              "Time BETWEEN '00:20:00.000' AND '00:40:00.000' ",
                              "Interface LIKE 'pty1' AND Date = '2026-03-05' ",
                              "Message LIKE '%it''s%' "};
    for (const bool lineMode : {true, false}) {
        for (const int limit : {3000, 40}) {
            const char* mode = lineMode ? "lines" : "chunks";
            for (const QString& filter : filters) {
                QTest::addRow("%s, limit %d, %s", mode, limit, qPrintable(filter))
                    << "WRITTEN" << lineMode << filter << limit;
            }
            QTest::addRow("%s with gaps, limit %d", mode, limit) << "GAPS" << lineMode << QString() << limit;
        }
    }
    for (const int limit : {3000, 41, 40}) {
        QTest::addRow("chunks in both directions, limit %d", limit) << "MIXED" << false << QString() << limit;
    }
}

void TstPelmLog::boundedQueryEqualsFullGrouping()
{
    QFETCH(QString, source);
    QFETCH(bool, lineMode);
    QFETCH(QString, filter);
    QFETCH(int, limit);

    const QStringList expected =
        TestDatabase::rows(PelmLogQuery(source + "_PLAIN", filter, lineMode, limit).fullStatement());
    QSqlQuery bounded = PelmLogQuery(source, filter, lineMode, limit).exec(QSqlDatabase::database());
    QVERIFY(bounded.isActive());
    QCOMPARE(TestDatabase::rows(bounded), expected);
    QVERIFY(expected.size() > 10);
    QVERIFY(expected.size() <= limit);
}

void TstPelmLog::linesAndChunks()
{
    // Lines cut into chunks, two lines in one chunk, directions taking turns: a line shows where its
    // first chunk arrived.
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1", "OUT:ST\r\n", "IN: g\r\nST A\r\n"});
    auto view = shownView();
    const QStringList lines{"OUT|SI<CR><LF>", "IN|S S 1 g<CR><LF>", "OUT|ST<CR><LF>", "IN|ST A<CR><LF>"};
    QCOMPARE(shownLogRows(view->model()), lines);
    view->setLineMode(false);
    QCOMPARE(shownLogRows(view->model()),
             (QStringList{"OUT|SI<CR><LF>", "IN|S S 1", "OUT|ST<CR><LF>", "IN| g<CR><LF>ST A<CR><LF>"}));
    view->setLineMode(true);
    QCOMPARE(shownLogRows(view->model()), lines);
}

void TstPelmLog::limitColumnsAndClear()
{
    // More rows than the model fetches at once; the limit keeps the newest.
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
    for (int i = 2; i < 400; ++i) {
        storeAll(*m_log, {QStringLiteral("OUT:L%1\r\n").arg(i)});
    }
    auto view = shownView(300);
    QAbstractItemModel* model = view->model();
    QCOMPARE(model->rowCount(), 300);
    QCOMPARE(shownLogRows(model).mid(298), (QStringList{"OUT|L398<CR><LF>", "OUT|L399<CR><LF>"}));
    view->setLimit(3000);
    QCOMPARE(model->rowCount(), 400);

    // The key columns stay hidden; the chosen columns stay so across refreshes.
    view->setCollumns({true, false, true, false, true});
    view->refresh();
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(view->isColumnHidden(c), c < 2 || c == 3 || c == 5);
    }

    view->clearLog();
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(TestDatabase::rows(QStringLiteral("SELECT COUNT(*) FROM LOGS")), QStringList{"0"});
}

void TstPelmLog::filterFragments_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("fragment");
    auto row = [](int type, int option, const char* from, const char* to, const char* fragment) {
        QTest::newRow(fragment) << type << option << QString(from) << QString(to) << QString(fragment);
    };
    using F = AbstractFilter;
    // The number boxes write a decimal comma.
    row(F::Numeric, 0, "1.5", "20", "Num BETWEEN 1.500 AND 20.000 ");
    row(F::Numeric, 1, "-2", "", "Num >= -2.000 ");
    row(F::Numeric, 2, "7.25", "", "Num <= 7.250 ");
    row(F::Numeric, 3, "3", "", "Num = 3.000 ");
    row(F::String, 0, "OK", "", "Message LIKE 'OK%' ");
    row(F::String, 1, "OK", "", "Message LIKE '%OK' ");
    row(F::String, 2, "it's 'x'", "", "Message LIKE '%it''s ''x''%' ");
    row(F::String, 3, "S S 1 g", "", "Message LIKE 'S S 1 g' ");
    row(F::String, 2, "", "", "");
    row(F::Date, 0, "2026-03-04", "2026-03-05", "Date BETWEEN '2026-03-04' AND '2026-03-05' ");
    row(F::Date, 1, "2026-03-04", "", "Date >= '2026-03-04' ");
    row(F::Date, 2, "2026-03-04", "", "Date <= '2026-03-04' ");
    row(F::Time, 3, "01:02:03.004", "", "Time = '01:02:03.004' ");
    row(F::InOut, 1, "", "", "INOUT LIKE 'IN'");
    row(F::InOut, 2, "", "", "INOUT LIKE 'OUT'");
}

void TstPelmLog::filterFragments()
{
    QFETCH(int, type);
    QFETCH(int, option);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, fragment);

    std::unique_ptr<AbstractFilter> filter;
    if (type == AbstractFilter::Numeric) {
        auto* numeric = new NumericFilter(QStringLiteral("Num"), 0, QString());
        filter.reset(numeric);
        numeric->fromBox()->setLocale(QLocale(QLocale::Polish));
        numeric->fromBox()->setValue(from.toDouble());
        numeric->toBox()->setLocale(QLocale(QLocale::Polish));
        numeric->toBox()->setValue(to.toDouble());
    } else if (type == AbstractFilter::String) {
        auto* text = new StringFilter(QStringLiteral("Message"), 0, QString());
        filter.reset(text);
        text->lineEdit()->setText(from);
    } else if (type == AbstractFilter::Date) {
        auto* date = new DateFilter(QStringLiteral("Date"), 0, QString());
        filter.reset(date);
        date->fromEdit()->setDate(QDate::fromString(from, Qt::ISODate));
        date->toEdit()->setDate(QDate::fromString(to, Qt::ISODate));
    } else if (type == AbstractFilter::Time) {
        auto* time = new TimeFilter(QStringLiteral("Time"), 0, QString());
        filter.reset(time);
        time->fromEdit()->setTime(QTime::fromString(from, QStringLiteral("HH:mm:ss.zzz")));
        time->toEdit()->setTime(QTime::fromString(to, QStringLiteral("HH:mm:ss.zzz")));
    } else {
        filter.reset(new InOutFilter(QStringLiteral("INOUT"), 0, QString()));
    }
    QSignalSpy changed(filter.get(), &AbstractFilter::filterChanged);
    filter->optionCombo()->setCurrentIndex(option);
    QCOMPARE(filter->filterString(), fragment);
    QCOMPARE(changed.count(), option == 0 ? 0 : 1);
}

void TstPelmLog::viewAppliesTheShownFilters()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:it's OK\r\n", "IN:S S 1 g\r\n", "OUT:SZ\r\n"});
    auto view = shownView();
    FilterWidget* panel = view->filterPanel();
    panel->init(QSqlQuery(QStringLiteral("SELECT * FROM LOGS")).record(), {1}, {"again"});
    QCOMPARE(panel->labels(), (QStringList{"IN/OUT", "Interface", "Date", "Time", "Message"}));

    // Only the shown filters set conditions, joined with AND.
    panel->setFilters({true, false, false, true, true});
    panel->filterAt(0)->optionCombo()->setCurrentIndex(InOutFilter::In);
    static_cast<StringFilter*>(panel->filterAt(1))->lineEdit()->setText(QStringLiteral("pty"));
    static_cast<StringFilter*>(panel->filterAt(4))->lineEdit()->setText(QStringLiteral("it's"));
    QCOMPARE(view->currentFilter(), QStringLiteral("INOUT LIKE 'IN' AND Time BETWEEN '00:00:00.000' AND "
                                                   "'23:59:59.999'  AND Message LIKE 'it''s%' "));
    QCOMPARE(shownLogRows(view->model()), QStringList{"IN|it's OK<CR><LF>"});
    // A condition that is not SQL leaves the view empty until a valid one comes.
    view->setFilter(QStringLiteral("Message LIKE 'it's' "));
    QCOMPARE(view->model()->rowCount(), 0);

    // Closing a filter drops its condition; closing the last one hides the panel.
    panel->filterAt(0)->findChild<QToolButton*>(QStringLiteral("xButton"))->click();
    panel->filterAt(3)->findChild<QToolButton*>(QStringLiteral("xButton"))->click();
    QCOMPARE(panel->shownFilters(), (QVector<bool>{false, false, false, false, true}));
    QCOMPARE(shownLogRows(view->model()), QStringList{"IN|it's OK<CR><LF>"});
    QVERIFY(panel->isVisible());
    panel->filterAt(4)->findChild<QToolButton*>(QStringLiteral("xButton"))->click();
    QVERIFY(!panel->isVisible());
    QCOMPARE(view->model()->rowCount(), 4);

    // The column dialog reports the checked columns on confirm only.
    FilterDialog dialog(panel->labels(), {false, true, false, false, false});
    QSignalSpy chosen(&dialog, &FilterDialog::filterList);
    dialog.list()->item(3)->setCheckState(Qt::Checked);
    dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    dialog.findChild<QPushButton*>(QStringLiteral("confirmButton"))->click();
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).value<QVector<bool>>(), (QVector<bool>{false, true, false, true, false}));
}

void TstPelmLog::followsTheTailAndKeepsTheSelection()
{
    auto view = shownView(50);
    QScrollBar* bar = view->verticalScrollBar();
    int next = 0;
    auto addLines = [this, &view, &next](int n) {
        for (const int last = next + n; next < last; ++next) {
            storeAll(*m_log, {QStringLiteral("IN:line %1\r\n").arg(next)});
        }
        view->refreshKeepingSelection();
    };
    addLines(60);
    QCOMPARE(view->model()->rowCount(), 50);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // The user selects a line: the view stops following and keeps that line selected until Escape.
    view->selectionModel()->select(view->model()->index(20, 6),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    bar->setValue(3);
    addLines(5);
    const QModelIndexList selected = view->selectionModel()->selectedRows(6);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().data().toString(), QStringLiteral("line 30<CR><LF>"));
    QCOMPARE(bar->value(), 3);
    QTest::keyClick(view.get(), Qt::Key_Escape);
    QVERIFY(view->selectionModel()->selectedRows().isEmpty());

    // Dragging the bar to the end resumes following.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(view->isStickingToBottom());
    addLines(5);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(view->model()->index(49, 6).data().toString(), QStringLiteral("line 69<CR><LF>"));
}

void TstPelmLog::exportsShownRowsAndReceivedBytes()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:C1\t12.5\r\nS S", "IN: 1 g\r\nsay \"hi\"\r\n", "OUT:@SUM(A1)\r\n"});
    auto view = shownView();
    QSettings().remove(QStringLiteral("SavedFilePaths"));
    QCOMPARE(PelmFileDialog(QString()).lastDirectory(), QDir::homePath());

    // Each kind of export asks for its file in the folder it last went to, at first at home.
    const QString csv = m_db.filePath(QStringLiteral("log.csv"));
    QString startFolder;
    chooseFile(csv, &startFolder);
    view->save();
    QCOMPARE(startFolder, QDir::homePath());
    QCOMPARE(fileBytes(csv),
             QByteArray("0\t0\tOUT\tpty0\t2026-03-04\t00:00:00.000\tSI<CR><LF>\n"
                        "1\t1\tIN\tpty0\t2026-03-04\t00:00:00.000\t\"C1\t12.5<CR><LF>\"\n"
                        "2\t1\tIN\tpty0\t2026-03-04\t00:00:00.000\tS S 1 g<CR><LF>\n"
                        "3\t2\tIN\tpty0\t2026-03-04\t00:00:00.000\t\"say \"\"hi\"\"<CR><LF>\"\n"
                        "4\t3\tOUT\tpty0\t2026-03-04\t00:00:00.000\t\"'@SUM(A1)<CR><LF>\"\n"));
    QString raw;
    int exports = 0;
    for (const QString& folder : {QDir::homePath(), m_db.filePath(QStringLiteral("."))}) {
        raw = m_db.filePath(QStringLiteral("raw%1.txt").arg(++exports));
        chooseFile(raw, &startFolder);
        view->saveRaw();
        QCOMPARE(QDir(startFolder), QDir(folder));
    }
    QCOMPARE(fileBytes(raw), QByteArray("C1\t12.5\r\nS S 1 g\r\nsay \"hi\"\r\n"));

    // A file that cannot be opened is reported and nothing is written; a cancel stores no folder.
    const QString unopenable = m_db.filePath(QStringLiteral("missing/folder/log.csv"));
    chooseFile(QString());
    view->save(unopenable);
    QVERIFY(!QFile::exists(unopenable));
    PelmFileDialog firmware(QStringLiteral("firmwarePath"));
    chooseFile(QString());
    QCOMPARE(firmware.openFile(QStringLiteral("Firmware files (*.S19)")), QString());
    QVERIFY(!QSettings().contains(QStringLiteral("SavedFilePaths/firmwarePath")));
}

void TstPelmLog::exportFieldRule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("field");
    const auto row = [](const char* name, const QString& text, const QString& delimiter,
                        const QString& field) { QTest::newRow(name) << text << delimiter << field; };
    row("plain", "kg", "\t", "kg");
    row("delimiter inside", "a;b", ";", "\"a;b\"");
    // A spreadsheet would run these: plain text, the apostrophe inside the quotes.
    row("formula", "=HYPERLINK(\"http://x\",\"y\")", ",", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"");
    row("plus", "+1+2", ";", "\"'+1+2\"");
    row("minus, delimiter inside", "-2;3", ";", "\"'-2;3\"");
    // Numbers stay numbers.
    row("negative weight", "-5.0", ",", "-5.0");
    row("signed, comma decimal", "+0,25", ";", "+0,25");
    row("exponent", "-1E+05", "\t", "-1E+05");
    // No field delimiter: the text is typed or fills a line, it is no delimited file.
    row("no delimiter", "=1+1", "", "=1+1");
}

void TstPelmLog::exportFieldRule()
{
    QFETCH(QString, text);
    QFETCH(QString, delimiter);
    QFETCH(QString, field);
    QCOMPARE(ExportField::quoted(text, delimiter, QStringLiteral("\n")), field);
}

QTEST_MAIN(TstPelmLog)
#include "tst_pelmlog.moc"
