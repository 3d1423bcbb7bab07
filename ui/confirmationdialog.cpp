#include "ui/confirmationdialog.h"
#include "ui_confirmationdialog.h"

#include "platform/logcategories.h"

ConfirmationDialog::ConfirmationDialog(const QString& message, const QString& cancelText,
                                       const QString& confirmText, QWidget* parent)
    : QDialog(parent), ui(new Ui::ConfirmationDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);

    ui->mainLabel->setText(message);
    ui->cancelButton->setText(cancelText);
    ui->confirmButton->setText(confirmText);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->confirmButton, &QPushButton::clicked, this, &QDialog::accept);

    if (confirmText.isEmpty()) {
        // A notice: the single button stays centred once the gap before the confirm button is gone.
        ui->confirmButton->hide();
        ui->confirmSpacer->changeSize(0, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
        ui->buttonsLayout->invalidate();
        ui->cancelButton->setDefault(true);
    } else {
        ui->confirmButton->setDefault(true);
    }
    qCDebug(lcUi) << message << cancelText << confirmText;
}

ConfirmationDialog::~ConfirmationDialog()
{
    delete ui;
}
