// Time to append one captured result to a data feed that already holds 100,000 rows, as the capture
// page does it (store the row, scroll to the bottom, let the view repaint), with the view shown as
// the page sets it up, beside the plain way: an INSERT with the values pasted in, then selecting
// the whole table model again and fetching every row.
// Then, each in a process of its own: the time from opening the view over 1,000,000 rows to its last
// rows painted, beside the same over 100 rows; and the process's memory with that view, after
// showing its top, middle and end, beside the same over an empty table.
#include "controller/capturecore.h"
#include "log/appdatabase.h"
#include "log/datafeedtablemodel.h"
#include "ui/log/datafeedtableview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Rows = 100000;
constexpr int BigRows = 1000000;
constexpr int SmallRows = 100;
constexpr int Opens = 11;
constexpr int Appends = 300;
constexpr int PlainAppends = 9;
// Hidden by the capture page at its start: COUNT, DATE, TIME, SN and NOTE.
constexpr int PageHiddenColumns[] = {1, 2, 3, 4, 7};

QStringList fields(int i)
{
    return {QStringLiteral("03-04-2026"),      QStringLiteral("05:06:07"), QStringLiteral("SN 1234"),
            QString::number(i * 0.01, 'f', 2), QStringLiteral("g"),        QString()};
}

void fill()
{
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query;
    query.exec(QLatin1String(DataFeedTableModel::CreateStatement));
    db.transaction();
    query.prepare(QStringLiteral("INSERT INTO DATAFEED VALUES ('', ?, ?, ?, ?, ?, ?, '')"));
    for (int i = 1; i <= Rows; ++i) {
        const QStringList f = fields(i);
        query.addBindValue(i);
        for (int c = 0; c < 5; ++c) {
            query.addBindValue(f.at(c));
        }
        query.exec();
    }
    db.commit();
}

// A database of its own with rows 1 to rows, written by SQLite in one statement.
bool fillFile(const QString& path, int rows)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        // Table and index as an earlier run of the program left them.
        ok =
            db.open() && DataFeedTableModel(nullptr, db).createTable() &&
            query.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 WHERE %1 > 0 UNION ALL SELECT i + 1 "
                                      "FROM n WHERE i < %1) INSERT INTO DATAFEED SELECT '', i, '03-04-2026', "
                                      "'05:06:07', 'SN 1234', printf('%.2f', i * 0.01), 'g', '' FROM n")
                           .arg(rows));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QRegularExpression rss(QStringLiteral("^VmRSS:\\s+(\\d+) kB"), QRegularExpression::MultilineOption);
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toDouble() / 1024;
}

void showRow(DataFeedTableView& view, int row)
{
    view.scrollTo(view.model()->index(row, 5), QAbstractItemView::PositionAtCenter);
    QCoreApplication::processEvents();
}

// The child process: opens the view over the database at path as the capture page shows it,
// Opens times, printing the time to the last rows painted; then the resident memory with the
// view open after its top, middle and end were shown.
int openChild(const QString& path)
{
    if (!AppDatabase::open(path)) {
        return 1;
    }
    {
        // The first view of a process loads fonts and styles: not the data feed's cost.
        QTableView warm;
        warm.show();
        QCoreApplication::processEvents();
    }
    QElapsedTimer timer;
    bool last = true;
    for (int i = 0; i < Opens; ++i) {
        timer.start();
        // As the program opens it: the capture reads the table, the page shows it.
        CaptureCore capture;
        DataFeedTableView view(capture.model());
        for (const int column : PageHiddenColumns) {
            view.setColumnHidden(column, true);
        }
        view.resize(900, 600);
        view.show();
        view.scrollToBottom();
        QCoreApplication::processEvents();
        const double ms = timer.nsecsElapsed() / 1e6;
        const int rows = view.model()->rowCount();
        last = last && view.rowAt(view.viewport()->height() - 1) == rows - 1;
        std::printf("open-last-ms %.3f\n", ms);
        if (i + 1 == Opens) {
            showRow(view, 0);
            showRow(view, rows / 2);
            showRow(view, rows - 1);
            std::printf("rss-mb %.1f\n", residentMegabytes());
        }
    }
    std::printf("last-rows-shown %s\n", last ? "yes" : "NO");
    return 0;
}

struct ChildFigures
{
    double openMs = 0;
    double rssMb = 0;
    bool lastShown = false;
};

bool runChild(const QString& path, ChildFigures& figures)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), path});
    if (!child.waitForFinished(120000) || child.exitCode() != 0) {
        return false;
    }
    std::vector<double> opens;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2) {
            continue;
        }
        if (words[0] == "open-last-ms") {
            opens.push_back(words[1].toDouble());
        } else if (words[0] == "rss-mb") {
            figures.rssMb = words[1].toDouble();
        } else if (words[0] == "last-rows-shown") {
            figures.lastShown = words[1] == "yes";
        }
    }
    if (opens.empty()) {
        return false;
    }
    std::sort(opens.begin(), opens.end());
    figures.openMs = opens[opens.size() / 2];
    return true;
}

struct Figures
{
    double median = 0;
    double longest = 0;
};

