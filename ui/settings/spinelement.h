#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QSpinBox;

// A whole-number option value kept in step with every spin box bound to it.
class SpinElement : public QObject
{
    Q_OBJECT
public:
    explicit SpinElement(int value = 0, QObject* parent = nullptr);

    // The widget is set to the element's value.
    void bind(QSpinBox* widget);
    int value() const { return m_value; }
    void setEnabled(bool enabled);

public slots:
    void setState(int value);

signals:
    void stateChanged(int value);

private:
    QList<QPointer<QSpinBox>> m_widgets;
    int m_value;
};
