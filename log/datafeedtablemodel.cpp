#include "log/datafeedtablemodel.h"

#include "log/cpelmlog.h"
#include "platform/logcategories.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

namespace {
// The delete button's column has no heading.
const char* const ColumnTitles[DataFeedTableModel::ColumnCount] = {
    "", "Count", "Date", "Time", "Serial number", "Value", "Unit", "Note"};
const char* const SelectColumns = "SELECT EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED ";
// Below and above every COUNT: the table's two ends as places to count rows from.
constexpr qint64 BeforeFirst = std::numeric_limits<qint64>::min();
constexpr qint64 AfterLast = std::numeric_limits<qint64>::max();

// A null QString would be bound as NULL; the table holds empty texts instead.
QString text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}
} // namespace

const char* const DataFeedTableModel::CreateStatement =
    "CREATE TABLE IF NOT EXISTS DATAFEED(\nEMPTY TEXT,\nCOUNT INTEGER PRIMARY KEY NOT NULL,\nDATE TEXT,\n"
    "TIME TEXT,\nSN TEXT,\nVAL TEXT,\nUNIT TEXT,\nNOTE TEXT\n);";

const char* const DataFeedTableModel::CountIndexStatement =
    "CREATE INDEX IF NOT EXISTS DATAFEED_rows ON DATAFEED (COUNT)";

DataFeedTableModel::DataFeedTableModel(QObject* parent, const QSqlDatabase& db)
    : QAbstractTableModel(parent), m_db(db)
{
}

bool DataFeedTableModel::createTable()
{
    if (!m_db.isOpen()) {
        return false;
    }
    QSqlQuery query(m_db);
    // COUNT(*) walks the smallest tree that holds every row: this index is a fifth of the table's
    // size, which makes counting a million rows at opening five times faster.
    return query.exec(QLatin1String(CreateStatement)) && query.exec(QLatin1String(CountIndexStatement));
}

bool DataFeedTableModel::select()
{
    bool ok = m_db.isOpen();
    int rows = 0;
    qint64 last = BeforeFirst;
    if (ok) {
        QSqlQuery query(m_db);
        // COUNT(*) on its own counts the table's pages without reading their rows; beside MAX it
        // would read every row.
        ok = query.exec(QStringLiteral("SELECT COUNT(*) FROM DATAFEED")) && query.next();
        rows = ok ? query.value(0).toInt() : 0;
        if (ok && rows > 0 && query.exec(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED")) && query.next()) {
            last = query.value(0).toLongLong();
        }
    }
    beginResetModel();
    m_blocks.clear();
    m_rowCount = rows;
    m_lastCount = last;
    endResetModel();
    return ok;
}

bool DataFeedTableModel::fetchNew()
{
    if (!m_db.isOpen()) {
        return false;
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT COUNT(*), MAX(COUNT) FROM DATAFEED WHERE COUNT > ?"));
    query.addBindValue(m_lastCount);
    if (!query.exec() || !query.next()) {
        return false;
    }
    const int added = query.value(0).toInt();
    if (added > 0) {
        // The rows are read when shown; a block that ended with the old last row reads its tail then.
        beginInsertRows(QModelIndex(), m_rowCount, m_rowCount + added - 1);
        m_rowCount += added;
        m_lastCount = query.value(1).toLongLong();
        endInsertRows();
    }
    return true;
}

bool DataFeedTableModel::storable()
{
    if (m_db.isOpen()) {
        return true;
    }
    if (!m_unavailableReported) {
        m_unavailableReported = true;
        qCWarning(lcLog) << "captured results are not stored: the database is not available";
    }
    return false;
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
    if (!storable()) {
        return false;
    }
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
    if (ok && count <= m_lastCount) {
        // Not after the last row held: its place is somewhere inside the table.
        select();
    } else {
        fetchNew();
    }
    return ok;
}

bool DataFeedTableModel::clear()
{
    if (!storable()) {
        return false;
    }
    beginWrite();
    QSqlQuery query(m_db);
    const bool ok = endWrite(query.exec(QStringLiteral("DELETE FROM DATAFEED")));
    select();
    return ok;
}

qint64 DataFeedTableModel::maxStoredCount() const
{
    if (!m_db.isOpen()) {
        return 0;
    }
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("SELECT MAX(COUNT) FROM DATAFEED")) && query.next()) {
        return query.value(0).toLongLong();
    }
    return 0;
}

