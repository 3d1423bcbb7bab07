#include "ui/qwinwidget.h"

#include "platform/logcategories.h"
#include "ui/accessiblenamer.h"
#include "ui/focusmark.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>

QWinWidget::QWinWidget(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_layout(new QVBoxLayout(this)),
      m_mainWindow(nullptr)
{
    setWindowTitle(QStringLiteral("Mervik Connect"));
    setMinimumSize(MinimumWidth, MinimumHeight);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    m_mainWindow = new MainWindow(this);
    // A main window is a window of its own unless told to be a child.
    m_mainWindow->setWindowFlags(Qt::Widget);
    m_layout->addWidget(m_mainWindow);
    m_mainWindow->setMinimumSize(MainMinimumWidth, MainMinimumHeight);

    connect(m_mainWindow->minimizeButton(), &QAbstractButton::clicked, this,
            &QWinWidget::onMinimizeButtonClicked);
    connect(m_mainWindow->fullScreenButton(), &QAbstractButton::clicked, this,
            &QWinWidget::onMaximizeButtonClicked);
    connect(m_mainWindow->closeButton(), &QAbstractButton::clicked, this, &QWinWidget::onCloseButtonClicked);
    connect(m_mainWindow, &MainWindow::restore, this, &QWinWidget::onRestoreButtonClicked);
    auto* fullScreen = new QShortcut(QKeySequence(Qt::Key_F11), this);
    connect(fullScreen, &QShortcut::activated, this, &QWinWidget::toggleFullScreen);

    // Keyboard and screen-reader users: a ring around the focus, and every control named.
    FocusMark::install();
    AccessibleNamer::install();

    // The window receives every pointer event before the widget under the pointer does, so the borders
    // and the title bar work above whatever child covers them.
    create();
    windowHandle()->installEventFilter(this);
}

QWinWidget::~QWinWidget()
{
    showEdgeCursor({});
}

void QWinWidget::onRestoreButtonClicked()
{
    if (m_mainWindow->fullScreenButton()->isChecked()) {
        showMaximized();
    } else {
        showNormal();
    }
    raise();
    activateWindow();
}

void QWinWidget::onMaximizeButtonClicked()
{
    if (m_mainWindow->fullScreenButton()->isChecked()) {
        showMaximized();
    } else {
        showNormal();
    }
}

void QWinWidget::toggleFullScreen()
{
    if (!isFullScreen()) {
        showFullScreen();
    } else if (m_mainWindow->fullScreenButton()->isChecked()) {
        showMaximized();
    } else {
        showNormal();
    }
}

void QWinWidget::onMinimizeButtonClicked()
{
    showMinimized();
}

void QWinWidget::onCloseButtonClicked()
{
    hide();
    QCoreApplication::quit();
}

void QWinWidget::closeEvent(QCloseEvent* event)
{
    // Closing by the window manager ends the program like the close button does.
    event->accept();
    onCloseButtonClicked();
}

void QWinWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        // The window manager may maximise or restore the window itself; the check button follows.
        // setChecked() does not click, so this does not maximise again.
        // Full screen keeps the maximised state it goes back to.
        if (!isFullScreen()) {
            m_mainWindow->fullScreenButton()->setChecked(isMaximized());
        }
    }
    QWidget::changeEvent(event);
}

Qt::Edges QWinWidget::edgesAt(const QPoint& pos) const
{
    Qt::Edges edges;
    if (isMaximized() || isFullScreen()) {
        return edges;
    }
    if (pos.x() < BorderWidth) {
        edges |= Qt::LeftEdge;
    } else if (pos.x() >= width() - BorderWidth) {
        edges |= Qt::RightEdge;
    }
    if (pos.y() < BorderWidth) {
        edges |= Qt::TopEdge;
    } else if (pos.y() >= height() - BorderWidth) {
        edges |= Qt::BottomEdge;
    }
    return edges;
}

