#pragma once

#include <QDialog>
#include <QVariant>

// Base of the dialogs that edit one value of the property table. The delegate shows it as the editor of
// a PelmDialogItem: it hands the current value in, and takes value() back when the dialog is accepted.
class PelmAbstractDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PelmAbstractDialog(QWidget* parent = nullptr);

    virtual QVariant value() const = 0;
    virtual void setValue(const QVariant& value) = 0;
};
