#pragma once

#include <QAbstractTableModel>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>

#include <array>
#include <map>
#include <vector>

// The DATAFEED table in COUNT order, read from the table as rows are asked for. Only the number of
// rows is held for the whole table; full rows are held in a few blocks of neighbouring rows, the
// least recently used dropped first, so that the memory stays the same for ten rows or a million
// and appending costs the same at any size. Every change is committed at once.
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

    static const char* const CreateStatement;
    static const char* const CountIndexStatement;

    explicit DataFeedTableModel(QObject* parent = nullptr, const QSqlDatabase& db = QSqlDatabase::database());

    // The table and the index that keeps counting its rows quick.
    bool createTable();
    // Reads the table again.
    bool select();
    // Takes in the rows stored after the last row held.
    bool fetchNew();

    // Stores one row (COUNT, then DATE, TIME, SN, VAL, UNIT, NOTE) and shows it.
    bool appendRow(qint64 count, const QStringList& fields);
    // Deletes every row.
    bool clear();
    // Every stored field of a row, as the table holds it (EMPTY to NOTE); empty for no row.
    QVariantList storedRow(int row) const;
    // Stores again a row that storedRow() gave, with its own COUNT, in its place among the others.
    // Nothing stored is replaced: a COUNT taken meanwhile leaves the table as it is.
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

private:
    using Row = std::array<QVariant, ColumnCount>;
    struct Block
    {
        // The block's first rows, in order; fewer than it holds while its tail is still unread.
        std::vector<Row> rows;
        quint64 lastUse = 0;
    };

    bool beginWrite();
    bool endWrite(bool ok);
    bool storable();
    // The row, read with its block when the block is not held; nullptr for a row out of range.
    const Row* rowAt(int row) const;
    void readBlockRows(int block, Block& into) const;
    void evictBlocks() const;
    // Forgets the held rows from row on, whose places move when a row before them comes or goes.
    void dropHeldRowsFrom(int row);

    QSqlDatabase m_db;
    int m_rowCount = 0;
    // The highest COUNT held: rows above it are new.
    qint64 m_lastCount = 0;
    mutable std::map<int, Block> m_blocks;
    mutable quint64 m_useClock = 0;
    bool m_unavailableReported = false;
};
