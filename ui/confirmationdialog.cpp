#include "ui/confirmationdialog.h"
#include "ui_confirmationdialog.h"

#include "platform/logcategories.h"

#include <QStyle>

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
        setDefaultButton(DefaultButton::Confirm);
    }
    qCDebug(lcUi) << message << cancelText << confirmText;
}

void ConfirmationDialog::setDefaultButton(DefaultButton button)
{
    if (ui->confirmButton->isHidden()) {
        return;
    }
    const bool confirm = button == DefaultButton::Confirm;
    ui->confirmButton->setDefault(confirm);
    ui->cancelButton->setDefault(!confirm);
    // The green look goes with Enter, so that the emphasised button is the one a key press gives.
    for (QPushButton* b : {ui->confirmButton, ui->cancelButton}) {
        b->setProperty("primary", b->isDefault());
        b->style()->unpolish(b);
        b->style()->polish(b);
    }
}

ConfirmationDialog::~ConfirmationDialog()
{
    delete ui;
}
