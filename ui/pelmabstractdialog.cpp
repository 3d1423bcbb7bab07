#include "ui/pelmabstractdialog.h"

PelmAbstractDialog::PelmAbstractDialog(QWidget* parent) : QDialog(parent)
{
    // Frameless like the other dialogs of the program, so the frame is drawn by the style sheet.
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    setStyleSheet(QStringLiteral("PelmAbstractDialog { border: 2px solid #3b3b3b; background: white; }"));
}
