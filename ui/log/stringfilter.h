#pragma once

#include "ui/log/abstractfilter.h"

class QLineEdit;

// Matches a text column by its start, its end, a part of it, or the whole text.
class StringFilter : public AbstractFilter
{
    Q_OBJECT
public:
    enum Option
    {
        StartsOn,
        EndsOn,
        Contains,
        Equal
    };

    StringFilter(const QString& column, int index, const QString& label, QWidget* parent = nullptr);

    QString filterString() const override;

    QLineEdit* lineEdit() const { return m_edit; }

public slots:
    void comboChanged(int option);
    void textChanged(const QString& text);

private:
    QLineEdit* m_edit;
};
