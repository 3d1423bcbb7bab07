#pragma once

#include "support/childprocess.h"
#include "support/testnetns.h"

#include <QStringList>

// mervik-sim (or another program) running in the instruments' namespace for as long as the test
// needs it; --max-seconds bounds it even if the test dies.
struct NetnsProcess : ChildProcess
{
    bool startSim(const TestNetns& netns, const QStringList& arguments)
    {
        return start(netns, QStringLiteral(MERVIK_SIM_PATH), QStringList{"--max-seconds", "60"} + arguments);
    }
    bool start(const TestNetns& netns, const QString& program, const QStringList& arguments)
    {
        process.start(netns.program(), netns.inB(program, arguments));
        return process.waitForStarted(5000);
    }
};
