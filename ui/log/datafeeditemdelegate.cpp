#include "ui/log/datafeeditemdelegate.h"

#include "log/datafeedtablemodel.h"
#include "platform/queuedcall.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

DataFeedItemDelegate::DataFeedItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

int DataFeedItemDelegate::fractionWidth(const QFontMetrics& metrics, const QString& value)
{
    const int point = value.indexOf(QLatin1Char('.'));
    return point < 0 ? 0 : metrics.horizontalAdvance(value.mid(point));
}

void DataFeedItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const auto* model = qobject_cast<const DataFeedTableModel*>(index.model());
    if (model && model->isWaiting(index.row())) {
        // Not stored yet: shown as it will be, only paler.
        opt.palette.setColor(QPalette::Text, QColor(0x8a, 0x8a, 0x8a));
        opt.font.setItalic(true);
        opt.fontMetrics = QFontMetrics(opt.font);
    }
    if (index.row() == hoverRow) {
        // Only the background changes: the text stays where the plain row has it.
        opt.backgroundBrush = index.column() == DataFeedTableModel::NoteColumn ? QColor(0xcc, 0xff, 0xcc)
                                                                               : QColor(0xcc, 0xcc, 0xcc);
    }
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    if (index.column() != DataFeedTableModel::ValColumn) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }
    const QString value = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const int fraction = fractionWidth(opt.fontMetrics, value);
    if (fraction > m_fractionRoom) {
        // Rows painted before this one keep less room: have them painted again.
        m_fractionRoom = fraction;
        if (const auto* view = qobject_cast<const QAbstractItemView*>(widget)) {
            QWidget* viewport = view->viewport();
            queueCall(viewport, [viewport] { viewport->update(); });
        }
    }
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &opt, widget) + 1;
    const QRect text = opt.rect.adjusted(margin, 0, -margin - (m_fractionRoom - fraction), 0);
    const QPalette::ColorGroup group =
        opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                : QPalette::Text));
    // Eliding lays the text out again: only for a value too wide for its column.
    const bool fits = opt.fontMetrics.horizontalAdvance(value) <= text.width();
    painter->drawText(text, int(Qt::AlignRight | Qt::AlignVCenter),
                      fits ? value : opt.fontMetrics.elidedText(value, Qt::ElideLeft, text.width()));
    painter->restore();
}

QSize DataFeedItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.column() == DataFeedTableModel::ValColumn) {
        size.rwidth() += m_fractionRoom;
    }
    return size;
}
