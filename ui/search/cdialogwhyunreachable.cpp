#include "ui/search/cdialogwhyunreachable.h"
#include "ui_cdialogwhyunreachable.h"

CDialogWhyUnreachable::CDialogWhyUnreachable(CDevice* device, QWidget* parent)
    : UnreachableDialog(parent), ui(new Ui::CDialogWhyUnreachable)
{
    ui->setupUi(this);
    setUp(device, ui->label, ui->parameters, ui->pbApply, ui->pbCancel);
}

CDialogWhyUnreachable::~CDialogWhyUnreachable()
{
    delete ui;
}
