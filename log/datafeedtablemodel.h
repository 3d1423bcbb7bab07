#pragma once

#include "log/audittrail.h"

#include <QAbstractTableModel>
#include <QSqlDatabase>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <array>
#include <deque>
#include <map>
#include <vector>

class QSqlError;

// The DATAFEED table in COUNT order, read from the table as rows are asked for. Only the number of
// rows is held for the whole table; full rows are held in a few blocks of neighbouring rows, the
// least recently used dropped first, so that the memory stays the same for ten rows or a million
// and appending costs the same at any size. Every change is committed at once. The number of rows
// is the one the database keeps (DATAFEED_ROWCOUNT); one that does not fit the rows is counted again.
// The database gives each new row its COUNT, so that several programs can store into one table. A
// result that the database refuses (disk full, locked) waits in memory, in order, shown after the
// stored rows, and is stored as soon as the database takes writes again.
// Every deletion, note edit, undo and clear is recorded in AUDIT, and every stored row and entry
// extends the hash chain, in the transaction of the change itself (AuditTrail).
class DataFeedTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        EmptyColumn,
        CountColumn,
        DateColumn,
        TimeColumn,
        SnColumn,
        ValColumn,
        UnitColumn,
        NoteColumn
    };
    static constexpr int ColumnCount = 8;
    static constexpr int BlockRows = 256;
    // Enough for a screenful and the thousand rows that measuring column widths reads around it.
    static constexpr int MaxCachedBlocks = 16;
    // Results kept while the database refuses them: half a day of a result a second, or ten seconds
    // of the fastest stream, in about 20 MB.
    static constexpr int MaxWaitingRows = 50000;
    // How often waiting results are tried again, and rows of other programs looked for.
    static constexpr int PollIntervalMs = 1000;
    // While results wait, a locked database is tried this long only: a full busy wait per result
    // would freeze the window for as long as the lock is held.
    static constexpr int RetryBusyMs = 50;

    static const char* const CreateStatement;
    // DATE and TIME as the capture stores them.
    static constexpr const char* DateFormat = "MM-dd-yyyy";
    static constexpr const char* TimeFormat = "HH:mm:ss";
    static const char* const CountIndexStatement;
    // One row: the feed's generation, one more with every clear, so that a COUNT given again after a
    // clear names another result than the one it named before (what the central server keeps apart).
    static const char* const GenerationStatement;
    // One row: how many rows DATAFEED holds, kept by two triggers in the transaction of every insert
    // and delete, whoever writes (this program, mervik-cli, the sqlite3 shell), so that opening a
    // feed of a million rows reads one row instead of counting them.
    static const char* const RowCountStatement;
    static const char* const CountInsertsTrigger;
    static const char* const CountDeletesTrigger;

    explicit DataFeedTableModel(QObject* parent = nullptr, const QSqlDatabase& db = QSqlDatabase::database());

    // The table, the index that keeps counting a range of its rows quick and the kept row count;
    // the audit trail beside it.
    bool createTable();
    // The highest COUNT stored before the hash chain began, when createTable() began it on older
    // rows; 0 otherwise.
    qint64 chainBeganAfter() const { return m_chainBeganAfter; }
    // Recorded with the changes that follow (deletions, note edits, undo) until set again.
    void setChangeReason(const QString& reason) { m_audit.setReason(reason); }
    // Reads the table again.
    bool select();
    // Takes in the rows stored after the last row held.
    bool fetchNew();

    // Stores one row (DATE, TIME, SN, VAL, UNIT, NOTE) and shows it; returns the COUNT the database
    // gave it. A row the database refuses waits and is shown (0 is returned); beyond the bound it is
    // refused (-1).
    qint64 appendRow(const QStringList& fields);
    // Stores the rows in one transaction, in order, and shows them; the COUNT of each as appendRow
    // gives it.
    QVector<qint64> appendRows(const QVector<QStringList>& rows);
    // The COUNT the next appended row gets, as far as this program knows: after the highest it gave
    // since the last clear, the highest stored and the waiting rows.
    qint64 nextCount() const;
    // The highest COUNT of the rows held as stored; 0 for none.
    qint64 lastStoredCount() const { return m_lastCount > 0 ? m_lastCount : 0; }
    // Rows shown that are stored; the waiting ones follow them.
    int storedRowCount() const { return m_rowCount; }
    bool isWaiting(int row) const { return row >= m_rowCount && row < rowCount(); }
    int waitingRows() const { return int(m_waiting.size()); }
    // Why results wait ("disk full", "database locked", or the database's own words); empty when none do.
    QString storageProblem() const { return m_problem; }
    // Results refused because the waiting list was full, since the waiting began.
    int refusedRows() const { return m_refused; }
    // Waiting results stored when the database took writes again, at the end of the last wait.
    int recoveredRows() const { return m_recovered; }
    // Only for tests: a smaller bound than MaxWaitingRows.
    void setWaitingLimit(int rows) { m_waitingLimit = rows; }
    // Stores the waiting rows if the database takes them now.
    bool storeWaiting();
    // Deletes every row.
    bool clear();
    // Every stored field of a row, as the table holds it (EMPTY to NOTE); empty for no row.
    QVariantList storedRow(int row) const;
    // Stores again a row that storedRow() gave, with its own COUNT, in its place among the others.
    // Nothing stored is replaced: when another program took that COUNT meanwhile, the row gets a new one.
    bool restoreRow(const QVariantList& values);
    // The largest COUNT stored, 0 for an empty table.
    qint64 maxStoredCount() const;

    // Rows held in memory at the moment; tests check that it stays bounded.
    int cachedRowCount() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

