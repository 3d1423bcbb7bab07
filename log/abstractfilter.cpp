#include "log/abstractfilter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

AbstractFilter::AbstractFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : QWidget(parent), m_column(column), m_index(index)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_label = new QLabel(label.isEmpty() ? column : label, this);
    m_label->setMinimumWidth(70);
    chooseOptionCombo = new QComboBox(this);
    chooseOptionCombo->setObjectName(QStringLiteral("chooseOptionCombo"));
    m_valueLayout = new QHBoxLayout;
    m_xButton = new QToolButton(this);
    m_xButton->setObjectName(QStringLiteral("xButton"));
    m_xButton->setText(QStringLiteral("X"));
    layout->addWidget(m_label);
    layout->addWidget(chooseOptionCombo);
    layout->addLayout(m_valueLayout, 1);
    layout->addWidget(m_xButton);
    connect(m_xButton, &QToolButton::clicked, this, &AbstractFilter::xButtonClicked);
}

QString AbstractFilter::label() const
{
    return m_label->text();
}

int AbstractFilter::option() const
{
    return chooseOptionCombo->currentIndex();
}

QString AbstractFilter::escaped(const QString& value)
{
    QString out = value;
    return out.replace(QLatin1Char('\''), QStringLiteral("''"));
}

void AbstractFilter::xButtonClicked()
{
    active = false;
    hide();
    emit xClicked(m_index);
}

QString AbstractFilter::textRangeFragment(const QString& from, const QString& to) const
{
    const QString col = column();
    const QString first = escaped(from);
    switch (option()) {
    case 0:
        return col + QStringLiteral(" BETWEEN '") + first + QStringLiteral("' AND '") + escaped(to) +
               QStringLiteral("' ");
    case 1:
        return col + QStringLiteral(" >= '") + first + QStringLiteral("' ");
    case 2:
        return col + QStringLiteral(" <= '") + first + QStringLiteral("' ");
    case 3:
        return col + QStringLiteral(" = '") + first + QStringLiteral("' ");
    default:
        return QString();
    }
}
