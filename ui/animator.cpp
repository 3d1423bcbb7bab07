#include "ui/animator.h"

#include "platform/logcategories.h"

#include <QWidget>

Animator::Animator(QObject* target, const QByteArray& propertyName, QObject* parent)
    : QVariantAnimation(parent), m_target(target), m_propertyName(propertyName)
{
}

void Animator::setTargetObject(QObject* target)
{
    if (state() == QAbstractAnimation::Running) {
        qCWarning(lcUi) << "Animation::setTargetObject: you can't change the target of a running animation";
        return;
    }
    m_target = target;
}

void Animator::setup(int duration, const QEasingCurve& easing)
{
    setDuration(duration);
    setEasingCurve(easing);
}

void Animator::interpolate(const QVariant& from, const QVariant& to)
{
    stop();
    setStartValue(from);
    setEndValue(to);
    start();
}

void Animator::jumpTo(const QVariant& value)
{
    stop();
    updateCurrentValue(value);
}

void Animator::updateCurrentValue(const QVariant& value)
{
    if (m_target.isNull()) {
        return;
    }
    m_target->setProperty(m_propertyName.constData(), value);
    if (auto* widget = qobject_cast<QWidget*>(m_target.data())) {
        widget->update();
    }
}
