#include "ui/settings/comboelement.h"

#include <QComboBox>

ComboElement::ComboElement(int value, QObject* parent) : QObject(parent), m_value(value) {}

void ComboElement::bind(QComboBox* widget)
{
    m_widgets.append(widget);
    widget->setCurrentIndex(m_value);
    connect(widget, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &ComboElement::setState);
}

void ComboElement::setEnabled(bool enabled)
{
    for (const QPointer<QComboBox>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setEnabled(enabled);
        }
    }
}

void ComboElement::setState(int value)
{
    for (const QPointer<QComboBox>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setCurrentIndex(value);
        }
    }
    if (value != m_value) {
        m_value = value;
        emit stateChanged(value);
    }
}
