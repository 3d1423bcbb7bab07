#include "log/datafeedtablemodel.h"

#include "log/centralsender.h"
#include "log/cpelmlog.h"
#include "platform/logcategories.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

namespace {
// The delete button's column has no heading.
const char* const ColumnTitles[DataFeedTableModel::ColumnCount] = {
    "", "Count", "Date", "Time", "Serial number", "Value", "Unit", "Note"};
const char* const SelectColumns = "SELECT EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED ";
// Below and above every COUNT: the table's two ends as places to count rows from.
constexpr qint64 BeforeFirst = std::numeric_limits<qint64>::min();
constexpr qint64 AfterLast = std::numeric_limits<qint64>::max();
// SQLite's primary result codes that tell why a write was refused; extended codes keep them in the
// low byte.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteFull = 13;
constexpr int SqliteConstraint = 19;
constexpr int PrimaryCodeMask = 0xff;
// The COUNT is the database's: one more than the highest stored, or than the bound value (the highest
// this program gave since the last clear), whichever is higher, decided under the write lock, so
// that programs writing side by side never take the same one.
const char* const InsertStatement =
    "INSERT INTO DATAFEED (EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE) VALUES "
    "('', MAX(?, IFNULL((SELECT MAX(COUNT) FROM DATAFEED), 0)) + 1, ?, ?, ?, ?, ?, ?)";

int primaryCode(const QSqlError& error)
{
    return error.nativeErrorCode().toInt() & PrimaryCodeMask;
}

// Sets the connection's busy time-out; returns the one it had, -1 when unknown.
int setBusyTimeout(QSqlDatabase& db, int ms)
{
    QSqlQuery pragma(db);
    int was = -1;
    if (pragma.exec(QStringLiteral("PRAGMA busy_timeout")) && pragma.next()) {
        was = pragma.value(0).toInt();
    }
    if (ms >= 0) {
        pragma.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(ms));
    }
    return was;
}

// A null QString would be bound as NULL; the table holds empty texts instead.
QString text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}
} // namespace

const char* const DataFeedTableModel::CreateStatement =
    "CREATE TABLE IF NOT EXISTS DATAFEED(\nEMPTY TEXT,\nCOUNT INTEGER PRIMARY KEY NOT NULL,\nDATE TEXT,\n"
    "TIME TEXT,\nSN TEXT,\nVAL TEXT,\nUNIT TEXT,\nNOTE TEXT\n);";

const char* const DataFeedTableModel::CountIndexStatement =
    "CREATE INDEX IF NOT EXISTS DATAFEED_rows ON DATAFEED (COUNT)";

const char* const DataFeedTableModel::RowCountStatement =
    "CREATE TABLE IF NOT EXISTS DATAFEED_ROWCOUNT(ONLY_ROW INTEGER PRIMARY KEY CHECK (ONLY_ROW = 1), "
    "ROWS INTEGER NOT NULL)";

// Without IF NOT EXISTS: SQLite keeps the text as written, and a trigger changed by hand is told by it.
const char* const DataFeedTableModel::CountInsertsTrigger =
    "CREATE TRIGGER DATAFEED_rowcount_insert AFTER INSERT ON DATAFEED "
    "BEGIN UPDATE DATAFEED_ROWCOUNT SET ROWS = ROWS + 1; END";

const char* const DataFeedTableModel::CountDeletesTrigger =
    "CREATE TRIGGER DATAFEED_rowcount_delete AFTER DELETE ON DATAFEED "
    "BEGIN UPDATE DATAFEED_ROWCOUNT SET ROWS = ROWS - 1; END";

const char* const DataFeedTableModel::GenerationStatement =
    "CREATE TABLE IF NOT EXISTS DATAFEED_GENERATION(ONLY_ROW INTEGER PRIMARY KEY CHECK (ONLY_ROW = 1), "
    "GENERATION INTEGER NOT NULL)";

DataFeedTableModel::DataFeedTableModel(QObject* parent, const QSqlDatabase& db)
    : QAbstractTableModel(parent), m_db(db), m_audit(db)
{
    m_pollTimer.setInterval(PollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &DataFeedTableModel::poll);
    m_pollTimer.start();
}

