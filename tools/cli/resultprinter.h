#pragma once

#include "device/devicetypes.h"

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QTime>
#include <QTimer>
#include <QVector>

// The lines of `read` on stdout: time, value, unit, stability. Results that come thousands a second are
// held and written together, one write(2) for many, at most FlushMs after the first of them, and they are
// formatted then too, mostly while the next answer is on its way; a result after a quiet spell is
// written at once. flush() (and the destructor) writes what is held, so a stop loses nothing.
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
    struct Held
    {
        QDate date;
        QTime time;
        Measurement m;
    };
    QVector<Held> m_held;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceWritten;
};