signals:
    // Rows became stored (this program's or another's): what exports them follows this.
    void rowsStored();
    // Results began or stopped waiting, or their number changed.
    void storageChanged();

private:
    using Row = std::array<QVariant, ColumnCount>;
    struct Block
    {
        // The block's first rows, in order; fewer than it holds while its tail is still unread.
        std::vector<Row> rows;
        quint64 lastUse = 0;
    };

    // Whether the triggers that keep DATAFEED_ROWCOUNT are in place as installed.
    bool rowsCounted() const;
    // Installs the triggers and counts the rows once, under the write lock, in one transaction; also
    // gives the count and the highest COUNT as that transaction sees them.
    bool countRows(qint64* rows = nullptr, qint64* last = nullptr);
    // The number of stored rows and the highest COUNT: the kept count when it is believable, the
    // table counted otherwise.
    bool readExtent(qint64& rows, qint64& last);
    // Inside the clear's transaction.
    bool deleteAllRows();
    bool beginWrite();
    // The transaction just begun, once the chain's last link is read; ended when it cannot be.
    bool linksBegun();
    // A stored row's fields (EMPTY to NOTE) by COUNT; empty when there is none.
    QVariantList readRow(const QVariant& count) const;
    // Inside the clear's transaction: the next generation.
    bool nextGeneration();
    // Commits when ok, otherwise (and when the commit fails) rolls everything back, so that a row
    // that failed is never stored later by someone else's commit.
    bool endWrite(bool ok);
    // Inserts the row with the next COUNT; the COUNT, 0 when it failed (m_problem says why).
    qint64 insertRow(const QStringList& fields);
    // The same through an insert prepared once for many rows.
    qint64 insertRow(QSqlQuery& insert, const QStringList& fields);
    bool prepareInsert(QSqlQuery& insert);
    void noteFailure(const QSqlError& error);
    // Rows wait in order; those beyond the bound are refused (-1 in counts, 0 for the waiting ones).
    void enqueue(const QVector<QStringList>& rows, QVector<qint64>& counts);
    // After rows were stored: takes in every stored row after the last held, the first waiting ones
    // among them when their places did not change.
    bool takeStoredRows(int fromWaiting);
    void poll();
    // Rows of other programs; a table cleared or cut short by one is read again.
    void followOthers();
    bool storable();
    // The row, read with its block when the block is not held; nullptr for a row out of range.
    const Row* rowAt(int row) const;
    void readBlockRows(int block, Block& into) const;
    void evictBlocks() const;
    // Forgets the held rows from row on, whose places move when a row before them comes or goes.
    void dropHeldRowsFrom(int row);

    QSqlDatabase m_db;
    AuditTrail m_audit;
    qint64 m_chainBeganAfter = 0;
    int m_rowCount = 0;
    // The highest COUNT held: rows above it are new.
    qint64 m_lastCount = 0;
    mutable std::map<int, Block> m_blocks;
    mutable quint64 m_useClock = 0;
    bool m_unavailableReported = false;
    // The highest COUNT this model gave, or held as its newest, since the last clear: a deleted
    // newest row's number stays free for its undo.
    qint64 m_highestGiven = 0;
    std::deque<QStringList> m_waiting;
    int m_waitingLimit = MaxWaitingRows;
    QString m_problem;
    int m_refused = 0;
    int m_recovered = 0;
    QTimer m_pollTimer;
    // SQLite's count of commits by other connections, to read the table only when they changed it.
    qint64 m_dataVersion = -1;
    // As rowsCounted() found it last; a kept count that disagrees with the rows read is counted
    // again at the next select.
    bool m_rowsCounted = false;
    mutable bool m_countDoubted = false;
    mutable bool m_reselectQueued = false;
};
