#include "log/logclock.h"

#include "log/pelmlogrecord.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <algorithm>

namespace LogClock {

namespace {
constexpr qint64 MsPerDay = 24 * 60 * 60 * 1000;
constexpr qint64 RefreshMs = 1000;
} // namespace

void now(QDate& date, QTime& time)
{
    thread_local qint64 offsetMs = 0;
    thread_local qint64 refreshedAt = 0;
    thread_local qint64 validUntil = 0;
    thread_local bool known = false;

    const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
    if (!known || utcMs >= validUntil || utcMs < refreshedAt) {
        offsetMs = qint64(QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc()) * 1000;
        refreshedAt = utcMs;
        validUntil = utcMs + RefreshMs;
        // Not past the zone's next change of offset, so that no stamp is an hour off after it.
        const QTimeZone::OffsetData next =
            QTimeZone::systemTimeZone().nextTransition(QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC));
        if (next.atUtc.isValid()) {
            validUntil = std::min(validUntil, next.atUtc.toMSecsSinceEpoch());
        }
        known = true;
    }
    const qint64 localMs = utcMs + offsetMs;
    qint64 days = localMs / MsPerDay;
    qint64 msOfDay = localMs % MsPerDay;
    if (msOfDay < 0) {
        msOfDay += MsPerDay;
        --days;
    }
    date = QDate(1970, 1, 1).addDays(days);
    time = QTime::fromMSecsSinceStartOfDay(int(msOfDay));
}

PelmLogRecord record(const QString& interface, const QString& message)
{
    PelmLogRecord r{interface, QDate(), QTime(), message};
    now(r.date, r.time);
    return r;
}

} // namespace LogClock
