#pragma once

#include <QSqlDatabase>
#include <QStringList>

// Walks the hash chain and compares it with the stored results and the audit trail: what it finds
// is one line each, by COUNT ("row 17: altered"). It only reads. Whoever rewrites the whole chain
// from a changed row on is not found: the chain proves order and content, not who wrote it.
class ChainVerifier
{
public:
    struct Report
    {
        // One line per finding; empty when everything holds.
        QStringList findings;
        // Rows stored before the chain began, which it cannot vouch for.
        qint64 notCovered = 0;
        qint64 links = 0;
        qint64 rows = 0;
        // Only the newest links were walked.
        bool partial = false;
        // The tables could not be read; findings then holds why.
        bool unreadable = false;

        bool holds() const { return findings.isEmpty() && !unreadable; }
    };

    // Every link, or only the newest lastLinks of them (and the rows they name) when above 0.
    static Report verify(const QSqlDatabase& db, qint64 lastLinks = 0);
};