bool DataFeedTableModel::createTable()
{
    if (!m_db.isOpen()) {
        return false;
    }
    QSqlQuery query(m_db);
    // COUNT(*) walks the smallest tree that holds every row: this index is a fifth of the table's
    // size, which makes counting a million rows at opening five times faster.
    const bool ok = query.exec(QLatin1String(CreateStatement)) &&
                    query.exec(QLatin1String(CountIndexStatement)) &&
                    query.exec(QLatin1String(GenerationStatement));
    // A database of an earlier version is counted once, here.
    m_rowsCounted = ok && (rowsCounted() || countRows());
    // Results are stored without an audit trail rather than not at all. The chain begins in a write
    // transaction of its own, after the log writer's open batch.
    if (ok) {
        if (CPelmLog* log = CPelmLog::instance()) {
            log->commitPending();
        }
        m_audit.createTables(&m_chainBeganAfter);
    }
    return ok;
}

bool DataFeedTableModel::select()
{
    bool ok = m_db.isOpen();
    qint64 rows = 0;
    qint64 last = BeforeFirst;
    if (ok) {
        ok = readExtent(rows, last);
    }
    beginResetModel();
    m_blocks.clear();
    m_rowCount = ok ? int(rows) : 0;
    m_lastCount = last;
    endResetModel();
    return ok;
}

bool DataFeedTableModel::rowsCounted() const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND "
                                 "tbl_name = 'DATAFEED' AND sql IN (?, ?)"));
    query.addBindValue(QLatin1String(CountInsertsTrigger));
    query.addBindValue(QLatin1String(CountDeletesTrigger));
    return query.exec() && query.next() && query.value(0).toInt() == 2;
}

bool DataFeedTableModel::countRows(qint64* rows, qint64* last)
{
    qint64 counted = 0;
    qint64 highest = BeforeFirst;
    if (CPelmLog* log = CPelmLog::instance()) {
        log->commitPending();
    }
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        qCWarning(lcLog) << "DATAFEED rows not counted:" << query.lastError().text();
        return false;
    }
    bool ok =
        query.exec(QLatin1String(RowCountStatement)) &&
        query.exec(QStringLiteral("DROP TRIGGER IF EXISTS DATAFEED_rowcount_insert")) &&
        query.exec(QStringLiteral("DROP TRIGGER IF EXISTS DATAFEED_rowcount_delete")) &&
        query.exec(QLatin1String(CountInsertsTrigger)) && query.exec(QLatin1String(CountDeletesTrigger)) &&
        query.exec(QStringLiteral("INSERT OR REPLACE INTO DATAFEED_ROWCOUNT (ONLY_ROW, ROWS) VALUES "
                                  "(1, (SELECT COUNT(*) FROM DATAFEED))")) &&
        query.exec(QStringLiteral("SELECT ROWS, (SELECT MAX(COUNT) FROM DATAFEED) FROM DATAFEED_ROWCOUNT")) &&
        query.next();
    if (ok) {
        counted = query.value(0).toLongLong();
        highest = query.value(1).isNull() ? BeforeFirst : query.value(1).toLongLong();
    }
    query.finish();
    if (!ok || !query.exec(QStringLiteral("COMMIT"))) {
        qCWarning(lcLog) << "DATAFEED rows not counted:" << query.lastError().text();
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    qCInfo(lcLog) << "DATAFEED rows counted:" << counted;
    if (rows) {
        *rows = counted;
    }
    if (last) {
        *last = highest;
    }
    return true;
}

bool DataFeedTableModel::readExtent(qint64& rows, qint64& last)
{
    m_rowsCounted = rowsCounted();
    if (m_rowsCounted && !m_countDoubted) {
        // One statement, one snapshot: the count and the ends it must fit between.
        QSqlQuery query(m_db);
        if (query.exec(QStringLiteral("SELECT (SELECT ROWS FROM DATAFEED_ROWCOUNT), (SELECT MIN(COUNT) FROM "
                                      "DATAFEED), (SELECT MAX(COUNT) FROM DATAFEED)")) &&
            query.next() && !query.value(0).isNull()) {
            rows = query.value(0).toLongLong();
            const bool empty = query.value(2).isNull();
            const qint64 first = query.value(1).toLongLong();
            last = empty ? BeforeFirst : query.value(2).toLongLong();
            // More rows than COUNTs between the ends, or none in a table that has ends: a count
            // that is wrong would hide rows or show blank ones.
            if (empty ? rows == 0 : rows >= 1 && rows - 1 <= last - first) {
                return true;
            }
            qCWarning(lcLog) << "DATAFEED_ROWCOUNT holds" << rows << "rows between COUNT" << first << "and"
                             << last << "- counted again";
        }
    }
    m_countDoubted = false;
    // Counted again under the write lock, which a busy database need not give at once: then the
    // table is counted for this select only.
    const int busyMs = setBusyTimeout(m_db, RetryBusyMs);
    m_rowsCounted = countRows(&rows, &last);
    if (busyMs >= 0) {
        setBusyTimeout(m_db, busyMs);
    }
    if (m_rowsCounted) {
        return true;
    }
    QSqlQuery query(m_db);
    // COUNT(*) on its own counts the table's pages without reading their rows; beside MAX it
    // would read every row.
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM DATAFEED")) || !query.next()) {
        return false;
    }
    rows = query.value(0).toLongLong();
    last = BeforeFirst;
    if (rows > 0 && query.exec(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED")) && query.next()) {
        last = query.value(0).toLongLong();
    }
    return true;
}

