#pragma once

#include <QDialog>

class QLineEdit;

// Asks before a deletion or a note edit from the menu, with an optional reason that the audit trail
// keeps beside the change (and, for a note, the new note).
class ChangeReasonDialog : public QDialog
{
    Q_OBJECT
public:
    // With a note field when note is not null.
    ChangeReasonDialog(const QString& question, const QString& confirmText, const QString& note,
                       QWidget* parent = nullptr);

    QString reason() const;
    QString note() const;
    QLineEdit* reasonEdit() const { return m_reason; }
    QLineEdit* noteEdit() const { return m_note; }

private:
    QLineEdit* m_note = nullptr;
    QLineEdit* m_reason;
};
