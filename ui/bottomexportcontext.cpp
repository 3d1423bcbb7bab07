#include "ui/bottomexportcontext.h"
#include "ui_bottomexportcontext.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/icontint.h"
#include "ui/panelkit.h"
#include "ui/requestnotice.h"
#include "ui/startstopcontrol.h"

BottomExportContext::BottomExportContext(QWidget* parent) : QWidget(parent), ui(new Ui::BottomExportContext)
{
    ui->setupUi(this);
    ApplicationController* app = ApplicationController::instance();

    IconTint::tintButton(ui->timerFrameB, QColor(QStringLiteral("#ff4141")));
    // The elapsed time is shown, not pressed: no Tab stop.
    ui->timerFrame->setFocusPolicy(Qt::NoFocus);
    ui->timerFrameB->setFocusPolicy(Qt::NoFocus);
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
    // Through the notice, so that a request that does not go through is told, not lost.
    RequestNotice* requests = RequestNotice::instance();
    connect(ui->sendFrame, &ClickableFrame::clicked, requests, &RequestNotice::send);
    connect(ui->tareFrame, &ClickableFrame::clicked, requests, &RequestNotice::tare);
    connect(ui->zeroFrame, &ClickableFrame::clicked, requests, &RequestNotice::zero);
    connect(ui->onOffFrame, &ClickableFrame::clicked, requests, &RequestNotice::onOff);
    connect(ui->exportFrame, &ClickableFrame::clicked, app, &ApplicationController::saveData);
    connect(app, &ApplicationController::elapsedTimeSig, ui->timeLabel,
            [this](int seconds) { ui->timeLabel->setText(PanelKit::elapsedText(seconds)); });
    ui->timeLabel->setText(PanelKit::elapsedText(app->elapsed()));
}

BottomExportContext::~BottomExportContext()
{
    delete ui;
}
