#include "device/devicetypes.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/datefilter.h"
#include "log/filterdialog.h"
#include "log/filterwidget.h"
#include "log/inoutfilter.h"
#include "log/numericfilter.h"
#include "log/pelmfiledialog.h"
#include "log/pelmlogquery.h"
#include "log/pelmlogview.h"
#include "log/pelmquerymodel.h"
#include "log/stringfilter.h"
#include "log/timefilter.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

PelmLogRecord record(const QString& message, int msOfDay = 0,
                     const QString& interface = QStringLiteral("pty0"))
{
    return PelmLogRecord{interface, QDate(2026, 3, 4), QTime::fromMSecsSinceStartOfDay(msOfDay), message};
}

// "OUT:text" or "IN:text" to the writer's slot of that direction.
void storeAll(CPelmLog& log, const QStringList& records)
{
    for (const QString& r : records) {
        const QString message = r.mid(r.indexOf(QLatin1Char(':')) + 1);
        if (r.startsWith(QLatin1String("OUT"))) {
            log.onNewOutLog(record(message));
        } else {
            log.onNewInLog(record(message));
        }
    }
}

// Every row of the query, all columns joined by '|'.
QStringList allRows(QSqlQuery& query)
{
    QStringList rows;
    while (query.next()) {
        QStringList row;
        for (int c = 0; c < query.record().count(); ++c) {
            row << query.value(c).toString();
        }
        rows << row.join(QLatin1Char('|'));
    }
    return rows;
}

// The shown rows as "INOUT|Message".
QStringList shownRows(const QAbstractItemModel* model)
{
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        rows << model->index(r, 2).data().toString() + QLatin1Char('|') +
                    model->index(r, 6).data().toString();
    }
    return rows;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Accepts the file dialog that is about to run modally with the given file; startFolder gets the
// folder the dialog opened in.
void acceptNextFileDialog(const QString& path, QString* startFolder = nullptr)
{
    QTimer::singleShot(0, [path, startFolder] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        if (startFolder) {
            *startFolder = dialog->directory().absolutePath();
        }
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

void closeNextModal()
{
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
}

} // namespace

class TstPelmLogView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void boundedQueryEqualsFullGrouping_data();
    void boundedQueryEqualsFullGrouping();
    void linesAndChunks_data();
    void linesAndChunks();
    void limitKeepsTheNewestGroups();
    void coloursHeadersAndColumns();
    void filterFragments_data();
    void filterFragments();
    void panelJoinsTheShownFilters();
    void dialogReportsTheCheckedColumns();
    void viewAppliesAndRemovesTheFilter();
    void followsTheTailAndKeepsTheSelection();
    void exportsShownRowsAndReceivedBytes();
    void unopenableFileWritesNothing();
    void clearLogEmptiesTheTable();
    void fileDialogRemembersTheFolderPerKey();

private:
    std::unique_ptr<PelmLogView> shownView(int limit = 3000);

    QTemporaryDir m_dir;
    std::unique_ptr<CPelmLog> m_log;
};

void TstPelmLogView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_dir.filePath(QStringLiteral("settings")));
    QCoreApplication::setOrganizationName(QStringLiteral("Mervik"));
    QCoreApplication::setApplicationName(QStringLiteral("Mervik Connect"));
    DeviceTypes::registerMetaTypes();
    QVERIFY(AppDatabase::open(m_dir.filePath(QStringLiteral("myDbQel.db"))));
}

void TstPelmLogView::init()
{
    m_log.reset(new CPelmLog);
}

void TstPelmLogView::cleanup()
{
    m_log.reset();
}

std::unique_ptr<PelmLogView> TstPelmLogView::shownView(int limit)
{
    auto view = std::make_unique<PelmLogView>();
    view->setTable(QStringLiteral("LOGS"));
    view->setLimit(limit);
    view->resize(500, 300);
    view->show();
    return view;
}

