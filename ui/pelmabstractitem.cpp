#include "ui/pelmabstractitem.h"

#include <QCoreApplication>

PelmAbstractItem::PelmAbstractItem(const QString& name, bool editable)
    : m_name(name), m_editable(editable), m_type(QStandardItem::UserType)
{
    updateFlags();
}

QVariant PelmAbstractItem::value() const
{
    return QStandardItem::data(ValueRole);
}

void PelmAbstractItem::setValue(const QVariant& value)
{
    QStandardItem::setData(normalised(value), ValueRole);
    updateFlags();
}

void PelmAbstractItem::initValue(const QVariant& value)
{
    setValue(value);
    m_reportedValue = this->value();
}

void PelmAbstractItem::setEditable(bool editable)
{
    m_editable = editable;
    updateFlags();
}

QVariant PelmAbstractItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return hasValue() ? textFor(value())
                          : QCoreApplication::translate("PelmAbstractItem", "Not specified");
    case Qt::EditRole:
        return value();
    default:
        return QStandardItem::data(role);
    }
}

void PelmAbstractItem::setData(const QVariant& value, int role)
{
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case ValueRole:
        setValue(value);
        break;
    default:
        QStandardItem::setData(value, role);
        break;
    }
}

bool PelmAbstractItem::takeValueChange()
{
    const QVariant current = value();
    if (current == m_reportedValue && current.isValid() == m_reportedValue.isValid()) {
        return false;
    }
    m_reportedValue = current;
    return true;
}

void PelmAbstractItem::updateFlags()
{
    Qt::ItemFlags f = flags();
    f.setFlag(Qt::ItemIsEditable, m_editable && hasValue());
    if (f != flags()) {
        setFlags(f);
    }
}
