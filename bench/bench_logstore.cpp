// Lines per second that CPelmLog stores from a stream of records arriving queued from another
// thread, as device traffic does, beside the plain way of one autocommit INSERT per line; then how
// long the event loop is held up while a steady stream of 100,000 records a second is stored.
#include "device/devicetypes.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int StoreRecords = 400000;
constexpr int PlainRecords = 20000;
constexpr int PacedMs = 2000;
// Half of what the store takes: a stream it must keep up with, so that what the ticker sees is the
// store's own blocking and not a growing queue of records.
constexpr int PacedBurst = 200; // records per 2 ms: 100,000 a second

// Device-like traffic: commands out, answers in, some answers cut into two chunks, some chunks
// holding two lines. Returns the number of lines the records hold.
struct Traffic
{
    QVector<PelmLogRecord> records;
    QVector<bool> out;
    qint64 lines = 0;
};

Traffic makeTraffic(int count)
{
    Traffic t;
    t.records.reserve(count);
    t.out.reserve(count);
    const QDate date = QDate::currentDate();
    for (int i = 0; i < count; ++i) {
        const QTime time = QTime::fromMSecsSinceStartOfDay((i * 7) % (24 * 3600 * 1000));
        QString message;
        bool out = false;
        switch (i % 5) {
        case 0:
        case 2:
            message = QStringLiteral("SI\r\n");
            out = true;
            break;
        case 1:
            message = QStringLiteral("S S      %1.000 g\r\n").arg(i % 1000);
            break;
        case 3:
            message = QStringLiteral("S S      1");
            break;
        default:
            message = QStringLiteral("2.500 g\r\nST A\r\n");
            break;
        }
        t.lines += message.count(QLatin1Char('\n')) + (message.endsWith(QLatin1Char('\n')) ? 0 : 1);
        t.records.append(PelmLogRecord{QStringLiteral("/dev/pts/3 (9600)"), date, time, message});
        t.out.append(out);
    }
    return t;
}

// Emits records from its own thread, as a device does.
class Producer : public QObject
{
    Q_OBJECT
public:
    const Traffic* traffic = nullptr;
    int next = 0;

    void emitRange(int count)
    {
        for (int end = std::min(next + count, int(traffic->records.size())); next < end; ++next) {
            if (traffic->out.at(next)) {
                emit newOutLog(traffic->records.at(next));
            } else {
                emit newInLog(traffic->records.at(next));
            }
        }
    }

signals:
    void newOutLog(PelmLogRecord r);
    void newInLog(PelmLogRecord r);
};

// The plain way: one autocommit INSERT per line, prepared each time, on a table with only its key.
class PlainLog : public QObject
{
    Q_OBJECT
public:
    PlainLog()
    {
        QSqlQuery query;
        query.exec(QStringLiteral("DROP TABLE LOGS"));
        query.exec(QLatin1String(CPelmLog::CreateStatement));
    }

public slots:
    void onNewOutLog(const PelmLogRecord& r) { store(r, QStringLiteral("OUT"), outLineId); }
    void onNewInLog(const PelmLogRecord& r) { store(r, QStringLiteral("IN"), inLineId); }

signals:
    void newLog();

private:
    void store(const PelmLogRecord& r, const QString& direction, int& lineId)
    {
        const QStringList parts = r.message.split(QLatin1Char('\n'));
        for (int i = 0; i < parts.size(); ++i) {
            const bool last = i == parts.size() - 1;
            if (last && parts.at(i).isEmpty()) {
                break;
            }
            QSqlQuery query;
            query.prepare(QLatin1String(CPelmLog::InsertStatement));
            query.addBindValue(packetId);
            query.addBindValue(lineId);
            query.addBindValue(direction);
            query.addBindValue(r.interface);
            query.addBindValue(r.date.toString(QStringLiteral("yyyy-MM-dd")));
            query.addBindValue(r.time.toString(QStringLiteral("hh:mm:ss.zzz")));
            query.addBindValue(last ? parts.at(i) : parts.at(i) + QLatin1Char('\n'));
            query.exec();
            if (!last) {
                ++lineId;
            }
        }
        ++packetId;
        emit newLog();
    }

    int packetId = 0;
    int inLineId = 0;
    int outLineId = 0;
};

