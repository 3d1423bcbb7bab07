#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QSqlError>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <vector>

// The forwarder's worker, in the forwarder's thread with connections of its own: reads the DATAFEED rows
// after the last one the server took, sends them in batches, each one statement (one transaction) that
// skips rows the server holds already, and only then moves the mark. A row sent again after a crash
// between the two is therefore stored once. The mark is kept per server in CENTRAL_STATE, beside the rows,
// with the feed's generation: a clear starts the COUNTs again, and the mark with them.
class CentralSender : public QObject
{
    Q_OBJECT
public:
    enum State
    {
        UpToDate,
        // Reachable, rows on their way.
        Behind,
        Unreachable,
        Refused
    };

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

    CentralSender(const QString& localFile, const QString& uri, const QString& station);
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
    // The server's table as this program writes it, created when missing; false when refused.
    bool checkServerTable();
    // The feed's generation, 0 before the first clear.
    qint64 generation();
    // The last COUNT the server took of this generation.
    qint64 readMark(qint64 generation);
    bool writeMark(qint64 generation, qint64 from, qint64 count);
    qint64 waitingAfter(qint64 mark);
    // One batch after mark, of the generation (a new one starts the mark again): rows sent (0 for
    // none), -1 on failure.
    int sendBatch(qint64& generation, qint64& mark);
    // A failure of the server: unreachable (retried) or refused.
    void serverFailed(const QSqlError& error, const QString& what);
    void report(State state, qint64 waiting);
    void schedule(int ms);

    QString m_localFile;
    QString m_uri;
    QString m_station;
    QString m_localName;
    QString m_serverName;
    bool m_tableChecked = false;
    State m_state = Behind;
    QString m_reason;
    QDateTime m_unreachableSince;
    int m_retryMs = FirstRetryMs;
    QElapsedTimer m_lastTry;
    // A child, so that it moves into the forwarder's thread with the sender.
    QTimer m_timer{this};
};
