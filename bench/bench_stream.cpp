// Results streamed by an instrument on a pseudo-terminal into the whole program: the device, the
// traffic log, the capture and the window with the data feed in sight. It measures the results stored
// per second, what was lost, the longest stall of the user-interface thread and the processor time.
#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"
#include "log/walcheckpointer.h"
#include "support/ptypair.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int StreamMs = 20000;
constexpr int TickMs = 2;
// After the stream: results still on their way get this long to be stored.
constexpr int DrainMs = 10000;

// The instrument: answers the identity request, then sends numbered result lines at the rate asked,
// as many per tick as are due. A line that the pseudo-terminal cannot take yet holds the writer
// back, as a real line would.
class StreamingInstrument : public QObject
{
public:
    explicit StreamingInstrument(PtyPair* pty) : m_pty(pty)
    {
        connect(pty, &PtyPair::dataReceived, this, [this] {
            const QByteArray received = m_pty->received();
            if (received.indexOf("SW9\r\n", m_answered) >= 0) {
                m_answered = received.size();
                m_pty->write("PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n");
            }
        });
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &StreamingInstrument::tick);
    }

    void start(int perSecond)
    {
        m_perSecond = perSecond;
        m_first += m_sent;
        m_sent = 0;
        m_clock.start();
        m_timer->start(TickMs);
    }
    void stop() { m_timer->stop(); }
    qint64 sent() const { return m_sent; }

private:
    void tick()
    {
        const qint64 elapsed = std::min<qint64>(m_clock.elapsed(), StreamMs);
        const qint64 due = elapsed * m_perSecond / 1000;
        if (elapsed >= StreamMs) {
            m_timer->stop();
        }
        QByteArray lines;
        for (; m_sent < due; ++m_sent) {
            lines += QByteArray::number(m_first + m_sent + 1).rightJustified(10, ' ') + " g  \r\n";
        }
        if (!lines.isEmpty() && !m_pty->write(lines)) {
            std::fprintf(stderr, "bench: the program took no line for 2 s\n");
        }
    }

    PtyPair* m_pty;
    // A child, so that it moves to the instrument's thread with it.
    QTimer* m_timer = new QTimer(this);
    QElapsedTimer m_clock;
    int m_perSecond = 0;
    // Lines sent in this run, and in the runs before it: the numbers go on from run to run.
    qint64 m_sent = 0;
    qint64 m_first = 0;
    qint64 m_answered = 0;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint64 scalar(const QString& statement)
{
    QSqlQuery query;
    return query.exec(statement) && query.next() ? query.value(0).toLongLong() : -1;
}

struct Figures
{
    double storedPerSecond = 0;
    qint64 sent = 0;
    qint64 stored = 0;
    // Results stored more than once or out of order.
    qint64 disordered = 0;
    qint64 loggedBytes = 0;
    qint64 longestStallMs = 0;
    double cpuPercent = 0;
};

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

