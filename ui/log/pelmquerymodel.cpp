#include "ui/log/pelmquerymodel.h"

#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QSqlQuery>

PelmQueryModel::PelmQueryModel(QObject* parent) : QSqlQueryModel(parent) {}

void PelmQueryModel::setRowColours(const QColor& in, const QColor& out)
{
    inColour = in;
    outColour = out;
    if (rowCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::BackgroundRole});
    }
}

void PelmQueryModel::setQueryFetchingAll(QSqlQuery query)
{
    // The query model's own reset and insert notifications stay silent inside an outer reset.
    beginResetModel();
    setQuery(std::move(query));
    while (canFetchMore()) {
        fetchMore();
    }
    endResetModel();
}

namespace {

// Text of what the program sent, set apart from the instrument's answers at a glance.
const QColor SentText(0x0b, 0x57, 0xb0);

// A small arrow beside IN and OUT: towards the text for what came in, away from it for what went out.
QImage directionMark(bool in)
{
    QImage image(12, 12, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(in ? QColor(0x3b, 0x3b, 0x3b) : SentText);
    const QPolygonF right(QVector<QPointF>{{2, 2}, {10, 6}, {2, 10}});
    const QPolygonF left(QVector<QPointF>{{10, 2}, {2, 6}, {10, 10}});
    painter.drawPolygon(in ? left : right);
    return image;
}

} // namespace

QVariant PelmQueryModel::data(const QModelIndex& item, int role) const
{
    if (role == Qt::BackgroundRole || role == Qt::ForegroundRole ||
        (role == Qt::DecorationRole && item.column() == InOutColumn)) {
        const QVariant inOut = QSqlQueryModel::data(index(item.row(), InOutColumn), Qt::DisplayRole);
        const bool in = inOut.toString() == QLatin1String("IN");
        if (role == Qt::BackgroundRole) {
            return in ? inColour : outColour;
        }
        if (role == Qt::ForegroundRole) {
            return in ? QVariant() : QVariant(SentText);
        }
        static const QImage inMark = directionMark(true);
        static const QImage outMark = directionMark(false);
        return in ? inMark : outMark;
    }
    return QSqlQueryModel::data(item, role);
}
