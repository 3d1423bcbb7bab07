#include "search/mervikunreachabledialog.h"
#include "ui_mervikunreachabledialog.h"

MervikUnreachableDialog::MervikUnreachableDialog(CDevice* device, QWidget* parent)
    : UnreachableDialog(parent), ui(new Ui::MervikUnreachableDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    // A plain widget paints its style sheet background only when asked to.
    ui->widget->setAttribute(Qt::WA_StyledBackground, true);
    setUp(device, ui->label, ui->parameters, ui->pbApply, ui->pbCancel);
}

MervikUnreachableDialog::~MervikUnreachableDialog()
{
    delete ui;
}
