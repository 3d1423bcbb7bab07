#include "device/devicetypes.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "support/testdatabase.h"

#include <QtTest>

#include <memory>

namespace {

// Stands in for a device: the writer is connected to it by name, as producers are.
class Producer : public QObject
{
    Q_OBJECT
signals:
    void newOutLog(PelmLogRecord r);
    void newInLog(PelmLogRecord r);
};

PelmLogRecord record(const QString& message)
{
    return PelmLogRecord{QStringLiteral("pty (9600)"), QDate(2026, 3, 4), QTime(5, 6, 7, 89), message};
}

// "OUT:text" or "IN:text" to the writer's slot of that direction.
void storeAll(CPelmLog& log, const QStringList& records)
{
    for (const QString& r : records) {
        const PelmLogRecord rec = record(r.section(QLatin1Char(':'), 1));
        r.startsWith(QLatin1String("OUT")) ? log.onNewOutLog(rec) : log.onNewInLog(rec);
    }
}

const QString KeyOrder =
    QStringLiteral("SELECT PacketId, LineId, INOUT, Message FROM LOGS ORDER BY PacketId, LineId, INOUT");

} // namespace

class TstCPelmLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { m_log = std::make_unique<CPelmLog>(); }
    void cleanup() { m_log.reset(); }
    void storesLinesAndPackets_data();
    void storesLinesAndPackets();
    void storesRecordFields();
    void writingSwitchedOffDropsRecords();
    void newWriterStartsAnEmptyTable();
    void queuedRecordsFromAnotherThreadKeepTheirOrder();
    void batchIsCommittedWithinTheInterval();

private:
    TestDatabase m_db;
    std::unique_ptr<CPelmLog> m_log;
};

void TstCPelmLog::initTestCase()
{
    QVERIFY(m_db.isValid());
    DeviceTypes::registerMetaTypes();
    QCOMPARE(TestDatabase::rows(QStringLiteral("PRAGMA journal_mode")), QStringList{"wal"});
    QCOMPARE(AppDatabase::defaultPath(),
             QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                 QStringLiteral("/myDbQel.db"));
}

void TstCPelmLog::storesLinesAndPackets_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("several lines in one record, the last unfinished")
        << QStringList{"IN:a\r\nb\r\nc", "IN:d\r\n", "IN:e\r\n"}
        << QStringList{"0|0|IN|a\r\n", "0|1|IN|b\r\n", "0|2|IN|c", "1|2|IN|d\r\n", "2|3|IN|e\r\n"};
    QTest::newRow("bare line feeds") << QStringList{"IN:\n\n"} << QStringList{"0|0|IN|\n", "0|1|IN|\n"};
    QTest::newRow("empty message uses a packet")
        << QStringList{"OUT:", "OUT:SZ\r\n"} << QStringList{"1|0|OUT|SZ\r\n"};
    QTest::newRow("directions interleave on packets, not on lines")
        << QStringList{"OUT:SI\r\n", "IN:S S  1 g\r\n", "OUT:ST\r\n", "IN:ST A", "OUT:SZ\r\n", "IN:\r\n"}
        << QStringList{"0|0|OUT|SI\r\n", "1|0|IN|S S  1 g\r\n", "2|1|OUT|ST\r\n",
                       "3|1|IN|ST A",    "4|2|OUT|SZ\r\n",      "5|1|IN|\r\n"};
}

void TstCPelmLog::storesLinesAndPackets()
{
    QFETCH(QStringList, records);
    QFETCH(QStringList, rows);
    QSignalSpy newLog(m_log.get(), &CPelmLog::newLog);
    storeAll(*m_log, records);
    QCOMPARE(TestDatabase::rows(KeyOrder), rows);
    QCOMPARE(newLog.count(), records.size());
}

void TstCPelmLog::storesRecordFields()
{
    m_log->onNewOutLog(PelmLogRecord{QStringLiteral("192.168.1.7,65534"), QDate(2026, 12, 31),
                                     QTime(23, 59, 58, 7), "AT\r\n"});
    m_log->onNewInLog(PelmLogRecord{QStringLiteral("BROADCAST, 65535"), QDate(2027, 1, 1), QTime(0, 0), "x"});
    QCOMPARE(
        TestDatabase::rows(QStringLiteral("SELECT INOUT, Interface, Date, Time FROM LOGS ORDER BY PacketId")),
        (QStringList{"OUT|192.168.1.7,65534|2026-12-31|23:59:58.007",
                     "IN|BROADCAST, 65535|2027-01-01|00:00:00.000"}));
}

void TstCPelmLog::writingSwitchedOffDropsRecords()
{
    QSignalSpy newLog(m_log.get(), &CPelmLog::newLog);
    m_log->setEnabled(false);
    storeAll(*m_log, {"OUT:S0000 line of an image\r\n", "IN:ack\r\n", "OUT:"});
    QCOMPARE(newLog.count(), 0);
    m_log->setEnabled(true);
    storeAll(*m_log, {"OUT:SI\r\n"});
    QCOMPARE(TestDatabase::rows(KeyOrder), QStringList{"0|0|OUT|SI\r\n"});
}

void TstCPelmLog::newWriterStartsAnEmptyTable()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
    m_log = std::make_unique<CPelmLog>();
    QCOMPARE(CPelmLog::instance(), m_log.get());
    storeAll(*m_log, {"IN:x\r\n"});
    QCOMPARE(TestDatabase::rows(KeyOrder), QStringList{"0|0|IN|x\r\n"});
}

void TstCPelmLog::queuedRecordsFromAnotherThreadKeepTheirOrder()
{
    Producer producer;
    QThread thread;
    producer.moveToThread(&thread);
    QVERIFY(
        connect(&producer, SIGNAL(newOutLog(PelmLogRecord)), m_log.get(), SLOT(onNewOutLog(PelmLogRecord))));
    QVERIFY(
        connect(&producer, SIGNAL(newInLog(PelmLogRecord)), m_log.get(), SLOT(onNewInLog(PelmLogRecord))));
    QSignalSpy newLog(m_log.get(), &CPelmLog::newLog);
    constexpr int Exchanges = 500;
    thread.start();
    QMetaObject::invokeMethod(&producer, [&producer] {
        for (int i = 0; i < Exchanges; ++i) {
            emit producer.newOutLog(record(QStringLiteral("SI\r\n")));
            emit producer.newInLog(record(QStringLiteral("S S %1").arg(i)));
            emit producer.newInLog(record(QStringLiteral(" g\r\n")));
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(newLog.count(), 3 * Exchanges, 10000);
    thread.quit();
    thread.wait();

    QStringList expected;
    for (int i = 0; i < Exchanges; ++i) {
        expected << QStringLiteral("%1|%2|OUT|SI\r\n").arg(3 * i).arg(i)
                 << QStringLiteral("%1|%2|IN|S S %2").arg(3 * i + 1).arg(i)
                 << QStringLiteral("%1|%2|IN| g\r\n").arg(3 * i + 2).arg(i);
    }
    QCOMPARE(TestDatabase::rows(KeyOrder), expected);
}

void TstCPelmLog::batchIsCommittedWithinTheInterval()
{
    // A crash loses at most the open batch: other connections see the rows once it is committed.
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
    QTRY_COMPARE_WITH_TIMEOUT(m_db.committedRows(KeyOrder).size(), 2, 5 * CPelmLog::CommitIntervalMs);
}

QTEST_GUILESS_MAIN(TstCPelmLog)
#include "tst_cpelmlog.moc"
