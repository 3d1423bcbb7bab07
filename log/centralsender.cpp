#include "log/centralsender.h"

#include "log/centraluri.h"
#include "log/datafeedtablemodel.h"
#include "log/feedrecords.h"
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

const char* const CentralSender::TrafficTable = "mervik_traffic";
const char* const CentralSender::CreateTrafficTable = "CREATE TABLE IF NOT EXISTS mervik_traffic (\n"
                                                      "station text NOT NULL,\n"
                                                      "run bigint NOT NULL,\n"
                                                      "packet bigint NOT NULL,\n"
                                                      "line bigint NOT NULL,\n"
                                                      "direction text NOT NULL,\n"
                                                      "interface text,\n"
                                                      "logged_at timestamp,\n"
                                                      "date text,\n"
                                                      "time text,\n"
                                                      "message text,\n"
                                                      "PRIMARY KEY (station, run, packet, line, direction)\n"
                                                      ")";
const char* const CentralSender::CreateTrafficStateTable =
    "CREATE TABLE IF NOT EXISTS CENTRAL_TRAFFIC(SERVER TEXT PRIMARY KEY NOT NULL, RUN INTEGER NOT NULL, "
    "PACKET INTEGER NOT NULL, LINE INTEGER NOT NULL)";
const char* const CentralSender::CreateUnsentTable =
    "CREATE TABLE IF NOT EXISTS LOGS_UNSENT(RUN INTEGER, PacketId INTEGER, LineId INTEGER, INOUT TEXT, "
    "Interface TEXT, Date TEXT, Time TEXT, Message TEXT, PRIMARY KEY (RUN, PacketId, LineId, INOUT))";
const char* const CentralSender::CreateRunTable =
    "CREATE TABLE IF NOT EXISTS LOGS_RUN(ONLY_ROW INTEGER PRIMARY KEY CHECK (ONLY_ROW = 1), RUN INTEGER NOT "
    "NULL)";

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

// The traffic table's columns as CreateTrafficTable makes them, in order.
const QStringList TrafficColumns{QStringLiteral("station text"),
                                 QStringLiteral("run bigint"),
                                 QStringLiteral("packet bigint"),
                                 QStringLiteral("line bigint"),
                                 QStringLiteral("direction text"),
                                 QStringLiteral("interface text"),
                                 QStringLiteral("logged_at timestamp without time zone"),
                                 QStringLiteral("date text"),
                                 QStringLiteral("time text"),
                                 QStringLiteral("message text")};

// The traffic's columns read from LOGS (LOGS_UNSENT adds the run in front).
const QString TrafficFields = QStringLiteral("PacketId, LineId, INOUT, Interface, Date, Time, Message");

const QString TrafficInsert = QStringLiteral(
    "INSERT INTO mervik_traffic (station, run, packet, line, direction, interface, logged_at, date, time, "
    "message) SELECT * FROM unnest(?::text[], ?::bigint[], ?::bigint[], ?::bigint[], ?::text[], ?::text[], "
    "?::timestamp[], ?::text[], ?::text[], ?::text[]) ON CONFLICT (station, run, packet, line, direction) DO "
    "NOTHING");