Figures summarise(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

// The plain view: a table model selected again after every append, every row fetched, column
// widths measured at most every 2.5 s, the selection put back.
class PlainFeed
{
public:
    PlainFeed()
    {
        model.setTable(QStringLiteral("DATAFEED"));
        model.setEditStrategy(QSqlTableModel::OnFieldChange);
        model.select();
        view.setModel(&model);
        for (const int column : PageHiddenColumns) {
            view.setColumnHidden(column, true);
        }
        view.resize(900, 600);
        view.show();
        resizeTimer.setSingleShot(true);
        resizeTimer.setInterval(2500);
        QSqlQuery max(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED"));
        nextCount = max.next() ? max.value(0).toInt() + 1 : 1;
    }

    void addRow(const QStringList& f)
    {
        QStringList values{QString(), QString::number(nextCount)};
        values += f;
        QSqlDatabase db = QSqlDatabase::database();
        db.transaction();
        QSqlQuery insert;
        insert.exec(QStringLiteral("INSERT INTO DATAFEED VALUES (\"") + values.join(QStringLiteral("\",\"")) +
                    QStringLiteral("\")"));
        ++nextCount;
        db.commit();
        refresh();
        view.scrollToBottom();
    }

private:
    void refresh()
    {
        const QModelIndexList selected = view.selectionModel()->selectedRows();
        model.select();
        while (model.canFetchMore()) {
            model.fetchMore();
        }
        if (!resizeTimer.isActive()) {
            resizeTimer.start();
            view.resizeColumnsToContents();
        }
        for (const QModelIndex& index : selected) {
            view.selectRow(index.row());
        }
    }

    QSqlTableModel model;
    QTableView view;
    QTimer resizeTimer;
    int nextCount = 1;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--open") {
        return openChild(QString::fromLocal8Bit(argv[2]));
    }
    QTemporaryDir dir;
    if (!dir.isValid() || !AppDatabase::open(dir.filePath(QStringLiteral("myDbQel.db")))) {
        std::fprintf(stderr, "bench: cannot open a database\n");
        return 1;
    }
    fill();

    std::vector<double> times;
    std::vector<double> calls;
    QElapsedTimer timer;
    timer.start();
    CaptureCore capture;
    DataFeedTableView view(capture.model());
    for (const int column : PageHiddenColumns) {
        view.setColumnHidden(column, true);
    }
    view.resize(900, 600);
    view.show();
    QCoreApplication::processEvents();
    std::printf("data feed view with %d rows opened in %.0f ms\n", Rows, timer.nsecsElapsed() / 1e6);
    for (int i = 0; i < Appends; ++i) {
        timer.start();
        view.addRow(fields(i));
        view.scrollToBottom();
        calls.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    const Figures ours = summarise(times);
    const Figures oursCalls = summarise(calls);
    const bool whole = view.model()->rowCount() == Rows + Appends;

    times.clear();
    calls.clear();
    {
        PlainFeed plain;
        QCoreApplication::processEvents();
        for (int i = 0; i < PlainAppends; ++i) {
            timer.start();
            plain.addRow(fields(i));
            calls.push_back(timer.nsecsElapsed() / 1e6);
            QCoreApplication::processEvents();
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    const Figures plain = summarise(times);
    const Figures plainCalls = summarise(calls);

    std::printf(
        "append at %d rows: median %.2f ms (%.2f ms before the repaint), longest %.2f ms, view holds the "
        "whole table: %s\n",
        Rows, ours.median, oursCalls.median, ours.longest, whole ? "yes" : "NO");
    std::printf("plain append: median %.1f ms (%.1f ms before the repaint), longest %.1f ms\n", plain.median,
                plainCalls.median, plain.longest);

    ChildFigures big;
    ChildFigures small;
    ChildFigures empty;
    const QString bigPath = dir.filePath(QStringLiteral("big.db"));
    const QString smallPath = dir.filePath(QStringLiteral("small.db"));
    const QString emptyPath = dir.filePath(QStringLiteral("empty.db"));
    if (!fillFile(bigPath, BigRows) || !fillFile(smallPath, SmallRows) || !fillFile(emptyPath, 0) ||
        !runChild(bigPath, big) || !runChild(smallPath, small) || !runChild(emptyPath, empty)) {
        std::fprintf(stderr, "bench: the views over 1,000,000, 100 and no rows could not be measured\n");
        return 1;
    }
    std::printf("open to last rows painted, median of %d: %.2f ms at %d rows, %.2f ms at %d rows; last rows "
                "shown: %s\n",
                Opens, big.openMs, BigRows, small.openMs, SmallRows, big.lastShown ? "yes" : "NO");
    std::printf(
        "resident memory with the view open: %.1f MB at %d rows, %.1f MB with an empty table (%+.1f MB)\n",
        big.rssMb, BigRows, empty.rssMb, big.rssMb - empty.rssMb);

    std::printf("bench: datafeed-100k: %.2f ms; baseline %.1f ms; ratio %.1f\n", ours.median, plain.median,
                ours.median > 0 ? plain.median / ours.median : 0.0);
    std::printf("bench: datafeed-rss-1m: %.1f MB; baseline %.1f MB; ratio %.2f\n", big.rssMb, empty.rssMb,
                big.rssMb > 0 ? empty.rssMb / big.rssMb : 0.0);
    std::printf("bench: datafeed-last-1m: %.2f ms; baseline %.2f ms; ratio %.2f\n", big.openMs, small.openMs,
                big.openMs > 0 ? small.openMs / big.openMs : 0.0);
    return whole && big.lastShown && small.lastShown ? 0 : 1;
}
