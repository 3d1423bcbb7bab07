#include "ui/log/inoutfilter.h"

#include <QComboBox>

InOutFilter::InOutFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : AbstractFilter(column, index, label, parent)
{
    optionCombo()->addItems({QStringLiteral("IN and OUT"), QStringLiteral("IN"), QStringLiteral("OUT")});
    connect(optionCombo(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &InOutFilter::comboChanged);
}

QString InOutFilter::filterString() const
{
    switch (option()) {
    case In:
        return column() + QStringLiteral(" LIKE 'IN'");
    case Out:
        return column() + QStringLiteral(" LIKE 'OUT'");
    default:
        return QString();
    }
}

void InOutFilter::comboChanged(int)
{
    emit filterChanged();
}
