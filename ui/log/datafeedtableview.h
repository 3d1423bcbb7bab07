#pragma once

#include <QModelIndex>
#include <QStringList>
#include <QTableView>
#include <QTimer>
#include <QVariantList>

class DataFeedItemDelegate;
class DataFeedTableModel;
class FeedColumnWidths;
class QFrame;
class QLabel;
class QPushButton;

// The captured results (table DATAFEED) with a delete button that floats over the row under the
// pointer. Only NOTE can be edited; every change is stored at once. While the pointer is over the
// rows they hold still: new rows are counted in a notice instead of scrolled into sight. A deletion
// can be undone from a notice for a while. The rows are the capture's: the view shows a model it
// does not own, and follows the rows stored into it by anyone.
class DataFeedTableView : public QTableView
{
    Q_OBJECT
public:
    static constexpr int ResizeIntervalMs = 2500;
    static constexpr int DeleteColumnWidth = 40;
    static constexpr int UndoNoticeMs = 10000;

    // Shows nothing until it is given a model.
    explicit DataFeedTableView(QWidget* parent = nullptr);
    explicit DataFeedTableView(DataFeedTableModel* model, QWidget* parent = nullptr);

    // The rows to show; the model must outlive the view.
    void setFeedModel(DataFeedTableModel* model);
    // Stores a row through the model: fields DATE, TIME, SN, VAL, UNIT, NOTE; the database gives the
    // row its COUNT.
    void addRow(const QStringList& fields);
    void removeRow(int row);
    // Deletes the rows as one deletion, which the undo notice offers to take back; the reason goes
    // into the audit trail.
    void removeRows(QList<int> rows, const QString& reason = QString());
    // Stores a row's new note with the reason for the change.
    bool editNote(int row, const QString& note, const QString& reason);
    void clearAll();
    // The COUNT the next row gets, as far as this program knows.
    int nextCount() const;
    void refresh();
    // Fits the columns that take their width from their contents; value and note share the rest.
    void fitColumns();
    // Whether new rows scroll into sight: the user is at the end (or has not scrolled since opening)
    // and the pointer is not over the rows.
    bool isFollowingEnd() const { return m_followEnd && !m_pointerOver; }

    DataFeedTableModel* feedModel() const { return tableModel; }
    QPushButton* deleteButtonWidget() const { return deleteButton; }
    // The row under the pointer, -1 when none.
    int hoveredRow() const { return hoverRow; }
    // Whether the delete button sits over a row (it hides behind the table otherwise).
    bool isDeleteButtonRaised() const { return m_buttonRaised; }

signals:
    void hoverIndexChanged(QModelIndex index);
    void leaveTableEvent();

public slots:
    void onDeleteButtonClicked();
    void onDeleteButtonPressed();
    void onDeleteButtonReleased();
    // Stores the rows of the last deletion again, each with its own COUNT.
    void undoDelete();
    // Scrolls to the newest row and follows the new ones again.
    void showNewRows();

protected slots:
    void verticalScrollbarValueChanged(int value) override;

protected:
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeDeleteButton(const QPoint& viewportPos);
    void lowerDeleteButton();
    void setHoverRow(int row);
    void updateRow(int row);
    // The COUNT of a row; -1 for no row.
    qint64 countAt(int row) const;
    void setPointerOver(bool over);
    void followEnd();
    void updateNewRowsNotice();
    void offerUndo(const QList<QVariantList>& rows);
    void dropUndo();
    void placeNotices();

    DataFeedTableModel* tableModel = nullptr;
    QPushButton* deleteButton;
    int hoverRow = -1;
    DataFeedItemDelegate* delegate;
    // The COUNT of the row whose delete button was pressed; -1 when none is.
    qint64 m_pressedCount = -1;
    QTimer refreshTimer;
    bool m_buttonRaised = false;
    bool m_followEnd = true;
    // The pointer is over the rows: they must not slide under it.
    bool m_pointerOver = false;
    // Rows stored since the end was last in sight.
    int m_newRows = 0;
    QPushButton* m_newRowsNotice;
    QFrame* m_undoNotice;
    QLabel* m_undoLabel;
    // Every stored field of the rows of the last deletion, in COUNT order.
    QList<QVariantList> m_deleted;
    QTimer m_undoTimer;
    // Widths the user set, which fitting leaves alone.
    FeedColumnWidths* m_columnWidths = nullptr;
};
