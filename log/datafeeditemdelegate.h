#pragma once

#include <QStyledItemDelegate>

// Paints the data feed's row under the pointer highlighted, its NOTE cell in green.
class DataFeedItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit DataFeedItemDelegate(QObject* parent = nullptr);

    void setHoverRow(int row) { hoverRow = row; }
    int hoveredRow() const { return hoverRow; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    int hoverRow = -1;
};
