#include "log/cpelmlog.h"

#include "log/centralsender.h"
#include "log/logclock.h"
#include "platform/logcategories.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QTime>
#include <QVariant>

namespace {

CPelmLog* g_instance = nullptr;

} // namespace

const char* const CPelmLog::CreateStatement =
    "CREATE TABLE IF NOT EXISTS LOGS(\nPacketId INTEGER,\nLineId INTEGER,\nINOUT TEXT,\nInterface TEXT,\n"
    "Date TEXT,\nTime TEXT,\nMessage TEXT,\nPRIMARY KEY (PacketId, LineId, INOUT));";

const char* const CPelmLog::InsertStatement =
    "INSERT INTO LOGS (PacketId, LineId, INOUT, Interface, Date, Time, Message) VALUES (?,?,?,?,?,?,?)";

CPelmLog::CPelmLog(QObject* parent) : QObject(parent), m_db(QSqlDatabase::database()), query(m_db)
{
    g_instance = this;
    // A new run, in one transaction: a kill in between must not let this run's rows take the keys of
    // the last one's, which a forwarded log keeps on the server.
    const bool inTransaction = m_db.transaction();
    CentralSender::startLogRun(m_db);
    query.exec(QStringLiteral("DROP TABLE LOGS"));
    query.exec(QLatin1String(CreateStatement));
    query.exec(lineIndexStatement(QStringLiteral("LOGS")));
    if (inTransaction) {
        m_db.commit();
    }
    query.prepare(QLatin1String(InsertStatement));

    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(CommitIntervalMs);
    connect(&m_commitTimer, &QTimer::timeout, this, &CPelmLog::commitPending);
    // Start-up closes the database after the event loop ends, before this object is destroyed.
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &CPelmLog::commitPending);
    }
}

CPelmLog::~CPelmLog()
{
    commitPending();
    if (g_instance == this) {
        g_instance = nullptr;
    }
}

CPelmLog* CPelmLog::instance()
{
    return g_instance;
}

QString CPelmLog::lineIndexStatement(const QString& table)
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS %1_lines ON %1 (INOUT, LineId, PacketId)").arg(table);
}

void CPelmLog::onNewOutLog(const PelmLogRecord& r)
{
    store(r, QStringLiteral("OUT"), outLineId);
}

void CPelmLog::onNewInLog(const PelmLogRecord& r)
{
    store(r, QStringLiteral("IN"), inLineId);
}

void CPelmLog::commitPending()
{
    m_commitTimer.stop();
    if (!m_batchOpen) {
        return;
    }
    m_batchOpen = false;
    m_batchRows = 0;
    // Fails harmlessly when another writer has committed the batch with its own rows.
    m_db.commit();
}

void CPelmLog::openBatch()
{
    if (m_batchOpen) {
        return;
    }
    m_batchOpen = m_db.transaction();
    if (m_batchOpen) {
        m_commitTimer.start();
    }
}

const QString& CPelmLog::dateText(const QDate& date)
{
    if (date != m_lastDate || m_lastDateText.isEmpty()) {
        m_lastDate = date;
        m_lastDateText = LogClock::dateText(date);
    }
    return m_lastDateText;
}

bool CPelmLog::insertLine(qint32 lineId, const QString& text)
{
    query.bindValue(1, lineId);
    query.bindValue(6, text);
    ++m_batchRows;
    return query.exec();
}

void CPelmLog::noteInsert(bool ok, bool out)
{
    // Without a usable database every line fails: say so once, not once per line.
    if (ok) {
        m_insertFailureReported = false;
    } else if (out && !m_insertFailureReported) {
        m_insertFailureReported = true;
        qCDebug(lcLog) << "ERROR WITH QUERY EXEC" << query.lastError().text();
    }
}

void CPelmLog::store(const PelmLogRecord& r, const QString& direction, qint32& lineId)
{
    if (!m_enabled.load()) {
        return;
    }
    const bool out = direction == QLatin1String("OUT");
    const QString& message = r.message;
    if (!message.isEmpty()) {
        openBatch();
        query.bindValue(0, packetId);
        query.bindValue(2, direction);
        query.bindValue(3, r.interface);
        query.bindValue(4, dateText(r.date));
        query.bindValue(5, LogClock::timeText(r.time));

        int from = 0;
        for (int lf = message.indexOf(QLatin1Char('\n')); lf >= 0;
             from = lf + 1, lf = message.indexOf(QLatin1Char('\n'), from)) {
            noteInsert(insertLine(lineId, message.mid(from, lf + 1 - from)), out);
            ++lineId;
        }
        // The rest of an unfinished line keeps its LineId, which the next record continues.
        if (from < message.size()) {
            noteInsert(insertLine(lineId, message.mid(from)), out);
        }
        if (m_batchRows >= MaxBatchRows) {
            commitPending();
        }
    }
    ++packetId;
    emit newLog();
}
