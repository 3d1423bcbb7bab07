#include "ui/datafeedwidget.h"
#include "ui_datafeedwidget.h"

#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "device/cdevice.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"
#include "platform/logcategories.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/chart/feedchartpage.h"
#include "ui/chart/feedseries.h"
#include "ui/confirmationdialog.h"
#include "ui/log/auditdialog.h"
#include "ui/log/changereasondialog.h"
#include "ui/log/filterwidget.h"
#include "ui/log/pelmlogview.h"
#include "ui/settings/settingscontroller.h"

#include <QAction>
#include <QButtonGroup>
#include <QDateTime>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

#include <utility>

namespace {

// Log view columns before the ones the terminal options switch.
constexpr int TerminalKeyColumns = 2;

// The page's look of the display, which a full-screen display, a window of its own, no longer inherits.
const char* const FullScreenStyle = "#displayWidget { background: #ffffff; border: 1px solid #d6d6d6; }"
                                    "#displayValueLabel { color: #000000; }";

} // namespace

DataFeedWidget::DataFeedWidget(QWidget* parent)
    : QWidget(parent), ui(new Ui::DataFeedWidget),
      m_chartButton(new QPushButton(QStringLiteral("Chart"), this)), m_chartPage(new FeedChartPage(this))
{
    ui->setupUi(this);
    // The chart's button looks and sits like the other three views' buttons.
    m_chartButton->setObjectName(QStringLiteral("chartButton"));
    m_chartButton->setCheckable(true);
    m_chartButton->setMinimumSize(ui->terminalButton->minimumSize());
    m_chartButton->setIcon(QIcon(QStringLiteral(":/Resources/chart.svg")));
    m_chartButton->setIconSize(ui->terminalButton->iconSize());
    ui->viewButtonsLayout->insertWidget(ui->viewButtonsLayout->indexOf(ui->terminalButton) + 1,
                                        m_chartButton);
    QString style = styleSheet();
    for (const char* state : {"", ":checked", ":hover"}) {
        const QString selector = QStringLiteral("#terminalButton%1 {").arg(QLatin1String(state));
        style.replace(selector,
                      QStringLiteral("#terminalButton%1, #chartButton%1 {").arg(QLatin1String(state)));
    }
    setStyleSheet(style);
    ui->mainStack->insertWidget(ChartPage, m_chartPage);
    auto* views = new QButtonGroup(this);
    views->setExclusive(true);
    views->addButton(ui->feedButton);
    views->addButton(ui->displayButton);
    views->addButton(ui->terminalButton);
    views->addButton(m_chartButton);
    connect(m_chartButton, &QPushButton::toggled, this, &DataFeedWidget::setChart);
    connect(ui->feedButton, &QPushButton::toggled, this, &DataFeedWidget::setFeed);
    connect(ui->displayButton, &QPushButton::toggled, this, &DataFeedWidget::setDisplay);
    connect(ui->terminalButton, &QPushButton::toggled, this, &DataFeedWidget::setTerminal);

    ApplicationController* app = ApplicationController::instance();
    // The capture stores the results; the page only shows them.
    ui->tableWidget->setFeedModel(CaptureCore::instance()->model());
    m_chartPage->setModel(CaptureCore::instance()->model());
    // Rows selected in the table are what the chart, the statistics and the report show.
    m_chartPage->setSelectionModel(ui->tableWidget->selectionModel());
    // The table keeps no stability; the chart marks the results it saw arrive.
    connect(CaptureCore::instance(), &CaptureCore::resultCaptured, m_chartPage->series(),
            [series = m_chartPage->series()](qint64 count, const QStringList&, const Measurement& m) {
                series->noteStability(count, m.stability);
            });
    SettingsController* settings = SettingsController::instance();
    for (int column = 0; column < DataFeedTableModel::ColumnCount; ++column) {
        ui->tableWidget->setColumnHidden(column, !settings->isFeedColumnShown(column));
        if (const TwoStateElement* option = settings->feedColumnOption(column)) {
            connect(option, &TwoStateElement::stateChanged, this,
                    [this, column](bool show) { setColumnHidden(column, show); });
        }
    }
    const struct
    {
        TwoStateElement* option;
        int column;
    } terminalOptions[] = {{&settings->terminalInOut, 2},
                           {&settings->terminalInterface, 3},
                           {&settings->terminalDate, 4},
                           {&settings->terminalTime, 5}};
    for (const auto& entry : terminalOptions) {
        const int column = entry.column;
        connect(entry.option, &TwoStateElement::stateChanged, this,
                [this, column](bool show) { setColumnHiddenTerminal(column, show); });
        terminalColumns[column - TerminalKeyColumns] = entry.option->value();
    }
    connect(&settings->terminalRawChunks, &TwoStateElement::stateChanged, ui->tableLogs,
            [this](bool raw) { ui->tableLogs->setLineMode(!raw); });

    ui->tableWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tableWidget, &QWidget::customContextMenuRequested, this, &DataFeedWidget::menuRequested);
    CBalanceController* balance = CBalanceController::instance();
    connect(balance, &CBalanceController::significantResultReceived, this, &DataFeedWidget::receiveResult);
    connect(balance, &CBalanceController::anyResultReceived, this, &DataFeedWidget::showAnyResult);
    connect(balance, &CControllerInterface::currentDeviceChanged, this, &DataFeedWidget::updateDisplayNotice);
    connect(balance, &CControllerInterface::deviceStateChanged, this, &DataFeedWidget::updateDisplayNotice);
    displayTimer.setInterval(DisplayIntervalMs);
    connect(&displayTimer, &QTimer::timeout, this, &DataFeedWidget::askForDisplayResult);
    connect(ui->mainStack, &QStackedWidget::currentChanged, this, &DataFeedWidget::updateDisplayTimer);
    refreshTimer.setSingleShot(true);
    connect(&refreshTimer, &QTimer::timeout, this, &DataFeedWidget::isRefreshPending);
    if (CPelmLog* log = CPelmLog::instance()) {
        connect(log, &CPelmLog::newLog, this, &DataFeedWidget::refresh);
    }
    // A file export offers to start from an empty feed (the user answers; the file keeps what it holds),
    // whichever view is shown: the log is never its business.
    connect(app, &ApplicationController::clearContents, this, &DataFeedWidget::clearFeed);

    ui->tableLogs->setTable(QStringLiteral("LOGS"));
    ui->tableLogs->setLimit(LogLimit);
    ui->tableLogs->setRowColours(QColor(QStringLiteral("#eeeeee")), QColor(QStringLiteral("#ffffff")));
    ui->tableLogs->setCollumns(terminalColumns);
    ui->tableLogs->setLineMode(!settings->terminalRawChunks.value());

    connect(ui->exportRightContext, &RightExportContext::swapToTransfer, this,
            &DataFeedWidget::swapToTransfer);
    // The log's filters and exports, also on the view's own menu, where not every user looks.
    connect(ui->terminalRightContext, &RightTerminalContext::filterRequested, ui->tableLogs,
            &PelmLogView::chooseFilters);
    connect(ui->terminalRightContext, &RightTerminalContext::exportLinesRequested, ui->tableLogs,
            qOverload<>(&PelmLogView::save));
    connect(ui->terminalRightContext, &RightTerminalContext::exportReceivedRequested, ui->tableLogs,
            &PelmLogView::saveRaw);
    // The filter panel sits beside the log, not in a window of its own.
    ui->terminalPageLayout->addWidget(ui->tableLogs->filterPanel());
    ui->tableLogs->filterPanel()->hide();
    connect(ui->terminalRightContext, &RightTerminalContext::pasteCommand, ui->terminalBottomContext,
            &BottomTerminalContext::pasteCommand);
    connect(ui->exportBottomContext, &BottomExportContext::clearContents, this,
            &DataFeedWidget::clearContents);
    connect(ui->terminalBottomContext, &BottomTerminalContext::clearContents, this,
            &DataFeedWidget::clearContents);
    ui->displayWidget->installEventFilter(this);
    ui->displayWidget->setFocusPolicy(Qt::StrongFocus);
    ui->displayWidget->setAccessibleName(QStringLiteral("Display"));
    connect(ui->fullScreenButton, &QToolButton::toggled, this, &DataFeedWidget::setFullScreen);
    flashTimer.setSingleShot(true);
    flashTimer.setInterval(FlashMs);
    connect(&flashTimer, &QTimer::timeout, ui->displayWidget, [this] {
        ui->displayWidget->setStyleSheet(ui->fullScreenButton->isChecked() ? QLatin1String(FullScreenStyle)
                                                                           : QString());
    });

    updateDisplayNotice();
    setDisplay(true);
}

