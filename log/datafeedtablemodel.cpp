#include "log/datafeedtablemodel.h"

#include "log/cpelmlog.h"
#include "platform/logcategories.h"

#include <QSqlError>
#include <QSqlQuery>

#include <limits>

namespace {
const char* const ColumnNames[DataFeedTableModel::ColumnCount] = {"EMPTY", "COUNT", "DATE", "TIME",
                                                                  "SN",    "VAL",   "UNIT", "NOTE"};
// A null QString would be bound as NULL; the table holds empty texts instead.
QString text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}
} // namespace

const char* const DataFeedTableModel::CreateStatement =
    "CREATE TABLE IF NOT EXISTS DATAFEED(\nEMPTY TEXT,\nCOUNT INTEGER PRIMARY KEY NOT NULL,\nDATE TEXT,\n"
    "TIME TEXT,\nSN TEXT,\nVAL TEXT,\nUNIT TEXT,\nNOTE TEXT\n);";

DataFeedTableModel::DataFeedTableModel(QObject* parent, const QSqlDatabase& db)
    : QAbstractTableModel(parent), m_db(db)
{
}

bool DataFeedTableModel::createTable()
{
    QSqlQuery query(m_db);
    return query.exec(QLatin1String(CreateStatement));
}

bool DataFeedTableModel::readRows(qint64 after, std::vector<Row>& rows) const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED "
                                 "WHERE COUNT > ? ORDER BY COUNT"));
    query.bindValue(0, after);
    if (!query.exec()) {
        return false;
    }
    while (query.next()) {
        Row row;
        for (int c = 0; c < ColumnCount; ++c) {
            row[c] = query.value(c);
        }
        rows.push_back(std::move(row));
    }
    return true;
}

bool DataFeedTableModel::select()
{
    std::vector<Row> rows;
    const bool ok = readRows(std::numeric_limits<qint64>::min(), rows);
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    return ok;
}

bool DataFeedTableModel::fetchNew()
{
    const qint64 last =
        m_rows.empty() ? std::numeric_limits<qint64>::min() : m_rows.back()[CountColumn].toLongLong();
    std::vector<Row> rows;
    const bool ok = readRows(last, rows);
    if (!rows.empty()) {
        const int first = int(m_rows.size());
        beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
        m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()),
                      std::make_move_iterator(rows.end()));
        endInsertRows();
    }
    return ok;
}

bool DataFeedTableModel::beginWrite()
{
    // The log writer batches its rows in a transaction on this connection; commit it first so that
    // this change is committed on its own and at once.
    if (CPelmLog* log = CPelmLog::instance()) {
        log->commitPending();
    }
    return m_db.transaction();
}

bool DataFeedTableModel::endWrite(bool ok)
{
    if (!m_db.commit()) {
        qCDebug(lcLog) << "commit failed" << m_db.lastError().text();
    }
    return ok;
}

bool DataFeedTableModel::appendRow(qint64 count, const QStringList& fields)
{
    beginWrite();
    QSqlQuery insert(m_db);
    insert.prepare(QStringLiteral("INSERT INTO DATAFEED VALUES (?,?,?,?,?,?,?,?)"));
    insert.addBindValue(text(QString()));
    insert.addBindValue(count);
    for (int i = 0; i < ColumnCount - 2; ++i) {
        insert.addBindValue(text(fields.value(i)));
    }
    const bool ok = insert.exec();
    if (!ok) {
        qCDebug(lcLog) << "DATAFEED insert failed" << insert.lastError().text();
    }
    endWrite(ok);
    fetchNew();
    return ok;
}

bool DataFeedTableModel::clear()
{
    beginWrite();
    QSqlQuery query(m_db);
    const bool ok = endWrite(query.exec(QStringLiteral("DELETE FROM DATAFEED")));
    select();
    return ok;
}

qint64 DataFeedTableModel::maxStoredCount() const
{
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED")) && query.next()) {
        return query.value(0).toLongLong();
    }
    return 0;
}

int DataFeedTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DataFeedTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DataFeedTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()) || index.column() >= ColumnCount) {
        return QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) {
        return QVariant();
    }
    return m_rows[size_t(index.row())][size_t(index.column())];
}

bool DataFeedTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != NoteColumn ||
        index.row() >= int(m_rows.size())) {
        return false;
    }
    Row& row = m_rows[size_t(index.row())];
    beginWrite();
    QSqlQuery update(m_db);
    update.prepare(QStringLiteral("UPDATE DATAFEED SET NOTE = ? WHERE COUNT = ?"));
    const QString note = text(value.toString());
    update.addBindValue(note);
    update.addBindValue(row[CountColumn]);
    if (!endWrite(update.exec())) {
        return false;
    }
    row[NoteColumn] = note;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags DataFeedTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() == NoteColumn) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

QVariant DataFeedTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount) {
        return QLatin1String(ColumnNames[section]);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool DataFeedTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > int(m_rows.size())) {
        return false;
    }
    beginWrite();
    QSqlQuery remove(m_db);
    remove.prepare(QStringLiteral("DELETE FROM DATAFEED WHERE COUNT = ?"));
    bool ok = true;
    for (int r = row; r < row + count; ++r) {
        remove.bindValue(0, m_rows[size_t(r)][CountColumn]);
        ok = remove.exec() && ok;
    }
    endWrite(ok);
    if (!ok) {
        // Show what the table now holds rather than guess which deletes took effect.
        select();
        return false;
    }
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    endRemoveRows();
    return true;
}
