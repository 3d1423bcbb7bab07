#include "platform/pinger.h"

#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QProcess>
#include <QTimer>

#include <atomic>

namespace {
std::atomic<Pinger*> replacement{nullptr};
} // namespace

Pinger::Pinger(QObject* parent) : QObject(parent)
{
    // The result crosses threads and reaches signal spies.
    qRegisterMetaType<QHostAddress>("QHostAddress");
    qRegisterMetaType<Pinger::Result>("Pinger::Result");
}

Pinger* Pinger::instance()
{
    if (Pinger* pinger = replacement.load()) {
        return pinger;
    }
    // Made where it is first asked for: the user-interface thread, with the dialogs that use it.
    static SystemPinger platformPinger;
    return &platformPinger;
}

void Pinger::setInstance(Pinger* pinger)
{
    replacement = pinger;
}

Pinger::Result SystemPinger::judge(const QByteArray& output, int exitCode)
{
    // Some ping programs print "bytes=" on a reply line; this platform's prints "bytes from".
    if (output.contains("bytes from") || output.contains("bytes=")) {
        return Answered;
    }
    // 1: no reply; anything else (2: no route, bad address) says nothing about the address.
    return exitCode == 1 ? Silent : Unknown;
}

void SystemPinger::ping(const QHostAddress& address)
{
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        queueCall(this, [this, address] { emit finished(address, Unknown); });
        return;
    }
    auto* process = new QProcess(this);
    auto* bound = new QTimer(process);
    bound->setSingleShot(true);
    // Reported once, whichever way the process ends; the process is released with it.
    auto report = [this, process, address](Result result) {
        process->disconnect(this);
        process->deleteLater();
        qCDebug(lcPlatform) << "ping" << address.toString() << result;
        emit finished(address, result);
    };
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [process, report](int exitCode, QProcess::ExitStatus status) {
                report(status == QProcess::NormalExit ? judge(process->readAllStandardOutput(), exitCode)
                                                      : Unknown);
            });
    connect(process, &QProcess::errorOccurred, this, [report](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            report(Unknown);
        }
    });
    connect(bound, &QTimer::timeout, process, &QProcess::kill);
    process->start(QStringLiteral("ping"), {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"),
                                            QStringLiteral("-W"), QStringLiteral("1"), address.toString()});
    bound->start(BoundMs);
}
