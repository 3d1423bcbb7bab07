#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

class DataFeedTableModel;

// One stored result, as DATAFEED holds it.
struct FeedRecord
{
    qint64 count = 0;
    QString date;
    QString time;
    QString serial;
    QString value;
    QString unit;
    QString note;

    // When it was taken: DATE is stored as MM-dd-yyyy and TIME as HH:mm:ss; invalid when either is not.
    // Qt::UTC gives the stored wall-clock time without a look at the local zone.
    QDateTime takenAt(Qt::TimeSpec clock = Qt::LocalTime) const;
};

// The stored results that a report or a chart reads, in COUNT order.
namespace FeedRecords {

struct Filter
{
    // Invalid for no bound; both bounds are included.
    QDateTime from;
    QDateTime to;
    // Empty for every instrument.
    QString serial;
};

// From the database file's table. The time bounds are applied here rather than in SQL, because the
// stored date text does not sort by time (MM-dd-yyyy); a row whose date cannot be read is left out
// when a time bound is given. False with the reason in error when the table cannot be read.
bool read(const QSqlDatabase& db, const Filter& filter, QVector<FeedRecord>* records, QString& error);

// The stored rows of the capture's model, first to last; rows still waiting for the database are not
// results yet and are left out.
QVector<FeedRecord> fromModel(const DataFeedTableModel* model, int first = 0, int last = -1);

bool matches(const FeedRecord& record, const Filter& filter);

} // namespace FeedRecords
