#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// The log view's grouping query: the newest `limit` groups of the log table, oldest first, one row
// per line and direction (line mode) or per stored chunk and direction (raw mode), with the chunks
// of a group joined in storage order and line breaks shown as <CR> and <LF>.
//
// fullStatement() groups the whole table; exec() gives exactly its rows while reading only the
// newest groups, which keeps a refresh short however long the log grows. exec() relies on what
// the log writer guarantees: the directions are "IN" and "OUT", and within one direction LineIds
// never go back as PacketIds grow.
class PelmLogQuery
{
public:
    PelmLogQuery(const QString& table, const QString& filter, bool lineMode, int limit);

    QString fullStatement() const;

    // Runs the bounded statement; the result is an inactive query when the filter is not valid SQL.
    QSqlQuery exec(const QSqlDatabase& db) const;

private:
    QString messageColumn() const;
    QString filterClause(const char* joiner) const;
    QSqlQuery execLines(const QSqlDatabase& db) const;
    bool newestLines(const QSqlDatabase& db, qint64 lowest[2]) const;
    bool splitByProbes(const QSqlDatabase& db, const qint64 candidates[2], qint64 lowest[2]) const;
    bool splitByKeys(const QSqlDatabase& db, const qint64 candidates[2], qint64 lowest[2]) const;
    QSqlQuery execChunks(const QSqlDatabase& db) const;

    QString m_table;
    QString m_filter;
    bool m_lineMode;
    int m_limit;
};
