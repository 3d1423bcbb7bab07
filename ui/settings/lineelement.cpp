#include "ui/settings/lineelement.h"

#include <QLineEdit>

LineElement::LineElement(QString value, QObject* parent) : QObject(parent), m_value(std::move(value)) {}

void LineElement::bind(QLineEdit* widget)
{
    m_widgets.append(widget);
    connect(widget, &QLineEdit::textChanged, this, &LineElement::setState);
    setState(widget->text());
}

void LineElement::setEnabled(bool enabled)
{
    for (const QPointer<QLineEdit>& widget : qAsConst(m_widgets)) {
        if (widget) {
            widget->setEnabled(enabled);
        }
    }
}

void LineElement::setState(const QString& value)
{
    // The value is copied: a widget's textChanged reference may not outlive the next setText.
    const QString text = value;
    for (const QPointer<QLineEdit>& widget : qAsConst(m_widgets)) {
        if (widget && widget->text() != text) {
            widget->setText(text);
        }
    }
    if (text != m_value) {
        m_value = text;
        emit stateChanged(text);
    }
}