Figures stream(int perSecond, StreamingInstrument* instrument)
{
    DataFeedTableModel* feed = CaptureCore::instance()->model();
    feed->clear();
    QSqlQuery().exec(QStringLiteral("DELETE FROM LOGS"));
    waitMs(500);

    // The user-interface thread's pulse: the longest gap between two ticks of a 16 ms timer.
    QElapsedTimer pulse;
    qint64 longest = 0;
    QTimer frame;
    frame.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frame, &QTimer::timeout, [&] { longest = std::max(longest, pulse.restart()); });

    Figures f;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    pulse.start();
    frame.start(16);
    QMetaObject::invokeMethod(instrument, [instrument, perSecond] { instrument->start(perSecond); });
    waitMs(StreamMs);
    // Stored until the last result sent is in, or nothing more comes.
    qint64 last = -1;
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < DrainMs) {
        waitMs(250);
        const qint64 rows = feed->lastStoredCount();
        qint64 sent = 0;
        QMetaObject::invokeMethod(
            instrument, [instrument] { return instrument->sent(); }, Qt::BlockingQueuedConnection, &sent);
        if (rows >= sent || rows == last) {
            break;
        }
        last = rows;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    frame.stop();
    f.cpuPercent = 100.0 * (cpuSeconds() - cpuBefore) / seconds;
    f.longestStallMs = longest;
    QMetaObject::invokeMethod(
        instrument, [instrument] { return instrument->sent(); }, Qt::BlockingQueuedConnection, &f.sent);
    f.stored = scalar(QStringLiteral("SELECT COUNT(*) FROM DATAFEED"));
    // Each result's number is its place in the stream: stored in COUNT order, they go up by one.
    f.disordered =
        scalar(QStringLiteral("SELECT COUNT(*) FROM DATAFEED a JOIN DATAFEED b ON b.COUNT = a.COUNT + 1 "
                              "WHERE CAST(b.VAL AS INTEGER) != CAST(a.VAL AS INTEGER) + 1"));
    f.loggedBytes = scalar(QStringLiteral("SELECT SUM(LENGTH(Message)) FROM LOGS WHERE INOUT = 'IN'"));
    f.storedPerSecond = f.stored / seconds;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    DeviceTypes::registerMetaTypes();
    if (!dir.isValid() || !AppDatabase::open(dir.filePath(QStringLiteral("stream.db")))) {
        std::fprintf(stderr, "bench: no database\n");
        return 1;
    }
    // As start-up has it: checkpoints in a thread of their own.
    WalCheckpointer checkpointer;
    CPelmLog log;
    CBalanceController* balance = CBalanceController::instance();
    CaptureCore capture;
    capture.follow(balance);
    MainWindow window;
    window.resize(1600, 1000);
    window.show();
    // The Data Capture page, its table in sight, as a user watching the results has it.
    if (auto* frame = window.findChild<QWidget*>(QStringLiteral("dataCaptureFrame"))) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(frame, &press);
        QApplication::sendEvent(frame, &release);
    }
    if (auto* table = window.findChild<QAbstractButton*>(QStringLiteral("feedButton"))) {
        table->click();
    }

    QThread instrumentThread;
    PtyPair pty;
    StreamingInstrument instrument(&pty);
    pty.moveToThread(&instrumentThread);
    instrument.moveToThread(&instrumentThread);
    instrumentThread.start();

    // As --connect makes it: in the user-interface thread, followed by the log, the current device.
    auto* device = new CDevice;
    device->setRS232(pty.slavePath(), QStringLiteral("bench"), 921600);
    log.follow(device);
    CDeviceController::instance()->setCurrentDevice(device);
    if (!device->connectDevice(false)) {
        std::fprintf(stderr, "bench: cannot open %s\n", qPrintable(pty.slavePath()));
        return 1;
    }
    waitMs(1000);

    std::printf("streaming %d s at each rate, window shown, feed in sight\n", StreamMs / 1000);
    const Figures fast = stream(5000, &instrument);
    std::printf("5000/s offered: %lld sent, %lld stored (%.0f/s), %lld out of order, %lld bytes logged, "
                "longest stall %lld ms, %.0f %% of a core\n",
                fast.sent, fast.stored, fast.storedPerSecond, fast.disordered, fast.loggedBytes,
                fast.longestStallMs, fast.cpuPercent);
    const Figures slow = stream(1000, &instrument);
    std::printf("1000/s offered: %lld sent, %lld stored (%.0f/s), %lld out of order, %lld bytes logged, "
                "longest stall %lld ms, %.0f %% of a core\n",
                slow.sent, slow.stored, slow.storedPerSecond, slow.disordered, slow.loggedBytes,
                slow.longestStallMs, slow.cpuPercent);

    device->disconnectDevice();
    QMetaObject::invokeMethod(
        &instrument,
        [&] {
            instrument.moveToThread(app.thread());
            pty.moveToThread(app.thread());
        },
        Qt::BlockingQueuedConnection);
    instrumentThread.quit();
    instrumentThread.wait();
    CDeviceController::instance()->setCurrentDevice(nullptr);
    delete device;

    std::printf("bench: stream-5000: %.0f results/s; baseline 5000 results/s; ratio %.2f (lost %lld, longest "
                "UI stall %lld ms)\n",
                fast.storedPerSecond, fast.storedPerSecond / 5000.0, fast.sent - fast.stored,
                fast.longestStallMs);
    std::printf("bench: stream-cpu-1000: %.1f %% of a core; baseline 15 %% of a core; ratio %.2f\n",
                slow.cpuPercent, 15.0 / std::max(slow.cpuPercent, 0.1));
    return 0;
}
