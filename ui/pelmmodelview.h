#pragma once

#include <QStringList>
#include <QTableView>
#include <QVariant>

class PelmAbstractItem;
class QStandardItem;
class QStandardItemModel;

// The property table: by default one row per named value, with the columns "Name" and "Value". Tables
// with columns of their own place their cells with setItem() and name rows and columns themselves.
class PelmModelView : public QTableView
{
    Q_OBJECT
public:
    explicit PelmModelView(QWidget* parent = nullptr);

    QStandardItemModel* itemModel() const { return m_model; }

    // Appends a row of the item's name and the item; the view takes the item. A title spans the row.
    void addItem(PelmAbstractItem* item);
    // Places a cell; the view takes the item.
    void setItem(int row, int column, PelmAbstractItem* item);
    PelmAbstractItem* item(int row, int column) const;
    // The first value cell of that name, or null.
    PelmAbstractItem* findItem(const QString& name) const;

    void setColumnNames(const QStringList& names);
    // Naming a row shows the row header.
    void setRowName(int row, const QString& name);
    // Removes all rows, keeping the column names.
    void clearItems();

    // True while a cell's editor is open: a value set by the program then would be overwritten.
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }

signals:
    void parameterChanged(const QString& name, const QVariant& value);

public slots:
    void onParameterChanged(QStandardItem* item);

protected:
    // The cell that shows a row's name in the "Name" column.
    virtual QStandardItem* createNameItem(const QString& name) const;

private:
    // Gives every cell of the first row its shade, unless the cell is a title.
    static void shadeFirstRow(int row, QStandardItem* cell);

    QStandardItemModel* m_model;
};
