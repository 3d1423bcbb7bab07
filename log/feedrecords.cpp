#include "log/feedrecords.h"

#include "log/datafeedtablemodel.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <iterator>

namespace {
// The number of the two digits at text[at], -1 when they are none.
int twoDigits(const QString& text, int at)
{
    const int high = text.at(at).unicode() - '0';
    const int low = text.at(at + 1).unicode() - '0';
    return high >= 0 && high <= 9 && low >= 0 && low <= 9 ? high * 10 + low : -1;
}
} // namespace

QDateTime FeedRecord::takenAt(Qt::TimeSpec clock) const
{
    QDate d;
    QTime t;
    // The stored forms read by hand: the format parser took most of a chart's time at a thousand
    // results a second. Any other shape goes to the parser, which decides as before.
    if (date.size() == 10 && date.at(2) == QLatin1Char('-') && date.at(5) == QLatin1Char('-') &&
        time.size() == 8 && time.at(2) == QLatin1Char(':') && time.at(5) == QLatin1Char(':')) {
        const int century = twoDigits(date, 6);
        const int year = twoDigits(date, 8);
        const int parts[] = {twoDigits(date, 0), twoDigits(date, 3), century,           year,
                             twoDigits(time, 0), twoDigits(time, 3), twoDigits(time, 6)};
        if (std::all_of(std::begin(parts), std::end(parts), [](int part) { return part >= 0; })) {
            d = QDate(century * 100 + year, parts[0], parts[1]);
            t = QTime(parts[4], parts[5], parts[6]);
        }
    } else {
        d = QDate::fromString(date, QLatin1String(DataFeedTableModel::DateFormat));
        t = QTime::fromString(time, QLatin1String(DataFeedTableModel::TimeFormat));
    }
    return d.isValid() && t.isValid() ? QDateTime(d, t, clock) : QDateTime();
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
