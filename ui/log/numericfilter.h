#pragma once

#include "ui/log/abstractfilter.h"

class QDoubleSpinBox;

// Compares a number column with one value or a range; the values are written unquoted.
class NumericFilter : public AbstractFilter
{
    Q_OBJECT
public:
    enum Option
    {
        Between,
        GreaterThan,
        LowerThan,
        Equal
    };

    NumericFilter(const QString& column, int index, const QString& label, QWidget* parent = nullptr);

    QString filterString() const override;

    QDoubleSpinBox* fromBox() const { return m_from; }
    QDoubleSpinBox* toBox() const { return m_to; }

public slots:
    void comboChanged(int option);
    void valueChanged(double value);

private:
    QDoubleSpinBox* m_from;
    QDoubleSpinBox* m_to;
};
