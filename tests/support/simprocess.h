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

    // Starts mervik-sim with arguments (a later --max-seconds wins); true once it announced itself,
    // or once it runs when no announcement is awaited (--tcp-client prints none).
    bool start(const QStringList& arguments, bool announced = true)
    {
        process.start(QStringLiteral(MERVIK_SIM_PATH),
                      QStringList{QStringLiteral("--max-seconds"), QStringLiteral("60")} + arguments);
        if (!process.waitForStarted(5000)) {
            return false;
        }
        announcement = announced ? waitForLine(QByteArray()) : QByteArray();
        return !announced || !announcement.isEmpty();
    }

    // On a pseudo-terminal with the given options: the slave's path, empty when it did not start.
    QString startPty(const QStringList& options = {})
    {
        if (!start(QStringList{QStringLiteral("--pty")} + options) || !announcement.startsWith("PTY ")) {
            return QString();
        }
        return port();
    }

    // The announced path or address ("PTY" and "TCP"), or "<dialect> <addr>:<port>" of a module.
    QString port() const { return QString::fromLocal8Bit(announcement.mid(announcement.indexOf(' ') + 1)); }

    // What the sim said about a failure, for the test's message.
    QByteArray errors() { return process.readAllStandardError(); }
};
