#pragma once

#include "support/testnetns.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

// mervik-sim (or another program) running in the instruments' namespace for as long as the test
// needs it; --max-seconds bounds it even if the test dies.
struct NetnsProcess
{
    QProcess process;
    QByteArrayList lines;

    ~NetnsProcess() { stop(); }

    bool startSim(const TestNetns& netns, const QStringList& arguments)
    {
        return start(netns, QStringLiteral(MERVIK_SIM_PATH), QStringList{"--max-seconds", "60"} + arguments);
    }
    bool start(const TestNetns& netns, const QString& program, const QStringList& arguments)
    {
        process.start(netns.program(), netns.inB(program, arguments));
        return process.waitForStarted(5000);
    }
    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }
    // The next stdout line that starts with prefix (earlier other lines are kept).
    QByteArray waitForLine(const QByteArray& prefix, int ms = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (process.canReadLine()) {
                lines << process.readLine().trimmed();
            }
            for (int i = 0; i < lines.size(); ++i) {
                if (lines.at(i).startsWith(prefix)) {
                    return lines.takeAt(i);
                }
            }
            if (timer.elapsed() > ms || process.state() == QProcess::NotRunning) {
                return QByteArray();
            }
            process.waitForReadyRead(100);
        }
    }
};
