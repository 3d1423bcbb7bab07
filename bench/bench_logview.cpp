// Time of one refresh of the terminal's log view (3000 newest lines, no filter, repaint included) at
// 10,000, 100,000 and 1,000,000 stored rows, beside the plain grouping of the whole table on a table
// with only its primary key, which is also what the view's rows must equal.
#include "device/devicetypes.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/pelmlogquery.h"
#include "ui/log/pelmlogview.h"
#include "ui/log/pelmquerymodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Limit = 3000;
constexpr int Repeats = 7;

// Device-like traffic until the table holds `rows` rows: commands out, answers in, some answers
// cut into two chunks.
void fillTo(CPelmLog& log, qint64& stored, qint64 rows)
{
    const QDate date = QDate::currentDate();
    for (int i = int(stored); stored < rows; ++i) {
        const PelmLogRecord out{QStringLiteral("/dev/pts/3 (9600)"), date,
                                QTime::fromMSecsSinceStartOfDay(i % 86400000), QStringLiteral("SI\r\n")};
        log.onNewOutLog(out);
        PelmLogRecord in = out;
        if (i % 3 == 0) {
            in.message = QStringLiteral("S S      1");
            log.onNewInLog(in);
            in.message = QStringLiteral("2.500 g\r\n");
            stored += 1;
        } else {
            in.message = QStringLiteral("S S      %1.000 g\r\n").arg(i % 1000);
        }
        log.onNewInLog(in);
        stored += 2;
    }
    log.commitPending();
}

QStringList modelRows(const QAbstractItemModel* model)
{
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < model->columnCount(); ++c) {
            row << model->index(r, c).data().toString();
        }
        rows << row.join(QLatin1Char('|'));
    }
    return rows;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The view as the terminal page sets it up, refreshed as on new log lines; milliseconds.
double viewRefreshMs(PelmLogView& view)
{
    std::vector<double> times;
    for (int i = 0; i < Repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.refreshKeepingSelection();
        QCoreApplication::processEvents();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

// The plain refresh: the grouping of the whole table set on a query model of a shown table view.
double plainRefreshMs(QTableView& table, PelmQueryModel& model, int repeats, bool lineMode = true)
{
    const QString sql = PelmLogQuery(QStringLiteral("PLAIN"), QString(), lineMode, Limit).fullStatement();
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        model.setQuery(sql, QSqlDatabase::database());
        while (model.canFetchMore()) {
            model.fetchMore();
        }
        table.scrollToBottom();
        QCoreApplication::processEvents();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

void copyToPlain()
{
    QSqlQuery query;
    query.exec(QStringLiteral("DROP TABLE IF EXISTS PLAIN"));
    QString create = QLatin1String(CPelmLog::CreateStatement);
    query.exec(create.replace(QStringLiteral("LOGS("), QStringLiteral("PLAIN(")));
    query.exec(QStringLiteral("INSERT INTO PLAIN SELECT * FROM LOGS"));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    DeviceTypes::registerMetaTypes();
    QTemporaryDir dir;
    if (!dir.isValid() || !AppDatabase::open(dir.filePath(QStringLiteral("myDbQel.db")))) {
        std::fprintf(stderr, "bench: cannot open a database\n");
        return 1;
    }

    CPelmLog log;
    PelmLogView view;
    view.setTable(QStringLiteral("LOGS"));
    view.setLimit(Limit);
    view.setRowColours(QColor(0xee, 0xee, 0xee), QColor(0xff, 0xff, 0xff));
    view.resize(900, 600);
    view.show();

    QTableView plainView;
    PelmQueryModel plainModel;
    plainView.setModel(&plainModel);
    plainView.resize(900, 600);
    plainView.show();

    qint64 stored = 0;
    double ours = 0;
    double plain = 0;
    bool same = true;
    for (const qint64 rows : {10000LL, 100000LL, 1000000LL}) {
        fillTo(log, stored, rows);
        ours = viewRefreshMs(view);
        copyToPlain();
        plain = plainRefreshMs(plainView, plainModel, rows >= 1000000 ? 3 : Repeats);
        const bool equal =
            modelRows(view.model()) == modelRows(&plainModel) && view.model()->rowCount() == Limit;
        same = same && equal;
        std::printf("log view at %lld rows: refresh %.2f ms; plain grouping %.1f ms; same rows: %s\n", stored,
                    ours, plain, equal ? "yes" : "NO");
    }
    // The raw chunks, as the terminal's "Show original data chunk" shows them.
    view.setLineMode(false);
    const double raw = viewRefreshMs(view);
    const double plainRaw = plainRefreshMs(plainView, plainModel, 1, false);
    const bool rawEqual =
        modelRows(view.model()) == modelRows(&plainModel) && view.model()->rowCount() == Limit;
    same = same && rawEqual;
    std::printf("raw chunks at %lld rows: refresh %.2f ms; plain grouping %.1f ms; same rows: %s\n", stored,
                raw, plainRaw, rawEqual ? "yes" : "NO");
    if (!same) {
        std::fprintf(stderr, "bench: the view's rows differ from the plain grouping\n");
    }
    std::printf("bench: logview-1m: %.2f ms; baseline %.1f ms; ratio %.1f\n", ours, plain,
                ours > 0 ? plain / ours : 0.0);
    return same ? 0 : 1;
}
