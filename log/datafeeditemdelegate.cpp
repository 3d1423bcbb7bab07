#include "log/datafeeditemdelegate.h"

#include "log/datafeedtablemodel.h"

#include <QPainter>
#include <QTextOption>

DataFeedItemDelegate::DataFeedItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void DataFeedItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    if (index.row() != hoverRow) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const bool note = index.column() == DataFeedTableModel::NoteColumn;
    painter->fillRect(option.rect, note ? QColor(0xcc, 0xff, 0xcc) : QColor(0xcc, 0xcc, 0xcc));
    painter->drawText(QRectF(option.rect.adjusted(5, 4, -5, -4)), index.data().toString(), QTextOption());
}
