#include "log/centralsender.h"

#include "log/centraluri.h"
#include "log/datafeedtablemodel.h"
#include "platform/logcategories.h"

#include <QDate>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTime>

const char* const CentralSender::ServerTable = "mervik_results";
const char* const CentralSender::CreateServerTable = "CREATE TABLE IF NOT EXISTS mervik_results (\n"
                                                     "station text NOT NULL,\n"
                                                     "serial text NOT NULL,\n"
                                                     "generation bigint NOT NULL,\n"
                                                     "count bigint NOT NULL,\n"
                                                     "taken_at timestamp,\n"
                                                     "date text,\n"
                                                     "time text,\n"
                                                     "value text,\n"
                                                     "unit text,\n"
                                                     "note text,\n"
                                                     "PRIMARY KEY (station, serial, generation, count)\n"
                                                     ")";
const char* const CentralSender::CreateStateTable =
    "CREATE TABLE IF NOT EXISTS CENTRAL_STATE(SERVER TEXT PRIMARY KEY NOT NULL, GENERATION INTEGER NOT NULL, "
    "LAST_COUNT INTEGER NOT NULL)";
const char* const CentralSender::RewindStatement =
    "UPDATE CENTRAL_STATE SET LAST_COUNT = ? - 1 WHERE LAST_COUNT >= ?";

namespace {

// The server's columns as CreateServerTable makes them, in order.
const QStringList ServerColumns{QStringLiteral("station text"),
                                QStringLiteral("serial text"),
                                QStringLiteral("generation bigint"),
                                QStringLiteral("count bigint"),
                                QStringLiteral("taken_at timestamp without time zone"),
                                QStringLiteral("date text"),
                                QStringLiteral("time text"),
                                QStringLiteral("value text"),
                                QStringLiteral("unit text"),
                                QStringLiteral("note text")};

constexpr int ServerColumnCount = 10;
// Where a row's COUNT is among the columns sent.
constexpr int SentCountColumn = 3;

// SQLSTATE classes of a server that is away or busy for a while, not of one that refuses: connection
// exceptions, insufficient resources, operator intervention (shut down), system errors, rollbacks.
bool transient(const QSqlError& error)
{
    const QString state = error.nativeErrorCode();
    static const QStringList classes{QStringLiteral("08"), QStringLiteral("53"), QStringLiteral("57"),
                                     QStringLiteral("58"), QStringLiteral("40")};
    return state.size() != 5 || classes.contains(state.left(2));
}

// The server's words without libpq's severity in front ("ERROR:  permission denied ...") and the
// SQLSTATE that the driver puts after them ("(42501)").
QString serverText(const QSqlError& error)
{
    QString text = error.databaseText().trimmed();
    text = (text.isEmpty() ? error.text() : text).simplified();
    const QString code = QStringLiteral("(%1)").arg(error.nativeErrorCode());
    if (text.endsWith(code)) {
        text = text.left(text.size() - code.size()).trimmed();
    }
    for (const char* severity : {"ERROR: ", "FATAL: "}) {
        if (text.startsWith(QLatin1String(severity))) {
            text = text.mid(int(qstrlen(severity)));
        }
    }
    return text;
}

// One element of an array literal: quoted, with its quotes and backslashes escaped; NULL for a null.
QString arrayElement(const QVariant& value)
{
    if (value.isNull()) {
        return QStringLiteral("NULL");
    }
    QString text = value.toString();
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

CentralSender::CentralSender(const QString& localFile, const QString& uri, const QString& station)
    : m_localFile(localFile), m_uri(uri), m_station(station),
      m_localName(QStringLiteral("central local %1").arg(quintptr(this))),
      m_serverName(QStringLiteral("central server %1").arg(quintptr(this)))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CentralSender::pass);
}

CentralSender::~CentralSender()
{
    close();
}

void CentralSender::close()
{
    m_timer.stop();
    for (const QString& name : {m_localName, m_serverName}) {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }
}

bool CentralSender::openLocal()
{
    if (QSqlDatabase::contains(m_localName)) {
        return true;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_localName);
    db.setDatabaseName(m_localFile);
    // The window's writes come first; a mark waits for them rather than fail.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
    QSqlQuery create(db);
    // The generation's table too, so that reading it always starts the read transaction.
    if (!db.open() || !create.exec(QLatin1String(CreateStateTable)) ||
        !create.exec(QLatin1String(DataFeedTableModel::GenerationStatement))) {
        qCWarning(lcLog) << "central: local database:" << m_localFile << db.lastError().text()
                         << create.lastError().text();
        create = QSqlQuery();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_localName);
        return false;
    }
    return true;
}

