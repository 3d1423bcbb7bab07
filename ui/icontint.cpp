#include "ui/icontint.h"

#include <QAbstractButton>
#include <QPainter>

namespace IconTint {

QPixmap tinted(const QIcon& icon, const QSize& size, const QColor& colour)
{
    QPixmap pixmap = icon.pixmap(size);
    if (pixmap.isNull()) {
        return pixmap;
    }
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

void tintButton(QAbstractButton* button, const QColor& colour)
{
    button->setIcon(QIcon(tinted(button->icon(), button->iconSize(), colour)));
}

void setButtonIcon(QAbstractButton* button, const QString& path, const QColor& colour)
{
    button->setIcon(QIcon(tinted(QIcon(path), button->iconSize(), colour)));
}

} // namespace IconTint