void TstPelmLogView::boundedQueryEqualsFullGrouping_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("lineMode");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("limit");

    const QStringList filters{
        QString(),
        QStringLiteral("INOUT LIKE 'IN'"),
        QStringLiteral("Message LIKE '%OK%' "),
        QStringLiteral("INOUT LIKE 'OUT' AND Message LIKE 'S%' "),
        QStringLiteral("Time BETWEEN '00:20:00.000' AND '00:40:00.000' "),
        QStringLiteral("Interface LIKE 'pty1' AND Date = '2026-03-05' "),
        QStringLiteral("Message LIKE '%it''s%' "),
    };
    for (const bool lineMode : {true, false}) {
        for (const QString& filter : filters) {
            for (const int limit : {3000, 40}) {
                const QString name = QStringLiteral("%1, limit %2, %3")
                                         .arg(lineMode ? "lines" : "chunks")
                                         .arg(limit)
                                         .arg(filter.isEmpty() ? QStringLiteral("no filter") : filter);
                QTest::newRow(qPrintable(name)) << "WRITTEN" << lineMode << filter << limit;
            }
        }
    }
    // Lines missing here and there, as failed inserts leave them.
    for (const bool lineMode : {true, false}) {
        for (const int limit : {3000, 40}) {
            QTest::addRow("%s with gaps, limit %d", lineMode ? "lines" : "chunks", limit)
                << "GAPS" << lineMode << QString() << limit;
        }
    }
    // Chunks holding both directions, which the writer never stores.
    for (const int limit : {3000, 41, 40}) {
        QTest::addRow("chunks in both directions, limit %d", limit) << "MIXED" << false << QString() << limit;
    }
}

void TstPelmLogView::boundedQueryEqualsFullGrouping()
{
    QFETCH(QString, source);
    QFETCH(bool, lineMode);
    QFETCH(QString, filter);
    QFETCH(int, limit);

    // Written once for all rows: each source once with the view's index and once (name_PLAIN) with
    // only the primary key.
    if (!QSqlDatabase::database().tables().contains(QStringLiteral("WRITTEN"))) {
        // Traffic as devices produce it: lines cut into chunks anywhere, several lines per chunk,
        // answers with tabs and quotes, both directions, a few interfaces, two days.
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
            direction == 0 ? m_log->onNewInLog(r) : m_log->onNewOutLog(r);
        }
        const QString changes[] = {
            QString(),
            QStringLiteral("DELETE FROM %1 WHERE LineId % 7 = 3"),
            QStringLiteral("UPDATE %1 SET INOUT = CASE INOUT WHEN 'IN' THEN 'OUT' ELSE 'IN' END "
                           "WHERE PacketId % 5 = 0 AND LineId % 2 = 0"),
        };
        const QString sources[] = {QStringLiteral("WRITTEN"), QStringLiteral("GAPS"),
                                   QStringLiteral("MIXED")};
        QSqlQuery copy;
        for (int i = 0; i < 3; ++i) {
            for (const QString& table : {sources[i], sources[i] + QStringLiteral("_PLAIN")}) {
                QString create = QLatin1String(CPelmLog::CreateStatement);
                QVERIFY(copy.exec(create.replace(QStringLiteral("LOGS("), table + QLatin1Char('('))));
                QVERIFY(copy.exec(QStringLiteral("INSERT INTO %1 SELECT * FROM LOGS").arg(table)));
                QVERIFY(changes[i].isEmpty() || copy.exec(changes[i].arg(table)));
            }
            QVERIFY(copy.exec(CPelmLog::lineIndexStatement(sources[i])));
        }
        QVERIFY(copy.exec(QStringLiteral("SELECT COUNT(*) FROM WRITTEN")) && copy.next());
        QVERIFY(copy.value(0).toInt() > 4000);
    }

    QSqlQuery full;
    QVERIFY(
        full.exec(PelmLogQuery(source + QStringLiteral("_PLAIN"), filter, lineMode, limit).fullStatement()));
    const QStringList expected = allRows(full);
    QSqlQuery bounded = PelmLogQuery(source, filter, lineMode, limit).exec(QSqlDatabase::database());
    QVERIFY(bounded.isActive());
    QCOMPARE(allRows(bounded), expected);
    QVERIFY(expected.size() > 10);
    QVERIFY(expected.size() <= limit);
}

