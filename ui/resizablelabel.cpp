#include "ui/resizablelabel.h"

#include <QResizeEvent>

#include <algorithm>

ResizableLabel::ResizableLabel(QWidget* parent) : QLabel(parent) {}

int ResizableLabel::pointSizeFor(const QSize& size)
{
    // In integers, because 2.4 and 8.8 have no exact binary form and the quotient of an exact multiple
    // could truncate one point low.
    return std::min(size.height() * 5 / 12, size.width() * 5 / 44);
}

void ResizableLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    const int points = pointSizeFor(event->size());
    // A point size below 1 is refused by QFont with a warning; a collapsed label keeps its last font.
    if (points < 1 || font().pointSize() == points) {
        return;
    }
    QFont f = font();
    f.setPointSize(points);
    setFont(f);
}
