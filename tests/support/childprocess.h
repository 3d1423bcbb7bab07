#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <QProcess>

// A program a test runs for as long as it needs it (mervik-sim, mervik-cli, ...): ended when the
// test ends, and its stdout read line by line.
struct ChildProcess
{
    QProcess process;
    QByteArrayList lines;

    ~ChildProcess() { stop(); }

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

    // The next stdout line that starts with prefix (other lines read meanwhile are kept); empty when
    // none came within ms or the program ended.
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
