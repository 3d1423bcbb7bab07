#pragma once

#include <QByteArray>
#include <QPointer>
#include <QVariantAnimation>

// Animates one property of one object, like QPropertyAnimation, but keeps its target fixed while it runs
// and repaints a widget target on every step.
class Animator : public QVariantAnimation
{
    Q_OBJECT
public:
    Animator(QObject* target, const QByteArray& propertyName, QObject* parent = nullptr);

    QObject* targetObject() const { return m_target; }
    // Refused while the animation runs: the steps in flight belong to the old target.
    void setTargetObject(QObject* target);
    QByteArray propertyName() const { return m_propertyName; }

    void setup(int duration, const QEasingCurve& easing);
    // Runs from one value to the other, restarting when an animation is already running.
    void interpolate(const QVariant& from, const QVariant& to);
    // Stops any running animation and sets the property at once.
    void jumpTo(const QVariant& value);

protected:
    void updateCurrentValue(const QVariant& value) override;

private:
    QPointer<QObject> m_target;
    QByteArray m_propertyName;
};
