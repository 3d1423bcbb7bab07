#include "ui/bottomexportcontext.h"
#include "ui_bottomexportcontext.h"

#include "controller/applicationcontroller.h"
#include "controller/cbalancecontroller.h"
#include "ui/icontint.h"
#include "ui/panelkit.h"
#include "ui/startstopcontrol.h"

BottomExportContext::BottomExportContext(QWidget* parent) : QWidget(parent), ui(new Ui::BottomExportContext)
{
    ui->setupUi(this);
    ApplicationController* app = ApplicationController::instance();
    CBalanceController* balance = CBalanceController::instance();

    IconTint::tintButton(ui->timerFrameB, QColor(QStringLiteral("#ff4141")));
    PanelKit::makeFrameButton(ui->startStopFrame, ui->startStopLabel);
    PanelKit::makeFrameButton(ui->clearFrame, ui->clearFrameT);
    PanelKit::makeFrameButton(ui->sendFrame, ui->sendFrameT);
    PanelKit::makeFrameButton(ui->tareFrame, ui->tareFrameT);
    PanelKit::makeFrameButton(ui->zeroFrame, ui->zeroFrameT);
    PanelKit::makeFrameButton(ui->onOffFrame, ui->onOffFrameT);
    PanelKit::makeFrameButton(ui->exportFrame, ui->exportFrameT);

    new StartStopControl(ui->startStopFrame, ui->startStopFrameB, ui->startStopLabel,
                         QStringLiteral("AUTO SEND"), QStringLiteral("AUTO"), QStringLiteral("AUTO"));
    connect(ui->clearFrame, &ClickableFrame::clicked, this, &BottomExportContext::clearContents);
    connect(ui->sendFrame, &ClickableFrame::clicked, app, &ApplicationController::send);
    connect(ui->tareFrame, &ClickableFrame::clicked, balance, &CBalanceController::sendST);
    connect(ui->zeroFrame, &ClickableFrame::clicked, balance, &CBalanceController::sendSZ);
    connect(ui->onOffFrame, &ClickableFrame::clicked, balance, &CBalanceController::sendSS);
    connect(ui->exportFrame, &ClickableFrame::clicked, app, &ApplicationController::saveData);
    connect(app, &ApplicationController::elapsedTimeSig, ui->timeLabel,
            [this](int seconds) { ui->timeLabel->setText(PanelKit::elapsedText(seconds)); });
    ui->timeLabel->setText(PanelKit::elapsedText(app->elapsed()));
}

BottomExportContext::~BottomExportContext()
{
    delete ui;
}
