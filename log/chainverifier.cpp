#include "log/chainverifier.h"

#include "log/audittrail.h"

#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

#include <algorithm>
#include <limits>
#include <map>

namespace {
const char* const RowColumns = "SELECT EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED";
const char* const AuditColumns =
    "SELECT ID, STAMP, USER, ACTION, COUNT, SN, OLD, NEW, REASON, VERSION FROM AUDIT";
constexpr int RowFields = 8;
constexpr int AuditFields = 10;
constexpr int AuditActionField = 3;
constexpr int AuditCountField = 4;

QVariantList values(const QSqlQuery& query, int fields)
{
    QVariantList list;
    for (int i = 0; i < fields; ++i) {
        list << query.value(i);
    }
    return list;
}

bool hasTable(const QSqlDatabase& db, const QString& name)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"));
    query.addBindValue(name);
    return query.exec() && query.next();
}

struct AuditEntry
{
    QByteArray digest;
    QString action;
    QVariant count;
};

class Walk
{
public:
    Walk(const QSqlDatabase& db, ChainVerifier::Report& report) : m_db(db), m_report(report) {}

    bool run(qint64 lastLinks);

private:
    bool fail(const QSqlQuery& query)
    {
        m_report.unreadable = true;
        m_report.findings << QStringLiteral("cannot be read: ") + query.lastError().text();
        return false;
    }
    bool auditEntry(qint64 id, AuditEntry& entry, bool& found);
    bool compareRows();

    QSqlDatabase m_db;
    ChainVerifier::Report& m_report;
    QStringList m_chainFindings;
    QStringList m_auditFindings;
    // What each COUNT must hold now: the digest of its newest link.
    std::map<qint64, QByteArray> m_expected;
    qint64 m_olderThan = 0;
    // The highest COUNT linked since the last clear, and whether any was.
    qint64 m_highestLinked = std::numeric_limits<qint64>::min();
    QHash<qint64, AuditEntry> m_audit;
    QSet<qint64> m_linkedAudit;
    QSqlQuery m_auditQuery{m_db};
};

bool Walk::auditEntry(qint64 id, AuditEntry& entry, bool& found)
{
    if (!m_report.partial) {
        const auto it = m_audit.constFind(id);
        found = it != m_audit.constEnd();
        if (found) {
            entry = *it;
        }
        return true;
    }
    m_auditQuery.bindValue(0, id);
    if (!m_auditQuery.exec()) {
        return fail(m_auditQuery);
    }
    found = m_auditQuery.next();
    if (found) {
        const QVariantList fields = values(m_auditQuery, AuditFields);
        entry = {AuditTrail::digest(fields), fields.at(AuditActionField).toString(),
                 fields.at(AuditCountField)};
    }
    return true;
}

bool Walk::run(qint64 lastLinks)
{
    QSqlQuery query(m_db);
    QByteArray previous;
    qint64 fromSeq = std::numeric_limits<qint64>::min();
    if (lastLinks > 0) {
        query.prepare(QStringLiteral("SELECT SEQ, HASH FROM CHAIN ORDER BY SEQ DESC LIMIT 1 OFFSET ?"));
        query.addBindValue(lastLinks);
        if (!query.exec()) {
            return fail(query);
        }
        if (query.next()) {
            m_report.partial = true;
            fromSeq = query.value(0).toLongLong();
            previous = query.value(1).toByteArray();
        }
        query.finish();
    }
    if (m_report.partial) {
        m_auditQuery.prepare(QLatin1String(AuditColumns) + QStringLiteral(" WHERE ID = ?"));
    } else {
        if (!query.exec(QLatin1String(AuditColumns))) {
            return fail(query);
        }
        while (query.next()) {
            const QVariantList fields = values(query, AuditFields);
            m_audit.insert(fields.at(0).toLongLong(),
                           {AuditTrail::digest(fields), fields.at(AuditActionField).toString(),
                            fields.at(AuditCountField)});
        }
    }

    query.prepare(
        QStringLiteral("SELECT SEQ, KIND, REF, DIGEST, HASH FROM CHAIN WHERE SEQ > ? ORDER BY SEQ"));
    query.addBindValue(fromSeq);
    if (!query.exec()) {
        return fail(query);
    }
    while (query.next()) {
        ++m_report.links;
        const qint64 seq = query.value(0).toLongLong();
        const QString kind = query.value(1).toString();
        const qint64 ref = query.value(2).toLongLong();
        const QByteArray digest = query.value(3).toByteArray();
        const QByteArray hash = query.value(4).toByteArray();
        if (AuditTrail::linkHash(previous, kind, ref, digest) != hash) {
            m_chainFindings << QStringLiteral("chain broken at link %1").arg(seq);
        }
        // The links after a break are checked on their own.
        previous = hash;
        if (kind == QLatin1String(AuditTrail::KindStart)) {
            m_olderThan = ref;
        } else if (kind == QLatin1String(AuditTrail::KindFeed)) {
            m_expected[ref] = digest;
            m_highestLinked = std::max(m_highestLinked, ref);
        } else if (kind == QLatin1String(AuditTrail::KindAudit)) {
            m_linkedAudit.insert(ref);
            AuditEntry entry;
            bool found = false;
            if (!auditEntry(ref, entry, found)) {
                return false;
            }
            if (!found) {
                m_auditFindings << QStringLiteral("audit entry %1: removed outside the program").arg(ref);
                continue;
            }
            if (entry.digest != digest) {
                m_auditFindings << QStringLiteral("audit entry %1: altered").arg(ref);
                continue;
            }
            if (entry.action == QLatin1String(AuditTrail::ActionDelete)) {
                m_expected.erase(entry.count.toLongLong());
            } else if (entry.action == QLatin1String(AuditTrail::ActionClear)) {
                m_expected.clear();
                m_olderThan = 0;
                m_highestLinked = std::numeric_limits<qint64>::min();
            }
        }
    }
    query.finish();
    if (!m_report.partial) {
        QList<qint64> unlinked;
        for (auto it = m_audit.constBegin(); it != m_audit.constEnd(); ++it) {
            if (!m_linkedAudit.contains(it.key())) {
                unlinked << it.key();
            }
        }
        std::sort(unlinked.begin(), unlinked.end());
        for (const qint64 id : qAsConst(unlinked)) {
            m_auditFindings << QStringLiteral("audit entry %1: inserted outside the program").arg(id);
        }
    }
    if (!compareRows()) {
        return false;
    }
    m_report.findings = m_chainFindings + m_auditFindings + m_report.findings;
    return true;
}