void TstPelmLogView::linesAndChunks_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("chunks");

    QTest::newRow("sent command") << QStringList{"OUT:SI\r\n"} << QStringList{"OUT|SI<CR><LF>"}
                                  << QStringList{"OUT|SI<CR><LF>"};
    QTest::newRow("line received in two chunks")
        << QStringList{"IN:S S    1", "IN:0.00 g\r\n"} << QStringList{"IN|S S    10.00 g<CR><LF>"}
        << QStringList{"IN|S S    1", "IN|0.00 g<CR><LF>"};
    QTest::newRow("two lines in one chunk")
        << QStringList{"IN:A\r\nB\r\n"} << QStringList{"IN|A<CR><LF>", "IN|B<CR><LF>"}
        << QStringList{"IN|A<CR><LF>B<CR><LF>"};
    QTest::newRow("a line shows where its first chunk arrived")
        << QStringList{"OUT:SI\r\n", "IN:S S 1", "OUT:ST\r\n", "IN: g\r\nST A\r\n"}
        << QStringList{"OUT|SI<CR><LF>", "IN|S S 1 g<CR><LF>", "OUT|ST<CR><LF>", "IN|ST A<CR><LF>"}
        << QStringList{"OUT|SI<CR><LF>", "IN|S S 1", "OUT|ST<CR><LF>", "IN| g<CR><LF>ST A<CR><LF>"};
}

void TstPelmLogView::linesAndChunks()
{
    QFETCH(QStringList, records);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, chunks);
    storeAll(*m_log, records);
    auto view = shownView();

    QCOMPARE(shownRows(view->model()), lines);
    view->setLineMode(false);
    QCOMPARE(shownRows(view->model()), chunks);
    view->setLineMode(true);
    QCOMPARE(shownRows(view->model()), lines);
}

void TstPelmLogView::limitKeepsTheNewestGroups()
{
    for (int i = 0; i <= 3000; ++i) {
        m_log->onNewOutLog(record(QStringLiteral("L%1\r\n").arg(i)));
    }
    auto view = shownView(3000);
    QAbstractItemModel* model = view->model();
    QCOMPARE(model->rowCount(), 3000);
    QCOMPARE(model->index(0, 6).data().toString(), QStringLiteral("L1<CR><LF>"));
    QCOMPARE(model->index(2999, 6).data().toString(), QStringLiteral("L3000<CR><LF>"));

    view->setLimit(2);
    QCOMPARE(shownRows(model), (QStringList{"OUT|L2999<CR><LF>", "OUT|L3000<CR><LF>"}));
}

void TstPelmLogView::coloursHeadersAndColumns()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
    auto view = shownView();
    view->setRowColours(QColor(0xee, 0xee, 0xee), QColor(0xff, 0xff, 0xff));
    QAbstractItemModel* model = view->model();
    QCOMPARE(model->index(0, 6).data(Qt::BackgroundRole).value<QColor>(), QColor(0xff, 0xff, 0xff));
    QCOMPARE(model->index(1, 6).data(Qt::BackgroundRole).value<QColor>(), QColor(0xee, 0xee, 0xee));

    QVERIFY(view->isColumnHidden(0));
    QVERIFY(view->isColumnHidden(1));
    const QStringList headers{"IN/OUT", "Interface", "Date", "Time", "Message"};
    for (int c = 2; c < 7; ++c) {
        QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), headers.at(c - 2));
        QVERIFY(!view->isColumnHidden(c));
    }
    view->setCollumns({true, false, true, false, true});
    QVERIFY(view->isColumnHidden(3));
    QVERIFY(view->isColumnHidden(5));
    view->refresh();
    QVERIFY(view->isColumnHidden(3));
    QVERIFY(view->isColumnHidden(0));
    QVERIFY(!view->isColumnHidden(6));
}

