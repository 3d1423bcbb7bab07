#pragma once

#include "log/chainverifier.h"

#include <QObject>
#include <QString>
#include <QThread>

// Checks the hash chain in a thread of its own, on a read-only connection of its own, so that a long
// chain never holds up the window; the report comes back in the thread that asked.
class ChainCheck : public QObject
{
    Q_OBJECT
public:
    // What start-up checks: the newest links, enough for days of results, quick to walk.
    static constexpr qint64 StartLinks = 10000;

    explicit ChainCheck(QObject* parent = nullptr);
    ~ChainCheck() override;

    // Checks the chain of the database file (the newest lastLinks links, all when 0). A check asked
    // for while one runs follows it.
    void start(const QString& path, qint64 lastLinks);
    bool isRunning() const { return m_running > 0; }

    // One line for the status line: what the report found, empty when everything holds.
    static QString summary(const ChainVerifier::Report& report);

signals:
    void finished(ChainVerifier::Report report);

private:
    QThread m_thread;
    QObject* m_worker;
    int m_running = 0;
};

Q_DECLARE_METATYPE(ChainVerifier::Report)
