#include "ui/settings/twostateelement.h"

#include <QAbstractButton>

TwoStateElement::TwoStateElement(bool value, QObject* parent) : QObject(parent), m_value(value) {}

void TwoStateElement::bind(QAbstractButton* widget)
{
    m_widgets.append(widget);
    connect(widget, &QAbstractButton::toggled, this, &TwoStateElement::setState);
    setState(widget->isChecked());
}

void TwoStateElement::setEnabled(bool enabled)
{
    for (const QPointer<QAbstractButton>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setEnabled(enabled);
        }
    }
}

void TwoStateElement::setState(bool value)
{
    // Pushing into a widget re-enters here through its toggled signal; the value is stored and
    // announced once, by whichever call gets there first.
    for (const QPointer<QAbstractButton>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setChecked(value);
        }
    }
    if (value != m_value) {
        m_value = value;
        emit stateChanged(value);
    }
}
