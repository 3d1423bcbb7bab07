#include "ui/pelmmodelviewcheckable.h"

#include "ui/pelmabstractitem.h"

#include <QStandardItemModel>

PelmModelViewCheckable::PelmModelViewCheckable(QWidget* parent) : PelmModelView(parent)
{
    connect(itemModel(), &QStandardItemModel::itemChanged, this, &PelmModelViewCheckable::onNameChanged);
}

QStandardItem* PelmModelViewCheckable::createNameItem(const QString& name) const
{
    QStandardItem* cell = PelmModelView::createNameItem(name);
    cell->setFlags(cell->flags() | Qt::ItemIsUserCheckable);
    cell->setCheckState(Qt::Unchecked);
    return cell;
}

bool PelmModelViewCheckable::isChecked(const QString& name) const
{
    const QStandardItem* cell = nameCell(name);
    return cell != nullptr && cell->checkState() == Qt::Checked;
}

void PelmModelViewCheckable::setChecked(const QString& name, bool checked)
{
    if (QStandardItem* cell = nameCell(name)) {
        cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

QStringList PelmModelViewCheckable::checkedNames() const
{
    QStringList names;
    for (int row = 0; row < itemModel()->rowCount(); ++row) {
        const QStandardItem* cell = itemModel()->item(row, 0);
        if (cell != nullptr && cell->isCheckable() && cell->checkState() == Qt::Checked) {
            names.append(cell->text());
        }
    }
    return names;
}

void PelmModelViewCheckable::onNameChanged(QStandardItem* item)
{
    // Value cells are reported by the base class; a name cell changes only when it is checked.
    if (dynamic_cast<PelmAbstractItem*>(item) != nullptr || !item->isCheckable()) {
        return;
    }
    emit parameterChecked(item->text(), item->checkState() == Qt::Checked);
}

QStandardItem* PelmModelViewCheckable::nameCell(const QString& name) const
{
    for (int row = 0; row < itemModel()->rowCount(); ++row) {
        QStandardItem* cell = itemModel()->item(row, 0);
        if (cell != nullptr && cell->isCheckable() && cell->text() == name) {
            return cell;
        }
    }
    return nullptr;
}