int DataFeedTableModel::cachedRowCount() const
{
    int rows = 0;
    for (const auto& entry : m_blocks) {
        rows += int(entry.second.rows.size());
    }
    return rows;
}

const DataFeedTableModel::Row* DataFeedTableModel::rowAt(int row) const
{
    if (row < 0 || row >= m_rowCount) {
        return nullptr;
    }
    const int index = row / BlockRows;
    const size_t offset = size_t(row - index * BlockRows);
    Block& block = m_blocks[index];
    block.lastUse = ++m_useClock;
    if (offset >= block.rows.size()) {
        readBlockRows(index, block);
        evictBlocks();
    }
    return offset < block.rows.size() ? &block.rows[offset] : nullptr;
}

void DataFeedTableModel::readBlockRows(int index, Block& block) const
{
    const int first = index * BlockRows + int(block.rows.size());
    const int end = std::min(m_rowCount, (index + 1) * BlockRows);
    const int wanted = end - first;
    if (wanted <= 0) {
        return;
    }
    // Rows are found by counting from the nearest row whose COUNT is known: a held row before or
    // after them, or an end of the table. Neighbouring blocks and the block's own first rows make
    // scrolling and appending cost the same anywhere in a table of any size.
    int belowRow = -1;
    qint64 belowCount = BeforeFirst;
    int aboveRow = m_rowCount;
    qint64 aboveCount = AfterLast;
    for (const auto& entry : m_blocks) {
        const std::vector<Row>& rows = entry.second.rows;
        if (rows.empty()) {
            continue;
        }
        const int otherFirst = entry.first * BlockRows;
        const int otherLast = otherFirst + int(rows.size()) - 1;
        if (otherLast < first && otherLast > belowRow) {
            belowRow = otherLast;
            belowCount = rows.back()[CountColumn].toLongLong();
        }
        if (otherFirst >= end && otherFirst < aboveRow) {
            aboveRow = otherFirst;
            aboveCount = rows.front()[CountColumn].toLongLong();
        }
    }
    const int skipBelow = first - belowRow - 1;
    const int skipAbove = aboveRow - end;
    const bool upwards = skipBelow <= skipAbove;

    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QLatin1String(SelectColumns) +
                  (upwards ? QStringLiteral("WHERE COUNT > ? ORDER BY COUNT")
                           : QStringLiteral("WHERE COUNT < ? ORDER BY COUNT DESC")) +
                  QStringLiteral(" LIMIT ? OFFSET ?"));
    query.addBindValue(upwards ? belowCount : aboveCount);
    query.addBindValue(wanted);
    query.addBindValue(upwards ? skipBelow : skipAbove);
    std::vector<Row> rows;
    rows.reserve(size_t(wanted));
    if (query.exec()) {
        while (query.next()) {
            Row row;
            for (int c = 0; c < ColumnCount; ++c) {
                row[size_t(c)] = query.value(c);
            }
            rows.push_back(std::move(row));
        }
    }
    if (!upwards) {
        std::reverse(rows.begin(), rows.end());
    }
    if (int(rows.size()) != wanted) {
        // The table changed behind the model's back: blank rows keep the places until the next
        // select rather than a query on every paint.
        qCDebug(lcLog) << "DATAFEED read" << rows.size() << "of" << wanted << "rows"
                       << query.lastError().text();
        rows.resize(size_t(wanted));
    }
    block.rows.insert(block.rows.end(), std::make_move_iterator(rows.begin()),
                      std::make_move_iterator(rows.end()));
}

void DataFeedTableModel::evictBlocks() const
{
    while (m_blocks.size() > size_t(MaxCachedBlocks)) {
        auto oldest = std::min_element(m_blocks.begin(), m_blocks.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        m_blocks.erase(oldest);
    }
}

int DataFeedTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int DataFeedTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DataFeedTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount ||
        (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return QVariant();
    }
    const Row* row = rowAt(index.row());
    return row ? (*row)[size_t(index.column())] : QVariant();
}

