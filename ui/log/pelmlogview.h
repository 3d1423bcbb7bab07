#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <QVector>

class FilterWidget;
class PelmQueryModel;

// The communication log as a live table: the newest groups of the log table, joined into lines
// (line mode) or as the chunks arrived (raw mode), following the tail while the user is at the
// bottom, keeping the user's selection across refreshes, filtered by the filter panel.
class PelmLogView : public QTableView
{
    Q_OBJECT
public:
    explicit PelmLogView(QWidget* parent = nullptr);
    ~PelmLogView() override;

    void setTable(const QString& name);
    void setLimit(int n);
    void setLineMode(bool on);
    void setRowColours(const QColor& inColour, const QColor& outColour);
    void clearLog();
    // Runs the grouping query again.
    void refresh();
    void refreshKeepingSelection();

    bool isLineMode() const { return lineMode; }
    bool isStickingToBottom() const { return stickToBottom; }
    QString currentFilter() const { return filter; }
    FilterWidget* filterPanel() const;
    PelmQueryModel* queryModel() const { return m_model; }

public slots:
    void save(QString path);
    void save();
    void saveRaw();
    void setFilter(QString f);
    void setBarMaxed(int action);
    void onScrollbarChange(int min, int max);
    void setCollumns(QVector<bool> list);
    // Lets the user pick the filtered columns.
    void chooseFilters();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void applyColumns();

    bool lineMode = true;
    // A window of its own unless a page puts it in its layout, which then may delete it first.
    QPointer<FilterWidget> filterWidget;
    bool stickToBottom = true;
    QString table;
    QString filter;
    QString limit = QStringLiteral("3000");
    PelmQueryModel* m_model;

    QVector<bool> m_shownColumns;
    // Selecting rows again after a refresh is not the user's doing and must not stop the following.
    bool m_restoringSelection = false;
};
