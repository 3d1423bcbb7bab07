#include "support/pgserver.h"
#include "support/simprocess.h"
#include "support/testdatabase.h"

#include "log/centralforwarder.h"
#include "log/centralsender.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString UpToDate = QStringLiteral("Central: up to date");

// The rows a server holds, as "station|serial|count|value", in order.
const QString ServerRows =
    QStringLiteral("SELECT station, serial, count, value FROM mervik_results ORDER BY station, count");

// n results of two instruments (or of the one with serial), stored as the capture stores them.
void store(DataFeedTableModel& feed, int n, const QString& value = QStringLiteral("12.50"),
           const QString& serial = QString())
{
    QVector<QStringList> rows;
    for (int i = 0; i < n; ++i) {
        rows << QStringList{QStringLiteral("12-07-2026"),
                            QStringLiteral("10:42:00"),
                            !serial.isNull() ? serial
                            : i % 2          ? QStringLiteral("SN-A")
                                             : QStringLiteral("SN-B"),
                            value,
                            QStringLiteral("kg"),
                            QString()};
    }
    feed.appendRows(rows);
}

// What the server should hold of a local database: "station|SN|COUNT|VAL".
QStringList expected(const QString& station, const QSqlDatabase& db = QSqlDatabase::database())
{
    QStringList rows;
    for (const QString& row :
         TestDatabase::rows(QStringLiteral("SELECT SN, COUNT, VAL FROM DATAFEED ORDER BY COUNT"), db)) {
        const QStringList f = row.split(QLatin1Char('|'));
        rows << QStringList{station, f.at(0), f.at(1), f.at(2)}.join(QLatin1Char('|'));
    }
    return rows;
}

// Traffic as instruments make it: a command, and an answer in two pieces that splits a line.
void talk(CPelmLog& log, int n)
{
    const QDate date(2026, 12, 7);
    const QTime time(10, 42);
    for (int i = 0; i < n; ++i) {
        log.onNewOutLog({QStringLiteral("/dev/pts/3"), date, time, QStringLiteral("S\r\n")});
        log.onNewInLog(
            {QStringLiteral("/dev/pts/3"), date, time, QStringLiteral("S S 1.00 kg\r\nS S %1.").arg(i)});
        log.onNewInLog({QStringLiteral("/dev/pts/3"), date, time, QStringLiteral("50 kg\r\n")});
    }
    log.commitPending();
}

// The traffic of this run as the server should hold it: "packet|line|direction|message", in order.
QStringList logged()
{
    return TestDatabase::rows(
        QStringLiteral("SELECT PacketId, LineId, INOUT, Message FROM LOGS ORDER BY PacketId, LineId"));
}

} // namespace

// Forwarding the stored results to a PostgreSQL server that the test runs itself.
class TstCentral : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void forwardedOnce();
    void clearedAndRestored();
    void serverStoppedMidCapture();
    void refused_data();
    void refused();
    void killedMidBatch();
    void traffic_data();
    void traffic();

private:
    // A database of its own on the server for each test.
    QString database(const char* name);

    TestDatabase m_db;
    PgServer m_server;
    std::unique_ptr<DataFeedTableModel> m_feed;
};

void TstCentral::initTestCase()
{
    QVERIFY(m_db.isValid());
    if (!m_server.isValid()) {
        QSKIP(qPrintable(m_server.failure()));
    }
}

void TstCentral::init()
{
    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("DELETE FROM DATAFEED")));
    query.exec(QStringLiteral("DELETE FROM CENTRAL_STATE"));
    query.exec(QStringLiteral("DELETE FROM CENTRAL_TRAFFIC"));
    query.exec(QStringLiteral("DELETE FROM LOGS_UNSENT"));
    m_feed = std::make_unique<DataFeedTableModel>();
}

QString TstCentral::database(const char* name)
{
    const QString db = QLatin1String(name);
    if (!m_server.exec(QStringLiteral("CREATE DATABASE ") + db)) {
        qWarning() << m_server.failure();
    }
    return db;
}

