#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QLineEdit;

// A text option value kept in step with every line edit bound to it.
class LineElement : public QObject
{
    Q_OBJECT
public:
    explicit LineElement(QString value = QString(), QObject* parent = nullptr);

    // The widget's text becomes the value.
    void bind(QLineEdit* widget);
    QString value() const { return m_value; }
    void setEnabled(bool enabled);

public slots:
    void setState(const QString& value);

signals:
    void stateChanged(const QString& value);

private:
    QList<QPointer<QLineEdit>> m_widgets;
    QString m_value;
};
