#include "ui/mainwindow.h"

#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/reconnector.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "log/centralforwarder.h"
#include "log/datafeedtablemodel.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/datafeedwidget.h"
#include "ui/devicewidget.h"
#include "ui/icontint.h"
#include "ui/log/datafeedtableview.h"
#include "ui/requestnotice.h"
#include "ui/settings/settingscontroller.h"
#include "ui/transferwidget.h"
#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace {
const char* const White = "#ffffff";
const char* const Disconnected = "#797979";
const char* const Connected = "#6fc420";
const char* const StartIcons = "#2b333d";
const QSize TitleIconSize(16, 16);
const QSize StartIconSize(120, 120);
const QSize StatusIconSize(16, 16);

// A hotkey follows its option value: an empty or unreadable text leaves the shortcut without a key.
void bindHotkey(QShortcut* shortcut, LineElement& element)
{
    shortcut->setContext(Qt::ApplicationShortcut);
    shortcut->setKey(QKeySequence(element.value()));
    QObject::connect(&element, &LineElement::stateChanged, shortcut,
                     [shortcut](const QString& text) { shortcut->setKey(QKeySequence(text)); });
}
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()), m_sendShortcut(new QShortcut(this)),
      m_tareShortcut(new QShortcut(this)), m_zeroShortcut(new QShortcut(this)),
      m_onOffShortcut(new QShortcut(this)), m_storageClearedTimer(new QTimer(this))
{
    ui->setupUi(this);

    // Exclusive by hand, not by a button group: in a group only one button would be a Tab stop.
    m_pageButtons = {ui->deviceButton, ui->dataCaptureButton, ui->transferButton};
    IconTint::setButtonIcon(ui->deviceButton, QStringLiteral(":/Resources/device.svg"), QColor(White));
    IconTint::setButtonIcon(ui->dataCaptureButton, QStringLiteral(":/Resources/datacapture.svg"),
                            QColor(White));
    IconTint::setButtonIcon(ui->transferButton, QStringLiteral(":/Resources/transfer.svg"), QColor(White));
    ui->minimizeButton->setIconSize(TitleIconSize);
    ui->fullScreenButton->setIconSize(TitleIconSize);
    ui->xButton->setIconSize(TitleIconSize);
    IconTint::setButtonIcon(ui->minimizeButton, QStringLiteral(":/Resources/minimize.svg"), QColor(White));
    IconTint::setButtonIcon(ui->fullScreenButton, QStringLiteral(":/Resources/fullscreen.svg"),
                            QColor(White));
    IconTint::setButtonIcon(ui->xButton, QStringLiteral(":/Resources/close.svg"), QColor(White));
    // The full-screen button shows what a click will do.
    connect(ui->fullScreenButton, &QAbstractButton::toggled, this, [this](bool checked) {
        IconTint::setButtonIcon(ui->fullScreenButton,
                                checked ? QStringLiteral(":/Resources/restore.svg")
                                        : QStringLiteral(":/Resources/fullscreen.svg"),
                                QColor(White));
    });
    ui->logoLabel->setPixmap(
        IconTint::tinted(QIcon(QStringLiteral(":/Resources/logo.svg")), QSize(20, 20), QColor(White)));
    ui->mainWidget->hide();
    ui->fileLabel->hide();

    setUpStartScreen();
    setUpPageScrolling();
    // Tab goes from control to control; the arrow keys move within a table.
    const QList<QAbstractItemView*> views = findChildren<QAbstractItemView*>();
    for (QAbstractItemView* view : views) {
        view->setTabKeyNavigation(false);
    }
    setUpStatusLine();
    setUpShortcuts();
    connectCaptureExport();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::titleBar() const
{
    return ui->titleWidget;
}

QAbstractButton* MainWindow::minimizeButton() const
{
    return ui->minimizeButton;
}

QAbstractButton* MainWindow::fullScreenButton() const
{
    return ui->fullScreenButton;
}

QAbstractButton* MainWindow::closeButton() const
{
    return ui->xButton;
}

void MainWindow::setUpStartScreen()
{
    const struct
    {
        ClickableFrame* frame;
        QLabel* icon;
        const char* path;
        int page;
    } frames[] = {
        {ui->deviceFrame, ui->deviceFrameIcon, ":/Resources/device.svg", DevicePage},
        {ui->dataCaptureFrame, ui->dataCaptureFrameIcon, ":/Resources/datacapture.svg", DataCapturePage},
        {ui->transferFrame, ui->transferFrameIcon, ":/Resources/transfer.svg", TransferPage},
    };
    for (const auto& entry : frames) {
        entry.icon->setPixmap(IconTint::tinted(QIcon(QLatin1String(entry.path)), StartIconSize,
                                               QColor(QLatin1String(StartIcons))));
        const int page = entry.page;
        connect(entry.frame, &ClickableFrame::clicked, this, [this, page] { showPage(page); });
    }
    for (QLabel* text : {ui->deviceFrameText, ui->dataCaptureFrameText, ui->transferFrameText}) {
        text->installEventFilter(this);
    }
    // The button of the page shown is the one checked, a clicked one again included.
    for (int page : {DevicePage, DataCapturePage, TransferPage}) {
        connect(m_pageButtons.at(page), &QAbstractButton::clicked, this, [this, page] {
            ui->mainStack->setCurrentIndex(page);
            checkPageButton(page);
        });
    }
    connect(ui->mainStack, &QStackedWidget::currentChanged, this, &MainWindow::checkPageButton);
}

void MainWindow::setUpPageScrolling()
{
    // A page that needs more room than the window gives scrolls; the others shrink as they can.
    auto* scroll = new QScrollArea(ui->mainWidget);
    scroll->setObjectName(QStringLiteral("pageScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setFocusPolicy(Qt::NoFocus);
    // The layout hands back the item it held the stack in; it is ours to delete.
    delete ui->mainLayout->replaceWidget(ui->mainStack, scroll);
    scroll->setWidget(ui->mainStack);
    // Only the page shown counts for the room needed: hidden pages' sizes are ignored.
    const auto sizeToCurrent = [this](int current) {
        for (int i = 0; i < ui->mainStack->count(); ++i) {
            QWidget* page = ui->mainStack->widget(i);
            page->setSizePolicy(i == current ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
                                             : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
        }
        ui->mainStack->updateGeometry();
    };
    sizeToCurrent(ui->mainStack->currentIndex());
    connect(ui->mainStack, &QStackedWidget::currentChanged, this, sizeToCurrent);
}

void MainWindow::checkPageButton(int page)
{
    for (int i = 0; i < m_pageButtons.size(); ++i) {
        m_pageButtons.at(i)->setChecked(i == page);
    }
}

void MainWindow::showPage(int page)
{
    ui->startWidget->hide();
    ui->mainWidget->show();
    checkPageButton(page);
    ui->mainStack->setCurrentIndex(page);
}

void MainWindow::setUpStatusLine()
{
    // A database refused at start-up stays said until the program ends: nothing is stored meanwhile.
    const QString databaseFailure = AppDatabase::failure();
    ui->databaseLabel->setText(QStringLiteral("Database not available: <b>") +
                               databaseFailure.toHtmlEscaped() + QStringLiteral("</b>"));
    ui->databaseLabel->setToolTip(databaseFailure);
    // Shown whole where there is room; a long path must not raise the window's minimum width.
    ui->databaseLabel->setMinimumWidth(1);
    ui->databaseLabel->setVisible(!databaseFailure.isEmpty());
    updateStatusBar(STATE_DISCONNECTED);
    connect(CDeviceController::instance(), &CControllerInterface::deviceStateChanged, this,
            &MainWindow::updateStatusBar);
    // While a lost instrument is being brought back, the line says so instead of "no device".
    connect(Reconnector::instance(), &Reconnector::reconnecting, this, [this](bool active) {
        ui->noConnectionLabel->setText(active ? QStringLiteral("Reconnecting...")
                                              : QStringLiteral("No connection to the instrument"));
    });
    connect(CBalanceController::instance(), &CControllerInterface::commandFinished, this,
            [this](int result, int command) { updateStatus(result, command); });
    // A request given by hand that did not go through is told here, beside the connection it needed.
    ui->noticeLabel->setMinimumWidth(1);
    const auto showNotice = [this](const QString& text) {
        ui->noticeLabel->setText(text);
        ui->noticeLabel->setVisible(!text.isEmpty());
    };
    showNotice(RequestNotice::instance()->text());
    connect(RequestNotice::instance(), &RequestNotice::notice, this, showNotice);

    ui->storageLabel->setMinimumWidth(1);
    ui->storageLabel->hide();
    m_storageClearedTimer->setSingleShot(true);
    m_storageClearedTimer->setInterval(StorageClearedMs);
    connect(m_storageClearedTimer, &QTimer::timeout, ui->storageLabel, &QWidget::hide);
    connect(CaptureCore::instance()->model(), &DataFeedTableModel::storageChanged, this,
            &MainWindow::updateStorageLabel);

    // The forwarding to a central database, when one is set.
    auto* central = new QLabel(ui->statusWidget);
    central->setObjectName(QStringLiteral("centralLabel"));
    central->setMinimumWidth(1);
    ui->statusLayout->insertWidget(ui->statusLayout->indexOf(ui->storageLabel) + 1, central);
    const auto showCentral = [central](int state, const QString& text) {
        central->setText(text);
        central->setToolTip(text);
        central->setStyleSheet(state == CentralForwarder::Refused || state == CentralForwarder::Unreachable
                                   ? QStringLiteral("color: #c0392b; font-weight: 600;")
                                   : QString());
        central->setVisible(!text.isEmpty());
    };
    if (CentralForwarder* forwarder = CentralForwarder::instance()) {
        showCentral(forwarder->state(), forwarder->statusText());
        connect(forwarder, &CentralForwarder::statusChanged, central, showCentral);
    } else {
        central->hide();
    }
}

void MainWindow::updateStorageLabel()
{
    const DataFeedTableModel* feed = CaptureCore::instance()->model();
    // Grouped as the rest of the window's English texts are, whatever the system's language.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QString text;
    const bool waiting = feed->waitingRows() > 0;
    if (waiting) {
        text = QStringLiteral("Results not stored: %1 \u2014 %2 waiting")
                   .arg(feed->storageProblem().toHtmlEscaped(), english.toString(feed->waitingRows()));
    } else if (feed->recoveredRows() > 0) {
        text = QStringLiteral("Waiting results stored: %1").arg(english.toString(feed->recoveredRows()));
    }
    if (feed->refusedRows() > 0 && !text.isEmpty()) {
        text += QStringLiteral("; %1 newer results lost (memory full)")
                    .arg(english.toString(feed->refusedRows()));
    }
    ui->storageLabel->setText(text);
    ui->storageLabel->setToolTip(text);
    ui->storageLabel->setProperty("cleared", !waiting);
    ui->storageLabel->style()->unpolish(ui->storageLabel);
    ui->storageLabel->style()->polish(ui->storageLabel);
    ui->storageLabel->setVisible(!text.isEmpty());
    if (waiting) {
        m_storageClearedTimer->stop();
    } else {
        m_storageClearedTimer->start();
    }
}

void MainWindow::paintConnectionIcon(const char* colour)
{
    ui->connectionIcon->setPixmap(IconTint::tinted(QIcon(QStringLiteral(":/Resources/connection.svg")),
                                                   StatusIconSize, QColor(QLatin1String(colour))));
}

void MainWindow::updateStatusBar(int state)
{
    if (state == STATE_DISCONNECTED) {
        ui->deviceLabel->hide();
        ui->idLabel->hide();
        ui->interfaceLabel->hide();
        ui->autoConnectLabel->hide();
        ui->autoConnectLabel->setText(QStringLiteral("Auto connect: <b>OFF</b>"));
        paintConnectionIcon(Disconnected);
        ui->noConnectionLabel->show();
        return;
    }
    if (state != STATE_CONNECTED) {
        return;
    }
    const CDevice* device = CControllerInterface::currentDevice();
    if (!device) {
        return;
    }
    ui->deviceLabel->setText(QStringLiteral("Device: <b>") + device->model() + QStringLiteral("</b>"));
    ui->idLabel->setText(QStringLiteral("ID: <b>") + device->serialNumber() + QStringLiteral("</b>"));
    ui->interfaceLabel->setText(QStringLiteral("Interface: <b>") + device->interfaceDescription() +
                                QStringLiteral("</b>"));
    ui->noConnectionLabel->hide();
    paintConnectionIcon(Connected);
    if (SettingsController::instance()->autoConnect.value()) {
        ui->autoConnectLabel->setText(QStringLiteral("Auto connect: <b>ON</b>"));
    }
    ui->deviceLabel->show();
    ui->idLabel->show();
    ui->interfaceLabel->show();
    ui->autoConnectLabel->show();
}

void MainWindow::updateStatus(int result, int command)
{
    // Model and serial number are known only once the identity has been read.
    if (result != COMMAND_OK || command != COMMAND_READ_INFO) {
        return;
    }
    if (const CDevice* device = CControllerInterface::currentDevice()) {
        updateStatusBar(device->state());
    }
}

void MainWindow::setFilePath(QString path)
{
    if (path.isEmpty()) {
        ui->fileLabel->hide();
        return;
    }
    ui->fileLabel->setText(QStringLiteral("File: <b>...") + path.mid(path.lastIndexOf(QLatin1Char('/'))) +
                           QStringLiteral("</b>"));
    ui->fileLabel->show();
}

void MainWindow::setUpShortcuts()
{
    SettingsController* settings = SettingsController::instance();
    bindHotkey(m_sendShortcut, settings->sendHotkey);
    bindHotkey(m_tareShortcut, settings->tareHotkey);
    bindHotkey(m_zeroShortcut, settings->zeroHotkey);
    bindHotkey(m_onOffShortcut, settings->onOffHotkey);
    RequestNotice* requests = RequestNotice::instance();
    connect(m_sendShortcut, &QShortcut::activated, requests, &RequestNotice::send);
    connect(m_tareShortcut, &QShortcut::activated, requests, &RequestNotice::tare);
    connect(m_zeroShortcut, &QShortcut::activated, requests, &RequestNotice::zero);
    connect(m_onOffShortcut, &QShortcut::activated, requests, &RequestNotice::onOff);

    // Ctrl+1, Ctrl+2 and Ctrl+3 open the pages in the side bar's order.
    for (int page : {DevicePage, DataCapturePage, TransferPage}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + page)), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, page] { showPage(page); });
    }
}

