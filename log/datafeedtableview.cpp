#include "log/datafeedtableview.h"

#include "log/datafeeditemdelegate.h"
#include "log/datafeedtablemodel.h"

#include <QCursor>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

DataFeedTableView::DataFeedTableView(QWidget* parent)
    : QTableView(parent), tableModel(new DataFeedTableModel(this)), deleteButton(new QPushButton(this)),
      delegate(new DataFeedItemDelegate(this))
{
    tableModel->createTable();
    tableModel->select();
    setModel(tableModel);
    // Widths are measured on the rows in sight and about a block around them: Qt's default sample of
    // a thousand rows costs, at a million rows, as much as the rest of opening the view.
    horizontalHeader()->setResizeContentsPrecision(DataFeedTableModel::BlockRows);
    // The delete button's column stays narrow, value and note take the room, the others fit their
    // contents; COUNT numbers the rows, so the row header would only repeat it.
    horizontalHeader()->setMinimumSectionSize(DeleteColumnWidth);
    horizontalHeader()->setSectionResizeMode(DataFeedTableModel::EmptyColumn, QHeaderView::Fixed);
    horizontalHeader()->resizeSection(DataFeedTableModel::EmptyColumn, DeleteColumnWidth);
    horizontalHeader()->setSectionResizeMode(DataFeedTableModel::ValColumn, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(DataFeedTableModel::NoteColumn, QHeaderView::Stretch);
    verticalHeader()->hide();
    // A click anywhere in a row, the right button's too, takes the whole row: the delete menu
    // acts on rows.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int max) {
        if (m_followEnd && isVisible()) {
            verticalScrollBar()->setValue(max);
        }
    });

    setMouseTracking(true);
    verticalScrollBar()->setMouseTracking(true);
    verticalScrollBar()->installEventFilter(this);

    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    deleteButton->lower();
    deleteButton->setFlat(true);
    // The icons are compiled into the program; tests and tools run without them.
    const QString icon = QStringLiteral(":/Resources/close.svg");
    if (QFile::exists(icon)) {
        deleteButton->setIcon(QIcon(icon));
    }
    deleteButton->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; }"
                                               "QPushButton:pressed { background: red; }"));
    connect(deleteButton, &QPushButton::clicked, this, &DataFeedTableView::onDeleteButtonClicked);
    connect(deleteButton, &QPushButton::pressed, this, &DataFeedTableView::onDeleteButtonPressed);
    connect(deleteButton, &QPushButton::released, this, &DataFeedTableView::onDeleteButtonReleased);

    // Numbering goes on after the highest row kept from earlier runs.
    m_nextCount = int(tableModel->maxStoredCount()) + 1;

    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(ResizeIntervalMs);
    setItemDelegate(delegate);
}

void DataFeedTableView::addRow(const QStringList& fields)
{
    tableModel->appendRow(m_nextCount, fields);
    ++m_nextCount;
    refresh();
    if (m_followEnd) {
        scrollToBottom();
    }
}

void DataFeedTableView::removeRow(int row)
{
    tableModel->removeRows(row, 1);
    refresh();
}

void DataFeedTableView::clearAll()
{
    tableModel->clear();
    m_nextCount = 1;
    setHoverRow(-1);
}

void DataFeedTableView::refresh()
{
    if (state() == QAbstractItemView::EditingState || !isVisible()) {
        return;
    }
    // Picks up rows stored by anyone but this view; the view's own changes are already shown.
    tableModel->fetchNew();
    // Measuring contents is the expensive part of a refresh; widths follow at most every 2.5 s.
    if (!refreshTimer.isActive()) {
        refreshTimer.start();
        fitColumns();
    }
}

void DataFeedTableView::fitColumns()
{
    for (int column = 0; column < DataFeedTableModel::ColumnCount; ++column) {
        if (horizontalHeader()->sectionResizeMode(column) == QHeaderView::Interactive &&
            !isColumnHidden(column)) {
            resizeColumnToContents(column);
        }
    }
}

