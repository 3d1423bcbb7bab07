#pragma once

#include <QHash>
#include <QObject>

class QHeaderView;

// The widths the user gives the data feed's columns by dragging their edges. Such a column keeps its
// width instead of fitting its contents, in this run and the next ones (settings store, group
// "DataFeed"); the columns that share the rest of the room are left to do so.
class FeedColumnWidths : public QObject
{
    Q_OBJECT
public:
    explicit FeedColumnWidths(QHeaderView* header);

    bool isKept(int column) const { return m_widths.contains(column); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onSectionResized(int column, int oldSize, int newSize);
    void store() const;

    QHeaderView* m_header;
    // The user's widths by column.
    QHash<int, int> m_widths;
    // Between a press on the header and its release, resized columns are the user's doing.
    bool m_pressed = false;
    bool m_changed = false;
};
