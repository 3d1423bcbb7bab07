#pragma once

#include <QStyledItemDelegate>

class PelmAbstractItem;

// Gives each kind of property cell its editor and moves values between the editor and the cell.
class CPelmPropertiesDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit CPelmPropertiesDelegate(QObject* parent = nullptr);

    // The property cell behind an index of a QStandardItemModel, or null.
    static PelmAbstractItem* itemAt(const QModelIndex& index);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

public slots:
    // For editors that finish by themselves (a choice made, a file picked, a dialog closed): the sender
    // is the editor, or an action of it.
    void commitAndCloseEditor();
};