bool CentralSender::openServer()
{
    QSqlDatabase db = QSqlDatabase::contains(m_serverName)
                          ? QSqlDatabase::database(m_serverName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_serverName);
    if (db.isOpen()) {
        return true;
    }
    if (!db.isValid()) {
        m_reason = QStringLiteral("no PostgreSQL driver (libqt5sql5-psql)");
        report(Refused, -1);
        return false;
    }
    QString error;
    if (!CentralUri::apply(m_uri, db, &error)) {
        m_reason = error;
        report(Refused, -1);
        return false;
    }
    m_tableChecked = false;
    if (!db.open()) {
        serverFailed(db.lastError(), QStringLiteral("connect"));
        return false;
    }
    qCInfo(lcLog) << "central: connected to" << m_uri;
    return true;
}

bool CentralSender::checkServerTable()
{
    if (m_tableChecked) {
        return true;
    }
    QSqlDatabase db = QSqlDatabase::database(m_serverName, false);
    QSqlQuery query(db);
    const QString columns =
        QStringLiteral(
            "SELECT column_name || ' ' || data_type FROM information_schema.columns WHERE table_schema = "
            "current_schema() AND table_name = '%1' ORDER BY ordinal_position")
            .arg(QLatin1String(ServerTable));
    if (!query.exec(columns)) {
        serverFailed(query.lastError(), QStringLiteral("read the table's columns"));
        return false;
    }
    QStringList found;
    while (query.next()) {
        found << query.value(0).toString();
    }
    if (found.isEmpty()) {
        if (!query.exec(QLatin1String(CreateServerTable))) {
            serverFailed(query.lastError(), QStringLiteral("create the table"));
            return false;
        }
        qCInfo(lcLog) << "central: created table" << ServerTable;
        found = ServerColumns;
    }
    if (found != ServerColumns) {
        m_reason = QStringLiteral("table %1 has other columns: %2")
                       .arg(QLatin1String(ServerTable), found.join(QStringLiteral(", ")));
        qCWarning(lcLog).noquote() << "central: refused:" << m_reason;
        report(Refused, -1);
        return false;
    }
    m_tableChecked = true;
    return true;
}

qint64 CentralSender::generation()
{
    QSqlQuery query(QSqlDatabase::database(m_localName, false));
    return query.exec(QStringLiteral("SELECT GENERATION FROM DATAFEED_GENERATION")) && query.next()
               ? query.value(0).toLongLong()
               : 0;
}

qint64 CentralSender::readMark(qint64 generation)
{
    QSqlQuery query(QSqlDatabase::database(m_localName, false));
    query.prepare(QStringLiteral("SELECT GENERATION, LAST_COUNT FROM CENTRAL_STATE WHERE SERVER = ?"));
    query.addBindValue(m_uri);
    // A mark of an earlier generation is of rows cleared since: the new ones count from the start.
    return query.exec() && query.next() && query.value(0).toLongLong() == generation
               ? query.value(1).toLongLong()
               : 0;
}

bool CentralSender::writeMark(qint64 generation, qint64 from, qint64 count)
{
    QSqlQuery query(QSqlDatabase::database(m_localName, false));
    // Moved only from where the batch started: a row put back meanwhile has set it lower.
    query.prepare(QStringLiteral(
        "INSERT INTO CENTRAL_STATE(SERVER, GENERATION, LAST_COUNT) VALUES (?, ?, ?) ON CONFLICT(SERVER) DO "
        "UPDATE SET GENERATION = excluded.GENERATION, LAST_COUNT = excluded.LAST_COUNT "
        "WHERE GENERATION <> excluded.GENERATION OR LAST_COUNT = ?"));
    query.addBindValue(m_uri);
    query.addBindValue(generation);
    query.addBindValue(count);
    query.addBindValue(from);
    if (!query.exec()) {
        qCWarning(lcLog) << "central: the mark stays behind:" << query.lastError().text();
        return false;
    }
    return true;
}

qint64 CentralSender::waitingAfter(qint64 mark)
{
    QSqlQuery query(QSqlDatabase::database(m_localName, false));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM DATAFEED WHERE COUNT > ?"));
    query.addBindValue(mark);
    return query.exec() && query.next() ? query.value(0).toLongLong() : 0;
}