bool QWinWidget::isOnTitleBar(const QPoint& pos) const
{
    const QWidget* titleBar = m_mainWindow->titleBar();
    const QPoint local = titleBar->mapFrom(this, pos);
    if (!titleBar->rect().contains(local)) {
        return false;
    }
    // The title bar's buttons keep their clicks.
    for (const QWidget* child = titleBar->childAt(local); child && child != titleBar;
         child = child->parentWidget()) {
        if (qobject_cast<const QAbstractButton*>(child)) {
            return false;
        }
    }
    return true;
}

bool QWinWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && onWindowMouseEvent(event)) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool QWinWidget::onWindowMouseEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_drag == Drag::MovePending) {
            if ((mouse->globalPos() - m_pressGlobal).manhattanLength() < QApplication::startDragDistance()) {
                return true;
            }
            m_drag = windowHandle()->startSystemMove() ? Drag::None : Drag::Move;
        }
        if (m_drag != Drag::None) {
            followPointer(mouse->globalPos());
            return true;
        }
        if (mouse->buttons() == Qt::NoButton) {
            showEdgeCursor(edgesAt(mouse->pos()));
        }
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) {
            return false;
        }
        const Qt::Edges edges = edgesAt(mouse->pos());
        if (edges) {
            if (!windowHandle()->startSystemResize(edges)) {
                m_drag = Drag::Resize;
                m_dragEdges = edges;
                m_pressGlobal = mouse->globalPos();
                m_pressGeometry = geometry();
            }
            return true;
        }
        if (isOnTitleBar(mouse->pos()) && !isMaximized() && !isFullScreen()) {
            // The move starts once the pointer moves: a window manager that moved at once would keep
            // the second click of a double click to itself.
            m_drag = Drag::MovePending;
            m_pressGlobal = mouse->globalPos();
            m_pressGeometry = geometry();
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (m_drag != Drag::None) {
            m_drag = Drag::None;
            return true;
        }
        return false;
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && isOnTitleBar(mouse->pos()) && !isFullScreen()) {
            m_drag = Drag::None;
            m_mainWindow->fullScreenButton()->click();
            return true;
        }
        return false;
    }
    case QEvent::Leave:
        if (m_drag == Drag::None) {
            showEdgeCursor({});
        }
        return false;
    default:
        return false;
    }
}

void QWinWidget::showEdgeCursor(Qt::Edges edges)
{
    if (edges == m_cursorEdges) {
        return;
    }
    m_cursorEdges = edges;
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge)) {
        shape = Qt::SizeFDiagCursor;
    } else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge)) {
        shape = Qt::SizeBDiagCursor;
    } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
        shape = Qt::SizeHorCursor;
    } else if (edges & (Qt::TopEdge | Qt::BottomEdge)) {
        shape = Qt::SizeVerCursor;
    }
    // An override cursor, because the children under the border have cursors of their own.
    if (!edges) {
        if (m_overrideCursor) {
            QApplication::restoreOverrideCursor();
            m_overrideCursor = false;
        }
    } else if (m_overrideCursor) {
        QApplication::changeOverrideCursor(QCursor(shape));
    } else {
        QApplication::setOverrideCursor(QCursor(shape));
        m_overrideCursor = true;
    }
}

void QWinWidget::followPointer(const QPoint& globalPos)
{
    const QPoint delta = globalPos - m_pressGlobal;
    if (m_drag == Drag::Move) {
        move(m_pressGeometry.topLeft() + delta);
        return;
    }
    QRect rect = m_pressGeometry;
    const QSize minimum = minimumSize();
    // The edge opposite the dragged one stays put; the window never shrinks below its minimum.
    if (m_dragEdges & Qt::LeftEdge) {
        rect.setLeft(qMin(rect.left() + delta.x(), rect.right() + 1 - minimum.width()));
    } else if (m_dragEdges & Qt::RightEdge) {
        rect.setRight(qMax(rect.right() + delta.x(), rect.left() + minimum.width() - 1));
    }
    if (m_dragEdges & Qt::TopEdge) {
        rect.setTop(qMin(rect.top() + delta.y(), rect.bottom() + 1 - minimum.height()));
    } else if (m_dragEdges & Qt::BottomEdge) {
        rect.setBottom(qMax(rect.bottom() + delta.y(), rect.top() + minimum.height() - 1));
    }
    setGeometry(rect);
}
