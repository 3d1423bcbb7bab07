#include "ui/log/abstractfilter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

AbstractFilter::AbstractFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : QWidget(parent), m_column(column), m_index(index)
{
    // Two lines, the column's name with its X above the option and values, so that the panel stays
    // narrow beside the log and every filter's option box starts at the same place.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 6);
    layout->setSpacing(2);
    auto* title = new QHBoxLayout;
    m_label = new QLabel(label.isEmpty() ? column : label, this);
    m_label->setStyleSheet(QStringLiteral("font-weight: bold;"));
    m_xButton = new QToolButton(this);
    m_xButton->setObjectName(QStringLiteral("xButton"));
    m_xButton->setText(QStringLiteral("X"));
    m_xButton->setAutoRaise(true);
    m_xButton->setToolTip(QStringLiteral("Remove this filter"));
    title->addWidget(m_label, 1);
    title->addWidget(m_xButton);
    auto* values = new QHBoxLayout;
    chooseOptionCombo = new QComboBox(this);
    chooseOptionCombo->setObjectName(QStringLiteral("chooseOptionCombo"));
    chooseOptionCombo->setFixedWidth(OptionWidth);
    m_valueLayout = new QHBoxLayout;
    values->addWidget(chooseOptionCombo, 0, Qt::AlignLeft);
    values->addLayout(m_valueLayout, 1);
    layout->addLayout(title);
    layout->addLayout(values);
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
