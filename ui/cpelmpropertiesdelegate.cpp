#include "ui/cpelmpropertiesdelegate.h"

#include "ui/log/pelmfiledialog.h"

#include "platform/logcategories.h"
#include "ui/ipline.h"
#include "ui/pelmabstractdialog.h"
#include "ui/pelmitems.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyle>
#include <QTimeEdit>

CPelmPropertiesDelegate::CPelmPropertiesDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

PelmAbstractItem* CPelmPropertiesDelegate::itemAt(const QModelIndex& index)
{
    const auto* model = qobject_cast<const QStandardItemModel*>(index.model());
    return model != nullptr ? dynamic_cast<PelmAbstractItem*>(model->itemFromIndex(index)) : nullptr;
}

QWidget* CPelmPropertiesDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                               const QModelIndex& index) const
{
    PelmAbstractItem* item = itemAt(index);
    if (item == nullptr) {
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    switch (item->kind()) {
    case PelmAbstractItem::Title:
        return nullptr;
    case PelmAbstractItem::Line:
        return new QLineEdit(parent);
    case PelmAbstractItem::Numeric: {
        const auto* numeric = static_cast<const PelmNumericItem*>(item);
        auto* editor = new QDoubleSpinBox(parent);
        editor->setDecimals(numeric->decimals());
        editor->setRange(numeric->minimum(), numeric->maximum());
        return editor;
    }
    case PelmAbstractItem::Nominal: {
        auto* editor = new QComboBox(parent);
        editor->addItems(static_cast<const PelmNominalItem*>(item)->choices());
        connect(editor, QOverload<int>::of(&QComboBox::activated), this,
                &CPelmPropertiesDelegate::commitAndCloseEditor);
        return editor;
    }
    case PelmAbstractItem::Date: {
        auto* editor = new QDateEdit(parent);
        editor->setDisplayFormat(PelmDateItem::Format);
        editor->setCalendarPopup(true);
        return editor;
    }
    case PelmAbstractItem::Time: {
        auto* editor = new QTimeEdit(parent);
        editor->setDisplayFormat(PelmTimeItem::Format);
        return editor;
    }
    case PelmAbstractItem::DayTime: {
        auto* editor = new QTimeEdit(parent);
        editor->setDisplayFormat(PelmDayTimeItem::Format);
        return editor;
    }
    case PelmAbstractItem::IPLine:
        return new IPLine(parent);
    case PelmAbstractItem::File: {
        auto* editor = new QLineEdit(parent);
        QAction* browse = editor->addAction(editor->style()->standardIcon(QStyle::SP_DirOpenIcon),
                                            QLineEdit::TrailingPosition);
        // A cancelled choice keeps the text, and committing an unchanged value reports nothing.
        connect(browse, &QAction::triggered, editor, [editor] {
            // Starts in the folder last used for choosing files here (home at first).
            PelmFileDialog dialog(QStringLiteral("PropertyFile"), editor);
            dialog.setWindowTitle(tr("Choose file"));
            const QString path = dialog.openFile(QString());
            if (!path.isEmpty()) {
                editor->setText(path);
            }
        });
        connect(browse, &QAction::triggered, this, &CPelmPropertiesDelegate::commitAndCloseEditor);
        return editor;
    }
    case PelmAbstractItem::Dialog: {
        PelmAbstractDialog* dialog = static_cast<const PelmDialogItem*>(item)->createDialog(parent);
        if (dialog == nullptr) {
            qCWarning(lcUi) << "no dialog for" << item->name();
            return nullptr;
        }
        dialog->setProperty("row_index", index.row());
        // Closed either way, the dialog ends the edit; setModelData takes its value only when accepted.
        connect(dialog, &QDialog::finished, this, &CPelmPropertiesDelegate::commitAndCloseEditor);
        return dialog;
    }
    }
    return nullptr;
}

void CPelmPropertiesDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    PelmAbstractItem* item = itemAt(index);
    if (item == nullptr) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    const QVariant value = item->value();
    switch (item->kind()) {
    case PelmAbstractItem::Title:
        break;
    case PelmAbstractItem::Line:
    case PelmAbstractItem::IPLine:
    case PelmAbstractItem::File:
        static_cast<QLineEdit*>(editor)->setText(value.toString());
        break;
    case PelmAbstractItem::Numeric:
        static_cast<QDoubleSpinBox*>(editor)->setValue(value.toDouble());
        break;
    case PelmAbstractItem::Nominal:
        static_cast<QComboBox*>(editor)->setCurrentIndex(static_cast<PelmNominalItem*>(item)->currentIndex());
        break;
    case PelmAbstractItem::Date:
        static_cast<QDateEdit*>(editor)->setDate(value.toDate());
        break;
    case PelmAbstractItem::Time:
    case PelmAbstractItem::DayTime:
        static_cast<QTimeEdit*>(editor)->setTime(value.toTime());
        break;
    case PelmAbstractItem::Dialog:
        static_cast<PelmAbstractDialog*>(editor)->setValue(value);
        break;
    }
}

void CPelmPropertiesDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                           const QModelIndex& index) const
{
    PelmAbstractItem* item = itemAt(index);
    if (item == nullptr) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    QVariant value;
    switch (item->kind()) {
    case PelmAbstractItem::Title:
        return;
    case PelmAbstractItem::Line:
    case PelmAbstractItem::File:
        value = static_cast<QLineEdit*>(editor)->text();
        break;
    case PelmAbstractItem::IPLine: {
        const QString text = static_cast<QLineEdit*>(editor)->text();
        if (!PelmIPLineItem::isValidAddress(text)) {
            qCDebug(lcUi) << "not an IPv4 address, value kept:" << text;
            return;
        }
        value = text;
        break;
    }
    case PelmAbstractItem::Numeric:
        value = static_cast<QDoubleSpinBox*>(editor)->value();
        break;
    case PelmAbstractItem::Nominal:
        value = static_cast<QComboBox*>(editor)->currentText();
        break;
    case PelmAbstractItem::Date:
        value = static_cast<QDateEdit*>(editor)->date();
        break;
    case PelmAbstractItem::Time:
    case PelmAbstractItem::DayTime:
        value = static_cast<QTimeEdit*>(editor)->time();
        break;
    case PelmAbstractItem::Dialog: {
        auto* dialog = static_cast<PelmAbstractDialog*>(editor);
        if (dialog->result() != QDialog::Accepted) {
            return;
        }
        value = dialog->value();
        break;
    }
    }
    model->setData(index, value, Qt::EditRole);
}

void CPelmPropertiesDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                   const QModelIndex& index) const
{
    // A dialog is a window of its own and centres itself on the table's window.
    if (qobject_cast<QDialog*>(editor) != nullptr) {
        return;
    }
    QStyledItemDelegate::updateEditorGeometry(editor, option, index);
}

void CPelmPropertiesDelegate::commitAndCloseEditor()
{
    QObject* source = sender();
    auto* editor = qobject_cast<QWidget*>(source);
    if (editor == nullptr && qobject_cast<QAction*>(source) != nullptr) {
        editor = qobject_cast<QWidget*>(source->parent());
    }
    if (editor == nullptr) {
        return;
    }
    emit commitData(editor);
    emit closeEditor(editor);
}
