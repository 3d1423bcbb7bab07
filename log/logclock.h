#pragma once

class QDate;
class QString;
class QTime;
struct PelmLogRecord;

// Local date and time for log records and captured results. Reading the local time zone costs the C
// library a look at the zone file on every call; traffic is stamped thousands of times a second, so
// the offset from UTC is cached per thread and looked up again once a second, and at the zone's next
// change of offset.
namespace LogClock {
void now(QDate& date, QTime& time);
// A log record of the traffic on interface, stamped now.
PelmLogRecord record(const QString& interface, const QString& message);
// "yyyy-MM-dd" and "hh:mm:ss.zzz" as Qt's ISO forms give them, without its format parser: they are
// written once per stored record and per printed result. Empty for an invalid date or time.
QString dateText(const QDate& date);
QString timeText(const QTime& time);
// timeText() into text, which holds TimeTextSize characters; false (and nothing written) for an
// invalid time.
constexpr int TimeTextSize = 12;
bool formatTime(const QTime& time, char* text);
} // namespace LogClock
