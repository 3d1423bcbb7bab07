#include "ui/clickableframe.h"

#include <QEvent>
#include <QStyle>
#include <QVariant>

ClickableFrame::ClickableFrame(QWidget* parent) : QFrame(parent)
{
    setProperty("pressed", false);
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
