#pragma once

#include <QStyledItemDelegate>

// Paints the data feed's row under the pointer highlighted, its NOTE cell in green, and the values
// right-aligned on their decimal points.
class DataFeedItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit DataFeedItemDelegate(QObject* parent = nullptr);

    void setHoverRow(int row) { hoverRow = row; }
    int hoveredRow() const { return hoverRow; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // The width of the value's decimal point and the digits after it.
    static int fractionWidth(const QFontMetrics& metrics, const QString& value);

    int hoverRow = -1;
    // Room kept right of every value's decimal point: the widest fraction painted so far.
    mutable int m_fractionRoom = 0;
};
