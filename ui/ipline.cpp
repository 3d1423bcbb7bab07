#include "ui/ipline.h"

#include <QTimer>

IPLine::IPLine(QWidget* parent) : QLineEdit(parent)
{
    setInputMask(QStringLiteral("000.000.000.000"));
}

void IPLine::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // A mouse click places the cursor after the focus event; start typing at the first group instead.
    QTimer::singleShot(10, this, [this] { setCursorPosition(0); });
}
