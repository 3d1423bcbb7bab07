#include "ui/rightexportcontext.h"
#include "ui_rightexportcontext.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/panelkit.h"
#include "ui/settings/settingscontroller.h"

RightExportContext::RightExportContext(QWidget* parent) : QWidget(parent), ui(new Ui::RightExportContext)
{
    ui->setupUi(this);
    SettingsController* settings = SettingsController::instance();
    settings->countField.bind(ui->countBox);
    settings->dateField.bind(ui->dateBox);
    settings->timeField.bind(ui->timeBox);
    settings->deviceIdField.bind(ui->snBox);
    settings->unitField.bind(ui->unitBox);
    settings->noteField.bind(ui->customBox);
    settings->autoSend.bind(ui->autoSendBox);
    settings->stableOnly.bind(ui->stableBox);

    settings->bindAutoSendSpeed(ui->delaySpinBox, ui->delayComboBox);

    PanelKit::makeFrameButton(ui->transferFrame, ui->transferFrameT);
    connect(ui->transferFrame, &ClickableFrame::clicked, this, &RightExportContext::swapToTransfer);
}

RightExportContext::~RightExportContext()
{
    delete ui;
}
