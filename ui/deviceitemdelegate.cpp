#include "ui/deviceitemdelegate.h"

#include <QPainter>

namespace {
const QColor Selection(0xf0, 0xf0, 0xf0);
const QColor ConnectedColour(0x6f, 0xc4, 0x20);
const QColor DisconnectedColour(0x79, 0x79, 0x79);
const QColor UnreachableColour(0xc0, 0x39, 0x2b);
} // namespace

void DeviceItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    QStyleOptionViewItem plain(option);
    initStyleOption(&plain, index);
    if (plain.state & QStyle::State_Selected) {
        painter->fillRect(plain.rect, Selection);
    }
    if (index.column() != 0 || plain.text.isEmpty()) {
        QStyleOptionViewItem unselected(option);
        unselected.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        QStyledItemDelegate::paint(painter, unselected, index);
        return;
    }
    const QColor colour = plain.text == QLatin1String("Connected")      ? ConnectedColour
                          : plain.text == QLatin1String("Disconnected") ? DisconnectedColour
                                                                        : UnreachableColour;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const int dot = 8;
    const QRect mark(plain.rect.left() + 6, plain.rect.center().y() - dot / 2, dot, dot);
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawEllipse(mark);
    painter->setPen(colour);
    QFont bold = plain.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->drawText(plain.rect.adjusted(dot + 12, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, plain.text);
    painter->restore();
}
