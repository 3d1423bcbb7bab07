#include "ui/selectioncontrol.h"

SelectionControl::SelectionControl(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::toggled, this,
            [this](bool checked) { emit stateChanged(checked ? Qt::Checked : Qt::Unchecked); });
}

Qt::CheckState SelectionControl::checkState() const
{
    return isChecked() ? Qt::Checked : Qt::Unchecked;
}