// A traffic row as the server takes it, from the fields of read that start at first.
QVariantList trafficRow(const QString& station, qint64 run, const QSqlQuery& read, int first)
{
    const QString date = read.value(first + 4).toString();
    const QString time = read.value(first + 5).toString();
    // The logged wall-clock time, read in the stored forms only (yyyy-MM-dd, HH:mm:ss.zzz) without the
    // format parser or a look at the local zone: this runs for every line forwarded.
    const bool stored = date.size() == 10 && time.size() == 12;
    const QDateTime loggedAt(stored ? QDate::fromString(date, Qt::ISODate) : QDate(),
                             stored ? QTime::fromString(time, Qt::ISODateWithMs) : QTime(), Qt::UTC);
    // PostgreSQL's text holds no NUL, which an instrument may send: refused, it would hold up the rest.
    QString message = read.value(first + 6).toString();
    message.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return {station,
            run,
            read.value(first).toLongLong(),
            read.value(first + 1).toLongLong(),
            read.value(first + 2).toString(),
            read.value(first + 3).toString(),
            loggedAt.isValid() ? QVariant(loggedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                               : QVariant(QVariant::String),
            date,
            time,
            message};
}

// The log writer's run, 0 before the first.
qint64 logRun(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT RUN FROM LOGS_RUN")) && query.next()
               ? query.value(0).toLongLong()
               : 0;
}

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

void CentralSender::startLogRun(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    // Only while a server forwards this run's traffic: a program that never forwards keeps nothing.
    if (query.exec(QStringLiteral("SELECT 1 FROM CENTRAL_TRAFFIC c JOIN LOGS_RUN r ON c.RUN = r.RUN")) &&
        query.next()) {
        query.finish();
        if (!query.exec(QLatin1String(CreateUnsentTable)) ||
            !query.exec(
                QStringLiteral("INSERT OR IGNORE INTO LOGS_UNSENT SELECT r.RUN, %1 FROM LOGS, LOGS_RUN r "
                               "WHERE (PacketId, LineId) > (SELECT PACKET, LINE FROM CENTRAL_TRAFFIC c "
                               "WHERE c.RUN = r.RUN ORDER BY PACKET, LINE LIMIT 1)")
                    .arg(TrafficFields))) {
            qCWarning(lcLog) << "central: the traffic not sent yet is not kept:" << query.lastError().text();
        }
    }
    query.finish();
    if (!query.exec(QLatin1String(CreateRunTable)) ||
        !query.exec(QStringLiteral("INSERT OR REPLACE INTO LOGS_RUN(ONLY_ROW, RUN) VALUES (1, "
                                   "IFNULL((SELECT RUN FROM LOGS_RUN), 0) + 1)"))) {
        qCWarning(lcLog) << "central: the log's run is not counted:" << query.lastError().text();
    }
}

CentralSender::CentralSender(const QString& localFile, const QString& uri, const QString& station,
                             bool traffic)
    : m_localFile(localFile), m_uri(uri), m_station(station),
      m_localName(QStringLiteral("central local %1").arg(quintptr(this))),
      m_serverName(QStringLiteral("central server %1").arg(quintptr(this))), m_traffic(traffic)
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
    if (m_traffic) {
        if (!create.exec(QLatin1String(CreateTrafficStateTable)) ||
            !create.exec(QLatin1String(CreateRunTable))) {
            qCWarning(lcLog) << "central: local database:" << create.lastError().text();
        }
    } else {
        // Not asked (any more): a new run keeps nothing for this server.
        create.prepare(QStringLiteral("DELETE FROM CENTRAL_TRAFFIC WHERE SERVER = ?"));
        create.addBindValue(m_uri);
        create.exec();
    }
    m_claimedRun = -1;
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
    m_trafficTableChecked = false;
    if (!db.open()) {
        serverFailed(db.lastError(), QStringLiteral("connect"));
        return false;
    }
    qCInfo(lcLog) << "central: connected to" << m_uri;
    return true;
}

bool CentralSender::checkServerTable(const char* table, const char* create, const QStringList& columns,
                                     bool traffic)
{
    bool& checked = traffic ? m_trafficTableChecked : m_tableChecked;
    if (checked) {
        return true;
    }
    QSqlDatabase db = QSqlDatabase::database(m_serverName, false);
    QSqlQuery query(db);
    const QString read =
        QStringLiteral(
            "SELECT column_name || ' ' || data_type FROM information_schema.columns WHERE table_schema = "
            "current_schema() AND table_name = '%1' ORDER BY ordinal_position")
            .arg(QLatin1String(table));
    if (!query.exec(read)) {
        serverFailed(query.lastError(), QStringLiteral("read the table's columns"), traffic);
        return false;
    }
    QStringList found;
    while (query.next()) {
        found << query.value(0).toString();
    }
    if (found.isEmpty()) {
        if (!query.exec(QLatin1String(create))) {
            serverFailed(query.lastError(), QStringLiteral("create the table"), traffic);
            return false;
        }
        qCInfo(lcLog) << "central: created table" << table;
        found = columns;
    }
    if (found != columns) {
        const QString reason = QStringLiteral("table %1 has other columns: %2")
                                   .arg(QLatin1String(table), found.join(QStringLiteral(", ")));
        qCWarning(lcLog).noquote() << "central: refused:" << reason;
        if (traffic) {
            m_trafficReason = reason;
            m_trafficRefused.start();
        } else {
            m_reason = reason;
            report(Refused, -1);
        }
        return false;
    }
    if (traffic) {
        m_trafficReason.clear();
    }
    checked = true;
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
        FeedRecord stored;
        stored.date = read.value(1).toString();
        stored.time = read.value(2).toString();
        // The server's column holds the wall-clock time as stored: no zone is looked up or applied.
        const QDateTime takenAt = stored.takenAt(Qt::UTC);
        rows.push_back({m_station, read.value(3).toString(), generation, read.value(0).toLongLong(),
                        takenAt.isValid() ? QVariant(takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                          : QVariant(QVariant::String),
                        stored.date, stored.time, read.value(4).toString(), read.value(5).toString(),
                        read.value(6).toString()});
    }
    read.finish();
    local.commit();
    if (rows.empty()) {
        return 0;
    }
    if (!insertRows(
            QStringLiteral("INSERT INTO %1 (station, serial, generation, count, taken_at, date, time, value, "
                           "unit, note) SELECT * FROM unnest(?::text[], ?::text[], ?::bigint[], ?::bigint[], "
                           "?::timestamp[], ?::text[], ?::text[], ?::text[], ?::text[], ?::text[]) "
                           "ON CONFLICT (station, serial, generation, count) DO NOTHING")
                .arg(QLatin1String(ServerTable)),
            rows, ServerColumnCount, false)) {
        return -1;
    }
    const qint64 from = mark;
    mark = rows.back().at(SentCountColumn).toLongLong();
    // Taken by the server: a mark that fails to move only sends the batch once more, stored once.
    writeMark(generation, from, mark);
    return int(rows.size());
}