DataFeedWidget::~DataFeedWidget()
{
    if (ui->fullScreenButton->isChecked()) {
        // The full-screen display is a window of its own; it goes with the page.
        delete ui->displayWidget;
    }
    delete ui;
}

DataFeedTableView* DataFeedWidget::feedView() const
{
    return ui->tableWidget;
}

void DataFeedWidget::setFeed(bool enabled)
{
    if (!enabled) {
        return;
    }
    ui->feedButton->setChecked(true);
    ui->rightStack->setCurrentWidget(ui->exportRightContext);
    ui->bottomStack->setCurrentWidget(ui->exportBottomContext);
    // One statistics panel serves the table and the chart: it stands beside the view shown.
    m_chartPage->lendStatistics(ui->tablePageLayout);
    ui->mainStack->setCurrentIndex(TablePage);
    ui->rightContextWidget->show();
}

void DataFeedWidget::setDisplay(bool enabled)
{
    if (!enabled) {
        return;
    }
    ui->displayButton->setChecked(true);
    ui->rightStack->setCurrentWidget(ui->exportRightContext);
    ui->bottomStack->setCurrentWidget(ui->exportBottomContext);
    ui->mainStack->setCurrentIndex(DisplayPage);
    ui->rightContextWidget->hide();
}

void DataFeedWidget::setTerminal(bool enabled)
{
    if (!enabled) {
        return;
    }
    ui->terminalButton->setChecked(true);
    ui->rightStack->setCurrentWidget(ui->terminalRightContext);
    ui->bottomStack->setCurrentWidget(ui->terminalBottomContext);
    ui->mainStack->setCurrentIndex(TerminalPage);
    ui->rightContextWidget->show();
    if (std::exchange(m_logBehind, false)) {
        refresh();
    }
    ui->tableLogs->resizeColumnsToContents();
}