bool DataFeedTableModel::fetchNew()
{
    return m_db.isOpen() && takeStoredRows(0);
}

bool DataFeedTableModel::takeStoredRows(int fromWaiting)
{
    QSqlQuery query(m_db);
    const auto read = [this, &query](bool counted) {
        // The kept count in the same snapshot as the new rows, to check the rows held against.
        query.prepare(
            QStringLiteral("SELECT COUNT(*), MAX(COUNT)%1 FROM DATAFEED WHERE COUNT > ?")
                .arg(counted ? QStringLiteral(", (SELECT ROWS FROM DATAFEED_ROWCOUNT)") : QString()));
        query.addBindValue(m_lastCount);
        return query.exec() && query.next();
    };
    const bool counted = m_rowsCounted && read(true);
    if (m_rowsCounted && !counted) {
        // The count's table went: counted again at the next select.
        m_rowsCounted = false;
        m_countDoubted = true;
    }
    const bool ok = counted || read(false);
    const int added = ok ? query.value(0).toInt() : 0;
    const qint64 last = added > 0 ? query.value(1).toLongLong() : m_lastCount;
    const QVariant kept = counted ? query.value(2) : QVariant();
    if (!kept.isNull() && kept.toLongLong() != qint64(m_rowCount) + added) {
        // Rows went from among the ones held (another program deleted them), or the count is wrong:
        // counted and read again, rather than rows hidden or blank places shown.
        qCDebug(lcLog) << "DATAFEED holds" << kept.toLongLong() << "rows, the model" << m_rowCount << "+"
                       << added;
        if (fromWaiting > 0) {
            beginRemoveRows(QModelIndex(), m_rowCount, m_rowCount + fromWaiting - 1);
            m_waiting.erase(m_waiting.begin(), m_waiting.begin() + fromWaiting);
            endRemoveRows();
        }
        m_countDoubted = true;
        select();
        if (added > 0) {
            emit rowsStored();
        }
        return ok;
    }
    // The rows are read when shown; a block that ended with the old last row reads its tail then.
    if (fromWaiting > 0 && added == fromWaiting) {
        // Stored where they were shown: only their COUNTs may differ from the ones expected.
        m_waiting.erase(m_waiting.begin(), m_waiting.begin() + fromWaiting);
        const int first = m_rowCount;
        m_rowCount += added;
        m_lastCount = last;
        emit dataChanged(index(first, 0), index(first + added - 1, ColumnCount - 1));
    } else {
        // Another program's rows came between: the stored rows take the waiting ones' places.
        if (fromWaiting > 0) {
            beginRemoveRows(QModelIndex(), m_rowCount, m_rowCount + fromWaiting - 1);
            m_waiting.erase(m_waiting.begin(), m_waiting.begin() + fromWaiting);
            endRemoveRows();
        }
        if (added > 0) {
            beginInsertRows(QModelIndex(), m_rowCount, m_rowCount + added - 1);
            m_rowCount += added;
            m_lastCount = last;
            endInsertRows();
        }
    }
    if (added > 0) {
        emit rowsStored();
    }
    return ok;
}

bool DataFeedTableModel::storable()
{
    if (m_db.isOpen()) {
        return true;
    }
    if (!m_unavailableReported) {
        m_unavailableReported = true;
        qCWarning(lcLog) << "captured results are not stored: the database is not available";
    }
    return false;
}

