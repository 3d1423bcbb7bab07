#include "ui/clickableframe.h"

#include <QEvent>
#include <QKeyEvent>
#include <QStyle>
#include <QVariant>

ClickableFrame::ClickableFrame(QWidget* parent) : QFrame(parent)
{
    setProperty("pressed", false);
    // A button for the keyboard too: a Tab stop that Space or Return clicks.
    setFocusPolicy(Qt::StrongFocus);
    // The frame's own events are filtered, so subclasses and the pages keep their event handlers free.
    installEventFilter(this);
}

bool ClickableFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            setPressed(true);
            break;
        case QEvent::MouseButtonRelease:
            setPressed(false);
            emit clicked(false);
            break;
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->modifiers() == Qt::NoModifier && !key->isAutoRepeat() &&
                (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return ||
                 key->key() == Qt::Key_Enter)) {
                emit clicked(false);
                return true;
            }
            break;
        }
        case QEvent::Enter:
            emit hoverIn();
            break;
        case QEvent::Leave:
            emit hoverOut();
            break;
        case QEvent::Resize:
            emit resized();
            break;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void ClickableFrame::setPressed(bool pressed)
{
    setProperty("pressed", pressed);
    // Property selectors are evaluated at polish time only.
    style()->unpolish(this);
    style()->polish(this);
    update();
}