void TstCentral::forwardedOnce()
{
    const QString db = database("once");
    // More than a batch, and a batch's worth exactly.
    store(*m_feed, 2 * CentralSender::BatchRows + 1);
    {
        CentralForwarder central(m_server.uri(db), QStringLiteral("station-a"));
        central.start();
        QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), UpToDate, 20000);
        QCOMPARE(m_server.rows(ServerRows, db), expected(QStringLiteral("station-a")));
    }
    // The mark lost (a kill after the server took a batch): the rows are sent again and stored once.
    QSqlQuery(QStringLiteral("DELETE FROM CENTRAL_STATE")).exec();
    // A serial number that an instrument may send, with what a batch's encoding must keep apart.
    store(*m_feed, 3, QStringLiteral("7.25"), QStringLiteral("SN \"7\", \\ {x} NULL"));
    {
        CentralForwarder central(m_server.uri(db), QStringLiteral("station-a"));
        central.start();
        QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), UpToDate, 20000);
    }
    const QStringList first = expected(QStringLiteral("station-a"));
    QCOMPARE(m_server.rows(ServerRows, db), first);

    // A second station with rows of the same numbers and serials: both kept, apart.
    const QString otherFile = m_db.filePath(QStringLiteral("other.db"));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(otherFile);
        QVERIFY(other.open());
        DataFeedTableModel feed(nullptr, other);
        QVERIFY(feed.createTable());
        store(feed, 40, QStringLiteral("3.00"));
        CentralForwarder central(m_server.uri(db), QStringLiteral("station-b"), otherFile);
        central.start();
        QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), UpToDate, 20000);
        QCOMPARE(m_server.rows(ServerRows, db), first + expected(QStringLiteral("station-b"), other));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

void TstCentral::clearedAndRestored()
{
    const QString db = database("cleared");
    const QString rows = QStringLiteral("SELECT generation, count, value FROM mervik_results ORDER BY 1, 2");
    const QString serial = QStringLiteral("SN-A");
    {
        CentralForwarder central(m_server.uri(db), QStringLiteral("station-a"));
        connect(m_feed.get(), &DataFeedTableModel::rowsStored, &central, &CentralForwarder::nudge);
        central.start();
        store(*m_feed, 3, QStringLiteral("1.00"), serial);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.rows(rows, db).size(), 3, 20000);
        // The numbering starts again after a clear: the same COUNTs are new results, sent and kept.
        QVERIFY(m_feed->clear());
        store(*m_feed, 2, QStringLiteral("2.00"), serial);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.rows(rows, db).size(), 5, 20000);
    }
    // A row deleted before it went, put back after the mark passed it, goes too.
    store(*m_feed, 2, QStringLiteral("3.00"), serial);
    const QVariantList third = m_feed->storedRow(2);
    QVERIFY(m_feed->removeRows(2, 1));
    CentralForwarder central(m_server.uri(db), QStringLiteral("station-a"));
    central.start();
    QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), UpToDate, 20000);
    QVERIFY(m_feed->restoreRow(third));
    central.nudge();
    QTRY_COMPARE_WITH_TIMEOUT(m_server.rows(rows, db).size(), 7, 20000);
    QCOMPARE(m_server.rows(rows, db), QStringList({"0|1|1.00", "0|2|1.00", "0|3|1.00", "1|1|2.00", "1|2|2.00",
                                                   "1|3|3.00", "1|4|3.00"}));
}

void TstCentral::serverStoppedMidCapture()
{
    const QString db = database("outage");
    CentralForwarder central(m_server.uri(db), QStringLiteral("station-a"));
    connect(m_feed.get(), &DataFeedTableModel::rowsStored, &central, &CentralForwarder::nudge);
    central.start();
    store(*m_feed, 10);
    QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), UpToDate, 20000);

    QVERIFY(m_server.stop());
    store(*m_feed, 120);
    const QRegularExpression unreachable(
        QStringLiteral("^Central: 120 waiting \\(server unreachable since \\d\\d:\\d\\d\\)$"));
    QTRY_VERIFY_WITH_TIMEOUT(unreachable.match(central.statusText()).hasMatch(), 20000);
    QVERIFY2(m_server.start(), qPrintable(m_server.failure()));
    store(*m_feed, 1);
    QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), UpToDate, 20000);
    QCOMPARE(m_server.rows(ServerRows, db), expected(QStringLiteral("station-a")));
}

