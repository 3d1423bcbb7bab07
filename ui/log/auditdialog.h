#pragma once

#include <QDialog>

class ChainCheck;
class QLabel;
class QPushButton;
class QSqlQueryModel;
class QTableView;

// The audit trail of the stored results, newest first: who deleted or changed which result, when,
// what it held before and after, and why. It exports as the log view does, and checks the whole hash
// chain on request.
class AuditDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AuditDialog(QWidget* parent = nullptr);

    QTableView* table() const { return m_table; }
    QLabel* checkLabel() const { return m_checkLabel; }

public slots:
    // Reads the trail again.
    void reload();
    // Writes the trail to path, or to a file the user chooses when empty.
    bool exportTo(const QString& path = QString());
    // Checks every link of the chain in the background; the result shows below the table.
    void verifyAll();

private:
    QSqlQueryModel* m_model;
    QTableView* m_table;
    QLabel* m_checkLabel;
    QPushButton* m_verifyButton;
    ChainCheck* m_check;
};
