#include "ui/pelmmodelview.h"

#include "platform/logcategories.h"
#include "ui/cpelmpropertiesdelegate.h"
#include "ui/pelmabstractitem.h"

#include <QHeaderView>
#include <QStandardItemModel>

PelmModelView::PelmModelView(QWidget* parent)
    : QTableView(parent), m_model(new QStandardItemModel(0, 2, this))
{
    setModel(m_model);
    setItemDelegate(new CPelmPropertiesDelegate(this));
    setColumnNames({tr("Name"), tr("Value")});
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);
    // Names stay readable; the last column takes the rest of the width.
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    connect(m_model, &QStandardItemModel::itemChanged, this, &PelmModelView::onParameterChanged);
}

void PelmModelView::addItem(PelmAbstractItem* item)
{
    const int row = m_model->rowCount();
    if (item->kind() == PelmAbstractItem::Title) {
        m_model->appendRow(item);
        setSpan(row, 0, 1, m_model->columnCount());
        return;
    }
    QStandardItem* nameCell = createNameItem(item->name());
    shadeFirstRow(row, nameCell);
    shadeFirstRow(row, item);
    m_model->appendRow({nameCell, item});
}

void PelmModelView::setItem(int row, int column, PelmAbstractItem* item)
{
    shadeFirstRow(row, item);
    m_model->setItem(row, column, item);
}

PelmAbstractItem* PelmModelView::item(int row, int column) const
{
    return dynamic_cast<PelmAbstractItem*>(m_model->item(row, column));
}

PelmAbstractItem* PelmModelView::findItem(const QString& name) const
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        for (int column = 0; column < m_model->columnCount(); ++column) {
            PelmAbstractItem* cell = item(row, column);
            if (cell != nullptr && cell->kind() != PelmAbstractItem::Title && cell->name() == name) {
                return cell;
            }
        }
    }
    return nullptr;
}

void PelmModelView::setColumnNames(const QStringList& names)
{
    m_model->setColumnCount(names.size());
    m_model->setHorizontalHeaderLabels(names);
}

void PelmModelView::setRowName(int row, const QString& name)
{
    m_model->setVerticalHeaderItem(row, new QStandardItem(name));
    verticalHeader()->show();
}

void PelmModelView::clearItems()
{
    clearSpans();
    m_model->removeRows(0, m_model->rowCount());
}

void PelmModelView::onParameterChanged(QStandardItem* item)
{
    auto* cell = dynamic_cast<PelmAbstractItem*>(item);
    if (cell == nullptr || !cell->takeValueChange()) {
        return;
    }
    qCDebug(lcUi) << cell->name() << cell->value();
    emit parameterChanged(cell->name(), cell->value());
}

QStandardItem* PelmModelView::createNameItem(const QString& name) const
{
    auto* cell = new QStandardItem(name);
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cell;
}

void PelmModelView::shadeFirstRow(int row, QStandardItem* cell)
{
    auto* pelm = dynamic_cast<PelmAbstractItem*>(cell);
    if (row == 0 && (pelm == nullptr || pelm->kind() != PelmAbstractItem::Title)) {
        cell->setBackground(QBrush(QColor(QStringLiteral("lightgray"))));
    }
}