int CentralSender::sendBatch(qint64& generation, qint64& mark)
{
    // The generation and the rows from one snapshot: a clear between the two reads would send its new
    // rows under the old generation.
    QSqlDatabase local = QSqlDatabase::database(m_localName, false);
    local.transaction();
    const qint64 current = this->generation();
    if (current != generation) {
        generation = current;
        mark = 0;
    }
    QSqlQuery read(local);
    read.setForwardOnly(true);
    read.prepare(QStringLiteral("SELECT COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED WHERE COUNT > ? "
                                "ORDER BY COUNT LIMIT ?"));
    read.addBindValue(mark);
    read.addBindValue(BatchRows);
    if (!read.exec()) {
        // No DATAFEED yet: nothing was captured.
        read.finish();
        local.rollback();
        return 0;
    }
    std::vector<QVariantList> rows;
    while (read.next()) {
        const QString date = read.value(1).toString();
        const QString time = read.value(2).toString();
        const QDateTime takenAt(QDate::fromString(date, QStringLiteral("MM-dd-yyyy")),
                                QTime::fromString(time, QStringLiteral("HH:mm:ss")));
        rows.push_back({m_station, read.value(3).toString(), generation, read.value(0).toLongLong(),
                        takenAt.isValid() ? QVariant(takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                          : QVariant(QVariant::String),
                        date, time, read.value(4).toString(), read.value(5).toString(),
                        read.value(6).toString()});
    }
    read.finish();
    local.commit();
    if (rows.empty()) {
        return 0;
    }
    // One statement for the whole batch, its columns as nine arrays: a round trip per row would cap the
    // rate at a few thousand, and the driver's handling of thousands of placeholders is slower still.
    QSqlQuery insert(QSqlDatabase::database(m_serverName, false));
    if (!insert.prepare(
            QStringLiteral("INSERT INTO %1 (station, serial, generation, count, taken_at, date, time, value, "
                           "unit, note) SELECT * FROM unnest(?::text[], ?::text[], ?::bigint[], ?::bigint[], "
                           "?::timestamp[], ?::text[], ?::text[], ?::text[], ?::text[], ?::text[]) "
                           "ON CONFLICT (station, serial, generation, count) DO NOTHING")
                .arg(QLatin1String(ServerTable)))) {
        serverFailed(insert.lastError(), QStringLiteral("prepare"));
        return -1;
    }
    for (int column = 0; column < ServerColumnCount; ++column) {
        QString array = QStringLiteral("{");
        for (size_t i = 0; i < rows.size(); ++i) {
            if (i) {
                array += QLatin1Char(',');
            }
            array += arrayElement(rows[i].at(column));
        }
        array += QLatin1Char('}');
        insert.addBindValue(array);
    }
    if (!insert.exec()) {
        serverFailed(insert.lastError(), QStringLiteral("send"));
        return -1;
    }
    const qint64 from = mark;
    mark = rows.back().at(SentCountColumn).toLongLong();
    // Taken by the server: a mark that fails to move only sends the batch once more, stored once.
    writeMark(generation, from, mark);
    return int(rows.size());
}

void CentralSender::serverFailed(const QSqlError& error, const QString& what)
{
    const QString text = serverText(error);
    if (transient(error)) {
        if (m_state != Unreachable) {
            qCWarning(lcLog).noquote() << "central: server unreachable (" + what + "): " + text;
        }
        // Reconnected for the next try: the driver does not notice a dropped connection.
        QSqlDatabase::database(m_serverName, false).close();
        if (!m_unreachableSince.isValid()) {
            m_unreachableSince = QDateTime::currentDateTime();
        }
        report(Unreachable, -1);
        return;
    }
    m_reason = text;
    qCWarning(lcLog).noquote() << "central: refused (" + what + "): " + text;
    m_tableChecked = false;
    report(Refused, -1);
}

void CentralSender::report(State state, qint64 waiting)
{
    if (state != Unreachable) {
        m_unreachableSince = QDateTime();
    }
    m_state = state;
    if (waiting < 0 && QSqlDatabase::contains(m_localName)) {
        waiting = waitingAfter(readMark(generation()));
    }
    emit statusChanged(state, qMax<qint64>(waiting, 0), m_unreachableSince, m_reason);
}

void CentralSender::schedule(int ms)
{
    m_timer.start(ms);
}

void CentralSender::nudge()
{
    // A server that failed is tried again by the next result too, but once a second at most: it is back
    // within a second of its return while results come, and never asked at their pace.
    if (m_state == UpToDate || m_state == Behind ||
        (m_state == Unreachable && m_lastTry.isValid() && m_lastTry.elapsed() >= FirstRetryMs)) {
        m_timer.start(0);
    }
}

void CentralSender::pass()
{
    drain(0);
    switch (m_state) {
    case UpToDate:
        m_retryMs = FirstRetryMs;
        schedule(PollIntervalMs);
        break;
    case Behind:
        // More at once, after what else waits in this thread (a stop).
        schedule(0);
        break;
    case Unreachable:
        schedule(m_retryMs);
        m_retryMs = qMin(m_retryMs * 2, LongestRetryMs);
        break;
    case Refused:
        schedule(RefusedRetryMs);
        break;
    }
}

CentralSender::State CentralSender::drain(int ms)
{
    m_timer.stop();
    m_lastTry.start();
    if (!openLocal()) {
        m_reason = QStringLiteral("the local database cannot be read");
        report(Unreachable, 0);
        return m_state;
    }
    if (!openServer() || !checkServerTable()) {
        return m_state;
    }
    qint64 generation = this->generation();
    qint64 mark = readMark(generation);
    QElapsedTimer elapsed;
    elapsed.start();
    do {
        const int sent = sendBatch(generation, mark);
        if (sent < 0) {
            return m_state;
        }
        if (sent < BatchRows) {
            const qint64 waiting = waitingAfter(mark);
            report(waiting > 0 ? Behind : UpToDate, waiting);
            return m_state;
        }
    } while (elapsed.elapsed() < ms);
    report(Behind, waitingAfter(mark));
    return m_state;
}
