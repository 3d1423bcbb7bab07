#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// The record of every change made to stored results (table AUDIT) and the hash chain (table CHAIN)
// that makes a change made outside the program evident. Each DATAFEED row as stored and each AUDIT
// entry adds one link: SHA-256 over the row's fields and the previous link. A deleted row keeps its
// link; the AUDIT entry that deleted it says so. Links are written in the transaction that writes
// their row, so a row is never stored without its link.
class AuditTrail
{
public:
    // What an AUDIT entry records, as stored in ACTION.
    static const char* const ActionDelete;
    static const char* const ActionNote;
    static const char* const ActionRestore;
    static const char* const ActionClear;
    // Kinds of links, as stored in CHAIN.KIND.
    static const char* const KindStart;
    static const char* const KindFeed;
    static const char* const KindAudit;

    static const char* const AuditCreateStatement;
    static const char* const ChainCreateStatement;

    explicit AuditTrail(const QSqlDatabase& db);

    // Creates AUDIT and CHAIN when missing; a chain begins with a start link that names the highest
    // COUNT stored before it (rows up to it are not covered). Returns false when the tables cannot be
    // created; startedAfter is that COUNT when this call began the chain on older rows, else 0.
    bool createTables(qint64* startedAfter = nullptr);
    bool isActive() const { return m_active; }

    // Inside a write transaction, before the first link of it: reads the chain's last link, which
    // another program may have written since.
    bool beginLinks();
    // Links a DATAFEED row as it is now stored (EMPTY to NOTE).
    bool linkRow(const QVariantList& values);
    // Stores an AUDIT entry and its link; the row's fields are those before (old) or after (new) the
    // change. Returns false when either cannot be written.
    bool record(const QString& action, const QVariant& count, const QString& serial, const QString& oldValue,
                const QString& newValue);

    // The reason the user gave, recorded with every entry until it is set again (empty: none).
    void setReason(const QString& reason) { m_reason = reason; }

    // A row's fields as one line of JSON, the form AUDIT keeps old and new rows in.
    static QString rowText(const QVariantList& values);
    // SHA-256 over the fields, each length-prefixed so that no two lists share an encoding.
    static QByteArray digest(const QVariantList& values);
    static QByteArray linkHash(const QByteArray& previous, const QString& kind, qint64 ref,
                               const QByteArray& digest);
    // The computer's user as the system names them.
    static QString userName();

private:
    bool addLink(const char* kind, qint64 ref, const QByteArray& digest);

    QSqlDatabase m_db;
    bool m_active = false;
    QByteArray m_lastHash;
    QSqlQuery m_linkInsert;
    QSqlQuery m_auditInsert;
    QString m_reason;
};
