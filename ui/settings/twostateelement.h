#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QAbstractButton;

// An on/off option value kept in step with every check box or checkable button bound to it.
class TwoStateElement : public QObject
{
    Q_OBJECT
public:
    explicit TwoStateElement(bool value = false, QObject* parent = nullptr);

    // The widget's checked state becomes the value (the last widget bound decides).
    void bind(QAbstractButton* widget);
    bool value() const { return m_value; }
    void setEnabled(bool enabled);

public slots:
    void setState(bool value);

signals:
    void stateChanged(bool value);

private:
    QList<QPointer<QAbstractButton>> m_widgets;
    bool m_value;
};
