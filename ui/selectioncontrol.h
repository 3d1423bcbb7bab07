#pragma once

#include <QAbstractButton>

// A checkable button that reports its check state as a Qt::CheckState number, like a check box does.
class SelectionControl : public QAbstractButton
{
    Q_OBJECT
public:
    explicit SelectionControl(QWidget* parent = nullptr);

    Qt::CheckState checkState() const;

signals:
    void stateChanged(int state);
};