void TstCentral::refused_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("status");
    QTest::newRow("another shape")
        << "CREATE TABLE mervik_results (station text, serial text, count integer, value numeric)"
        << "mervik"
        << "Central: refused (table mervik_results has other columns: station text, serial text, count "
           "integer, "
           "value numeric)";
    // The server's own words.
    QTest::newRow("no permission") << QString::fromLatin1(CentralSender::CreateServerTable) +
                                          "; CREATE ROLE clerk LOGIN; GRANT SELECT ON mervik_results TO clerk"
                                   << "clerk"
                                   << "Central: refused (permission denied for table mervik_results)";
}

void TstCentral::refused()
{
    QFETCH(QString, setup);
    QFETCH(QString, user);
    QFETCH(QString, status);
    const QString db = database(QTest::currentDataTag()[0] == 'a' ? "shape" : "permission");
    QVERIFY2(m_server.exec(setup, db), qPrintable(m_server.failure()));
    store(*m_feed, 5);
    CentralForwarder central(m_server.uri(db).replace(QStringLiteral("mervik@"), user + QLatin1Char('@')),
                             QStringLiteral("station-a"));
    central.start();
    QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), status, 20000);
    QCOMPARE(central.state(), CentralForwarder::Refused);
    // Nothing taken for sent.
    QCOMPARE(TestDatabase::rows(QStringLiteral("SELECT COUNT(*) FROM CENTRAL_STATE")), QStringList{"0"});
}

void TstCentral::killedMidBatch()
{
#ifdef __SANITIZE_ADDRESS__
    QSKIP("30,000 rows sent within a bound in time; the sanitizer build runs several times slower");
#endif
    const QString db = database("killed");
    const QString file = m_db.filePath(QStringLiteral("killed.db"));
    {
        QSqlDatabase local = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("killed"));
        local.setDatabaseName(file);
        QVERIFY(local.open());
        DataFeedTableModel feed(nullptr, local);
        QVERIFY(feed.createTable());
        store(feed, 30000);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("killed"));

    SimProcess sim;
    const QString port = sim.startPty();
    QVERIFY(!port.isEmpty());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_db.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_db.filePath(QStringLiteral("home/config")));
    // Asked for the results every 100 ms, so that each run has traffic.
    QStringList args{"capture", port, "--interval", "100", "--db", file, "--central", m_server.uri(db)};
    args << QStringLiteral("--central-traffic");
    const QString count = QStringLiteral("SELECT count(*) FROM mervik_results");
    {
        ChildProcess cli;
        cli.process.setProcessEnvironment(env);
        cli.process.start(QStringLiteral(MERVIK_CLI_PATH), args);
        // Killed while the rows go over, most likely inside a batch.
        QTRY_VERIFY_WITH_TIMEOUT(m_server.rows(count, db).value(0).toInt() > 0, 20000);
        cli.process.kill();
        QVERIFY(cli.process.waitForFinished(5000));
    }
    QVERIFY(m_server.rows(count, db).value(0).toInt() < 30000);
    ChildProcess cli;
    cli.process.setProcessEnvironment(env);
    cli.process.start(QStringLiteral(MERVIK_CLI_PATH), args);
    QCOMPARE(cli.waitForLine("Central:", 30000), QByteArray("Central: up to date"));
    cli.process.terminate();
    QVERIFY(cli.process.waitForFinished(10000));
    QCOMPARE(cli.process.exitCode(), 0);

    QStringList local;
    QStringList traffic;
    {
        QSqlDatabase check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("killed"));
        check.setDatabaseName(file);
        QVERIFY(check.open());
        local = TestDatabase::rows(QStringLiteral("SELECT SN, COUNT FROM DATAFEED ORDER BY COUNT"), check);
        traffic = TestDatabase::rows(
            QStringLiteral("SELECT PacketId, LineId, INOUT, Message FROM LOGS ORDER BY PacketId, LineId"),
            check);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("killed"));
    // The stored ones, and what the instrument answered meanwhile.
    QVERIFY(local.size() > 30000);
    QCOMPARE(m_server.rows(QStringLiteral("SELECT serial, count FROM mervik_results ORDER BY count"), db),
             local);
    QCOMPARE(m_server.rows(QStringLiteral("SELECT count(DISTINCT station) FROM mervik_results"), db),
             QStringList{"1"});
    // The traffic went too, the last run's whole as the capture ended.
    QVERIFY(!traffic.isEmpty());
    QCOMPARE(m_server.rows(
                 QStringLiteral("SELECT packet, line, direction, message FROM mervik_traffic WHERE run = "
                                "(SELECT max(run) FROM mervik_traffic) ORDER BY packet, line"),
                 db),
             traffic);
    // Each stamp is the wall-clock time stored beside it, unshifted by any zone.
    QCOMPARE(
        m_server.rows(QStringLiteral("SELECT count(*) FROM mervik_results WHERE taken_at IS NULL OR "
                                     "to_char(taken_at, 'MM-DD-YYYY HH24:MI:SS') <> date || ' ' || time"),
                      db),
        QStringList{"0"});
    QCOMPARE(
        m_server.rows(QStringLiteral("SELECT count(*) FROM mervik_traffic WHERE logged_at IS NULL OR "
                                     "to_char(logged_at, 'YYYY-MM-DD HH24:MI:SS.MS') <> date || ' ' || time"),
                      db),
        QStringList{"0"});
}

