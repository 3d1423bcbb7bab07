#include "log/pelmlogquery.h"

#include <QHash>
#include <QVariant>

#include <limits>
#include <tuple>

namespace {

// Below every LineId and PacketId: no lower bound.
constexpr qint64 NoBound = std::numeric_limits<qint64>::min();
// Above every LineId: no line of that direction.
constexpr qint64 NoLines = std::numeric_limits<qint64>::max();

const char* const Directions[2] = {"IN", "OUT"};

qint64 firstValue(QSqlQuery& query, qint64 none)
{
    if (query.exec() && query.next() && !query.isNull(0)) {
        return query.value(0).toLongLong();
    }
    return none;
}

} // namespace

PelmLogQuery::PelmLogQuery(const QString& table, const QString& filter, bool lineMode, int limit)
    : m_table(table), m_filter(filter), m_lineMode(lineMode), m_limit(limit)
{
}

QString PelmLogQuery::messageColumn() const
{
    return QStringLiteral(
        "REPLACE(REPLACE(GROUP_CONCAT(Message, ''), '\r', '<CR>'), '\n', '<LF>') AS 'Message' ");
}

QString PelmLogQuery::filterClause(const char* joiner) const
{
    if (m_filter.isEmpty()) {
        return QString();
    }
    return QLatin1String(joiner) + QStringLiteral("(") + m_filter + QStringLiteral(") ");
}

QString PelmLogQuery::fullStatement() const
{
    QString sql = QStringLiteral("SELECT * FROM (");
    sql += QStringLiteral("SELECT LineId, PacketId, INOUT, Interface, Date, Time, ") +
           messageColumn().trimmed() + QStringLiteral(" FROM ");
    sql += m_table + QLatin1Char(' ');
    if (!m_filter.isEmpty()) {
        sql += QStringLiteral("WHERE ") + m_filter + QLatin1Char(' ');
    }
    sql +=
        QStringLiteral("GROUP BY ") + (m_lineMode ? QStringLiteral("LineId ") : QStringLiteral("PacketId "));
    sql += QStringLiteral(", INOUT ORDER BY PacketId DESC, LineId DESC, INOUT DESC LIMIT ") +
           QString::number(m_limit);
    sql += QStringLiteral(") ORDER BY PacketId, LineId, INOUT ASC ");
    return sql;
}

QSqlQuery PelmLogQuery::exec(const QSqlDatabase& db) const
{
    return m_lineMode ? execLines(db) : execChunks(db);
}

// A line's first chunk gives its PacketId, and within one direction that grows with the LineId,
// so the newest groups are the newest lines of each direction: those from some LineId up. MIN(PacketId)
// makes SQLite take the other plain columns from that first chunk, as the full grouping does, and
// the index hands each line's chunks over in PacketId order. Sorting only the groups shown keeps
// the work proportional to the limit.
QSqlQuery PelmLogQuery::execLines(const QSqlDatabase& db) const
{
    qint64 lowest[2];
    if (!newestLines(db, lowest)) {
        return QSqlQuery(db);
    }
    QString groups;
    for (int i = 0; i < 2; ++i) {
        if (i > 0) {
            groups += QStringLiteral("UNION ALL ");
        }
        groups += QStringLiteral("SELECT LineId, MIN(PacketId) AS PacketId, INOUT, Interface, Date, Time, ") +
                  messageColumn() + QStringLiteral("FROM ") + m_table +
                  QStringLiteral(" WHERE INOUT = ? AND LineId >= ? ") + filterClause("AND ") +
                  QStringLiteral("GROUP BY LineId ");
    }
    // Ordering the compound itself lets SQLite merge the two directions instead of sorting them.
    QSqlQuery query(db);
    if (!query.prepare(groups + QStringLiteral("ORDER BY PacketId, LineId, INOUT ASC"))) {
        return query;
    }
    for (int i = 0; i < 2; ++i) {
        query.bindValue(2 * i, QLatin1String(Directions[i]));
        query.bindValue(2 * i + 1, lowest[i]);
    }
    query.exec();
    return query;
}

// lowest[d]: the lowest LineId of direction d among the `limit` newest groups, NoLines when none.
bool PelmLogQuery::newestLines(const QSqlDatabase& db, qint64 lowest[2]) const
{
    // The limit-th newest line of each direction bounds the candidates.
    qint64 candidates[2];
    QSqlQuery bound(db);
    bound.setForwardOnly(true);
    if (!bound.prepare(QStringLiteral("SELECT DISTINCT LineId FROM ") + m_table +
                       QStringLiteral(" WHERE INOUT = ? ") + filterClause("AND ") +
                       QStringLiteral("ORDER BY LineId DESC LIMIT 1 OFFSET ?"))) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        bound.bindValue(0, QLatin1String(Directions[i]));
        bound.bindValue(1, m_limit - 1);
        candidates[i] = firstValue(bound, NoBound);
    }
    if (m_filter.isEmpty() && m_limit > 0 && splitByProbes(db, candidates, lowest)) {
        return true;
    }
    return splitByKeys(db, candidates, lowest);
}

