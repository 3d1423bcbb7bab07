#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QComboBox;

// A choice (an index) kept in step with every combo box bound to it.
class ComboElement : public QObject
{
    Q_OBJECT
public:
    explicit ComboElement(int value = 0, QObject* parent = nullptr);

    // The widget's current index is set to the element's value.
    void bind(QComboBox* widget);
    int value() const { return m_value; }
    void setEnabled(bool enabled);

public slots:
    void setState(int value);

signals:
    void stateChanged(int value);

private:
    QList<QPointer<QComboBox>> m_widgets;
    int m_value;
};
