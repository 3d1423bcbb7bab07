#include "ui/deviceitemdelegate.h"

#include <QPainter>

namespace {
const QColor Selection(0xf0, 0xf0, 0xf0);
const QColor ConnectedColour(0x6f, 0xc4, 0x20);
const QColor DisconnectedColour(0x79, 0x79, 0x79);
const QColor UnreachableColour(0xc0, 0x39, 0x2b);
const int Dot = 8;
const int Margin = 6;
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
    const QRect mark(plain.rect.left() + Margin, plain.rect.center().y() - Dot / 2, Dot, Dot);
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawEllipse(mark);
    painter->setPen(colour);
    QFont bold = plain.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->drawText(plain.rect.adjusted(Dot + 2 * Margin, 0, -Margin, 0), Qt::AlignVCenter | Qt::AlignLeft,
                      plain.text);
    painter->restore();
}

QSize DeviceItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.column() == 0) {
        QFont bold = option.font;
        bold.setBold(true);
        size.setWidth(QFontMetrics(bold).horizontalAdvance(index.data().toString()) + Dot + 3 * Margin);
    }
    return size;
}
