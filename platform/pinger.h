#pragma once

#include "platform/hostaddressmetatype.h"

#include <QHostAddress>
#include <QObject>

// One echo request to an address, answered or not: the reachability dialog looks for a free address
// with it. Tests put a double in place, so that no dialog test sends anything.
class Pinger : public QObject
{
    Q_OBJECT
public:
    enum Result
    {
        Answered,
        Silent,
        // Nothing can be said (no ping program, no route, not an IPv4 address): never taken as free.
        Unknown
    };
    Q_ENUM(Result)

    explicit Pinger(QObject* parent = nullptr);

    // Sends one echo request; finished() follows once, from the event loop, within a few seconds.
    virtual void ping(const QHostAddress& address) = 0;

    // The pinger of this platform, unless a test has put another one in place.
    static Pinger* instance();
    // Not owned; null restores the platform's own.
    static void setInstance(Pinger* pinger);

signals:
    void finished(QHostAddress address, Pinger::Result result);
};

// The system's ping program: "ping -n -c 1 -W 1 ADDRESS", a reply known by its "bytes from" line.
class SystemPinger : public Pinger
{
    Q_OBJECT
public:
    // A ping that has not ended by then is stopped and its answer is Unknown.
    static constexpr int BoundMs = 5000;

    using Pinger::Pinger;
    void ping(const QHostAddress& address) override;

    // What the program's output and exit code say.
    static Result judge(const QByteArray& output, int exitCode);
};