void TstPelmLogView::filterFragments_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("fragment");

    QTest::newRow("number between, decimal comma") << 0 << 0 << "1.5"
                                                   << "20"
                                                   << "Num BETWEEN 1.500 AND 20.000 ";
    QTest::newRow("number greater than") << 0 << 1 << "-2"
                                         << ""
                                         << "Num >= -2.000 ";
    QTest::newRow("number lower than") << 0 << 2 << "7.25"
                                       << ""
                                       << "Num <= 7.250 ";
    QTest::newRow("number equal") << 0 << 3 << "3"
                                  << ""
                                  << "Num = 3.000 ";
    QTest::newRow("text starts on") << 1 << 0 << "OK"
                                    << ""
                                    << "Message LIKE 'OK%' ";
    QTest::newRow("text ends on") << 1 << 1 << "OK"
                                  << ""
                                  << "Message LIKE '%OK' ";
    QTest::newRow("text contains") << 1 << 2 << "OK"
                                   << ""
                                   << "Message LIKE '%OK%' ";
    QTest::newRow("text equal") << 1 << 3 << "S S 1 g"
                                << ""
                                << "Message LIKE 'S S 1 g' ";
    QTest::newRow("empty text") << 1 << 2 << ""
                                << ""
                                << "";
    QTest::newRow("text with quotes") << 1 << 2 << "it's 'x'"
                                      << ""
                                      << "Message LIKE '%it''s ''x''%' ";
    QTest::newRow("date between") << 2 << 0 << "2026-03-04"
                                  << "2026-03-05"
                                  << "Date BETWEEN '2026-03-04' AND '2026-03-05' ";
    QTest::newRow("date later than") << 2 << 1 << "2026-03-04"
                                     << ""
                                     << "Date >= '2026-03-04' ";
    QTest::newRow("date earlier than") << 2 << 2 << "2026-03-04"
                                       << ""
                                       << "Date <= '2026-03-04' ";
    QTest::newRow("date equal") << 2 << 3 << "2026-03-04"
                                << ""
                                << "Date = '2026-03-04' ";
    QTest::newRow("time between") << 3 << 0 << "01:02:03.004"
                                  << "23:59:59.999"
                                  << "Time BETWEEN '01:02:03.004' AND '23:59:59.999' ";
    QTest::newRow("time later than") << 3 << 1 << "01:02:03.004"
                                     << ""
                                     << "Time >= '01:02:03.004' ";
    QTest::newRow("time earlier than") << 3 << 2 << "01:02:03.004"
                                       << ""
                                       << "Time <= '01:02:03.004' ";
    QTest::newRow("time equal") << 3 << 3 << "13:02:03.004"
                                << ""
                                << "Time = '13:02:03.004' ";
    QTest::newRow("in and out") << 4 << 0 << ""
                                << ""
                                << "";
    QTest::newRow("in") << 4 << 1 << ""
                        << ""
                        << "INOUT LIKE 'IN'";
    QTest::newRow("out") << 4 << 2 << ""
                         << ""
                         << "INOUT LIKE 'OUT'";
}