bool DataFeedTableModel::beginWrite()
{
    // The log writer batches its rows in a transaction on this connection; commit it first so that
    // this change is committed on its own and at once.
    if (CPelmLog* log = CPelmLog::instance()) {
        log->commitPending();
    }
    // Immediate: the write lock is waited for here, within the busy time-out. A deferred transaction
    // that has read first fails at once when another program commits meanwhile.
    QSqlQuery begin(m_db);
    if (begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        return linksBegun();
    }
    const int code = primaryCode(begin.lastError());
    if (code != SqliteBusy && code != SqliteLocked) {
        // A transaction left open by a commit that failed (the log's batch on a full disk): it
        // cannot be stored now either; end it and start afresh.
        QSqlQuery end(m_db);
        if (!end.exec(QStringLiteral("COMMIT"))) {
            end.exec(QStringLiteral("ROLLBACK"));
        }
        if (begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            return linksBegun();
        }
    }
    noteFailure(begin.lastError());
    return false;
}

bool DataFeedTableModel::linksBegun()
{
    if (m_audit.beginLinks()) {
        return true;
    }
    m_problem = QStringLiteral("hash chain cannot be read");
    QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    return false;
}

QVariantList DataFeedTableModel::readRow(const QVariant& count) const
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(SelectColumns) + QStringLiteral("WHERE COUNT = ?"));
    query.addBindValue(count);
    QVariantList values;
    if (query.exec() && query.next()) {
        for (int c = 0; c < ColumnCount; ++c) {
            values << query.value(c);
        }
    }
    return values;
}

bool DataFeedTableModel::endWrite(bool ok)
{
    QSqlQuery end(m_db);
    if (ok && end.exec(QStringLiteral("COMMIT"))) {
        return true;
    }
    if (ok) {
        noteFailure(end.lastError());
    }
    end.exec(QStringLiteral("ROLLBACK"));
    return false;
}

void DataFeedTableModel::noteFailure(const QSqlError& error)
{
    const int code = primaryCode(error);
    if (code == SqliteFull) {
        m_problem = QStringLiteral("disk full");
    } else if (code == SqliteBusy || code == SqliteLocked) {
        m_problem = QStringLiteral("database locked");
    } else {
        m_problem = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    }
}

qint64 DataFeedTableModel::insertRow(const QStringList& fields)
{
    QSqlQuery insert(m_db);
    return prepareInsert(insert) ? insertRow(insert, fields) : 0;
}

bool DataFeedTableModel::prepareInsert(QSqlQuery& insert)
{
    if (!insert.prepare(QLatin1String(InsertStatement))) {
        noteFailure(insert.lastError());
        return false;
    }
    return true;
}

qint64 DataFeedTableModel::insertRow(QSqlQuery& insert, const QStringList& fields)
{
    insert.addBindValue(std::max(m_highestGiven, lastStoredCount()));
    for (int i = 0; i < ColumnCount - 2; ++i) {
        insert.addBindValue(text(fields.value(i)));
    }
    if (!insert.exec()) {
        noteFailure(insert.lastError());
        return 0;
    }
    // COUNT is the table's row id.
    const qint64 count = insert.lastInsertId().toLongLong();
    QVariantList stored{QStringLiteral(""), count};
    for (int i = 0; i < ColumnCount - 2; ++i) {
        stored << text(fields.value(i));
    }
    if (!m_audit.linkRow(stored)) {
        m_problem = QStringLiteral("hash chain cannot be written");
        return 0;
    }
    m_highestGiven = std::max(m_highestGiven, count);
    return count;
}

qint64 DataFeedTableModel::nextCount() const
{
    return std::max(m_highestGiven, lastStoredCount()) + qint64(m_waiting.size()) + 1;
}

qint64 DataFeedTableModel::appendRow(const QStringList& fields)
{
    return appendRows({fields}).value(0, -1);
}

QVector<qint64> DataFeedTableModel::appendRows(const QVector<QStringList>& rows)
{
    QVector<qint64> counts(rows.size(), -1);
    if (rows.isEmpty() || !storable()) {
        return counts;
    }
    // Behind the ones waiting, never before them.
    if (!m_waiting.empty() && !storeWaiting()) {
        enqueue(rows, counts);
        emit storageChanged();
        return counts;
    }
    const qint64 given = m_highestGiven;
    QSqlQuery insert(m_db);
    bool ok = beginWrite();
    if (ok) {
        ok = prepareInsert(insert);
        for (int i = 0; ok && i < rows.size(); ++i) {
            counts[i] = insertRow(insert, rows.at(i));
            ok = counts.at(i) > 0;
        }
        ok = endWrite(ok);
    }
    if (ok) {
        takeStoredRows(0);
        return counts;
    }
    // All or none: a row that failed is never stored later by another one's commit.
    m_highestGiven = given;
    m_refused = 0;
    m_recovered = 0;
    enqueue(rows, counts);
    qCWarning(lcLog).noquote() << "results are not stored and wait in memory:" << m_problem;
    emit storageChanged();
    return counts;
}

