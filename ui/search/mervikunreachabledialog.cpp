#include "ui/search/mervikunreachabledialog.h"
#include "ui_mervikunreachabledialog.h"

MervikUnreachableDialog::MervikUnreachableDialog(CDevice* device, QWidget* parent)
    : UnreachableDialog(parent), ui(new Ui::MervikUnreachableDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    // A plain widget paints its style sheet background only when asked to.
    ui->widget->setAttribute(Qt::WA_StyledBackground, true);
    // Apply stays disabled until every new address is valid; the user sees it so.
    ui->pbApply->setStyleSheet(ui->pbApply->styleSheet() +
                               QStringLiteral("\n\nQPushButton:disabled {\n\tbackground-color: #b7e190;\n\t"
                                              "border-color: #b7e190;\n}"));
    // The two buttons side by side at one height, whatever their own padding.
    ui->pbApply->setMinimumHeight(ui->pbCancel->sizeHint().height());
    setUp(device, ui->label, ui->parameters, ui->pbApply, ui->pbCancel);
}

MervikUnreachableDialog::~MervikUnreachableDialog()
{
    delete ui;
}
