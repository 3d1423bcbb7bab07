#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The parsers that take outside input, each one fuzz target: libFuzzer drives them in the fuzz build
// (fuzzmain.cpp), tst_fuzzreplay replays the inputs kept under tests/fuzz/<name>/ in every test run.
// A broken property ends the process, as a crash does.
struct FuzzTarget
{
    QString name;
    void (*run)(const QByteArray& input);
};

const QVector<FuzzTarget>& fuzzTargets();
// Once per process, after the application object exists.
void fuzzSetUp();
