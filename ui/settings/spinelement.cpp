#include "ui/settings/spinelement.h"

#include <QSpinBox>

SpinElement::SpinElement(int value, QObject* parent) : QObject(parent), m_value(value) {}

void SpinElement::bind(QSpinBox* widget)
{
    m_widgets.append(widget);
    widget->setValue(m_value);
    connect(widget, QOverload<int>::of(&QSpinBox::valueChanged), this, &SpinElement::setState);
    // A range that cannot hold the value has moved the widget; the element follows it.
    setState(widget->value());
}

void SpinElement::setEnabled(bool enabled)
{
    for (const QPointer<QSpinBox>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setEnabled(enabled);
        }
    }
}

void SpinElement::setState(int value)
{
    for (const QPointer<QSpinBox>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setValue(value);
            // Clamped to the widget's range: the value shown is the value kept.
            value = widget->value();
        }
    }
    if (value != m_value) {
        m_value = value;
        emit stateChanged(value);
    }
}