bool CentralSender::insertRows(const QString& statement, const std::vector<QVariantList>& rows, int columns,
                               bool traffic)
{
    // One statement for the whole batch, its columns as arrays: a round trip per row would cap the rate
    // at a few thousand, and the driver's handling of thousands of placeholders is slower still.
    QSqlQuery insert(QSqlDatabase::database(m_serverName, false));
    if (!insert.prepare(statement)) {
        serverFailed(insert.lastError(), QStringLiteral("prepare"), traffic);
        return false;
    }
    for (int column = 0; column < columns; ++column) {
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
        serverFailed(insert.lastError(), QStringLiteral("send"), traffic);
        return false;
    }
    return true;
}

void CentralSender::claimTraffic()
{
    QSqlDatabase local = QSqlDatabase::database(m_localName, false);
    const qint64 run = logRun(local);
    if (run == m_claimedRun) {
        return;
    }
    QSqlQuery query(local);
    query.prepare(
        QStringLiteral("INSERT INTO CENTRAL_TRAFFIC(SERVER, RUN, PACKET, LINE) VALUES (?, ?, -1, -1) "
                       "ON CONFLICT(SERVER) DO UPDATE SET RUN = excluded.RUN, PACKET = -1, LINE = -1 "
                       "WHERE RUN <> excluded.RUN"));
    query.addBindValue(m_uri);
    query.addBindValue(run);
    if (query.exec()) {
        m_claimedRun = run;
    } else {
        qCWarning(lcLog) << "central: the traffic's mark:" << query.lastError().text();
    }
}

bool CentralSender::trafficDue()
{
    return m_traffic && (m_trafficReason.isEmpty() || m_trafficRefused.elapsed() >= RefusedRetryMs);
}

int CentralSender::sendUnsentTraffic()
{
    QSqlDatabase local = QSqlDatabase::database(m_localName, false);
    QSqlQuery read(local);
    read.setForwardOnly(true);
    // Missing unless a run ended with traffic not sent.
    if (!read.exec(
            QStringLiteral("SELECT RUN, %1 FROM LOGS_UNSENT ORDER BY RUN, PacketId, LineId, INOUT LIMIT %2")
                .arg(TrafficFields)
                .arg(BatchRows))) {
        return 0;
    }
    std::vector<QVariantList> rows;
    QVariantList last;
    while (read.next()) {
        rows.push_back(trafficRow(m_station, read.value(0).toLongLong(), read, 1));
        last = {read.value(0), read.value(1), read.value(2), read.value(3)};
    }
    read.finish();
    if (rows.empty()) {
        return 0;
    }
    if (!insertRows(TrafficInsert, rows, int(TrafficColumns.size()), true)) {
        return -1;
    }
    // Taken by the server: rows that fail to go from here are sent again, and stored once.
    QSqlQuery done(local);
    done.prepare(
        QStringLiteral("DELETE FROM LOGS_UNSENT WHERE (RUN, PacketId, LineId, INOUT) <= (?, ?, ?, ?)"));
    for (const QVariant& value : last) {
        done.addBindValue(value);
    }
    if (!done.exec()) {
        qCWarning(lcLog) << "central: sent traffic stays kept:" << done.lastError().text();
    }
    return int(rows.size());
}

bool CentralSender::trafficMark(qint64 run, qint64& packet, qint64& line)
{
    QSqlQuery query(QSqlDatabase::database(m_localName, false));
    query.prepare(QStringLiteral("SELECT RUN, PACKET, LINE FROM CENTRAL_TRAFFIC WHERE SERVER = ?"));
    query.addBindValue(m_uri);
    // A mark of an earlier run is of rows dropped since: this run's count from the start.
    packet = -1;
    line = -1;
    if (query.exec() && query.next() && query.value(0).toLongLong() == run) {
        packet = query.value(1).toLongLong();
        line = query.value(2).toLongLong();
        return true;
    }
    return false;
}

