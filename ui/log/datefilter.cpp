#include "ui/log/datefilter.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>

DateFilter::DateFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : AbstractFilter(column, index, label, parent)
{
    optionCombo()->addItems({QStringLiteral("Between"), QStringLiteral("Later than"),
                             QStringLiteral("Earlier than"), QStringLiteral("Equal")});
    // The log holds one run of the program, so today is where a search starts.
    m_from = new QDateEdit(QDate::currentDate(), this);
    m_to = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        valueLayout()->addWidget(edit);
        connect(edit, &QDateEdit::dateChanged, this, &DateFilter::dateChanged);
    }
    connect(optionCombo(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &DateFilter::comboChanged);
}

QString DateFilter::filterString() const
{
    return textRangeFragment(m_from->text(), m_to->text());
}

void DateFilter::comboChanged(int option)
{
    m_to->setVisible(option == Between);
    emit filterChanged();
}

void DateFilter::dateChanged(const QDate&)
{
    emit filterChanged();
}
