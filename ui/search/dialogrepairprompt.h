#pragma once

#include "search/repairprompt.h"

#include <QPointer>

class PelmProgressDialog;
class QWidget;

// The device page's side of a repair: the reachability dialog proposes the settings, a progress
// notice stays up while the module takes them.
class DialogRepairPrompt : public RepairPrompt
{
public:
    explicit DialogRepairPrompt(QWidget* parent);
    ~DialogRepairPrompt() override;

    bool proposeSettings(CDevice* dev, QList<int>* commands, QList<QVariant>* arguments) override;
    void showProgress(const QString& text) override;
    void closeProgress() override;

private:
    QPointer<QWidget> m_parent;
    QPointer<PelmProgressDialog> m_progress;
};
