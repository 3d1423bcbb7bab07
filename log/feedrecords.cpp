#include "log/feedrecords.h"

#include "log/datafeedtablemodel.h"

#include <QSqlError>
#include <QSqlQuery>

QDateTime FeedRecord::takenAt() const
{
    const QDate d = QDate::fromString(date, QLatin1String(DataFeedTableModel::DateFormat));
    const QTime t = QTime::fromString(time, QLatin1String(DataFeedTableModel::TimeFormat));
    return d.isValid() && t.isValid() ? QDateTime(d, t) : QDateTime();
}

namespace FeedRecords {

bool matches(const FeedRecord& record, const Filter& filter)
{
    if (!filter.serial.isEmpty() && record.serial != filter.serial) {
        return false;
    }
    if (!filter.from.isValid() && !filter.to.isValid()) {
        return true;
    }
    const QDateTime at = record.takenAt();
    if (!at.isValid()) {
        return false;
    }
    return (!filter.from.isValid() || at >= filter.from) && (!filter.to.isValid() || at <= filter.to);
}

bool read(const QSqlDatabase& db, const Filter& filter, QVector<FeedRecord>* records, QString& error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    QString sql = QStringLiteral("SELECT COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED");
    if (!filter.serial.isEmpty()) {
        sql += QStringLiteral(" WHERE SN = ?");
    }
    sql += QStringLiteral(" ORDER BY COUNT");
    if (!query.prepare(sql)) {
        error = query.lastError().text();
        return false;
    }
    if (!filter.serial.isEmpty()) {
        query.addBindValue(filter.serial);
    }
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    while (query.next()) {
        FeedRecord r;
        r.count = query.value(0).toLongLong();
        r.date = query.value(1).toString();
        r.time = query.value(2).toString();
        r.serial = query.value(3).toString();
        r.value = query.value(4).toString();
        r.unit = query.value(5).toString();
        r.note = query.value(6).toString();
        if (matches(r, filter)) {
            records->append(r);
        }
    }
    return true;
}

QVector<FeedRecord> fromModel(const DataFeedTableModel* model, int first, int last)
{
    QVector<FeedRecord> records;
    const int end = last < 0 ? model->storedRowCount() - 1 : qMin(last, model->storedRowCount() - 1);
    records.reserve(qMax(0, end - first + 1));
    for (int row = qMax(0, first); row <= end; ++row) {
        const auto text = [&](int column) { return model->index(row, column).data().toString(); };
        FeedRecord r;
        r.count = model->index(row, DataFeedTableModel::CountColumn).data().toLongLong();
        r.date = text(DataFeedTableModel::DateColumn);
        r.time = text(DataFeedTableModel::TimeColumn);
        r.serial = text(DataFeedTableModel::SnColumn);
        r.value = text(DataFeedTableModel::ValColumn);
        r.unit = text(DataFeedTableModel::UnitColumn);
        r.note = text(DataFeedTableModel::NoteColumn);
        records.append(r);
    }
    return records;
}

} // namespace FeedRecords
