#ifndef SIMWIRE_H
#define SIMWIRE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

// A serial line between the computer and the instrument: every byte takes its transmission time (ten bits
// at the line's current speed) in each direction, and arrives in slices as a UART's receive FIFO hands
// them on. A pseudo-terminal alone delivers at once, which no real line does.
class SimWire : public QObject
{
    Q_OBJECT

public:
    static constexpr int SliceBytes = 16;

    // baud gives the line's speed at the moment bytes enter the line; 0 or less passes them at once.
    explicit SimWire(std::function<int()> baud, QObject* parent = nullptr);

public slots:
    void fromHost(const QByteArray& bytes);
    void fromInstrument(const QByteArray& bytes);

signals:
    void toInstrument(const QByteArray& bytes);
    void toHost(const QByteArray& bytes);

private:
    struct Direction
    {
        QTimer timer;
        std::deque<std::pair<qint64, QByteArray>> slices;
        qint64 busyUntil = 0;
    };

    void enter(Direction& direction, const QByteArray& bytes, void (SimWire::*signal)(const QByteArray&));
    void deliver(Direction& direction, void (SimWire::*signal)(const QByteArray&));
    void arm(Direction& direction);

    std::function<int()> m_baud;
    QElapsedTimer m_clock;
    Direction m_up;
    Direction m_down;
};

#endif // SIMWIRE_H
