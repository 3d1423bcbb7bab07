#include "resultprinter.h"

#include "instrumentsession.h"

#include <cstdio>

ResultPrinter::ResultPrinter(QObject* parent) : QObject(parent)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(FlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &ResultPrinter::flush);
    m_held.reserve(MaxHeld);
}

ResultPrinter::~ResultPrinter()
{
    flush();
}

QString ResultPrinter::timeText(const QDate& date, const QTime& time)
{
    return date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(Qt::ISODateWithMs);
}

void ResultPrinter::add(const QDate& date, const QTime& time, const Measurement& m)
{
    m_held.append(Held{date, time, m});
    // Paced results (an interval, a slow instrument) read as they come; only a stream is batched.
    if (!m_sinceWritten.isValid() || m_sinceWritten.hasExpired(FlushMs) || m_held.size() >= MaxHeld) {
        flush();
    } else if (!m_flushTimer.isActive()) {
        m_flushTimer.start();
    }
}

void ResultPrinter::flush()
{
    m_flushTimer.stop();
    if (m_held.isEmpty()) {
        return;
    }
    QByteArray text;
    for (const Held& held : qAsConst(m_held)) {
        text += QStringLiteral("%1 %2 %3 %4\n")
                    .arg(timeText(held.date, held.time), InstrumentSession::formatValue(held.m), held.m.unit,
                         QString(QChar::fromLatin1(held.m.stability)))
                    .toUtf8();
    }
    m_held.clear();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    m_sinceWritten.start();
}
