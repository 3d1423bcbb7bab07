#include "ui/log/stringfilter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>

StringFilter::StringFilter(const QString& column, int index, const QString& label, QWidget* parent)
    : AbstractFilter(column, index, label, parent)
{
    optionCombo()->addItems({QStringLiteral("Starts with"), QStringLiteral("Ends with"),
                             QStringLiteral("Contains"), QStringLiteral("Equal")});
    m_edit = new QLineEdit(this);
    valueLayout()->addWidget(m_edit);
    connect(m_edit, &QLineEdit::textChanged, this, &StringFilter::textChanged);
    connect(optionCombo(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &StringFilter::comboChanged);
}

QString StringFilter::filterString() const
{
    const QString text = m_edit->text();
    if (text.isEmpty()) {
        return QString();
    }
    const int opt = option();
    const QString lead = (opt == EndsOn || opt == Contains) ? QStringLiteral("%") : QString();
    const QString trail = (opt == StartsOn || opt == Contains) ? QStringLiteral("%") : QString();
    return column() + QStringLiteral(" LIKE '") + lead + escaped(text) + trail + QStringLiteral("' ");
}

void StringFilter::comboChanged(int)
{
    emit filterChanged();
}

void StringFilter::textChanged(const QString&)
{
    emit filterChanged();
}
