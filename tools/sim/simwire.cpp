#include "simwire.h"

#include <thread>

namespace {
constexpr qint64 BitsPerByte = 10;
constexpr qint64 NsPerMs = 1000000;
// A timer fires on whole milliseconds; the rest of the way is slept, which is exact to tens of microseconds.
constexpr qint64 SleepAtMostNs = 2 * NsPerMs;
} // namespace

SimWire::SimWire(std::function<int()> baud, QObject* parent) : QObject(parent), m_baud(std::move(baud))
{
    m_clock.start();
    for (Direction* direction : {&m_up, &m_down}) {
        direction->timer.setSingleShot(true);
        direction->timer.setTimerType(Qt::PreciseTimer);
    }
    connect(&m_up.timer, &QTimer::timeout, this, [this] { deliver(m_up, &SimWire::toInstrument); });
    connect(&m_down.timer, &QTimer::timeout, this, [this] { deliver(m_down, &SimWire::toHost); });
}

void SimWire::fromHost(const QByteArray& bytes)
{
    enter(m_up, bytes, &SimWire::toInstrument);
}

void SimWire::fromInstrument(const QByteArray& bytes)
{
    enter(m_down, bytes, &SimWire::toHost);
}

void SimWire::enter(Direction& direction, const QByteArray& bytes, void (SimWire::*signal)(const QByteArray&))
{
    if (bytes.isEmpty()) {
        return;
    }
    const int baud = m_baud();
    // An untimed line passes the bytes on at once, without a round through the event loop.
    if (baud <= 0 && direction.slices.empty()) {
        emit(this->*signal)(bytes);
        return;
    }
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 byteNs = baud > 0 ? BitsPerByte * 1000000000 / baud : 0;
    // A byte starts when the line is free and the previous one has gone.
    qint64 sent = qMax(now, direction.busyUntil);
    for (int start = 0; start < bytes.size(); start += SliceBytes) {
        const QByteArray slice = bytes.mid(start, SliceBytes);
        sent += byteNs * slice.size();
        direction.slices.emplace_back(sent, slice);
    }
    direction.busyUntil = sent;
    if (!direction.timer.isActive()) {
        arm(direction);
    }
}

void SimWire::arm(Direction& direction)
{
    if (direction.slices.empty()) {
        return;
    }
    const qint64 wait = direction.slices.front().first - m_clock.nsecsElapsed();
    direction.timer.start(int(qMax<qint64>(0, (wait - SleepAtMostNs / 2) / NsPerMs)));
}

void SimWire::deliver(Direction& direction, void (SimWire::*signal)(const QByteArray&))
{
    while (!direction.slices.empty()) {
        const qint64 wait = direction.slices.front().first - m_clock.nsecsElapsed();
        if (wait > SleepAtMostNs) {
            break;
        }
        if (wait > 0) {
            std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
        }
        const QByteArray slice = std::move(direction.slices.front().second);
        direction.slices.pop_front();
        emit(this->*signal)(slice);
    }
    arm(direction);
}
