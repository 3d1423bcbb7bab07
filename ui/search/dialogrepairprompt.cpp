#include "ui/search/dialogrepairprompt.h"

#include "ui/pelmprogressdialog.h"
#include "ui/search/mervikunreachabledialog.h"

DialogRepairPrompt::DialogRepairPrompt(QWidget* parent) : m_parent(parent) {}

DialogRepairPrompt::~DialogRepairPrompt()
{
    closeProgress();
}

bool DialogRepairPrompt::proposeSettings(CDevice* dev, QList<int>* commands, QList<QVariant>* arguments)
{
    // On the heap: the page may go while the dialog's own event loop runs.
    QPointer<MervikUnreachableDialog> dialog = new MervikUnreachableDialog(dev, m_parent);
    const bool accepted = dialog->exec() == QDialog::Accepted && dialog;
    if (accepted) {
        *commands = dialog->commands();
        *arguments = dialog->values();
    }
    delete dialog;
    return accepted;
}

void DialogRepairPrompt::showProgress(const QString& text)
{
    closeProgress();
    m_progress = new PelmProgressDialog(text, m_parent);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->show();
}

void DialogRepairPrompt::closeProgress()
{
    if (m_progress) {
        m_progress->close();
    }
    m_progress = nullptr;
}