void DataFeedTableModel::enqueue(const QVector<QStringList>& rows, QVector<qint64>& counts)
{
    // The oldest are kept: they are shown already, and may have been typed meanwhile.
    const int room = std::max(0, m_waitingLimit - int(m_waiting.size()));
    const int taken = std::min(room, int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        counts[i] = i < taken ? 0 : -1;
    }
    m_refused += int(rows.size()) - taken;
    if (taken == 0) {
        return;
    }
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row + taken - 1);
    m_waiting.insert(m_waiting.end(), rows.begin(), rows.begin() + taken);
    endInsertRows();
}

bool DataFeedTableModel::storeWaiting()
{
    if (m_waiting.empty()) {
        return true;
    }
    if (!m_db.isOpen()) {
        return false;
    }
    const QString problem = m_problem;
    const int busyMs = setBusyTimeout(m_db, RetryBusyMs);
    const qint64 given = m_highestGiven;
    // All or none, in one transaction: the order stays and nothing is stored twice.
    QSqlQuery insert(m_db);
    bool ok = beginWrite();
    if (ok) {
        ok = prepareInsert(insert);
        for (size_t i = 0; ok && i < m_waiting.size(); ++i) {
            ok = insertRow(insert, m_waiting[i]) > 0;
        }
        ok = endWrite(ok);
    }
    if (busyMs >= 0) {
        setBusyTimeout(m_db, busyMs);
    }
    if (!ok) {
        m_highestGiven = given;
        if (m_problem != problem) {
            emit storageChanged();
        }
        return false;
    }
    const int stored = int(m_waiting.size());
    takeStoredRows(stored);
    m_recovered = stored;
    m_problem.clear();
    qCInfo(lcLog) << stored << "waiting results stored";
    emit storageChanged();
    return true;
}

void DataFeedTableModel::poll()
{
    if (!m_db.isOpen()) {
        return;
    }
    if (m_waiting.empty()) {
        followOthers();
    } else {
        storeWaiting();
    }
}

void DataFeedTableModel::followOthers()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next()) {
        return;
    }
    const qint64 version = query.value(0).toLongLong();
    if (version == m_dataVersion) {
        return;
    }
    m_dataVersion = version;
    if (!query.exec(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED")) || !query.next()) {
        return;
    }
    const qint64 last = query.value(0).isNull() ? BeforeFirst : query.value(0).toLongLong();
    query.finish();
    if (last < m_lastCount) {
        select();
    } else {
        takeStoredRows(0);
    }
}

bool DataFeedTableModel::clear()
{
    if (!storable()) {
        return false;
    }
    bool ok = beginWrite();
    if (ok) {
        // One entry for the lot: the rows themselves are the user's to export first.
        QSqlQuery query(m_db);
        ok = query.exec(QStringLiteral("SELECT COUNT(*), MIN(COUNT), MAX(COUNT) FROM DATAFEED")) &&
             query.next();
        const QString cleared = ok ? QStringLiteral("%1 results, COUNT %2 to %3")
                                         .arg(query.value(0).toLongLong())
                                         .arg(query.value(1).toLongLong())
                                         .arg(query.value(2).toLongLong())
                                   : QString();
        query.finish();
        ok = ok && deleteAllRows() &&
             m_audit.record(QLatin1String(AuditTrail::ActionClear), QVariant(), QString(), cleared,
                            QString()) &&
             nextGeneration();
        ok = endWrite(ok);
    }
    // Every result goes, as the user asked: the waiting ones too. Numbering starts again.
    const bool hadWaiting = !m_waiting.empty();
    if (hadWaiting) {
        beginRemoveRows(QModelIndex(), m_rowCount, rowCount() - 1);
        m_waiting.clear();
        endRemoveRows();
    }
    m_highestGiven = 0;
    select();
    if (hadWaiting) {
        m_problem.clear();
        m_refused = 0;
        m_recovered = 0;
        emit storageChanged();
    }
    return ok;
}

bool DataFeedTableModel::deleteAllRows()
{
    QSqlQuery query(m_db);
    // Without a delete trigger SQLite empties the table at once rather than row by row (four times
    // faster at a million rows); the count is set in the same transaction instead.
    if (rowsCounted() && query.exec(QStringLiteral("DROP TRIGGER DATAFEED_rowcount_delete"))) {
        return query.exec(QStringLiteral("DELETE FROM DATAFEED")) &&
               query.exec(QStringLiteral("UPDATE DATAFEED_ROWCOUNT SET ROWS = 0")) &&
               query.exec(QLatin1String(CountDeletesTrigger));
    }
    return query.exec(QStringLiteral("DELETE FROM DATAFEED"));
}