int CentralSender::sendTrafficBatch()
{
    const int unsent = sendUnsentTraffic();
    if (unsent != 0) {
        return unsent;
    }
    // The run and the rows from one snapshot, as the results' generation.
    QSqlDatabase local = QSqlDatabase::database(m_localName, false);
    local.transaction();
    const qint64 run = logRun(local);
    qint64 packet = -1;
    qint64 line = -1;
    trafficMark(run, packet, line);
    QSqlQuery read(local);
    read.setForwardOnly(true);
    read.prepare(QStringLiteral("SELECT %1 FROM LOGS WHERE (PacketId, LineId) > (?, ?) ORDER BY PacketId, "
                                "LineId LIMIT ?")
                     .arg(TrafficFields));
    read.addBindValue(packet);
    read.addBindValue(line);
    read.addBindValue(BatchRows);
    std::vector<QVariantList> rows;
    if (read.exec()) {
        while (read.next()) {
            rows.push_back(trafficRow(m_station, run, read, 0));
        }
    }
    read.finish();
    local.commit();
    if (rows.empty()) {
        return 0;
    }
    if (!insertRows(TrafficInsert, rows, int(TrafficColumns.size()), true)) {
        return -1;
    }
    QSqlQuery mark(local);
    mark.prepare(
        QStringLiteral("INSERT INTO CENTRAL_TRAFFIC(SERVER, RUN, PACKET, LINE) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT(SERVER) DO UPDATE SET RUN = excluded.RUN, PACKET = excluded.PACKET, "
                       "LINE = excluded.LINE"));
    mark.addBindValue(m_uri);
    mark.addBindValue(run);
    mark.addBindValue(rows.back().at(2));
    mark.addBindValue(rows.back().at(3));
    if (!mark.exec()) {
        qCWarning(lcLog) << "central: the traffic's mark stays behind:" << mark.lastError().text();
    }
    return int(rows.size());
}

qint64 CentralSender::trafficWaiting()
{
    QSqlDatabase local = QSqlDatabase::database(m_localName, false);
    QSqlQuery query(local);
    qint64 waiting = query.exec(QStringLiteral("SELECT COUNT(*) FROM LOGS_UNSENT")) && query.next()
                         ? query.value(0).toLongLong()
                         : 0;
    qint64 packet = -1;
    qint64 line = -1;
    trafficMark(logRun(local), packet, line);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM LOGS WHERE (PacketId, LineId) > (?, ?)"));
    query.addBindValue(packet);
    query.addBindValue(line);
    if (query.exec() && query.next()) {
        waiting += query.value(0).toLongLong();
    }
    return waiting;
}

void CentralSender::serverFailed(const QSqlError& error, const QString& what, bool traffic)
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
    if (traffic) {
        // The results go on; the traffic is tried again after a while.
        qCWarning(lcLog).noquote() << "central: traffic refused (" + what + "): " + text;
        m_trafficReason = text;
        m_trafficRefused.start();
        m_trafficTableChecked = false;
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
    const bool local = QSqlDatabase::contains(m_localName);
    if (waiting < 0 && local) {
        waiting = waitingAfter(readMark(generation()));
    }
    waiting = qMax<qint64>(waiting, 0);
    if (m_traffic && m_trafficReason.isEmpty() && state != Refused && local) {
        waiting += trafficWaiting();
    }
    if (state == UpToDate && waiting > 0) {
        state = Behind;
    }
    m_state = state;
    // A refused traffic table is said while the results still go.
    const bool trafficRefused = (state == UpToDate || state == Behind) && !m_trafficReason.isEmpty();
    emit statusChanged(trafficRefused ? Refused : state, waiting, m_unreachableSince,
                       trafficRefused ? m_trafficReason : m_reason);
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
    case Off:
        // The forwarder's alone.
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
    if (m_traffic) {
        claimTraffic();
    }
    if (!openServer() || !checkServerTable(ServerTable, CreateServerTable, ServerColumns, false)) {
        return m_state;
    }
    qint64 generation = this->generation();
    qint64 mark = readMark(generation);
    QElapsedTimer elapsed;
    elapsed.start();
    int sent = 0;
    do {
        sent = sendBatch(generation, mark);
        if (sent < 0) {
            return m_state;
        }
    } while (sent == BatchRows && elapsed.elapsed() < ms);
    // The traffic after the results, in the same time: a refusal of its table holds up nothing else.
    if (trafficDue() && checkServerTable(TrafficTable, CreateTrafficTable, TrafficColumns, true)) {
        do {
            sent = sendTrafficBatch();
            if (sent < 0 && m_state == Unreachable) {
                return m_state;
            }
        } while (sent == BatchRows && elapsed.elapsed() < ms);
    }
    report(UpToDate, waitingAfter(mark));
    return m_state;
}
