#pragma once

#include <QStyledItemDelegate>

// Paints the device table: a light selection that keeps the texts readable, and the status column
// as a coloured mark with its text.
class DeviceItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // The status column makes room for its mark and bold text.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