bool DataFeedTableModel::nextGeneration()
{
    // Created here too: a database made by another tool may lack the table (generation 0 then).
    QSqlQuery query(m_db);
    if (query.exec(QLatin1String(GenerationStatement)) &&
        query.exec(
            QStringLiteral("INSERT OR REPLACE INTO DATAFEED_GENERATION(ONLY_ROW, GENERATION) VALUES (1, "
                           "IFNULL((SELECT GENERATION FROM DATAFEED_GENERATION), 0) + 1)"))) {
        return true;
    }
    qCWarning(lcLog) << "DATAFEED not cleared: the generation:" << query.lastError().text();
    return false;
}

qint64 DataFeedTableModel::maxStoredCount() const
{
    if (!m_db.isOpen()) {
        return 0;
    }
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED")) && query.next()) {
        return query.value(0).toLongLong();
    }
    return 0;
}

int DataFeedTableModel::cachedRowCount() const
{
    int rows = 0;
    for (const auto& entry : m_blocks) {
        rows += int(entry.second.rows.size());
    }
    return rows;
}

const DataFeedTableModel::Row* DataFeedTableModel::rowAt(int row) const
{
    if (row < 0 || row >= m_rowCount) {
        return nullptr;
    }
    const int index = row / BlockRows;
    const size_t offset = size_t(row - index * BlockRows);
    Block& block = m_blocks[index];
    block.lastUse = ++m_useClock;
    if (offset >= block.rows.size()) {
        readBlockRows(index, block);
        evictBlocks();
    }
    return offset < block.rows.size() ? &block.rows[offset] : nullptr;
}

void DataFeedTableModel::readBlockRows(int index, Block& block) const
{
    const int first = index * BlockRows + int(block.rows.size());
    const int end = std::min(m_rowCount, (index + 1) * BlockRows);
    const int wanted = end - first;
    if (wanted <= 0) {
        return;
    }
    // Rows are found by counting from the nearest row whose COUNT is known: a held row before or
    // after them, or an end of the table. Neighbouring blocks and the block's own first rows make
    // scrolling and appending cost the same anywhere in a table of any size.
    int belowRow = -1;
    qint64 belowCount = BeforeFirst;
    int aboveRow = m_rowCount;
    qint64 aboveCount = AfterLast;
    for (const auto& entry : m_blocks) {
        const std::vector<Row>& rows = entry.second.rows;
        if (rows.empty()) {
            continue;
        }
        const int otherFirst = entry.first * BlockRows;
        const int otherLast = otherFirst + int(rows.size()) - 1;
        if (otherLast < first && otherLast > belowRow) {
            belowRow = otherLast;
            belowCount = rows.back()[CountColumn].toLongLong();
        }
        if (otherFirst >= end && otherFirst < aboveRow) {
            aboveRow = otherFirst;
            aboveCount = rows.front()[CountColumn].toLongLong();
        }
    }
    const int skipBelow = first - belowRow - 1;
    const int skipAbove = aboveRow - end;
    const bool upwards = skipBelow <= skipAbove;

    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QLatin1String(SelectColumns) +
                  (upwards ? QStringLiteral("WHERE COUNT > ? ORDER BY COUNT")
                           : QStringLiteral("WHERE COUNT < ? ORDER BY COUNT DESC")) +
                  QStringLiteral(" LIMIT ? OFFSET ?"));
    query.addBindValue(upwards ? belowCount : aboveCount);
    query.addBindValue(wanted);
    query.addBindValue(upwards ? skipBelow : skipAbove);
    std::vector<Row> rows;
    rows.reserve(size_t(wanted));
    if (query.exec()) {
        while (query.next()) {
            Row row;
            for (int c = 0; c < ColumnCount; ++c) {
                row[size_t(c)] = query.value(c);
            }
            rows.push_back(std::move(row));
        }
    }
    if (!upwards) {
        std::reverse(rows.begin(), rows.end());
    }
    if (int(rows.size()) != wanted) {
        // The table changed behind the model's back: blank rows keep the places until the next
        // select rather than a query on every paint.
        qCDebug(lcLog) << "DATAFEED read" << rows.size() << "of" << wanted << "rows"
                       << query.lastError().text();
        rows.resize(size_t(wanted));
        // Rows are counted again, once, after this paint.
        if (!m_reselectQueued) {
            m_reselectQueued = true;
            m_countDoubted = true;
            auto* self = const_cast<DataFeedTableModel*>(this);
            QTimer::singleShot(0, self, [self] {
                self->m_reselectQueued = false;
                self->select();
            });
        }
    }
    block.rows.insert(block.rows.end(), std::make_move_iterator(rows.begin()),
                      std::make_move_iterator(rows.end()));
}

