#include "log/audittrail.h"

#include "platform/logcategories.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QtEndian>

namespace {
const char* const FieldNames[] = {"EMPTY", "COUNT", "DATE", "TIME", "SN", "VAL", "UNIT", "NOTE"};
constexpr int FieldCount = int(sizeof(FieldNames) / sizeof(FieldNames[0]));

// A null field and an empty one differ; every other field is its length, then its UTF-8 bytes.
void append(QCryptographicHash& hash, const QByteArray& bytes, bool null = false)
{
    if (null) {
        hash.addData("\0", 1);
        return;
    }
    const quint32 length = qToBigEndian(quint32(bytes.size()));
    hash.addData("\1", 1);
    hash.addData(reinterpret_cast<const char*>(&length), sizeof(length));
    hash.addData(bytes);
}
// Stored as text, never as NULL, so that what is read back hashes as what was written.
QString text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}
} // namespace

const char* const AuditTrail::ActionDelete = "DELETE";
const char* const AuditTrail::ActionNote = "NOTE";
const char* const AuditTrail::ActionRestore = "RESTORE";
const char* const AuditTrail::ActionClear = "CLEAR";
const char* const AuditTrail::KindStart = "start";
const char* const AuditTrail::KindFeed = "feed";
const char* const AuditTrail::KindAudit = "audit";

const char* const AuditTrail::AuditCreateStatement =
    "CREATE TABLE IF NOT EXISTS AUDIT(\nID INTEGER PRIMARY KEY,\nSTAMP TEXT,\nUSER TEXT,\nACTION TEXT,\n"
    "COUNT INTEGER,\nSN TEXT,\nOLD TEXT,\nNEW TEXT,\nREASON TEXT,\nVERSION TEXT\n);";
const char* const AuditTrail::ChainCreateStatement = "CREATE TABLE IF NOT EXISTS CHAIN(\nSEQ INTEGER PRIMARY "
                                                     "KEY,\nKIND TEXT NOT NULL,\nREF INTEGER NOT NULL,\n"
                                                     "DIGEST BLOB NOT NULL,\nHASH BLOB NOT NULL\n);";

AuditTrail::AuditTrail(const QSqlDatabase& db) : m_db(db) {}

