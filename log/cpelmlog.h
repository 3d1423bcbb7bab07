#pragma once

#include "log/pelmlogrecord.h"

#include <QDate>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTimer>

#include <atomic>

// Stores every logged piece of traffic line by line in the LOGS table; one per process.
// Rows go into a transaction that stays open for a short while, because a commit per line would
// cap the store at a few thousand lines a second; readers on the same connection see them at once.
class CPelmLog : public QObject
{
    Q_OBJECT
public:
    static constexpr int CommitIntervalMs = 200;
    // A batch this large is committed at once, so that no single commit stalls the thread.
    static constexpr int MaxBatchRows = 10000;

    static const char* const CreateStatement;
    static const char* const InsertStatement;

    explicit CPelmLog(QObject* parent = nullptr);
    ~CPelmLog() override;

    static CPelmLog* instance();
    // Stores what source sends and receives (its newOutLog and newInLog), when a log store exists.
    template <class Source> static void follow(Source* source)
    {
        if (CPelmLog* log = instance()) {
            connect(source, &Source::newOutLog, log, &CPelmLog::onNewOutLog, Qt::UniqueConnection);
            connect(source, &Source::newInLog, log, &CPelmLog::onNewInLog, Qt::UniqueConnection);
        }
    }

    void setEnabled(bool enabled) { m_enabled.store(enabled); }
    bool isEnabled() const { return m_enabled.load(); }

    // Commits the rows stored so far. Other writers on the connection call it before they open a
    // transaction of their own, which SQLite could not nest inside the batch.
    void commitPending();

    // The index that lets the log view find the newest lines without reading the whole table.
    static QString lineIndexStatement(const QString& table);

public slots:
    void onNewOutLog(const PelmLogRecord& r);
    void onNewInLog(const PelmLogRecord& r);

signals:
    void newLog();

private:
    void store(const PelmLogRecord& r, const QString& direction, qint32& lineId);
    bool insertLine(qint32 lineId, const QString& text);
    void noteInsert(bool ok, bool out);
    void openBatch();
    const QString& dateText(const QDate& date);

    qint32 packetId = 0;
    qint32 inLineId = 0;
    qint32 outLineId = 0;
    std::atomic<bool> m_enabled{true};
    QSqlDatabase m_db;
    QSqlQuery query;

    QTimer m_commitTimer;
    bool m_batchOpen = false;
    int m_batchRows = 0;
    bool m_insertFailureReported = false;
    QDate m_lastDate;
    QString m_lastDateText;
};
