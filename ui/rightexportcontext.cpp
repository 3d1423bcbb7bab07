#include "ui/rightexportcontext.h"
#include "ui_rightexportcontext.h"

#include "controller/applicationcontroller.h"
#include "controller/settingscontroller.h"
#include "ui/panelkit.h"

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

    // The minimum goes first, so that binding cannot clamp a millisecond interval to 1.
    auto followUnit = [this](int unit) {
        ui->delaySpinBox->setMinimum(unit == SettingsController::UnitMs ? ApplicationController::MinAutoSendMs
                                                                        : 1);
    };
    followUnit(settings->autoSendUnit.value());
    connect(&settings->autoSendUnit, &ComboElement::stateChanged, this, followUnit);
    settings->autoSendInterval.bind(ui->delaySpinBox);
    settings->autoSendUnit.bind(ui->delayComboBox);

    PanelKit::makeFrameButton(ui->transferFrame, ui->transferFrameT);
    connect(ui->transferFrame, &ClickableFrame::clicked, this, &RightExportContext::swapToTransfer);
}

RightExportContext::~RightExportContext()
{
    delete ui;
}
