#include "log/pelmquerymodel.h"

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

QVariant PelmQueryModel::data(const QModelIndex& item, int role) const
{
    if (role == Qt::BackgroundRole) {
        const QVariant inOut = QSqlQueryModel::data(index(item.row(), InOutColumn), Qt::DisplayRole);
        return inOut.toString() == QLatin1String("IN") ? inColour : outColour;
    }
    return QSqlQueryModel::data(item, role);
}
