#include "ui/widgethider.h"

#include <QWidget>

WidgetHider::WidgetHider(QObject* parent) : QObject(parent) {}

WidgetHider::WidgetHider(const QList<QWidget*>& widgets, QObject* parent) : QObject(parent)
{
    for (QWidget* w : widgets) {
        addWidget(w);
    }
}

void WidgetHider::addWidget(QWidget* widget)
{
    if (widget != nullptr) {
        m_widgets.append(widget);
    }
}

QList<QWidget*> WidgetHider::widgets() const
{
    QList<QWidget*> list;
    for (const QPointer<QWidget>& w : m_widgets) {
        if (!w.isNull()) {
            list.append(w.data());
        }
    }
    return list;
}

void WidgetHider::setHidden(bool hidden)
{
    for (QWidget* w : widgets()) {
        w->setHidden(hidden);
    }
}

void WidgetHider::swap()
{
    for (QWidget* w : widgets()) {
        w->setHidden(!w->isHidden());
    }
}