void TstPelmLogView::filterFragments()
{
    QFETCH(int, type);
    QFETCH(int, option);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, fragment);

    std::unique_ptr<AbstractFilter> filter;
    switch (type) {
    case AbstractFilter::Numeric: {
        auto* numeric = new NumericFilter(QStringLiteral("Num"), 0, QString());
        filter.reset(numeric);
        // A locale with a decimal comma writes "1,500" in the box.
        for (QDoubleSpinBox* box : {numeric->fromBox(), numeric->toBox()}) {
            box->setLocale(QLocale(QLocale::Polish, QLocale::Poland));
        }
        numeric->fromBox()->setValue(from.toDouble());
        numeric->toBox()->setValue(to.toDouble());
        QVERIFY(numeric->fromBox()->text().contains(QLatin1Char(',')));
        break;
    }
    case AbstractFilter::String: {
        auto* text = new StringFilter(QStringLiteral("Message"), 0, QString());
        filter.reset(text);
        text->lineEdit()->setText(from);
        break;
    }
    case AbstractFilter::Date: {
        auto* date = new DateFilter(QStringLiteral("Date"), 0, QString());
        filter.reset(date);
        date->fromEdit()->setDate(QDate::fromString(from, Qt::ISODate));
        date->toEdit()->setDate(QDate::fromString(to, Qt::ISODate));
        break;
    }
    case AbstractFilter::Time: {
        auto* time = new TimeFilter(QStringLiteral("Time"), 0, QString());
        filter.reset(time);
        time->fromEdit()->setTime(QTime::fromString(from, QStringLiteral("HH:mm:ss.zzz")));
        time->toEdit()->setTime(QTime::fromString(to, QStringLiteral("HH:mm:ss.zzz")));
        break;
    }
    default:
        filter.reset(new InOutFilter(QStringLiteral("INOUT"), 0, QString()));
        break;
    }
    QCOMPARE(filter->label(), filter->column());
    QSignalSpy changed(filter.get(), &AbstractFilter::filterChanged);
    filter->optionCombo()->setCurrentIndex(option);
    QCOMPARE(filter->optionCombo()->objectName(), QStringLiteral("chooseOptionCombo"));
    QCOMPARE(filter->filterString(), fragment);
    QCOMPARE(changed.count(), option == 0 ? 0 : 1);
}

void TstPelmLogView::panelJoinsTheShownFilters()
{
    QSqlQuery query(QStringLiteral("SELECT * FROM LOGS"));
    FilterWidget panel;
    panel.setSkippedColumns(2);
    panel.init(query.record(), {4, 1, 2, 3, 1}, {"IN/OUT", "", "Date", "Time", "Message"});
    panel.init(query.record(), {1}, {"again"});
    QCOMPARE(panel.filterCount(), 5);
    QCOMPARE(panel.labels(), (QStringList{"IN/OUT", "Interface", "Date", "Time", "Message"}));
    QCOMPARE(panel.filterAt(4)->column(), QStringLiteral("Message"));

    QSignalSpy conditions(&panel, &FilterWidget::filterString);
    panel.setFilters({true, false, false, false, true});
    QVERIFY(panel.isVisible());
    QVERIFY(panel.filterAt(0)->isVisible());
    QVERIFY(!panel.filterAt(1)->isVisible());
    QCOMPARE(conditions.last().at(0).toString(), QString());

    panel.filterAt(0)->optionCombo()->setCurrentIndex(InOutFilter::In);
    auto* message = static_cast<StringFilter*>(panel.filterAt(4));
    message->optionCombo()->setCurrentIndex(StringFilter::Contains);
    message->lineEdit()->setText(QStringLiteral("OK"));
    QCOMPARE(conditions.last().at(0).toString(), QStringLiteral("INOUT LIKE 'IN' AND Message LIKE '%OK%' "));

    // A hidden filter sets no condition, whatever its values.
    auto* time = static_cast<TimeFilter*>(panel.filterAt(3));
    time->fromEdit()->setTime(QTime(23, 0));
    QCOMPARE(conditions.last().at(0).toString(), QStringLiteral("INOUT LIKE 'IN' AND Message LIKE '%OK%' "));

    message->lineEdit()->clear();
    QCOMPARE(conditions.last().at(0).toString(), QStringLiteral("INOUT LIKE 'IN'"));

    QSignalSpy closed(panel.filterAt(0), &AbstractFilter::xClicked);
    panel.filterAt(0)->findChild<QToolButton*>(QStringLiteral("xButton"))->click();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(closed.at(0).at(0).toInt(), 0);
    QVERIFY(!panel.filterAt(0)->isActive());
    QCOMPARE(conditions.last().at(0).toString(), QString());
    QCOMPARE(panel.shownFilters(), (QVector<bool>{false, false, false, false, true}));
    QVERIFY(panel.isVisible());

    panel.filterAt(4)->findChild<QToolButton*>(QStringLiteral("xButton"))->click();
    QVERIFY(!panel.isVisible());
}