void DataFeedTableModel::evictBlocks() const
{
    while (m_blocks.size() > size_t(MaxCachedBlocks)) {
        auto oldest = std::min_element(m_blocks.begin(), m_blocks.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        m_blocks.erase(oldest);
    }
}

int DataFeedTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount + int(m_waiting.size());
}

int DataFeedTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DataFeedTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount ||
        (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)) {
        return QVariant();
    }
    if (isWaiting(index.row())) {
        const int waiting = index.row() - m_rowCount;
        if (role == Qt::ToolTipRole) {
            return QStringLiteral("Not stored yet: %1").arg(m_problem);
        }
        switch (index.column()) {
        case EmptyColumn:
            return QStringLiteral("");
        case CountColumn:
            // The COUNT it gets once stored, unless another program stores rows first.
            return std::max(m_highestGiven, lastStoredCount()) + waiting + 1;
        default:
            return m_waiting[size_t(waiting)].value(index.column() - DateColumn);
        }
    }
    if (role == Qt::ToolTipRole) {
        return QVariant();
    }
    const Row* row = rowAt(index.row());
    return row ? (*row)[size_t(index.column())] : QVariant();
}

bool DataFeedTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != NoteColumn) {
        return false;
    }
    const Row* row = rowAt(index.row());
    if (!row || !storable()) {
        return false;
    }
    const QVariant count = (*row)[CountColumn];
    if (!beginWrite()) {
        return false;
    }
    QVariantList stored = readRow(count);
    const QString note = text(value.toString());
    if (!stored.isEmpty() && stored.at(NoteColumn).toString() == note) {
        // Nothing changes, and nothing is recorded.
        endWrite(true);
        return true;
    }
    QSqlQuery update(m_db);
    update.prepare(QStringLiteral("UPDATE DATAFEED SET NOTE = ? WHERE COUNT = ?"));
    update.addBindValue(note);
    update.addBindValue(count);
    bool ok = !stored.isEmpty() && update.exec();
    if (ok) {
        const QString old = stored.at(NoteColumn).toString();
        stored[NoteColumn] = note;
        ok = m_audit.linkRow(stored) && m_audit.record(QLatin1String(AuditTrail::ActionNote), count,
                                                       stored.at(SnColumn).toString(), old, note);
    }
    if (!endWrite(ok)) {
        return false;
    }
    const auto block = m_blocks.find(index.row() / BlockRows);
    const size_t offset = size_t(index.row() % BlockRows);
    if (block != m_blocks.end() && offset < block->second.rows.size()) {
        block->second.rows[offset][NoteColumn] = note;
    }
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags DataFeedTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    // A waiting row's note would have nowhere to go.
    if (index.column() == NoteColumn && !isWaiting(index.row())) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

