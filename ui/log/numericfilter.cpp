#include "ui/log/numericfilter.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>

#include <limits>

namespace {
// Locales that write a decimal comma would break the SQL number.
QString sqlNumber(const QDoubleSpinBox* box)
{
    return box->text().replace(QLatin1Char(','), QLatin1Char('.'));
}
} // namespace

NumericFilter::NumericFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : AbstractFilter(column, index, label, parent)
{
    optionCombo()->addItems({QStringLiteral("Between"), QStringLiteral("Greater than"),
                             QStringLiteral("Lower than"), QStringLiteral("Equal")});
    m_from = new QDoubleSpinBox(this);
    m_to = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* box : {m_from, m_to}) {
        box->setRange(-1e12, 1e12);
        box->setDecimals(3);
        valueLayout()->addWidget(box);
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &NumericFilter::valueChanged);
    }
    connect(optionCombo(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &NumericFilter::comboChanged);
}

QString NumericFilter::filterString() const
{
    const QString col = column();
    switch (option()) {
    case Between:
        return col + QStringLiteral(" BETWEEN ") + sqlNumber(m_from) + QStringLiteral(" AND ") +
               sqlNumber(m_to) + QLatin1Char(' ');
    case GreaterThan:
        return col + QStringLiteral(" >= ") + sqlNumber(m_from) + QLatin1Char(' ');
    case LowerThan:
        return col + QStringLiteral(" <= ") + sqlNumber(m_from) + QLatin1Char(' ');
    case Equal:
        return col + QStringLiteral(" = ") + sqlNumber(m_from) + QLatin1Char(' ');
    default:
        return QString();
    }
}

void NumericFilter::comboChanged(int option)
{
    m_to->setVisible(option == Between);
    emit filterChanged();
}

void NumericFilter::valueChanged(double)
{
    emit filterChanged();
}
