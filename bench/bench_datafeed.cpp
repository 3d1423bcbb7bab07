// Time to append one captured result to a data feed that already holds 100,000 rows, as the capture
// page does it (store the row, scroll to the bottom, let the view repaint), with the view shown as
// the page sets it up, beside the plain way: an INSERT with the values pasted in, then selecting
// the whole table model again and fetching every row.
#include "log/appdatabase.h"
#include "log/datafeedtablemodel.h"
#include "log/datafeedtableview.h"

#include <QApplication>
#include <QElapsedTimer>
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
    DataFeedTableView view;
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
    std::printf("bench: datafeed-100k: %.2f ms; baseline %.1f ms; ratio %.1f\n", ours.median, plain.median,
                ours.median > 0 ? plain.median / ours.median : 0.0);
    return whole ? 0 : 1;
}
