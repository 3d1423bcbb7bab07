#pragma once

#include <QSqlRecord>
#include <QStringList>
#include <QVector>
#include <QWidget>

class AbstractFilter;
class QVBoxLayout;

// The log view's filter panel: one filter per column, shown as the user chooses them; the
// conditions of the shown filters, joined with AND, go out as one SQL condition.
class FilterWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MaximumWidth = 420;

    explicit FilterWidget(QWidget* parent = nullptr);

    // Leading columns of the record that get no filter (the log's key columns).
    void setSkippedColumns(int n) { skippedColumns = n; }
    void init(QSqlRecord record, QVector<int> types, QStringList labels);

    int filterCount() const { return int(m_filters.size()); }
    AbstractFilter* filterAt(int i) const { return m_filters.value(i); }
    QStringList labels() const;
    QVector<bool> shownFilters() const;

signals:
    void filterString(QString filterString);
    void setCollumns(QVector<bool> list);

public slots:
    void setFilters(QVector<bool> list);
    void filterChanged();

private:
    void onXClicked(int index);
    void hideWhenEmpty();

    int skippedColumns = 0;
    bool initialized = false;
    QVBoxLayout* m_layout;
    QVector<AbstractFilter*> m_filters;
};
