#include "ui/pelmitems.h"

#include "ui/pelmabstractdialog.h"

#include <QBrush>
#include <QColor>
#include <QDate>
#include <QFont>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <climits>
#include <cmath>

const QString PelmDateItem::Format = QStringLiteral("yyyy-MM-dd");
const QString PelmTimeItem::Format = QStringLiteral("hh:mm:ss");
const QString PelmDayTimeItem::Format = QStringLiteral("h'h' m'min' s'sec'");

PelmTitleItem::PelmTitleItem(const QString& name) : PelmAbstractItem(name, false)
{
    setBackground(QBrush(QColor(QStringLiteral("gray"))));
    QFont f;
    f.setBold(true);
    setFont(f);
}

QVariant PelmTitleItem::data(int role) const
{
    if (role == Qt::DisplayRole) {
        return name();
    }
    return PelmAbstractItem::data(role);
}

PelmLineItem::PelmLineItem(const QString& name, const QVariant& value, bool editable)
    : PelmAbstractItem(name, editable)
{
    initValue(value);
}

QVariant PelmLineItem::normalised(const QVariant& value) const
{
    return value.isValid() ? QVariant(value.toString()) : QVariant();
}

PelmNumericItem::PelmNumericItem(const QString& name, const QVariant& value, int decimals, bool editable)
    : PelmAbstractItem(name, editable), m_decimals(std::max(0, decimals))
{
    initValue(value);
}

void PelmNumericItem::setRange(double minimum, double maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
}

QString PelmNumericItem::textFor(const QVariant& value) const
{
    return QString::number(value.toDouble(), 'f', m_decimals);
}

QVariant PelmNumericItem::normalised(const QVariant& value) const
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!value.isValid() || !ok || !std::isfinite(number)) {
        return {};
    }
    if (m_decimals == 0) {
        return int(std::lround(std::clamp(number, double(INT_MIN), double(INT_MAX))));
    }
    return number;
}

PelmNominalItem::PelmNominalItem(const QString& name, const QStringList& choices, int index, bool editable)
    : PelmAbstractItem(name, editable), m_choices(choices)
{
    initValue(index);
}

int PelmNominalItem::currentIndex() const
{
    return hasValue() ? m_choices.indexOf(value().toString()) : -1;
}

QVariant PelmNominalItem::normalised(const QVariant& value) const
{
    if (value.userType() == QMetaType::Int) {
        const int index = value.toInt();
        return index >= 0 && index < m_choices.size() ? QVariant(m_choices.at(index)) : QVariant();
    }
    const QString text = value.toString();
    return m_choices.contains(text) ? QVariant(text) : QVariant();
}

PelmDateItem::PelmDateItem(const QString& name, const QVariant& value, bool editable)
    : PelmAbstractItem(name, editable)
{
    initValue(value);
}

QString PelmDateItem::textFor(const QVariant& value) const
{
    return value.toDate().toString(Format);
}

QVariant PelmDateItem::normalised(const QVariant& value) const
{
    const QDate date =
        value.userType() == QMetaType::QString ? QDate::fromString(value.toString(), Format) : value.toDate();
    return date.isValid() ? QVariant(date) : QVariant();
}

PelmTimeItem::PelmTimeItem(const QString& name, const QVariant& value, bool editable)
    : PelmAbstractItem(name, editable)
{
    initValue(value);
}

QString PelmTimeItem::textFor(const QVariant& value) const
{
    return value.toTime().toString(Format);
}

QVariant PelmTimeItem::normalised(const QVariant& value) const
{
    const QTime time =
        value.userType() == QMetaType::QString ? QTime::fromString(value.toString(), Format) : value.toTime();
    return time.isValid() ? QVariant(time) : QVariant();
}

PelmDayTimeItem::PelmDayTimeItem(const QString& name, const QVariant& value, bool editable)
    : PelmTimeItem(name, QVariant(), editable)
{
    initValue(value);
}

QString PelmDayTimeItem::textFor(const QVariant& value) const
{
    return value.toTime().toString(Format);
}

bool PelmIPLineItem::isValidAddress(const QString& text)
{
    static const QString part = QStringLiteral("([0-1]?[0-9]?[0-9]|2[0-4][0-9]|25[0-5])");
    static const QRegularExpression address(QStringLiteral("^%1\\.%1\\.%1\\.%1$").arg(part));
    return address.match(text).hasMatch();
}

PelmIPLineItem::PelmIPLineItem(const QString& name, const QVariant& value, bool editable)
    : PelmAbstractItem(name, editable)
{
    initValue(value);
}

QVariant PelmIPLineItem::normalised(const QVariant& value) const
{
    return value.isValid() ? QVariant(value.toString()) : QVariant();
}

PelmFileItem::PelmFileItem(const QString& name, const QVariant& value, bool editable)
    : PelmAbstractItem(name, editable)
{
    initValue(value);
}

QVariant PelmFileItem::normalised(const QVariant& value) const
{
    return value.isValid() ? QVariant(value.toString()) : QVariant();
}

PelmDialogItem::PelmDialogItem(const QString& name, const QVariant& value, DialogFactory factory,
                               bool editable)
    : PelmAbstractItem(name, editable), m_factory(std::move(factory))
{
    initValue(value);
}

PelmAbstractDialog* PelmDialogItem::createDialog(QWidget* parent) const
{
    return m_factory ? m_factory(parent) : nullptr;
}