void MainWindow::connectCaptureExport()
{
    ApplicationController* capture = ApplicationController::instance();
    connect(capture, &ApplicationController::minimize, ui->minimizeButton, &QAbstractButton::click);
    connect(capture, &ApplicationController::show, this, &MainWindow::restore);
    connect(capture, &ApplicationController::newFilePath, this, &MainWindow::setFilePath);
    connect(ui->transferWidget, &TransferWidget::changeToData, this, [this] {
        ui->mainStack->setCurrentIndex(DataCapturePage);
        ui->dataCaptureButton->setChecked(true);
    });
    connect(ui->dataFeedWidget, &DataFeedWidget::swapToTransfer, ui->transferButton, &QAbstractButton::click);
    connect(ui->deviceWidget, &DeviceWidget::autoOn, this,
            [this] { ui->autoConnectLabel->setText(QStringLiteral("Auto connect: <b>ON</b>")); });
    connect(ui->deviceWidget, &DeviceWidget::setDataFeed, this, [this] { showPage(DataCapturePage); });
}

void MainWindow::startDevicePage()
{
    ui->deviceWidget->start();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        alignStartCards();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::alignStartCards()
{
    // Every card's description takes the height of the longest, so that the cards, centred alike,
    // put their icons and titles on one line. Widths do not follow heights: no resize loop.
    const QList<QLabel*> texts{ui->deviceFrameText, ui->dataCaptureFrameText, ui->transferFrameText};
    int height = 0;
    for (const QLabel* text : texts) {
        height = std::max(height, text->heightForWidth(text->width()));
    }
    for (QLabel* text : texts) {
        text->setMinimumHeight(height);
    }
}

void MainWindow::resizeEvent(QResizeEvent* ev)
{
    emit resized();
    QMainWindow::resizeEvent(ev);
}
