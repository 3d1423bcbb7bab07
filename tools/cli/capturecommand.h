#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class QCoreApplication;

// mervik-cli capture: the results of one or several instruments stored as the program stores them, until
// SIGTERM or Ctrl+C, and forwarded to a central database when one is given.
namespace CaptureCommand {

struct Options
{
    QStringList places;
    // The program's database when empty.
    QString database;
    // The settings store's when empty.
    QString central;
    // The traffic log goes to the central database too; also when the settings store asks for it and
    // the URI is the store's.
    bool centralTraffic = false;
    bool stable = false;
    // Between requests to each instrument; 0 asks for none and takes what the instruments stream.
    int intervalMs = 1000;
    QVector<int> baudRates;
    bool threeLetter = false;
    int address = -1;
};

// Exit status 1 when the central database refused the results when the capture ended.
int run(QCoreApplication& app, const Options& options);

} // namespace CaptureCommand