void DataFeedWidget::setChart(bool enabled)
{
    if (!enabled) {
        return;
    }
    m_chartButton->setChecked(true);
    ui->bottomStack->setCurrentWidget(ui->exportBottomContext);
    m_chartPage->placeStatistics();
    ui->mainStack->setCurrentIndex(ChartPage);
    // The chart's own statistics and report button stand where the export panel would.
    ui->rightContextWidget->hide();
}

bool DataFeedWidget::isDisplayShown() const
{
    return ui->mainStack->currentIndex() == DisplayPage;
}

void DataFeedWidget::receiveResult(Measurement)
{
    // The capture stores it; the table follows the new rows, or counts them while someone reads older
    // ones. The display says it arrived.
    if (isDisplayShown()) {
        flashDisplay();
    }
}

void DataFeedWidget::flashDisplay()
{
    ui->displayWidget->setStyleSheet(QLatin1String(FlashStyle));
    flashTimer.start();
}

void DataFeedWidget::showAnyResult(Measurement m)
{
    qCDebug(lcUi) << "any result received";
    if (isDisplayShown()) {
        updateDisplayNotice();
        ui->displayValueLabel->setText(m.valueText() + m.unit);
    }
}

void DataFeedWidget::updateDisplayNotice()
{
    const CDevice* device = CControllerInterface::currentDevice();
    const bool connected = device && device->state() == STATE_CONNECTED;
    if (!connected) {
        // The last reading is not the instrument's weight any more; a new one comes when it is back.
        ui->displayValueLabel->clear();
    }
    ui->displayValueLabel->setVisible(connected);
    ui->displayNoticeLabel->setVisible(!connected);
}

void DataFeedWidget::askForDisplayResult()
{
    // Also catches a device that went without a word (one being reconnected quietly, or deleted).
    updateDisplayNotice();
    // Without a connected, idle instrument every tick would only raise a refusal.
    const CDevice* device = CControllerInterface::currentDevice();
    if (!device || device->state() != STATE_CONNECTED || device->busy()) {
        return;
    }
    CBalanceController::instance()->resultWithStb();
}

void DataFeedWidget::updateDisplayTimer()
{
    const bool run = isDisplayShown() && isVisible();
    if (run && !displayTimer.isActive()) {
        displayTimer.start();
    } else if (!run) {
        displayTimer.stop();
    }
}

void DataFeedWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (isDisplayShown()) {
        displayTimer.start();
    }
}

void DataFeedWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    displayTimer.stop();
}

void DataFeedWidget::setFullScreen(bool on)
{
    // The button names what it does next.
    ui->fullScreenButton->setText(on ? QStringLiteral("Exit full screen") : QStringLiteral("Full screen"));
    ui->fullScreenButton->setToolTip(on ? QStringLiteral("Exit full screen (Esc)")
                                        : QStringLiteral("Full screen"));
    ui->fullScreenButton->setIcon(QIcon(on ? QStringLiteral(":/Resources/exitfullscreen.svg")
                                           : QStringLiteral(":/Resources/fullscreen.svg")));
    ui->displayWidget->setStyleSheet(on ? QLatin1String(FullScreenStyle) : QString());
    if (on) {
        ui->displayPageLayout->removeWidget(ui->displayWidget);
        ui->displayWidget->setParent(nullptr);
        ui->displayWidget->showFullScreen();
        // Escape reaches the display only while it has the keyboard.
        ui->displayWidget->activateWindow();
        ui->displayWidget->setFocus();
    } else {
        ui->displayWidget->setParent(ui->displayPage);
        ui->displayPageLayout->addWidget(ui->displayWidget);
        ui->displayWidget->show();
    }
}

