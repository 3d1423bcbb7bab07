#include "log/logclock.h"

#include "log/pelmlogrecord.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>

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

QString dateText(const QDate& date)
{
    // Qt writes no ISO date outside these years; its own answer stands there.
    if (!date.isValid() || date.year() < 0 || date.year() > 9999) {
        return date.toString(Qt::ISODate);
    }
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year(), date.month(), date.day());
    return QString::fromLatin1(text, n);
}

bool formatTime(const QTime& time, char* text)
{
    if (!time.isValid()) {
        return false;
    }
    const auto put = [](char* at, int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10) {
            at[i] = char('0' + value % 10);
        }
    };
    put(text, time.hour(), 2);
    text[2] = ':';
    put(text + 3, time.minute(), 2);
    text[5] = ':';
    put(text + 6, time.second(), 2);
    text[8] = '.';
    put(text + 9, time.msec(), 3);
    return true;
}

QString timeText(const QTime& time)
{
    char text[TimeTextSize];
    return formatTime(time, text) ? QString::fromLatin1(text, TimeTextSize) : QString();
}

} // namespace LogClock
