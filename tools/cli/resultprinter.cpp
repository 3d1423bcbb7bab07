#include "resultprinter.h"

#include "instrumentsession.h"
#include "log/logclock.h"

#include <cstdio>

ResultPrinter::ResultPrinter(QObject* parent) : QObject(parent)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(FlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &ResultPrinter::flush);
    // Kept across writes: a reserved array keeps its memory when emptied.
    m_text.reserve(64 * 1024);
}

ResultPrinter::~ResultPrinter()
{
    flush();
}

QString ResultPrinter::timeText(const QDate& date, const QTime& time)
{
    return LogClock::dateText(date) + QLatin1Char('T') + LogClock::timeText(time);
}

void ResultPrinter::add(const QDate& date, const QTime& time, const Measurement& m)
{
    if (date != m_date || m_dateText.isEmpty()) {
        m_date = date;
        m_dateText = LogClock::dateText(date).toLatin1() + 'T';
    }
    m_text += m_dateText;
    char clock[LogClock::TimeTextSize];
    if (LogClock::formatTime(time, clock)) {
        m_text.append(clock, LogClock::TimeTextSize);
    }
    m_text += ' ';
    m_text += InstrumentSession::formatValue(m).toUtf8();
    m_text += ' ';
    m_text += m.unit.toUtf8();
    m_text += ' ';
    if (uchar(m.stability) < 0x80) {
        m_text += m.stability;
    } else {
        m_text += QString(QChar::fromLatin1(m.stability)).toUtf8();
    }
    m_text += '\n';
    ++m_held;
    // Paced results (an interval, a slow instrument) read as they come; only a stream is batched.
    if (!m_sinceWritten.isValid() || m_sinceWritten.hasExpired(FlushMs) || m_held >= MaxHeld) {
        flush();
    } else if (!m_flushTimer.isActive()) {
        m_flushTimer.start();
    }
}

void ResultPrinter::flush()
{
    m_flushTimer.stop();
    if (m_held == 0) {
        return;
    }
    std::fwrite(m_text.constData(), 1, size_t(m_text.size()), stdout);
    std::fflush(stdout);
    m_text.resize(0);
    m_held = 0;
    m_sinceWritten.start();
}
