#pragma once

#include <QModelIndex>
#include <QStringList>
#include <QTableView>
#include <QTimer>

class DataFeedItemDelegate;
class DataFeedTableModel;
class QPushButton;

// The captured results (table DATAFEED) with a delete button that floats over the row under the
// pointer. Only NOTE can be edited; every change is stored at once.
class DataFeedTableView : public QTableView
{
    Q_OBJECT
public:
    static constexpr int ResizeIntervalMs = 2500;
    static constexpr int DeleteColumnWidth = 40;

    explicit DataFeedTableView(QWidget* parent = nullptr);

    // fields: DATE, TIME, SN, VAL, UNIT, NOTE; the row gets the next COUNT.
    void addRow(const QStringList& fields);
    void removeRow(int row);
    void clearAll();
    int nextCount() const { return m_nextCount; }
    void refresh();
    // Fits the columns that take their width from their contents; value and note share the rest.
    void fitColumns();
    // Whether new rows scroll into sight: the user is at the end (or has not scrolled since opening).
    bool isFollowingEnd() const { return m_followEnd; }

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

protected slots:
    void verticalScrollbarValueChanged(int value) override;

protected:
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

    DataFeedTableModel* tableModel;
    QPushButton* deleteButton;
    int hoverRow = -1;
    DataFeedItemDelegate* delegate;
    int m_nextCount = 1;
    // The COUNT of the row whose delete button was pressed; -1 when none is.
    qint64 m_pressedCount = -1;
    QTimer refreshTimer;
    bool m_buttonRaised = false;
    bool m_followEnd = true;
};
