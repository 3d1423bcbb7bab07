// Forwarding to a central PostgreSQL server (one the benchmark starts, on a Unix socket): the rate at
// which 100,000 stored results go over, beside the plain way (one INSERT per row, each its own
// transaction); then the catch-up after an outage of the server while results come at 20 a second,
// beside the time the same rows take with the server up all along. Also the rate of 100,000 traffic
// lines, beside the results' rate.
#include "support/pgserver.h"

#include "log/appdatabase.h"
#include "log/centralforwarder.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr int Rows = 100000;
constexpr int PlainRows = 5000;
constexpr int ResultsPerSecond = 20;
// MERVIK_BENCH_OUTAGE_S shortens it for a quick look.
constexpr int OutageSeconds = 60;
constexpr int WaitLimitMs = 300000;

QStringList fields(int i)
{
    return {QStringLiteral("12-07-2026"),      QStringLiteral("10:42:00"), QStringLiteral("SN 1234"),
            QString::number(i * 0.01, 'f', 2), QStringLiteral("g"),        QString()};
}

void store(DataFeedTableModel& feed, int n)
{
    QVector<QStringList> rows;
    for (int i = 0; i < n; ++i) {
        rows << fields(i);
        if (rows.size() == 10000 || i == n - 1) {
            feed.appendRows(rows);
            rows.clear();
        }
    }
}

// Runs the event loop until the forwarder is up to date; its time in ms, -1 past the limit.
qint64 untilUpToDate(CentralForwarder& central, const std::function<void()>& meanwhile = {})
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&central, &CentralForwarder::statusChanged, &loop, [&](int state) {
        if (state == CentralForwarder::UpToDate) {
            loop.quit();
        }
    });
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (meanwhile) {
            meanwhile();
        }
        if (central.state() == CentralForwarder::UpToDate || clock.elapsed() > WaitLimitMs) {
            loop.quit();
        }
    });
    tick.start(1000 / ResultsPerSecond);
    loop.exec();
    return central.state() == CentralForwarder::UpToDate ? clock.elapsed() : -1;
}

double plainRate(PgServer& server)
{
    server.exec(QStringLiteral("CREATE DATABASE plain"));
    server.exec(
        QStringLiteral("CREATE TABLE plain_results (station text, serial text, count bigint, taken_at "
                       "timestamp, date text, time text, value text, unit text, note text, PRIMARY "
                       "KEY (station, serial, count))"),
        QStringLiteral("plain"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("plain"));
    db.setHostName(server.socketFolder());
    db.setUserName(QStringLiteral("mervik"));
    db.setDatabaseName(QStringLiteral("plain"));
    if (!db.open()) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(db.lastError().text()));
        return 0;
    }
    QSqlQuery insert(db);
    insert.prepare(
        QStringLiteral("INSERT INTO plain_results VALUES (?,?,?,?,?,?,?,?,?) ON CONFLICT DO NOTHING"));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < PlainRows; ++i) {
        const QStringList f = fields(i);
        for (const QVariant& value :
             QVariantList{QStringLiteral("station"), f[2], i + 1, QStringLiteral("2026-12-07 10:42:00"), f[0],
                          f[1], f[3], f[4], f[5]}) {
            insert.addBindValue(value);
        }
        insert.exec();
    }
    const double rate = PlainRows * 1000.0 / qMax<qint64>(1, clock.elapsed());
    insert = QSqlQuery();
    db.close();
    return rate;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    PgServer server;
    if (!server.isValid()) {
        std::fprintf(stderr, "bench: central-forward skipped: %s\n", qPrintable(server.failure()));
        return 0;
    }
    if (!dir.isValid() || !AppDatabase::open(dir.filePath(QStringLiteral("bench.db")))) {
        std::fprintf(stderr, "bench: cannot open a database\n");
        return 1;
    }
    DataFeedTableModel feed;
    feed.createTable();

    // The rate: 100,000 rows waiting when the forwarder starts.
    store(feed, Rows);
    server.exec(QStringLiteral("CREATE DATABASE rate"));
    double rate = 0;
    {
        CentralForwarder central(server.uri(QStringLiteral("rate")), QStringLiteral("bench"));
        central.start();
        const qint64 ms = untilUpToDate(central);
        rate = ms > 0 ? Rows * 1000.0 / ms : 0;
    }
    const double plain = plainRate(server);
    std::printf("bench: central-forward: %.0f rows/s; baseline %.0f rows/s; ratio %.1f\n", rate, plain,
                plain > 0 ? rate / plain : 0);

    // The traffic, once the results are there: only its rows go.
    double trafficRate = 0;
    {
        CPelmLog log;
        for (int i = 0; i < Rows; ++i) {
            log.onNewInLog({QStringLiteral("/dev/ttyUSB0"), QDate(2026, 12, 7), QTime(10, 42),
                            QStringLiteral("S S %1 g\r\n").arg(i)});
        }
        log.commitPending();
        CentralForwarder central(server.uri(QStringLiteral("rate")), QStringLiteral("bench"));
        central.setTraffic(true);
        central.start();
        const qint64 ms = untilUpToDate(central);
        trafficRate = ms > 0 ? Rows * 1000.0 / ms : 0;
    }
    std::printf("bench: central-traffic: %.0f rows/s; baseline %.0f rows/s; ratio %.2f\n", trafficRate, rate,
                rate > 0 ? trafficRate / rate : 0);

    // The outage: results come at 20 a second throughout; the server is away for a while.
    const int outage = qEnvironmentVariableIsSet("MERVIK_BENCH_OUTAGE_S")
                           ? qEnvironmentVariableIntValue("MERVIK_BENCH_OUTAGE_S")
                           : OutageSeconds;
    server.exec(QStringLiteral("CREATE DATABASE outage"));
    CentralForwarder central(server.uri(QStringLiteral("outage")), QStringLiteral("bench"));
    QObject::connect(&feed, &DataFeedTableModel::rowsStored, &central, &CentralForwarder::nudge);
    central.start();
    int stored = 0;
    const auto oneResult = [&] { feed.appendRow(fields(stored++)); };
    untilUpToDate(central);
    server.stop();
    {
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            oneResult();
            if (clock.elapsed() >= outage * 1000) {
                loop.quit();
            }
        });
        tick.start(1000 / ResultsPerSecond);
        loop.exec();
    }
    const qint64 waiting = central.waiting();
    server.start();
    const qint64 catchUp = untilUpToDate(central, oneResult);
    // The same number of rows sent with the server up: the floor of a catch-up.
    server.exec(QStringLiteral("CREATE DATABASE floor"));
    qint64 floor = 0;
    {
        QSqlQuery(QStringLiteral("DELETE FROM DATAFEED")).exec();
        store(feed, int(waiting));
        CentralForwarder again(server.uri(QStringLiteral("floor")), QStringLiteral("bench"));
        again.start();
        floor = untilUpToDate(again);
    }
    std::printf("central: %lld results waited through an outage of %d s\n", waiting, outage);
    std::printf("bench: central-catch-up: %lld ms; baseline %lld ms; ratio %.2f\n", catchUp, floor,
                catchUp > 0 ? double(floor) / catchUp : 0);
    return 0;
}