void TstPelmLogView::dialogReportsTheCheckedColumns()
{
    const QStringList labels{"IN/OUT", "Interface", "Date", "Time", "Message"};
    FilterDialog dialog(labels, {false, true, false, false, false});
    QSignalSpy chosen(&dialog, &FilterDialog::filterList);
    QCOMPARE(dialog.list()->count(), 5);
    QCOMPARE(dialog.list()->item(4)->text(), QStringLiteral("Message"));

    dialog.list()->item(3)->setCheckState(Qt::Checked);
    dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    QCOMPARE(chosen.count(), 0);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));

    dialog.findChild<QPushButton*>(QStringLiteral("confirmButton"))->click();
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).value<QVector<bool>>(), (QVector<bool>{false, true, false, true, false}));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TstPelmLogView::viewAppliesAndRemovesTheFilter()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:it's OK\r\n", "IN:S S 1 g\r\n", "OUT:SZ\r\n"});
    auto view = shownView();
    FilterWidget* panel = view->filterPanel();
    panel->setFilters({true, false, false, false, true});
    panel->filterAt(0)->optionCombo()->setCurrentIndex(InOutFilter::In);
    QCOMPARE(shownRows(view->model()), (QStringList{"IN|it's OK<CR><LF>", "IN|S S 1 g<CR><LF>"}));

    auto* message = static_cast<StringFilter*>(panel->filterAt(4));
    message->optionCombo()->setCurrentIndex(StringFilter::StartsOn);
    message->lineEdit()->setText(QStringLiteral("it's"));
    QCOMPARE(view->currentFilter(), QStringLiteral("INOUT LIKE 'IN' AND Message LIKE 'it''s%' "));
    QCOMPARE(shownRows(view->model()), QStringList{"IN|it's OK<CR><LF>"});

    // A condition that is not SQL leaves the view empty until a valid one comes.
    view->setFilter(QStringLiteral("Message LIKE 'it's' "));
    QCOMPARE(view->model()->rowCount(), 0);

    panel->setFilters({false, false, false, false, false});
    QCOMPARE(view->currentFilter(), QString());
    QCOMPARE(view->model()->rowCount(), 4);
}

void TstPelmLogView::followsTheTailAndKeepsTheSelection()
{
    auto view = shownView(50);
    QScrollBar* bar = view->verticalScrollBar();
    int next = 0;
    auto addLines = [this, &next](int n) {
        for (int i = 0; i < n; ++i, ++next) {
            m_log->onNewInLog(record(QStringLiteral("line %1\r\n").arg(next)));
        }
    };
    addLines(30);
    view->refreshKeepingSelection();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    addLines(30);
    view->refreshKeepingSelection();
    QCOMPARE(view->model()->rowCount(), 50);
    QCOMPARE(bar->value(), bar->maximum());

    // The user selects a line: the view stops following and keeps that line selected.
    const QModelIndex chosen = view->model()->index(20, 6);
    const QString chosenText = chosen.data().toString();
    view->selectionModel()->select(chosen, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(!view->isStickingToBottom());
    bar->setValue(3);
    addLines(5);
    view->refreshKeepingSelection();
    QModelIndexList selected = view->selectionModel()->selectedRows(6);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().data().toString(), chosenText);
    QCOMPARE(selected.first().row(), 15);
    QCOMPARE(bar->value(), 3);

    QTest::keyClick(view.get(), Qt::Key_Escape);
    QVERIFY(view->selectionModel()->selectedRows().isEmpty());
    QVERIFY(!view->isStickingToBottom());

    // Dragging the bar to the end resumes following.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(view->isStickingToBottom());
    addLines(5);
    view->refreshKeepingSelection();
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(view->model()->index(49, 6).data().toString(), QStringLiteral("line %1<CR><LF>").arg(next - 1));
}