// Without a filter the candidate lines of each direction are normally consecutive LineIds; then the
// split between the directions is found by bisection, reading only a few line starts.
bool PelmLogQuery::splitByProbes(const QSqlDatabase& db, const qint64 candidates[2], qint64 lowest[2]) const
{
    const qint64 n = m_limit;
    qint64 newest[2];
    QSqlQuery max(db);
    max.setForwardOnly(true);
    max.prepare(QStringLiteral("SELECT MAX(LineId) FROM ") + m_table + QStringLiteral(" WHERE INOUT = ?"));
    for (int i = 0; i < 2; ++i) {
        max.bindValue(0, QLatin1String(Directions[i]));
        newest[i] = firstValue(max, NoBound);
        if (candidates[i] == NoBound || newest[i] - candidates[i] != n - 1) {
            return false;
        }
    }

    // Line i of direction d counts from the newest (0); its key orders as the full grouping does.
    QSqlQuery start(db);
    start.setForwardOnly(true);
    start.prepare(QStringLiteral("SELECT MIN(PacketId) FROM ") + m_table +
                  QStringLiteral(" WHERE INOUT = ? AND LineId = ?"));
    QHash<qint64, qint64> starts[2];
    auto key = [&](int d, qint64 i) {
        auto found = starts[d].constFind(i);
        if (found == starts[d].constEnd()) {
            start.bindValue(0, QLatin1String(Directions[d]));
            start.bindValue(1, newest[d] - i);
            found = starts[d].insert(i, firstValue(start, NoBound));
        }
        return std::make_tuple(*found, newest[d] - i, d);
    };

    // k newest lines of IN and n - k of OUT; bisect on k.
    qint64 lo = 0;
    qint64 hi = n;
    qint64 k = 0;
    while (lo <= hi) {
        k = (lo + hi) / 2;
        const qint64 j = n - k;
        if (k < n && j > 0 && key(0, k) > key(1, j - 1)) {
            lo = k + 1;
        } else if (k > 0 && j < n && key(1, j) > key(0, k - 1)) {
            hi = k - 1;
        } else {
            break;
        }
    }
    lowest[0] = k > 0 ? newest[0] - (k - 1) : NoLines;
    lowest[1] = n - k > 0 ? newest[1] - (n - k - 1) : NoLines;
    return true;
}

// The general way: order the candidates' keys in the database and keep the newest.
bool PelmLogQuery::splitByKeys(const QSqlDatabase& db, const qint64 candidates[2], qint64 lowest[2]) const
{
    QString keys;
    for (int i = 0; i < 2; ++i) {
        if (i > 0) {
            keys += QStringLiteral("UNION ALL ");
        }
        keys += QStringLiteral("SELECT LineId, MIN(PacketId) AS PacketId, INOUT FROM ") + m_table +
                QStringLiteral(" WHERE INOUT = ? AND LineId >= ? ") + filterClause("AND ") +
                QStringLiteral("GROUP BY LineId ");
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(
            QStringLiteral("SELECT INOUT, MIN(LineId) FROM (SELECT * FROM (") + keys +
            QStringLiteral(") ORDER BY PacketId DESC, LineId DESC, INOUT DESC LIMIT ?) GROUP BY INOUT"))) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        query.bindValue(2 * i, QLatin1String(Directions[i]));
        query.bindValue(2 * i + 1, candidates[i]);
    }
    query.bindValue(4, m_limit);
    if (!query.exec()) {
        return false;
    }
    lowest[0] = lowest[1] = NoLines;
    while (query.next()) {
        const int d = query.value(0).toString() == QLatin1String(Directions[0]) ? 0 : 1;
        lowest[d] = query.value(1).toLongLong();
    }
    return true;
}

// The newest groups are chunks of the `limit` highest PacketIds. The log writer stores each chunk
// in one direction, so normally every PacketId is one group, whose lines the primary key hands over
// in LineId order, already sorted; a PacketId holding both directions gets the general grouping.
QSqlQuery PelmLogQuery::execChunks(const QSqlDatabase& db) const
{
    QSqlQuery bound(db);
    bound.setForwardOnly(true);
    if (!bound.prepare(QStringLiteral("SELECT DISTINCT PacketId FROM ") + m_table + QLatin1Char(' ') +
                       filterClause("WHERE ") + QStringLiteral("ORDER BY PacketId DESC LIMIT 1 OFFSET ?"))) {
        return QSqlQuery(db);
    }
    bound.bindValue(0, m_limit - 1);
    const qint64 lowest = firstValue(bound, NoBound);

    QSqlQuery mixed(db);
    mixed.setForwardOnly(true);
    mixed.prepare(QStringLiteral("SELECT 1 FROM ") + m_table + QStringLiteral(" WHERE PacketId >= ? ") +
                  filterClause("AND ") +
                  QStringLiteral("GROUP BY PacketId HAVING MIN(INOUT) <> MAX(INOUT) LIMIT 1"));
    mixed.bindValue(0, lowest);
    const bool oneDirectionEach = mixed.exec() && !mixed.next();

    const QString columns =
        QStringLiteral("SELECT MIN(LineId) AS LineId, PacketId, INOUT, Interface, Date, Time, ") +
        messageColumn() + QStringLiteral("FROM ") + m_table + QStringLiteral(" WHERE PacketId >= ? ") +
        filterClause("AND ");
    QSqlQuery query(db);
    if (m_limit > 0 && oneDirectionEach) {
        if (query.prepare(columns + QStringLiteral("GROUP BY PacketId ORDER BY PacketId"))) {
            query.bindValue(0, lowest);
            query.exec();
        }
        return query;
    }
    if (query.prepare(
            QStringLiteral("SELECT * FROM (") + columns +
            QStringLiteral("GROUP BY PacketId, INOUT ORDER BY PacketId DESC, LineId DESC, INOUT DESC "
                           "LIMIT ?) ORDER BY PacketId, LineId, INOUT ASC"))) {
        query.bindValue(0, lowest);
        query.bindValue(1, m_limit);
        query.exec();
    }
    return query;
}
