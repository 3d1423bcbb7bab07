#pragma once

#include "ui/log/abstractfilter.h"

// Keeps only received or only sent text; the first option sets no condition.
class InOutFilter : public AbstractFilter
{
    Q_OBJECT
public:
    enum Option
    {
        NoCondition,
        In,
        Out
    };

    InOutFilter(const QString& column, int index, const QString& label, QWidget* parent = nullptr);

    QString filterString() const override;

public slots:
    void comboChanged(int option);
};
