#pragma once

#include "log/centralstate.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QSqlError>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <vector>

class QSqlDatabase;

// The forwarder's worker, in the forwarder's thread with connections of its own: reads the DATAFEED rows
// after the last one the server took, sends them in batches, each one statement (one transaction) that
// skips rows the server holds already, and only then moves the mark. A row sent again after a crash
// between the two is therefore stored once. The mark is kept per server in CENTRAL_STATE, beside the rows,
// with the feed's generation: a clear starts the COUNTs again, and the mark with them.
// When asked, the traffic log (LOGS) follows the results the same way, into a server table of its own
// with a mark of its own (CENTRAL_TRAFFIC): its rows are keyed by the log writer's run and their
// PacketId and LineId, which go on rising after the view clears the log. A new run drops LOGS, so the
// log writer first keeps the rows not yet sent in LOGS_UNSENT, which goes before LOGS.
// A refused traffic table is said on the status line, but does not hold the results back.
class CentralSender : public QObject, public CentralState
{
    Q_OBJECT
public:
    static constexpr int BatchRows = 1000;
    // Between looks for new rows while nothing calls; a captured result calls at once.
    static constexpr int PollIntervalMs = 1000;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LongestRetryMs = 10000;
    // A refused table is looked at again this seldom: someone has to change the server first.
    static constexpr int RefusedRetryMs = 60000;

    static const char* const ServerTable;
    static const char* const CreateServerTable;
    static const char* const CreateStateTable;
    // A row put back with a COUNT at or below the marks (deleted before it went): the marks move to
    // just before it, so that it goes too; the rows after it are sent again and stored once.
    static const char* const RewindStatement;

    static const char* const TrafficTable;
    static const char* const CreateTrafficTable;
    static const char* const CreateTrafficStateTable;
    static const char* const CreateUnsentTable;
    // The log writer's run, one row: a new run starts the traffic's PacketIds again.
    static const char* const CreateRunTable;

    // Called by the log writer in its transaction, before it drops LOGS for a new run: keeps the rows a
    // server that forwards the traffic has not taken yet, and counts the run on.
    static void startLogRun(const QSqlDatabase& db);

    CentralSender(const QString& localFile, const QString& uri, const QString& station, bool traffic = false);
    ~CentralSender() override;

    // Forwards what waits, in batches, and plans the next pass.
    void pass();
    // New rows: a pass at once, unless the server refused or was tried less than FirstRetryMs ago; calls
    // that come together make one pass.
    void nudge();
    // Forwards until up to date, the server fails or the time is up; the state then.
    State drain(int ms);
    // Closes the connections, in the thread that opened them.
    void close();

signals:
    void statusChanged(int state, qint64 waiting, QDateTime unreachableSince, QString reason);

private:
    bool openLocal();
    bool openServer();
    // A server table as this program writes it, created when missing; false when refused.
    bool checkServerTable(const char* table, const char* create, const QStringList& columns, bool traffic);
    // Sends the rows (each of columns values) in one statement that skips rows the server holds.
    bool insertRows(const QString& statement, const std::vector<QVariantList>& rows, int columns,
                    bool traffic);
    // The feed's generation, 0 before the first clear.
    qint64 generation();
    // The last COUNT the server took of this generation.
    qint64 readMark(qint64 generation);
    bool writeMark(qint64 generation, qint64 from, qint64 count);
    qint64 waitingAfter(qint64 mark);
    // One batch after mark, of the generation (a new one starts the mark again): rows sent (0 for
    // none), -1 on failure.
    int sendBatch(qint64& generation, qint64& mark);
    // The traffic's mark of this run, made when missing, so that a new run keeps what has not gone.
    void claimTraffic();
    // The traffic after the mark, LOGS_UNSENT first, in batches as sendBatch: rows sent, -1 on failure.
    int sendTrafficBatch();
    int sendUnsentTraffic();
    // The traffic's mark of run ((-1, -1) before its first row); false when it has none.
    bool trafficMark(qint64 run, qint64& packet, qint64& line);
    qint64 trafficWaiting();
    // Whether the traffic goes in this pass: asked, and not refused a short while ago.
    bool trafficDue();
    // A failure of the server: unreachable (retried) or refused (the traffic's alone when traffic).
    void serverFailed(const QSqlError& error, const QString& what, bool traffic = false);
    void report(State state, qint64 waiting);
    void schedule(int ms);

    QString m_localFile;
    QString m_uri;
    QString m_station;
    QString m_localName;
    QString m_serverName;
    bool m_tableChecked = false;
    bool m_traffic = false;
    bool m_trafficTableChecked = false;
    // Why the server refused the traffic; empty while it takes it.
    QString m_trafficReason;
    QElapsedTimer m_trafficRefused;
    // The run whose mark is made (-1 for none yet).
    qint64 m_claimedRun = -1;
    // The results' state, which plans the passes; the traffic's refusal is added when reported.
    State m_state = Behind;
    QString m_reason;
    QDateTime m_unreachableSince;
    int m_retryMs = FirstRetryMs;
    QElapsedTimer m_lastTry;
    // A child, so that it moves into the forwarder's thread with the sender.
    QTimer m_timer{this};
};
