#pragma once

#include <QList>
#include <QString>
#include <QVariant>

class CDevice;

// What the search controller asks of the user while it repairs an unreachable network instrument:
// the device page answers with the reachability dialog and a progress dialog, tests with a script.
class RepairPrompt
{
public:
    virtual ~RepairPrompt() = default;

    // Explains why dev cannot be reached and proposes module commands with one argument each;
    // false when the user declines them.
    virtual bool proposeSettings(CDevice* dev, QList<int>* commands, QList<QVariant>* arguments) = 0;
    virtual void showProgress(const QString& text) = 0;
    virtual void closeProgress() = 0;
};
