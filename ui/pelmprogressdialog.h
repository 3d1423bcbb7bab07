#pragma once

#include <QDialog>

class QLabel;

// A modal notice shown while a long operation runs. The user cannot dismiss it: the owner closes it when
// the operation ends.
class PelmProgressDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PelmProgressDialog(const QString& text, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_label;
};