QVariant DataFeedTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < ColumnCount) {
        if (role == Qt::DisplayRole) {
            return QLatin1String(ColumnTitles[section]);
        }
        if (role == Qt::TextAlignmentRole) {
            // Over the values, which line up on their decimal points at the right.
            return int((section == ValColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        }
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool DataFeedTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount()) {
        return false;
    }
    if (row >= m_rowCount) {
        beginRemoveRows(QModelIndex(), row, row + count - 1);
        const auto first = m_waiting.begin() + (row - m_rowCount);
        m_waiting.erase(first, first + count);
        endRemoveRows();
        if (m_waiting.empty()) {
            m_problem.clear();
        }
        emit storageChanged();
        return true;
    }
    if (row + count > m_rowCount || !storable()) {
        return false;
    }
    std::vector<QVariant> counts;
    counts.reserve(size_t(count));
    for (int r = row; r < row + count; ++r) {
        const Row* held = rowAt(r);
        counts.push_back(held ? (*held)[CountColumn] : QVariant());
    }
    bool ok = beginWrite();
    QSqlQuery remove(m_db);
    remove.prepare(QStringLiteral("DELETE FROM DATAFEED WHERE COUNT = ?"));
    for (size_t i = 0; ok && i < counts.size(); ++i) {
        // The whole row goes into the audit trail, so that what was deleted can be told.
        const QVariantList old = readRow(counts[i]);
        remove.bindValue(0, counts[i]);
        ok = remove.exec();
        if (ok && !old.isEmpty()) {
            ok = m_audit.record(QLatin1String(AuditTrail::ActionDelete), counts[i],
                                old.at(SnColumn).toString(), AuditTrail::rowText(old), QString());
        }
    }
    ok = endWrite(ok);
    if (!ok) {
        // Show what the table now holds rather than guess which deletes took effect.
        select();
        return false;
    }
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    dropHeldRowsFrom(row);
    m_rowCount -= count;
    endRemoveRows();
    if (row == m_rowCount) {
        // The newest went: its number stays this program's, and a table that another program cut
        // short is told apart from this one by the last row held.
        m_highestGiven = std::max(m_highestGiven, m_lastCount);
        const Row* last = rowAt(m_rowCount - 1);
        m_lastCount = last ? (*last)[CountColumn].toLongLong() : BeforeFirst;
    }
    return true;
}

void DataFeedTableModel::dropHeldRowsFrom(int row)
{
    // Keep what lies before the row, read the rest again when it is asked for.
    const int index = row / BlockRows;
    m_blocks.erase(m_blocks.upper_bound(index), m_blocks.end());
    const auto block = m_blocks.find(index);
    if (block != m_blocks.end()) {
        std::vector<Row>& rows = block->second.rows;
        rows.resize(std::min(rows.size(), size_t(row - index * BlockRows)));
    }
}

QVariantList DataFeedTableModel::storedRow(int row) const
{
    const Row* held = rowAt(row);
    if (!held || !m_db.isOpen()) {
        return {};
    }
    // From the table, not from the rows held: what goes back must be exactly what was stored.
    return readRow((*held)[CountColumn]);
}

bool DataFeedTableModel::restoreRow(const QVariantList& values)
{
    if (values.size() != ColumnCount || !storable() || !beginWrite()) {
        return false;
    }
    QSqlQuery insert(m_db);
    insert.prepare(QStringLiteral("INSERT INTO DATAFEED (EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE) "
                                  "VALUES (?,?,?,?,?,?,?,?)"));
    for (const QVariant& value : values) {
        insert.addBindValue(value);
    }
    bool ok = insert.exec() && m_audit.linkRow(values);
    if (ok) {
        // Forwarding may have passed its COUNT while it was away. No CENTRAL_STATE: nothing forwarded.
        QSqlQuery rewind(m_db);
        rewind.prepare(QLatin1String(CentralSender::RewindStatement));
        rewind.addBindValue(values.at(CountColumn));
        rewind.addBindValue(values.at(CountColumn));
        rewind.exec();
    }
    qint64 renumbered = 0;
    if (!ok && primaryCode(insert.lastError()) == SqliteConstraint) {
        // Another program took the COUNT meanwhile: the row comes back as the newest.
        QStringList fields;
        for (int c = DateColumn; c < ColumnCount; ++c) {
            fields << values.at(c).toString();
        }
        renumbered = insertRow(fields);
        ok = renumbered > 0;
    }
    if (ok) {
        const QVariantList stored = readRow(renumbered > 0 ? QVariant(renumbered) : values.at(CountColumn));
        ok = !stored.isEmpty() &&
             m_audit.record(QLatin1String(AuditTrail::ActionRestore), stored.at(CountColumn),
                            stored.at(SnColumn).toString(), QString(), AuditTrail::rowText(stored));
    }
    if (!ok) {
        qCWarning(lcLog) << "DATAFEED row" << values.at(CountColumn).toLongLong()
                         << "not restored:" << insert.lastError().text();
    }
    if (!endWrite(ok)) {
        return false;
    }
    if (renumbered > 0) {
        takeStoredRows(0);
        return true;
    }
    const qint64 count = values.at(CountColumn).toLongLong();
    if (count > m_lastCount) {
        fetchNew();
        return true;
    }
    // Inserted in its place rather than the whole table read again, so that the view keeps its
    // place and its selection.
    QSqlQuery before(m_db);
    before.prepare(QStringLiteral("SELECT COUNT(*) FROM DATAFEED WHERE COUNT < ?"));
    before.addBindValue(count);
    if (!before.exec() || !before.next()) {
        select();
        return true;
    }
    const int row = std::min(before.value(0).toInt(), m_rowCount);
    beginInsertRows(QModelIndex(), row, row);
    dropHeldRowsFrom(row);
    ++m_rowCount;
    endInsertRows();
    return true;
}
