#pragma once

#include "log/centralstate.h"

#include <QObject>
#include <QString>
#include <QThread>

class CentralSender;

// Forwards the captured results to a central PostgreSQL database, after they are stored in the local
// one: the local database stays the first place a result is written, and the central one follows it in
// order, in batches, across server restarts, network loss and restarts of the program. The work runs in
// a thread of its own (CentralSender); this side says how far it is.
class CentralForwarder : public QObject, public CentralState
{
    Q_OBJECT
public:
    // Settings store keys: the server's libpq URI, this computer's station id, and whether the traffic
    // log (LOGS) goes too.
    static const char* const UriKey;
    static const char* const StationKey;
    static const char* const TrafficKey;

    // localFile: the SQLite database whose DATAFEED is forwarded (the default connection's when empty).
    // An empty uri forwards nothing until setUri() gives one.
    CentralForwarder(const QString& uri, const QString& station, const QString& localFile = QString(),
                     QObject* parent = nullptr);
    ~CentralForwarder() override;

    // The program's forwarder: the last one created, null when none exists.
    static CentralForwarder* instance();

    // This computer's station id: a UUID made once and kept in the settings store.
    static QString stationId();
    // The URI in the settings store; empty when none is set.
    static QString configuredUri();
    // Whether the settings store asks for the traffic too.
    static bool configuredTraffic();

    State state() const { return m_state; }
    // "Central: up to date", "Central: 120 waiting (server unreachable since 10:42)", "Central: refused
    // (...)".
    QString statusText() const { return m_text; }
    qint64 waiting() const { return m_waiting; }

    QString uri() const { return m_uri; }
    // Forwards to another server from now on (from where that one's mark stands); none when empty.
    void setUri(const QString& uri);

    bool forwardsTraffic() const { return m_traffic; }
    // Forwards the traffic log too (or no longer), from where its own mark stands.
    void setTraffic(bool on);

    // Starts forwarding.
    void start();
    // Forwards what waits for about ms at most (a connection attempt may take its time-out), before the
    // program ends, unless the server is away or refusing; true when up to date.
    bool finish(int ms);

public slots:
    // New rows are stored: forwarded at once rather than at the next look.
    void nudge();

signals:
    // The status text changed (the number of waiting rows included).
    void statusChanged(int state, const QString& text);

private:
    void onStatus(int state, qint64 waiting, const QDateTime& unreachableSince, const QString& reason);
    void dropSender();
    void makeSender();
    void setStatus(State state, const QString& text);

    QThread m_thread;
    QString m_localFile;
    QString m_station;
    QString m_uri;
    bool m_traffic = false;
    CentralSender* m_sender = nullptr;
    State m_state = Off;
    QString m_text;
    qint64 m_waiting = 0;
};