bool DataFeedTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != NoteColumn) {
        return false;
    }
    const Row* row = rowAt(index.row());
    if (!row || !storable()) {
        return false;
    }
    const QVariant count = (*row)[CountColumn];
    beginWrite();
    QSqlQuery update(m_db);
    update.prepare(QStringLiteral("UPDATE DATAFEED SET NOTE = ? WHERE COUNT = ?"));
    const QString note = text(value.toString());
    update.addBindValue(note);
    update.addBindValue(count);
    if (!endWrite(update.exec())) {
        return false;
    }
    const auto block = m_blocks.find(index.row() / BlockRows);
    const size_t offset = size_t(index.row() % BlockRows);
    if (block != m_blocks.end() && offset < block->second.rows.size()) {
        block->second.rows[offset][NoteColumn] = note;
    }
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
    if (orientation == Qt::Horizontal && section >= 0 && section < ColumnCount) {
        if (role == Qt::DisplayRole) {
            return QLatin1String(ColumnTitles[section]);
        }
        if (role == Qt::TextAlignmentRole) {
            // Over the values, which line up on their decimal points at the right.
            return int((section == ValColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        }
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool DataFeedTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > m_rowCount || !storable()) {
        return false;
    }
    std::vector<QVariant> counts;
    counts.reserve(size_t(count));
    for (int r = row; r < row + count; ++r) {
        const Row* held = rowAt(r);
        counts.push_back(held ? (*held)[CountColumn] : QVariant());
    }
    beginWrite();
    QSqlQuery remove(m_db);
    remove.prepare(QStringLiteral("DELETE FROM DATAFEED WHERE COUNT = ?"));
    bool ok = true;
    for (const QVariant& key : counts) {
        remove.bindValue(0, key);
        ok = remove.exec() && ok;
    }
    endWrite(ok);
    if (!ok) {
        // Show what the table now holds rather than guess which deletes took effect.
        select();
        return false;
    }
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    dropHeldRowsFrom(row);
    m_rowCount -= count;
    endRemoveRows();
    return true;
}

void DataFeedTableModel::dropHeldRowsFrom(int row)
{
    // Keep what lies before the row, read the rest again when it is asked for.
    const int index = row / BlockRows;
    m_blocks.erase(m_blocks.upper_bound(index), m_blocks.end());
    const auto block = m_blocks.find(index);
    if (block != m_blocks.end()) {
        std::vector<Row>& rows = block->second.rows;
        rows.resize(std::min(rows.size(), size_t(row - index * BlockRows)));
    }
}

QVariantList DataFeedTableModel::storedRow(int row) const
{
    const Row* held = rowAt(row);
    if (!held || !m_db.isOpen()) {
        return {};
    }
    // From the table, not from the rows held: what goes back must be exactly what was stored.
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(SelectColumns) + QStringLiteral("WHERE COUNT = ?"));
    query.addBindValue((*held)[CountColumn]);
    QVariantList values;
    if (query.exec() && query.next()) {
        for (int c = 0; c < ColumnCount; ++c) {
            values << query.value(c);
        }
    }
    return values;
}

bool DataFeedTableModel::restoreRow(const QVariantList& values)
{
    if (values.size() != ColumnCount || !storable()) {
        return false;
    }
    beginWrite();
    QSqlQuery insert(m_db);
    insert.prepare(QStringLiteral("INSERT INTO DATAFEED (EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE) "
                                  "VALUES (?,?,?,?,?,?,?,?)"));
    for (const QVariant& value : values) {
        insert.addBindValue(value);
    }
    const bool ok = insert.exec();
    if (!ok) {
        qCWarning(lcLog) << "DATAFEED row" << values.at(CountColumn).toLongLong()
                         << "not restored:" << insert.lastError().text();
    }
    endWrite(ok);
    if (!ok) {
        return false;
    }
    const qint64 count = values.at(CountColumn).toLongLong();
    if (count > m_lastCount) {
        fetchNew();
        return true;
    }
    // Inserted in its place rather than the whole table read again, so that the view keeps its
    // place and its selection.
    QSqlQuery before(m_db);
    before.prepare(QStringLiteral("SELECT COUNT(*) FROM DATAFEED WHERE COUNT < ?"));
    before.addBindValue(count);
    if (!before.exec() || !before.next()) {
        select();
        return true;
    }
    const int row = std::min(before.value(0).toInt(), m_rowCount);
    beginInsertRows(QModelIndex(), row, row);
    dropHeldRowsFrom(row);
    ++m_rowCount;
    endInsertRows();
    return true;
}
