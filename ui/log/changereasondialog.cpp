#include "ui/log/changereasondialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ChangeReasonDialog::ChangeReasonDialog(const QString& question, const QString& confirmText,
                                       const QString& note, QWidget* parent)
    : QDialog(parent), m_reason(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("Mervik Connect"));
    auto* layout = new QFormLayout(this);
    layout->addRow(new QLabel(question, this));
    if (!note.isNull()) {
        m_note = new QLineEdit(note, this);
        m_note->setObjectName(QStringLiteral("noteEdit"));
        layout->addRow(QStringLiteral("Note:"), m_note);
    }
    m_reason->setObjectName(QStringLiteral("reasonEdit"));
    m_reason->setPlaceholderText(QStringLiteral("optional, kept in the audit trail"));
    layout->addRow(QStringLiteral("Reason:"), m_reason);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->addButton(confirmText, QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
    (m_note ? m_note : m_reason)->setFocus();
}

QString ChangeReasonDialog::reason() const
{
    return m_reason->text().trimmed();
}

QString ChangeReasonDialog::note() const
{
    return m_note ? m_note->text() : QString();
}
