#include "ui/rightterminalcontext.h"
#include "ui_rightterminalcontext.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "ui/firmwaredialog.h"
#include "ui/panelkit.h"
#include "ui/settings/settingscontroller.h"

#include <QLayout>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

RightTerminalContext::RightTerminalContext(QWidget* parent)
    : QWidget(parent), ui(new Ui::RightTerminalContext)
{
    // The panel scrolls when the window is too low for all of it, so that the page's command line
    // below stays in view.
    auto* content = new QWidget;
    ui->setupUi(content);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    setMinimumWidth(content->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width());
    SettingsController* settings = SettingsController::instance();
    settings->terminalInOut.bind(ui->inoutBox);
    settings->terminalInterface.bind(ui->interfaceBox);
    settings->terminalDate.bind(ui->dateBox);
    settings->terminalTime.bind(ui->timeBox);
    settings->terminalRawChunks.bind(ui->rawChunkBox);
    settings->terminalEcho.bind(ui->echoBox);

    connect(ui->echoBox, &QCheckBox::toggled, this, [](bool on) {
        if (CDevice* device = CControllerInterface::currentDevice()) {
            device->setCheckConnection(on);
        }
    });

    const struct
    {
        ClickableFrame* frame;
        QLabel* text;
        const char* command;
    } tests[] = {{ui->SIFrame, ui->SIFrameTT, "SI"},
                 {ui->STFrame, ui->STFrameTT, "ST"},
                 {ui->SZFrame, ui->SZFrameTT, "SZ"},
                 {ui->SSFrame, ui->SSFrameTT, "SS"}};
    for (const auto& test : tests) {
        PanelKit::makeFrameButton(test.frame, test.text);
        const QString command = QLatin1String(test.command);
        connect(test.frame, &ClickableFrame::clicked, this, [this, command] { emit pasteCommand(command); });
    }
    connect(ui->SIFrame, &ClickableFrame::resized, this, &RightTerminalContext::fitTestFrames);

    connect(ui->filterButton, &QPushButton::clicked, this, &RightTerminalContext::filterRequested);
    auto* exports = new QMenu(ui->exportButton);
    exports->addAction(QStringLiteral("Shown lines..."), this, &RightTerminalContext::exportLinesRequested);
    exports->addAction(QStringLiteral("Received data..."), this,
                       &RightTerminalContext::exportReceivedRequested);
    ui->exportButton->setMenu(exports);

    connect(ui->firmwareButton, &QPushButton::clicked, this, [this] {
        FirmwareDialog dialog(this);
        dialog.exec();
    });
    fitTestFrames();
}

RightTerminalContext::~RightTerminalContext()
{
    delete ui;
}

void RightTerminalContext::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    followDeviceEcho();
    fitTestFrames();
}

void RightTerminalContext::followDeviceEcho()
{
    if (const CDevice* device = CControllerInterface::currentDevice()) {
        ui->echoBox->setChecked(device->checkConnection());
    }
}

void RightTerminalContext::fitTestFrames()
{
    QWidget* const parts[] = {ui->SIFrameB, ui->STFrameB, ui->SZFrameB, ui->SSFrameB,
                              ui->SIFrameT, ui->STFrameT, ui->SZFrameT, ui->SSFrameT};
    // Measured with every part shown: judging the squeezed layout would flip the parts on and
    // off with each resize.
    for (QWidget* part : parts) {
        part->setVisible(true);
    }
    ui->SIFrame->layout()->activate();
    const bool fits = ui->SIFrameTT->width() >= ui->SIFrameTT->sizeHint().width();
    for (QWidget* part : parts) {
        part->setVisible(fits);
    }
}
