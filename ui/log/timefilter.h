#pragma once

#include "ui/log/abstractfilter.h"

class QTime;
class QTimeEdit;

// Compares an "hh:mm:ss.zzz" text column with one time or a range; such times order correctly as text.
class TimeFilter : public AbstractFilter
{
    Q_OBJECT
public:
    enum Option
    {
        Between,
        LaterThan,
        EarlierThan,
        Equal
    };

    TimeFilter(const QString& column, int index, const QString& label, QWidget* parent = nullptr);

    QString filterString() const override;

    QTimeEdit* fromEdit() const { return m_from; }
    QTimeEdit* toEdit() const { return m_to; }

public slots:
    void comboChanged(int option);
    void timeChanged(const QTime& time);

private:
    QTimeEdit* m_from;
    QTimeEdit* m_to;
};