// Streams all records from a producer thread into the store; lines per second.
template <typename Store> double streamRate(Store& store, const Traffic& traffic)
{
    QThread thread;
    Producer producer;
    producer.traffic = &traffic;
    producer.moveToThread(&thread);
    QObject::connect(&producer, SIGNAL(newOutLog(PelmLogRecord)), &store, SLOT(onNewOutLog(PelmLogRecord)));
    QObject::connect(&producer, SIGNAL(newInLog(PelmLogRecord)), &store, SLOT(onNewInLog(PelmLogRecord)));
    int stored = 0;
    QEventLoop loop;
    QObject::connect(&store, &Store::newLog, &loop, [&] {
        if (++stored == traffic.records.size()) {
            loop.quit();
        }
    });
    thread.start();
    QElapsedTimer timer;
    timer.start();
    queueCall(&producer, [&producer] { producer.emitRange(int(producer.traffic->records.size())); });
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    thread.quit();
    thread.wait();
    return traffic.lines / seconds;
}

struct Stalls
{
    double longestCallMs = 0;
    double longestGapMs = 0;
    int stored = 0;
};

// A steady stream of bursts; a 1 ms ticker in this thread records the longest wait between ticks,
// and every store call is timed on its own.
Stalls pacedStalls(CPelmLog& log, const Traffic& traffic)
{
    Stalls s;
    QThread thread;
    Producer producer;
    producer.traffic = &traffic;
    producer.moveToThread(&thread);
    QObject relay;
    QElapsedTimer call;
    QObject::connect(&producer, &Producer::newOutLog, &relay, [&](const PelmLogRecord& r) {
        call.start();
        log.onNewOutLog(r);
        s.longestCallMs = std::max(s.longestCallMs, call.nsecsElapsed() / 1e6);
        ++s.stored;
    });
    QObject::connect(&producer, &Producer::newInLog, &relay, [&](const PelmLogRecord& r) {
        call.start();
        log.onNewInLog(r);
        s.longestCallMs = std::max(s.longestCallMs, call.nsecsElapsed() / 1e6);
        ++s.stored;
    });
    QTimer* pace = nullptr;
    thread.start();
    queueCall(&producer, [&producer, &pace] {
        pace = new QTimer;
        pace->setTimerType(Qt::PreciseTimer);
        QObject::connect(pace, &QTimer::timeout, &producer, [&producer] { producer.emitRange(PacedBurst); });
        pace->start(2);
    });

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        s.longestGapMs = std::max(s.longestGapMs, (now - lastTick) / 1e6);
        lastTick = now;
        if (clock.elapsed() > PacedMs) {
            loop.quit();
        }
    });
    ticker.start(1);
    loop.exec();
    waitForCall(&producer, [&pace] { delete pace; });
    thread.quit();
    thread.wait();
    QCoreApplication::processEvents();
    return s;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    DeviceTypes::registerMetaTypes();
    QTemporaryDir dir;
    if (!dir.isValid() || !AppDatabase::open(dir.filePath(QStringLiteral("myDbQel.db")))) {
        std::fprintf(stderr, "bench: cannot open a database\n");
        return 1;
    }

    const Traffic plainTraffic = makeTraffic(PlainRecords);
    double plain = 0;
    {
        PlainLog store;
        plain = streamRate(store, plainTraffic);
    }
    std::printf("plain store: %.0f lines/s\n", plain);

    const Traffic traffic = makeTraffic(StoreRecords);
    double rate = 0;
    {
        CPelmLog log;
        rate = streamRate(log, traffic);
    }
    std::printf("CPelmLog: %.0f lines/s (%lld lines in %d records)\n", rate, traffic.lines, StoreRecords);

    Stalls stalls;
    {
        CPelmLog log;
        stalls = pacedStalls(log, traffic);
    }
    std::printf(
        "at 100,000 records/s for %d ms: %d records stored, longest store call %.1f ms, longest event-loop "
        "wait %.1f ms\n",
        PacedMs, stalls.stored, stalls.longestCallMs, stalls.longestGapMs);

    std::printf("bench: logstore: %.0f lines/s; baseline %.0f lines/s; ratio %.2f\n", rate, plain,
                plain > 0 ? rate / plain : 0.0);
    return 0;
}

#include "bench_logstore.moc"
