#include "ui/focusmark.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QPointer>

namespace {

// The ring shown now, if any; each window has its own, which goes with the window.
QPointer<FocusMark> shown;

// Watches the whole program's focus for the reason it moved.
class FocusWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType()) {
            return false;
        }
        auto* widget = static_cast<QWidget*>(watched);
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool byKeyboard = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                                reason == Qt::ShortcutFocusReason;
        if (shown) {
            shown->follow(nullptr);
        }
        if (byKeyboard && !widget->isWindow() && !qobject_cast<FocusMark*>(widget)) {
            QWidget* window = widget->window();
            auto* mark = window->findChild<FocusMark*>(QString(), Qt::FindDirectChildrenOnly);
            shown = mark ? mark : new FocusMark(window);
            shown->follow(widget);
        }
        return false;
    }
};

} // namespace

FocusMark::FocusMark(QWidget* window) : QWidget(window)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void FocusMark::install()
{
    static bool installed = false;
    if (installed || !qApp) {
        return;
    }
    installed = true;
    qApp->installEventFilter(new FocusWatcher(qApp));
}

QWidget* FocusMark::target()
{
    return shown && shown->isVisible() ? shown->m_target.data() : nullptr;
}

void FocusMark::follow(QWidget* widget)
{
    watchChain(false);
    m_target = widget;
    if (!widget) {
        hide();
        return;
    }
    watchChain(true);
    place();
}

void FocusMark::watchChain(bool watch)
{
    // The widget and every parent up to the window: any of them may move or vanish under the ring.
    for (QWidget* w = m_target; w && w != parentWidget(); w = w->parentWidget()) {
        if (watch) {
            w->installEventFilter(this);
        } else {
            w->removeEventFilter(this);
        }
    }
}

void FocusMark::place()
{
    QWidget* window = parentWidget();
    if (!m_target || !window || !m_target->isVisible() || !m_target->hasFocus()) {
        hide();
        return;
    }
    // Only the part that can be seen: a widget scrolled half out of view is not ringed outside it.
    const QRect visible = m_target->visibleRegion().boundingRect();
    if (visible.isEmpty()) {
        hide();
        return;
    }
    const QRect rect(m_target->mapTo(window, visible.topLeft()), visible.size());
    setGeometry(rect.adjusted(-Margin, -Margin, Margin, Margin) & window->rect());
    raise();
    show();
    update();
}

bool FocusMark::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::FocusOut:
        // After the change has settled in the layout.
        QMetaObject::invokeMethod(this, &FocusMark::place, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FocusMark::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(QStringLiteral("#3b9ae1")), Margin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
}