bool AuditTrail::createTables(qint64* startedAfter)
{
    if (startedAfter) {
        *startedAfter = 0;
    }
    m_active = false;
    if (!m_db.isOpen()) {
        return false;
    }
    QSqlQuery query(m_db);
    if (!query.exec(QLatin1String(AuditCreateStatement)) ||
        !query.exec(QLatin1String(ChainCreateStatement))) {
        qCWarning(lcLog) << "audit trail not available:" << query.lastError().text();
        return false;
    }
    // Under the write lock, so that two programs opening one database begin one chain.
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        qCWarning(lcLog) << "audit trail not available:" << query.lastError().text();
        return false;
    }
    bool ok = query.exec(QStringLiteral("SELECT 1 FROM CHAIN LIMIT 1"));
    const bool empty = ok && !query.next();
    query.finish();
    qint64 older = 0;
    if (ok && empty) {
        ok = query.exec(QStringLiteral("SELECT IFNULL(MAX(COUNT), 0) FROM DATAFEED")) && query.next();
        older = ok ? query.value(0).toLongLong() : 0;
        query.finish();
        QSqlQuery start(m_db);
        start.prepare(QStringLiteral("INSERT INTO CHAIN (KIND, REF, DIGEST, HASH) VALUES (?, ?, ?, ?)"));
        start.addBindValue(QLatin1String(KindStart));
        start.addBindValue(older);
        start.addBindValue(QByteArray(""));
        start.addBindValue(linkHash(QByteArray(), QLatin1String(KindStart), older, QByteArray()));
        ok = ok && start.exec();
    }
    if (!ok || !query.exec(QStringLiteral("COMMIT"))) {
        qCWarning(lcLog) << "hash chain not begun:" << query.lastError().text();
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (empty && older > 0) {
        qCInfo(lcLog) << "the hash chain begins after COUNT" << older
                      << "- the rows stored before it are not covered";
        if (startedAfter) {
            *startedAfter = older;
        }
    }
    m_linkInsert = QSqlQuery(m_db);
    m_auditInsert = QSqlQuery(m_db);
    m_active =
        m_linkInsert.prepare(
            QStringLiteral("INSERT INTO CHAIN (KIND, REF, DIGEST, HASH) VALUES (?, ?, ?, ?)")) &&
        m_auditInsert.prepare(QStringLiteral("INSERT INTO AUDIT (STAMP, USER, ACTION, COUNT, SN, OLD, NEW, "
                                             "REASON, VERSION) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    return m_active;
}

bool AuditTrail::beginLinks()
{
    if (!m_active) {
        return true;
    }
    QSqlQuery last(m_db);
    if (!last.exec(QStringLiteral("SELECT HASH FROM CHAIN ORDER BY SEQ DESC LIMIT 1"))) {
        return false;
    }
    // A chain emptied behind the program's back starts again; verify tells the gap.
    m_lastHash = last.next() ? last.value(0).toByteArray() : QByteArray();
    return true;
}

bool AuditTrail::addLink(const char* kind, qint64 ref, const QByteArray& digest)
{
    const QByteArray hash = linkHash(m_lastHash, QLatin1String(kind), ref, digest);
    m_linkInsert.bindValue(0, QLatin1String(kind));
    m_linkInsert.bindValue(1, ref);
    m_linkInsert.bindValue(2, digest);
    m_linkInsert.bindValue(3, hash);
    if (!m_linkInsert.exec()) {
        qCWarning(lcLog) << "link not stored:" << m_linkInsert.lastError().text();
        return false;
    }
    m_lastHash = hash;
    return true;
}

bool AuditTrail::linkRow(const QVariantList& values)
{
    return !m_active || addLink(KindFeed, values.value(1).toLongLong(), digest(values));
}

bool AuditTrail::record(const QString& action, const QVariant& count, const QString& serial,
                        const QString& oldValue, const QString& newValue)
{
    if (!m_active) {
        return true;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QVariantList entry{now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs),
                             text(userName()),
                             text(action),
                             count.isNull() ? QVariant() : QVariant(count.toLongLong()),
                             text(serial),
                             text(oldValue),
                             text(newValue),
                             text(m_reason.trimmed()),
                             text(QCoreApplication::applicationVersion())};
    for (int i = 0; i < entry.size(); ++i) {
        m_auditInsert.bindValue(i, entry.at(i));
    }
    if (!m_auditInsert.exec()) {
        qCWarning(lcLog) << "audit entry not stored:" << m_auditInsert.lastError().text();
        return false;
    }
    const qint64 id = m_auditInsert.lastInsertId().toLongLong();
    return addLink(KindAudit, id, digest(QVariantList{id} + entry));
}

QString AuditTrail::rowText(const QVariantList& values)
{
    QJsonObject row;
    for (int i = 1; i < FieldCount && i < values.size(); ++i) {
        row.insert(QLatin1String(FieldNames[i]), QJsonValue::fromVariant(values.at(i)));
    }
    return QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact));
}

QByteArray AuditTrail::digest(const QVariantList& values)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QVariant& value : values) {
        append(hash, value.toString().toUtf8(), value.isNull());
    }
    return hash.result();
}

QByteArray AuditTrail::linkHash(const QByteArray& previous, const QString& kind, qint64 ref,
                                const QByteArray& digest)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    append(hash, previous);
    append(hash, kind.toUtf8());
    append(hash, QByteArray::number(ref));
    append(hash, digest);
    return hash.result();
}

QString AuditTrail::userName()
{
    for (const char* name : {"USER", "LOGNAME", "USERNAME"}) {
        const QString user = qEnvironmentVariable(name);
        if (!user.isEmpty()) {
            return user;
        }
    }
    return QStringLiteral("unknown");
}
