#include "ui/transferstopdialog.h"
#include "ui_transferstopdialog.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/icontint.h"
#include "ui/panelkit.h"
#include "ui/startstopcontrol.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

TransferStopDialog::TransferStopDialog(QWidget* parent) : QDialog(parent), ui(new Ui::TransferStopDialog)
{
    ui->setupUi(this);
    // Results are typed into the window that had the focus: this one must never take it.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    ApplicationController* app = ApplicationController::instance();

    PanelKit::makeFrameButton(ui->stopFrame, ui->stopLabel);
    IconTint::tintButton(ui->stopFrameB, QColor(QLatin1String(StartStopControl::StopColour)));
    IconTint::tintButton(ui->timerFrameB, QColor(QStringLiteral("#ff4141")));
    // The elapsed time is shown, not pressed: no Tab stop.
    ui->timerFrame->setFocusPolicy(Qt::NoFocus);
    ui->timerFrameB->setFocusPolicy(Qt::NoFocus);
    // The timer lets the mouse through to the dialog; the stop frame tells a drag from a click.
    ui->timerFrame->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui->stopFrame->installEventFilter(this);

    connect(ui->stopFrame, &ClickableFrame::clicked, this, &TransferStopDialog::stop);
    connect(app, &ApplicationController::elapsedTimeSig, ui->timeLabel,
            [this](int seconds) { ui->timeLabel->setText(PanelKit::elapsedText(seconds)); });
    ui->timeLabel->setText(PanelKit::elapsedText(app->elapsed()));
}

TransferStopDialog::~TransferStopDialog()
{
    delete ui;
}

void TransferStopDialog::stop()
{
    // Continue in the stop question keeps the capture, and this window with it.
    if (ApplicationController::instance()->stopExport()) {
        accept();
    }
}

void TransferStopDialog::reject()
{
    stop();
}

void TransferStopDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    // Frameless over other programs' windows: a border of its own sets it apart.
    QPainter painter(this);
    painter.setPen(QPen(QColor(QStringLiteral("#3b3b3b")), 2));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

bool TransferStopDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->stopFrame) {
        // Only mouse events are taken for what they are.
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            dragPress(static_cast<QMouseEvent*>(event));
            break;
        case QEvent::MouseMove:
            dragMove(static_cast<QMouseEvent*>(event));
            break;
        case QEvent::MouseButtonRelease:
            if (dragRelease(static_cast<QMouseEvent*>(event))) {
                // A drag that began on STOP is no click on it.
                ui->stopFrame->setProperty("pressed", false);
                ui->stopFrame->style()->unpolish(ui->stopFrame);
                ui->stopFrame->style()->polish(ui->stopFrame);
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TransferStopDialog::dragPress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return false;
    }
    m_pressed = true;
    m_dragging = false;
    m_pressPos = event->globalPos();
    m_dragOffset = event->globalPos() - frameGeometry().topLeft();
    return true;
}

bool TransferStopDialog::dragMove(QMouseEvent* event)
{
    if (!m_pressed || !(event->buttons() & Qt::LeftButton)) {
        return false;
    }
    if (!m_dragging &&
        (event->globalPos() - m_pressPos).manhattanLength() < QApplication::startDragDistance()) {
        return false;
    }
    m_dragging = true;
    move(event->globalPos() - m_dragOffset);
    return true;
}

bool TransferStopDialog::dragRelease(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return false;
    }
    const bool dragged = m_dragging;
    m_pressed = false;
    m_dragging = false;
    return dragged;
}

void TransferStopDialog::mousePressEvent(QMouseEvent* event)
{
    if (!dragPress(event)) {
        QDialog::mousePressEvent(event);
    }
}

void TransferStopDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragMove(event)) {
        QDialog::mouseMoveEvent(event);
    }
}

void TransferStopDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (!dragRelease(event)) {
        QDialog::mouseReleaseEvent(event);
    }
}
