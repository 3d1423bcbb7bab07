#pragma once

#include <QAbstractTableModel>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>

#include <array>
#include <vector>

// The DATAFEED table, held row for row in COUNT order. Rows are read once and then kept in step
// with every change made through the model, so that appending to a long table costs no re-reading
// and the view and the export always see the whole table. Every change is committed at once.
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

    static const char* const CreateStatement;

    explicit DataFeedTableModel(QObject* parent = nullptr, const QSqlDatabase& db = QSqlDatabase::database());

    bool createTable();
    // Reads the whole table again.
    bool select();
    // Reads the rows stored after the last row held.
    bool fetchNew();

    // Stores one row (COUNT, then DATE, TIME, SN, VAL, UNIT, NOTE) and shows it.
    bool appendRow(qint64 count, const QStringList& fields);
    // Deletes every row.
    bool clear();
    // The largest COUNT stored, 0 for an empty table.
    qint64 maxStoredCount() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

private:
    using Row = std::array<QVariant, ColumnCount>;

    bool beginWrite();
    bool endWrite(bool ok);
    bool readRows(qint64 after, std::vector<Row>& rows) const;

    QSqlDatabase m_db;
    std::vector<Row> m_rows;
};
