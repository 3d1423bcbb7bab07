#pragma once

#include <QColor>
#include <QSqlQueryModel>

// The log view's query model: rows of received text and of sent text get their own background,
// sent text its own colour and the direction column an arrow.
class PelmQueryModel : public QSqlQueryModel
{
    Q_OBJECT
public:
    static constexpr int InOutColumn = 2;

    explicit PelmQueryModel(QObject* parent = nullptr);

    void setRowColours(const QColor& in, const QColor& out);

    // Sets the query and reads every row it gives before views hear of it, so that they lay out
    // the rows once instead of once per fetched block. Meant for queries bounded by a limit.
    void setQueryFetchingAll(QSqlQuery query);

    QVariant data(const QModelIndex& item, int role = Qt::DisplayRole) const override;

private:
    QColor inColour{Qt::lightGray};
    QColor outColour{0xd0, 0xd0, 0xd0};
};
