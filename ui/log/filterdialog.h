#pragma once

#include <QDialog>
#include <QStringList>
#include <QVector>

class QListWidget;

// Lets the user pick the columns of the log view that get a filter.
class FilterDialog : public QDialog
{
    Q_OBJECT
public:
    FilterDialog(const QStringList& labels, const QVector<bool>& checked, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }

signals:
    void filterList(QVector<bool> l);

public slots:
    void setFilters();
    void cancelClicked();

private:
    QListWidget* m_list;
};
