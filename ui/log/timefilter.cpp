#include "ui/log/timefilter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QTimeEdit>

TimeFilter::TimeFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : AbstractFilter(column, index, label, parent)
{
    optionCombo()->addItems({QStringLiteral("Between"), QStringLiteral("Later than"),
                             QStringLiteral("Earlier than"), QStringLiteral("Equal")});
    // The whole day, so that switching the filter on hides nothing until the user narrows it.
    m_from = new QTimeEdit(QTime(0, 0), this);
    m_to = new QTimeEdit(QTime(23, 59, 59, 999), this);
    for (QTimeEdit* edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("HH:mm:ss.zzz"));
        valueLayout()->addWidget(edit);
        connect(edit, &QTimeEdit::timeChanged, this, &TimeFilter::timeChanged);
    }
    connect(optionCombo(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &TimeFilter::comboChanged);
}

QString TimeFilter::filterString() const
{
    return textRangeFragment(m_from->text(), m_to->text());
}

void TimeFilter::comboChanged(int option)
{
    m_to->setVisible(option == Between);
    emit filterChanged();
}

void TimeFilter::timeChanged(const QTime&)
{
    emit filterChanged();
}