void TstCentral::traffic_data()
{
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("status");
    QTest::newRow("not asked") << false << QString() << UpToDate;
    QTest::newRow("asked") << true << QString() << UpToDate;
    QTest::newRow("refused") << true << "CREATE TABLE mervik_traffic (station text, message text)"
                             << "Central: refused (table mervik_traffic has other columns: station text, "
                                "message text)";
}

void TstCentral::traffic()
{
    QFETCH(bool, asked);
    QFETCH(QString, setup);
    QFETCH(QString, status);
    const QString db = database(QTest::currentDataTag()[0] == 'n' ? "quiet"
                                : setup.isEmpty()                 ? "talk"
                                                                  : "deaf");
    if (!setup.isEmpty()) {
        QVERIFY2(m_server.exec(setup, db), qPrintable(m_server.failure()));
    }
    auto log = std::make_unique<CPelmLog>();
    CentralForwarder central(m_server.uri(db), QStringLiteral("station-a"));
    central.setTraffic(asked);
    connect(m_feed.get(), &DataFeedTableModel::rowsStored, &central, &CentralForwarder::nudge);
    central.start();
    // More lines than a batch takes.
    talk(*log, CentralSender::BatchRows / 2);
    store(*m_feed, 10);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.rows(ServerRows, db), expected(QStringLiteral("station-a")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), status, 20000);

    // The server away for a while, and the program started again meanwhile: the new run drops LOGS
    // and numbers its packets from 0 again.
    QVERIFY(m_server.stop());
    talk(*log, 3);
    store(*m_feed, 5);
    QTRY_VERIFY_WITH_TIMEOUT(central.statusText().contains(QLatin1String("unreachable")), 20000);
    QStringList sent = logged();
    log = std::make_unique<CPelmLog>();
    talk(*log, 2);
    sent += logged();
    QVERIFY2(m_server.start(), qPrintable(m_server.failure()));
    store(*m_feed, 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.rows(ServerRows, db), expected(QStringLiteral("station-a")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(central.statusText(), status, 20000);
    if (!asked) {
        QCOMPARE(m_server.rows(QStringLiteral("SELECT to_regclass('mervik_traffic') IS NULL"), db),
                 QStringList{"true"});
    } else if (!setup.isEmpty()) {
        QCOMPARE(m_server.rows(QStringLiteral("SELECT count(*) FROM mervik_traffic"), db), QStringList{"0"});
    } else {
        QCOMPARE(m_server.rows(QStringLiteral("SELECT packet, line, direction, message FROM mervik_traffic "
                                              "ORDER BY run, packet, line"),
                               db),
                 sent);
    }
}

QTEST_GUILESS_MAIN(TstCentral)
#include "tst_central.moc"
