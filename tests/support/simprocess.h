#pragma once

#include "support/childprocess.h"

#include <QString>
#include <QStringList>

#ifndef MERVIK_SIM_PATH
#error "the test target defines MERVIK_SIM_PATH as the mervik-sim executable"
#endif

// mervik-sim for as long as the test needs it. --max-seconds bounds it even if the test dies; the
// scope's end stops it (ChildProcess).
struct SimProcess : ChildProcess
{
    // The first stdout line: "PTY <slave>", "TCP <addr>:<port>" or "MODULE <dialect> <addr>:<port>".
    QByteArray announcement;

    // Starts mervik-sim with arguments; true once it announced itself within ms.
    bool start(const QStringList& arguments, int ms = 5000, int maxSeconds = 60)
    {
        process.start(QStringLiteral(MERVIK_SIM_PATH),
                      QStringList{QStringLiteral("--max-seconds"), QString::number(maxSeconds)} + arguments);
        if (!process.waitForStarted(ms)) {
            return false;
        }
        announcement = waitForLine(QByteArray(), ms);
        return !announcement.isEmpty();
    }

    // On a pseudo-terminal with the given options: the slave's path, empty when it did not start.
    QString startPty(const QStringList& options = {})
    {
        if (!start(QStringList{QStringLiteral("--pty")} + options) || !announcement.startsWith("PTY ")) {
            return QString();
        }
        return port();
    }

    QString port() const { return QString::fromLocal8Bit(announcement.mid(announcement.indexOf(' ') + 1)); }

    // What the sim said about a failure, for the test's message.
    QByteArray errors() { return process.readAllStandardError(); }
};
