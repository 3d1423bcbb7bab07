#include "ui/bottomterminalcontext.h"
#include "ui_bottomterminalcontext.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/icontint.h"
#include "ui/panelkit.h"
#include "ui/requestnotice.h"
#include "ui/startstopcontrol.h"

BottomTerminalContext::BottomTerminalContext(QWidget* parent)
    : QWidget(parent), ui(new Ui::BottomTerminalContext)
{
    ui->setupUi(this);
    ApplicationController* app = ApplicationController::instance();

    IconTint::tintButton(ui->timerFrameB, QColor(QStringLiteral("#ff4141")));
    // The elapsed time is shown, not pressed: no Tab stop.
    ui->timerFrame->setFocusPolicy(Qt::NoFocus);
    ui->timerFrameB->setFocusPolicy(Qt::NoFocus);
    PanelKit::makeFrameButton(ui->sendFrame, ui->sendFrameT);
    PanelKit::makeFrameButton(ui->startStopFrame, ui->startStopLabel);
    PanelKit::makeFrameButton(ui->clearFrame, ui->clearFrameT);

    new StartStopControl(ui->startStopFrame, ui->startStopFrameB, ui->startStopLabel, QStringLiteral("START"),
                         QStringLiteral("START"), QStringLiteral("START"));
    connect(ui->commandLine, &QLineEdit::returnPressed, this, &BottomTerminalContext::sendCommand);
    connect(ui->sendFrame, &ClickableFrame::clicked, this, &BottomTerminalContext::sendCommand);
    connect(ui->clearFrame, &ClickableFrame::clicked, this, &BottomTerminalContext::clearContents);
    connect(app, &ApplicationController::elapsedTimeSig, ui->timeLabel,
            [this](int seconds) { ui->timeLabel->setText(PanelKit::elapsedText(seconds)); });
    ui->timeLabel->setText(PanelKit::elapsedText(app->elapsed()));
}

BottomTerminalContext::~BottomTerminalContext()
{
    delete ui;
}

void BottomTerminalContext::pasteCommand(QString command)
{
    ui->commandLine->setText(command);
    ui->commandLine->setFocus();
}

void BottomTerminalContext::sendCommand()
{
    RequestNotice::instance()->sendCommand(ui->commandLine->text());
}