qint64 DataFeedTableView::countAt(int row) const
{
    if (row < 0 || row >= tableModel->rowCount()) {
        return -1;
    }
    bool ok = false;
    const qint64 count = tableModel->index(row, DataFeedTableModel::CountColumn).data().toLongLong(&ok);
    return ok ? count : -1;
}

void DataFeedTableView::onDeleteButtonClicked()
{
    // Rows slide under the pointer while results arrive: only the row the button was pressed on
    // goes, and only if it is still the one under the pointer.
    const int removed = hoverRow;
    const qint64 pressed = m_pressedCount;
    m_pressedCount = -1;
    if (pressed < 0 || countAt(removed) != pressed) {
        return;
    }
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (!selected.isEmpty()) {
        int row = selected.first().row();
        removeRow(removed);
        if (removed < row) {
            --row;
        }
        selectionModel()->clearSelection();
        if (row >= 0 && row < tableModel->rowCount()) {
            selectionModel()->select(tableModel->index(row, 0),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
    } else {
        removeRow(removed);
    }
    // The row that slid under the pointer gets the button.
    placeDeleteButton(viewport()->mapFromGlobal(QCursor::pos()));
}

void DataFeedTableView::onDeleteButtonPressed()
{
    m_pressedCount = countAt(hoverRow);
}

void DataFeedTableView::onDeleteButtonReleased() {}

void DataFeedTableView::verticalScrollbarValueChanged(int value)
{
    QTableView::verticalScrollbarValueChanged(value);
    // The view's place is the user's only while it is shown; hidden, its range is not kept up.
    if (isVisible()) {
        m_followEnd = value >= verticalScrollBar()->maximum() - 1;
    }
    if (m_buttonRaised) {
        placeDeleteButton(viewport()->mapFromGlobal(QCursor::pos()));
    }
}

void DataFeedTableView::showEvent(QShowEvent* event)
{
    refresh();
    QTableView::showEvent(event);
    if (m_followEnd) {
        scrollToBottom();
    }
}

void DataFeedTableView::mouseMoveEvent(QMouseEvent* event)
{
    placeDeleteButton(event->pos());
    QTableView::mouseMoveEvent(event);
}

void DataFeedTableView::leaveEvent(QEvent* event)
{
    lowerDeleteButton();
    setHoverRow(-1);
    emit leaveTableEvent();
    QTableView::leaveEvent(event);
}

bool DataFeedTableView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == verticalScrollBar() && event->type() == QEvent::MouseMove) {
        lowerDeleteButton();
        setHoverRow(-1);
    }
    return QTableView::eventFilter(watched, event);
}

void DataFeedTableView::placeDeleteButton(const QPoint& viewportPos)
{
    QModelIndex index = indexAt(viewportPos);
    if (!index.isValid() || !viewport()->rect().contains(viewportPos)) {
        lowerDeleteButton();
        setHoverRow(-1);
        return;
    }
    if (index.column() != DataFeedTableModel::EmptyColumn) {
        index = index.sibling(index.row(), DataFeedTableModel::EmptyColumn);
    }
    // Cell rectangles are in viewport coordinates; the button is a child of the view itself.
    const QRect cell = visualRect(index).adjusted(10, 5, -10, -5);
    deleteButton->setGeometry(cell.translated(viewport()->geometry().topLeft()));
    deleteButton->raise();
    m_buttonRaised = true;
    setHoverRow(index.row());
}

void DataFeedTableView::lowerDeleteButton()
{
    deleteButton->lower();
    m_buttonRaised = false;
}

void DataFeedTableView::setHoverRow(int row)
{
    if (row == hoverRow) {
        return;
    }
    const int old = hoverRow;
    hoverRow = row;
    delegate->setHoverRow(row);
    updateRow(old);
    updateRow(row);
    emit hoverIndexChanged(row < 0 ? QModelIndex() : tableModel->index(row, 0));
}

void DataFeedTableView::updateRow(int row)
{
    if (row < 0 || row >= tableModel->rowCount()) {
        return;
    }
    const QRect first = visualRect(tableModel->index(row, 0));
    viewport()->update(QRect(0, first.top(), viewport()->width(), first.height()));
}
