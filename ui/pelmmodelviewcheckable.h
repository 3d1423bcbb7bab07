#pragma once

#include "ui/pelmmodelview.h"

// The property table with a check box before each name, for picking which values to apply.
class PelmModelViewCheckable : public PelmModelView
{
    Q_OBJECT
public:
    explicit PelmModelViewCheckable(QWidget* parent = nullptr);

    bool isChecked(const QString& name) const;
    void setChecked(const QString& name, bool checked);
    QStringList checkedNames() const;

signals:
    void parameterChecked(const QString& name, bool checked);

protected:
    QStandardItem* createNameItem(const QString& name) const override;

private slots:
    void onNameChanged(QStandardItem* item);

private:
    QStandardItem* nameCell(const QString& name) const;
};