bool DataFeedWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->displayWidget && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && ui->fullScreenButton->isChecked()) {
        ui->fullScreenButton->setChecked(false);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void DataFeedWidget::refresh()
{
    // Read only while it is the view chosen: at thousands of lines a second the query would cost the
    // table and the display their smoothness. It catches up when it is chosen again.
    if (ui->mainStack->currentIndex() != TerminalPage) {
        m_logBehind = true;
        return;
    }
    if (refreshTimer.isActive()) {
        refreshPending = true;
        return;
    }
    refreshPending = false;
    refreshTimer.start(RefreshIntervalMs);
    qCDebug(lcUi) << "void DataFeedWidget::refresh()";
    qCDebug(lcUi) << "REFRESH" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    const bool wasEmpty = ui->tableLogs->model()->rowCount() == 0;
    ui->tableLogs->refreshKeepingSelection();
    // Widths follow the first lines; later the user's own widths stay.
    if (wasEmpty && ui->tableLogs->model()->rowCount() > 0) {
        ui->tableLogs->resizeColumnsToContents();
    }
}

void DataFeedWidget::isRefreshPending()
{
    if (refreshPending) {
        refresh();
    }
}

void DataFeedWidget::clearContents()
{
    if (ui->mainStack->currentIndex() == TerminalPage) {
        ui->tableLogs->clearLog();
        return;
    }
    clearFeed();
}

void DataFeedWidget::clearFeed()
{
    const int rows = ui->tableWidget->feedModel()->rowCount();
    if (rows == 0) {
        return;
    }
    // Says what goes, and a key press alone keeps it: every captured result would be lost at once.
    const QString question = rows == 1 ? QStringLiteral("Delete the only result of the data feed?")
                                       : QStringLiteral("Delete all %1 results of the data feed?").arg(rows);
    ConfirmationDialog dialog(question, QStringLiteral("No"), QStringLiteral("Yes"), window());
    dialog.setDefaultButton(ConfirmationDialog::DefaultButton::Cancel);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    ui->tableWidget->clearAll();
    ApplicationController::instance()->restartTimer();
}

void DataFeedWidget::setColumnHidden(int column, bool show)
{
    ui->tableWidget->setColumnHidden(column, !show);
    ui->tableWidget->fitColumns();
}

void DataFeedWidget::setColumnHiddenTerminal(int column, bool show)
{
    const int index = column - TerminalKeyColumns;
    if (index < 0 || index >= terminalColumns.size()) {
        return;
    }
    terminalColumns[index] = show;
    // Through the view's own column list, which it applies again after every refresh.
    ui->tableLogs->setCollumns(terminalColumns);
}

void DataFeedWidget::menuRequested(QPoint pos)
{
    QModelIndexList selected = ui->tableWidget->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    QMenu menu(QStringLiteral("Context menu"), this);
    QAction* remove = menu.addAction(QStringLiteral("Delete"));
    QAction* removeWithReason = menu.addAction(QStringLiteral("Delete with reason..."));
    QAction* editNote = selected.size() == 1 ? menu.addAction(QStringLiteral("Edit note...")) : nullptr;
    menu.addSeparator();
    QAction* trail = menu.addAction(QStringLiteral("Audit trail..."));
    QAction* chosen = menu.exec(ui->tableWidget->viewport()->mapToGlobal(pos));
    if (!chosen) {
        return;
    }
    if (chosen == trail) {
        AuditDialog dialog(window());
        dialog.exec();
        return;
    }
    if (chosen == editNote) {
        const int row = selected.first().row();
        const QModelIndex note = ui->tableWidget->model()->index(row, DataFeedTableModel::NoteColumn);
        ChangeReasonDialog dialog(
            QStringLiteral("Note of result %1")
                .arg(note.siblingAtColumn(DataFeedTableModel::CountColumn).data().toString()),
            QStringLiteral("Save"), note.data().toString(), window());
        if (dialog.exec() == QDialog::Accepted) {
            ui->tableWidget->editNote(row, dialog.note(), dialog.reason());
        }
        return;
    }
    if (chosen != remove && chosen != removeWithReason) {
        return;
    }
    QString reason;
    if (chosen == removeWithReason) {
        ChangeReasonDialog dialog(selected.size() == 1
                                      ? QStringLiteral("Delete this result?")
                                      : QStringLiteral("Delete these %1 results?").arg(selected.size()),
                                  QStringLiteral("Delete"), QString(), window());
        if (dialog.exec() != QDialog::Accepted) {
            return;
        }
        reason = dialog.reason();
    }
    // One deletion, which the feed's notice can take back whole.
    QList<int> rows;
    for (const QModelIndex& index : qAsConst(selected)) {
        rows << index.row();
    }
    ui->tableWidget->removeRows(rows, reason);
}
