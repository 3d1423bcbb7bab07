#include "device/devicetypes.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
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
        const int colon = r.indexOf(QLatin1Char(':'));
        const QString message = r.mid(colon + 1);
        if (r.startsWith(QLatin1String("OUT"))) {
            log.onNewOutLog(record(message));
        } else {
            log.onNewInLog(record(message));
        }
    }
}

// Every row as "PacketId|LineId|INOUT|Message", in key order.
QStringList storedRows(const QSqlDatabase& db = QSqlDatabase::database())
{
    QStringList rows;
    QSqlQuery query(db);
    query.exec(
        QStringLiteral("SELECT PacketId, LineId, INOUT, Message FROM LOGS ORDER BY PacketId, LineId, INOUT"));
    while (query.next()) {
        rows << QStringLiteral("%1|%2|%3|%4")
                    .arg(query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                         query.value(3).toString());
    }
    return rows;
}

} // namespace

class TstCPelmLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void databaseOpensInWalMode();
    void storesLinesAndPackets_data();
    void storesLinesAndPackets();
    void storesRecordFields();
    void writingSwitchedOffDropsRecords();
    void rowsReassembleTheTraffic();
    void newWriterStartsAnEmptyTable();
    void queuedRecordsFromAnotherThreadKeepTheirOrder();
    void batchReachesOtherConnectionsWithinTheCommitInterval();

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<CPelmLog> m_log;
};

void TstCPelmLog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("myDbQel.db"));
    QVERIFY(AppDatabase::open(m_path));
}

void TstCPelmLog::init()
{
    m_log.reset(new CPelmLog);
}

void TstCPelmLog::cleanup()
{
    m_log.reset();
}

void TstCPelmLog::databaseOpensInWalMode()
{
    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("wal"));
    QCOMPARE(QSqlDatabase::database().databaseName(), m_path);

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QCOMPARE(AppDatabase::defaultPath(), folder + QStringLiteral("/myDbQel.db"));
    QCOMPARE(CPelmLog::instance(), m_log.get());
}

void TstCPelmLog::storesLinesAndPackets_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("one command") << QStringList{"OUT:SI\r\n"} << QStringList{"0|0|OUT|SI\r\n"};
    QTest::newRow("line split over two records") << QStringList{"IN:S S    1", "IN:00.00 g\r\n"}
                                                 << QStringList{"0|0|IN|S S    1", "1|0|IN|00.00 g\r\n"};
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

    QCOMPARE(storedRows(), rows);
    QCOMPARE(newLog.count(), records.size());
}

void TstCPelmLog::storesRecordFields()
{
    m_log->onNewOutLog(PelmLogRecord{QStringLiteral("192.168.1.7,65534"), QDate(2026, 12, 31),
                                     QTime(23, 59, 58, 7), "AT\r\n"});
    m_log->onNewInLog(PelmLogRecord{QStringLiteral("BROADCAST, 65535"), QDate(2027, 1, 1), QTime(0, 0), "x"});

    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("SELECT INOUT, Interface, Date, Time FROM LOGS ORDER BY PacketId")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("OUT"));
    QCOMPARE(query.value(1).toString(), QStringLiteral("192.168.1.7,65534"));
    QCOMPARE(query.value(2).toString(), QStringLiteral("2026-12-31"));
    QCOMPARE(query.value(3).toString(), QStringLiteral("23:59:58.007"));
    QVERIFY(query.next());
    QCOMPARE(query.value(1).toString(), QStringLiteral("BROADCAST, 65535"));
    QCOMPARE(query.value(2).toString(), QStringLiteral("2027-01-01"));
    QCOMPARE(query.value(3).toString(), QStringLiteral("00:00:00.000"));
}

void TstCPelmLog::writingSwitchedOffDropsRecords()
{
    QSignalSpy newLog(m_log.get(), &CPelmLog::newLog);
    m_log->setEnabled(false);
    storeAll(*m_log, {"OUT:S0000 line of an image\r\n", "IN:ack\r\n", "OUT:"});
    QVERIFY(storedRows().isEmpty());
    QCOMPARE(newLog.count(), 0);

    m_log->setEnabled(true);
    storeAll(*m_log, {"OUT:SI\r\n"});
    QCOMPARE(storedRows(), QStringList{"0|0|OUT|SI\r\n"});
}

void TstCPelmLog::rowsReassembleTheTraffic()
{
    // Answers with tabs and carriage returns, cut into chunks at every possible place.
    const QString in = QStringLiteral("C1\t12.5\t3.1\r\nS S      1.000 kg\r\n\r\nE\r\nST A\r\n");
    const QString out = QStringLiteral("SI\r\nST\r\nSZ\r\n");
    QString sentIn;
    QString sentOut;
    for (int cut = 0; cut <= in.size(); cut += 3) {
        m_log->onNewInLog(record(in.left(cut)));
        m_log->onNewOutLog(record(out));
        m_log->onNewInLog(record(in.mid(cut)));
        sentIn += in;
        sentOut += out;
    }

    for (const QString& direction : {QStringLiteral("IN"), QStringLiteral("OUT")}) {
        QSqlQuery query;
        query.prepare(
            QStringLiteral("SELECT LineId, Message FROM LOGS WHERE INOUT = ? ORDER BY PacketId, LineId"));
        query.addBindValue(direction);
        QVERIFY(query.exec());
        QString all;
        QMap<int, QString> lines;
        while (query.next()) {
            all += query.value(1).toString();
            lines[query.value(0).toInt()] += query.value(1).toString();
        }
        QCOMPARE(all, direction == QLatin1String("IN") ? sentIn : sentOut);
        // Every line, whatever its chunks, is one whole line of the traffic.
        const QStringList expected = all.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), expected.size());
        int i = 0;
        for (const QString& line : qAsConst(lines)) {
            QCOMPARE(line, expected.at(i++) + QLatin1Char('\n'));
        }
    }
}

void TstCPelmLog::newWriterStartsAnEmptyTable()
{
    storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
    QCOMPARE(storedRows().size(), 2);

    m_log.reset(new CPelmLog);
    QVERIFY(storedRows().isEmpty());
    storeAll(*m_log, {"IN:x\r\n"});
    QCOMPARE(storedRows(), QStringList{"0|0|IN|x\r\n"});
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

    const QStringList rows = storedRows();
    QCOMPARE(rows.size(), 3 * Exchanges);
    for (int i = 0; i < Exchanges; i += 97) {
        QCOMPARE(rows.at(3 * i), QStringLiteral("%1|%2|OUT|SI\r\n").arg(3 * i).arg(i));
        QCOMPARE(rows.at(3 * i + 1), QStringLiteral("%1|%2|IN|S S %2").arg(3 * i + 1).arg(i));
        QCOMPARE(rows.at(3 * i + 2), QStringLiteral("%1|%2|IN| g\r\n").arg(3 * i + 2).arg(i));
    }
}

void TstCPelmLog::batchReachesOtherConnectionsWithinTheCommitInterval()
{
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
    other.setDatabaseName(m_path);
    QVERIFY(other.open());
    {
        // A crash loses at most the rows of the open batch, which is committed within the interval.
        storeAll(*m_log, {"OUT:SI\r\n", "IN:S S 1 g\r\n"});
        QTRY_COMPARE_WITH_TIMEOUT(storedRows(other).size(), 2, 5 * CPelmLog::CommitIntervalMs);
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
}

QTEST_GUILESS_MAIN(TstCPelmLog)
#include "tst_cpelmlog.moc"
