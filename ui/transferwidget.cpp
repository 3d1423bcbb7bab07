#include "ui/transferwidget.h"
#include "ui_transferwidget.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/panelkit.h"
#include "ui/settings/settingscontroller.h"
#include "ui/transferstopdialog.h"

#include <QButtonGroup>

TransferWidget::TransferWidget(QWidget* parent) : QWidget(parent), ui(new Ui::TransferWidget)
{
    ui->setupUi(this);
    for (QAbstractButton* box :
         {ui->betweenNone, ui->betweenSemicolon, ui->betweenTab, ui->betweenEnter, ui->betweenComma}) {
        box->setAutoExclusive(false);
    }
    auto* between = new QButtonGroup(this);
    for (QAbstractButton* box :
         {ui->betweenNone, ui->betweenSemicolon, ui->betweenTab, ui->betweenEnter, ui->betweenComma}) {
        between->addButton(box);
    }
    auto* after = new QButtonGroup(this);
    for (QAbstractButton* box :
         {ui->afterNone, ui->afterSemicolon, ui->afterTab, ui->afterEnter, ui->afterComma}) {
        after->addButton(box);
    }

    SettingsController* settings = SettingsController::instance();
    // Only a click is the user's choice; until then an export file's extension decides.
    connect(between, qOverload<QAbstractButton*>(&QButtonGroup::buttonClicked), &settings->delimiterChosen,
            [settings] { settings->delimiterChosen.setState(true); });
    settings->pasteToCursor.bind(ui->cursorBox);
    settings->saveToFile.bind(ui->fileBox);
    settings->countField.bind(ui->countBox);
    settings->dateField.bind(ui->dateBox);
    settings->timeField.bind(ui->timeBox);
    settings->deviceIdField.bind(ui->idBox);
    settings->unitField.bind(ui->unitBox);
    settings->noteField.bind(ui->customBox);
    settings->headerRow.bind(ui->headerBox);
    settings->isoDates.bind(ui->isoDateBox);
    settings->autoSend.bind(ui->autoSendBox);
    settings->stableOnly.bind(ui->stableBox);
    settings->betweenNone.bind(ui->betweenNone);
    settings->betweenSemicolon.bind(ui->betweenSemicolon);
    settings->betweenTab.bind(ui->betweenTab);
    settings->betweenEnter.bind(ui->betweenEnter);
    settings->betweenComma.bind(ui->betweenComma);
    settings->afterNone.bind(ui->afterNone);
    settings->afterSemicolon.bind(ui->afterSemicolon);
    settings->afterTab.bind(ui->afterTab);
    settings->afterEnter.bind(ui->afterEnter);
    settings->afterComma.bind(ui->afterComma);
    settings->sendHotkey.bind(ui->sendHotkey);
    settings->tareHotkey.bind(ui->tareHotkey);
    settings->zeroHotkey.bind(ui->zeroHotkey);
    settings->onOffHotkey.bind(ui->onOffHotkey);

    settings->bindAutoSendSpeed(ui->delaySpinBox, ui->delayComboBox);

    ApplicationController* app = ApplicationController::instance();
    app->setStopDialogFactory([] { return new TransferStopDialog; });
    connect(app, &ApplicationController::newFilePath, this, &TransferWidget::setFilePath);
    setFilePath(app->currentFilePath());
    connect(ui->startButton, &QPushButton::clicked, this, &TransferWidget::apply);
}

TransferWidget::~TransferWidget()
{
    delete ui;
}

void TransferWidget::setFilePath(QString path)
{
    ui->fileLabel->setText(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    ui->fileLabel->setToolTip(path);
}

void TransferWidget::apply()
{
    if (!ApplicationController::instance()->startExport()) {
        PanelKit::showStartFailure(window());
        return;
    }
    // Typing into another program: the window is minimised and the stop dialog takes over.
    if (!SettingsController::instance()->pasteToCursor.value()) {
        emit changeToData();
    }
}
