#pragma once

#include "ui/log/abstractfilter.h"

class QDate;
class QDateEdit;

// Compares a "yyyy-MM-dd" text column with one date or a range; such dates order correctly as text.
class DateFilter : public AbstractFilter
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

    DateFilter(const QString& column, int index, const QString& label, QWidget* parent = nullptr);

    QString filterString() const override;

    QDateEdit* fromEdit() const { return m_from; }
    QDateEdit* toEdit() const { return m_to; }

public slots:
    void comboChanged(int option);
    void dateChanged(const QDate& date);

private:
    QDateEdit* m_from;
    QDateEdit* m_to;
};