bool Walk::compareRows()
{
    std::map<qint64, QString> rowFindings;
    QSqlQuery query(m_db);
    if (m_report.partial) {
        // Only the rows the newest links name, and the rows stored after the newest of them.
        query.prepare(QLatin1String(RowColumns) + QStringLiteral(" WHERE COUNT = ?"));
        for (const auto& expected : m_expected) {
            query.bindValue(0, expected.first);
            if (!query.exec()) {
                return fail(query);
            }
            ++m_report.rows;
            if (!query.next()) {
                rowFindings[expected.first] = QStringLiteral("removed outside the program");
            } else if (AuditTrail::digest(values(query, RowFields)) != expected.second) {
                rowFindings[expected.first] = QStringLiteral("altered");
            }
        }
        if (m_highestLinked != std::numeric_limits<qint64>::min()) {
            query.prepare(QStringLiteral("SELECT COUNT FROM DATAFEED WHERE COUNT > ?"));
            query.addBindValue(m_highestLinked);
            if (!query.exec()) {
                return fail(query);
            }
            while (query.next()) {
                ++m_report.rows;
                rowFindings[query.value(0).toLongLong()] = QStringLiteral("inserted outside the program");
            }
        }
    } else {
        if (!query.exec(QLatin1String(RowColumns) + QStringLiteral(" ORDER BY COUNT"))) {
            return fail(query);
        }
        while (query.next()) {
            ++m_report.rows;
            const QVariantList row = values(query, RowFields);
            const qint64 count = row.at(1).toLongLong();
            const auto expected = m_expected.find(count);
            if (expected == m_expected.end()) {
                if (count <= m_olderThan) {
                    ++m_report.notCovered;
                } else {
                    rowFindings[count] = QStringLiteral("inserted outside the program");
                }
                continue;
            }
            if (AuditTrail::digest(row) != expected->second) {
                rowFindings[count] = QStringLiteral("altered");
            }
            m_expected.erase(expected);
        }
        for (const auto& missing : m_expected) {
            rowFindings[missing.first] = QStringLiteral("removed outside the program");
        }
    }
    for (const auto& finding : rowFindings) {
        m_report.findings << QStringLiteral("row %1: %2").arg(finding.first).arg(finding.second);
    }
    return true;
}
} // namespace

ChainVerifier::Report ChainVerifier::verify(const QSqlDatabase& db, qint64 lastLinks)
{
    Report report;
    if (!db.isOpen()) {
        report.unreadable = true;
        report.findings << QStringLiteral("cannot be read: the database is not open");
        return report;
    }
    for (const char* table : {"DATAFEED", "AUDIT", "CHAIN"}) {
        if (!hasTable(db, QLatin1String(table))) {
            report.findings << QStringLiteral("no %1 table: nothing stored here is covered by a hash chain")
                                   .arg(QLatin1String(table));
            return report;
        }
    }
    Walk(db, report).run(lastLinks);
    return report;
}
