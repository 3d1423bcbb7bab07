#pragma once

#include <QLineEdit>

// A line for one IPv4 address in dotted form.
class IPLine : public QLineEdit
{
    Q_OBJECT
public:
    explicit IPLine(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
};
