#pragma once

#include <QDialog>

namespace Ui {
class ConfirmationDialog;
}

// The one modal question (two buttons) or notice (one button) that the pages show the user.
class ConfirmationDialog : public QDialog
{
    Q_OBJECT
public:
    // An empty confirmText leaves only the cancel button, which then closes the notice as rejected.
    ConfirmationDialog(const QString& message, const QString& cancelText, const QString& confirmText,
                       QWidget* parent = nullptr);
    ~ConfirmationDialog() override;

    // The button that Enter presses, drawn green. The confirm button unless a question asks for
    // the safe answer instead, as one that would delete something the user made does.
    enum class DefaultButton
    {
        Confirm,
        Cancel
    };
    void setDefaultButton(DefaultButton button);

private:
    Ui::ConfirmationDialog* ui;
};