void TstPelmLogView::exportsShownRowsAndReceivedBytes()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:C1\t12.5\r\nS S", "IN: 1 g\r\nsay \"hi\"\r\n"});
    auto view = shownView();
    const QString csv = m_dir.filePath(QStringLiteral("log.csv"));
    view->save(csv);
    QCOMPARE(fileBytes(csv),
             QByteArray("0\t0\tOUT\tpty0\t2026-03-04\t00:00:00.000\tSI<CR><LF>\n"
                        "1\t1\tIN\tpty0\t2026-03-04\t00:00:00.000\t\"C1\t12.5<CR><LF>\"\n"
                        "2\t1\tIN\tpty0\t2026-03-04\t00:00:00.000\tS S 1 g<CR><LF>\n"
                        "3\t2\tIN\tpty0\t2026-03-04\t00:00:00.000\t\"say \"\"hi\"\"<CR><LF>\"\n"));

    const QString raw = m_dir.filePath(QStringLiteral("raw.txt"));
    acceptNextFileDialog(raw);
    view->saveRaw();
    QCOMPARE(fileBytes(raw), QByteArray("C1\t12.5\r\nS S 1 g\r\nsay \"hi\"\r\n"));
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("SavedFilePaths/rawDbPath")).toString(), m_dir.path());

    // Without a path the export asks; a second export starts where the first went.
    QDir(m_dir.path()).mkpath(QStringLiteral("exports"));
    const QString asked = m_dir.filePath(QStringLiteral("exports/asked.csv"));
    acceptNextFileDialog(asked);
    view->save();
    QCOMPARE(fileBytes(asked), fileBytes(csv));
    QString startFolder;
    acceptNextFileDialog(m_dir.filePath(QStringLiteral("exports/again.csv")), &startFolder);
    view->save();
    QCOMPARE(startFolder, m_dir.filePath(QStringLiteral("exports")));
}

void TstPelmLogView::unopenableFileWritesNothing()
{
    storeAll(*m_log, {"OUT:SI\r\n"});
    auto view = shownView();
    const QString path = m_dir.filePath(QStringLiteral("missing/folder/log.csv"));
    closeNextModal();
    view->save(path);
    QVERIFY(!QFile::exists(path));
}

void TstPelmLogView::clearLogEmptiesTheTable()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
    auto view = shownView();
    QCOMPARE(view->model()->rowCount(), 2);
    view->clearLog();
    QCOMPARE(view->model()->rowCount(), 0);
    QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM LOGS"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 0);
}

void TstPelmLogView::fileDialogRemembersTheFolderPerKey()
{
    QSettings().remove(QStringLiteral("SavedFilePaths"));
    PelmFileDialog unnamed{QString()};
    QCOMPARE(unnamed.lastDirectory(), QDir::homePath());
    PelmFileDialog capture(QStringLiteral("FilePath"));
    QCOMPARE(capture.lastDirectory(), QDir::homePath());

    QDir(m_dir.path()).mkpath(QStringLiteral("captures"));
    const QString file = m_dir.filePath(QStringLiteral("captures/results.txt"));
    QString startFolder;
    acceptNextFileDialog(file, &startFolder);
    QCOMPARE(capture.saveFile(QStringLiteral("All files (*.*);;Text files (*.txt)")), file);
    QCOMPARE(startFolder, QDir::homePath());
    QCOMPARE(capture.acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(PelmFileDialog(QStringLiteral("FilePath")).lastDirectory(),
             m_dir.filePath(QStringLiteral("captures")));
    QCOMPARE(PelmFileDialog(QStringLiteral("firmwarePath")).lastDirectory(), QDir::homePath());

    // Opening accepts only files that exist, and a cancel stores nothing.
    PelmFileDialog firmware(QStringLiteral("firmwarePath"));
    closeNextModal();
    QCOMPARE(firmware.openFile(QStringLiteral("Firmware files (*.S19)")), QString());
    QCOMPARE(firmware.fileMode(), QFileDialog::ExistingFile);
    QVERIFY(!QSettings().contains(QStringLiteral("SavedFilePaths/firmwarePath")));
}

QTEST_MAIN(TstPelmLogView)
#include "tst_pelmlogview.moc"
