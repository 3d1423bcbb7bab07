#pragma once

#include "device/devicetypes.h"

#include <QByteArray>
#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QTime>
#include <QTimer>

// The lines of `read` on stdout: time, value, unit, stability. Each result is formatted as it comes,
// while the next answer is on its way; results that come thousands a second are written together, one
// write(2) for many, at most FlushMs after the first of them. A result after a quiet spell is written
// at once. flush() (and the destructor) writes what is held, so a stop loses nothing.
class ResultPrinter : public QObject
{
    Q_OBJECT
public:
    static constexpr int FlushMs = 25;
    // More held results than this are written at once, whatever the time.
    static constexpr int MaxHeld = 1000;

    explicit ResultPrinter(QObject* parent = nullptr);
    ~ResultPrinter() override;

    void add(const QDate& date, const QTime& time, const Measurement& m);
    void flush();

    // "2026-12-07T14:17:40.123": the first field of a line.
    static QString timeText(const QDate& date, const QTime& time);

private:
    QByteArray m_text;
    // "yyyy-MM-ddT" of the last result's date: it changes once a day.
    QDate m_date;
    QByteArray m_dateText;
    int m_held = 0;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceWritten;
};
