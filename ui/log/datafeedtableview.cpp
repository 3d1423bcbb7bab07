#include "ui/log/datafeedtableview.h"

#include "log/datafeedtablemodel.h"
#include "ui/log/datafeeditemdelegate.h"
#include "ui/log/feedcolumnwidths.h"

#include <QCursor>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace {
constexpr int NoticeMargin = 8;
const char* const NoticeStyle = "background: #3b3b3b; color: #ffffff; border: none; border-radius: 4px;";
} // namespace

DataFeedTableView::DataFeedTableView(DataFeedTableModel* model, QWidget* parent) : DataFeedTableView(parent)
{
    setFeedModel(model);
}

DataFeedTableView::DataFeedTableView(QWidget* parent)
    : QTableView(parent), deleteButton(new QPushButton(this)), delegate(new DataFeedItemDelegate(this)),
      m_newRowsNotice(new QPushButton(this)), m_undoNotice(new QFrame(this)),
      m_undoLabel(new QLabel(m_undoNotice))
{
    // Widths are measured on the rows in sight and about a block around them: Qt's default sample of
    // a thousand rows costs, at a million rows, as much as the rest of opening the view.
    horizontalHeader()->setResizeContentsPrecision(DataFeedTableModel::BlockRows);
    horizontalHeader()->setMinimumSectionSize(DeleteColumnWidth);
    // COUNT numbers the rows, so the row header would only repeat it.
    verticalHeader()->hide();
    // A click anywhere in a row, the right button's too, takes the whole row: the delete menu
    // acts on rows.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Scrolled by item, the view at its end aligns the last row to the bottom and the others to a
    // row's top as soon as a row is added below: the rows would slide under a still pointer.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int max) {
        if (isFollowingEnd() && isVisible()) {
            verticalScrollBar()->setValue(max);
        }
    });

    setMouseTracking(true);
    verticalScrollBar()->setMouseTracking(true);
    // Over the scroll bars or the header the pointer is off the rows.
    for (QWidget* edge :
         {static_cast<QWidget*>(verticalScrollBar()), static_cast<QWidget*>(horizontalScrollBar()),
          static_cast<QWidget*>(horizontalHeader())}) {
        edge->installEventFilter(this);
    }

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

    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(ResizeIntervalMs);
    setItemDelegate(delegate);

    m_newRowsNotice->setObjectName(QStringLiteral("newRowsNotice"));
    m_newRowsNotice->setStyleSheet(QStringLiteral("QPushButton { %1 padding: 4px 10px; }").arg(NoticeStyle));
    m_newRowsNotice->setCursor(Qt::PointingHandCursor);
    // The notices go when clicked; a focus of theirs would pass to the view, which then scrolls to
    // its current row.
    m_newRowsNotice->setFocusPolicy(Qt::NoFocus);
    m_newRowsNotice->hide();
    connect(m_newRowsNotice, &QPushButton::clicked, this, &DataFeedTableView::showNewRows);

    m_undoNotice->setObjectName(QStringLiteral("undoNotice"));
    m_undoNotice->setStyleSheet(
        QStringLiteral("#undoNotice { %1 } QLabel { color: #ffffff; }").arg(NoticeStyle));
    m_undoLabel->setObjectName(QStringLiteral("undoLabel"));
    auto* undoButton = new QPushButton(QStringLiteral("Undo"), m_undoNotice);
    undoButton->setObjectName(QStringLiteral("undoButton"));
    undoButton->setCursor(Qt::PointingHandCursor);
    undoButton->setFocusPolicy(Qt::NoFocus);
    undoButton->setStyleSheet(QStringLiteral(
        "QPushButton { color: #6fc420; font-weight: bold; background: transparent; border: none; }"));
    auto* undoLayout = new QHBoxLayout(m_undoNotice);
    undoLayout->setContentsMargins(10, 4, 10, 4);
    undoLayout->addWidget(m_undoLabel);
    undoLayout->addWidget(undoButton);
    m_undoNotice->hide();
    connect(undoButton, &QPushButton::clicked, this, &DataFeedTableView::undoDelete);
    m_undoTimer.setSingleShot(true);
    m_undoTimer.setInterval(UndoNoticeMs);
    connect(&m_undoTimer, &QTimer::timeout, this, &DataFeedTableView::dropUndo);
}

void DataFeedTableView::setFeedModel(DataFeedTableModel* model)
{
    if (model == tableModel) {
        return;
    }
    dropUndo();
    m_newRows = 0;
    tableModel = model;
    setModel(model);
    if (!model) {
        return;
    }
    // The delete button's column stays narrow, value and note take the room, the others fit their
    // contents.
    horizontalHeader()->setSectionResizeMode(DataFeedTableModel::EmptyColumn, QHeaderView::Fixed);
    horizontalHeader()->resizeSection(DataFeedTableModel::EmptyColumn, DeleteColumnWidth);
    horizontalHeader()->setSectionResizeMode(DataFeedTableModel::ValColumn, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(DataFeedTableModel::NoteColumn, QHeaderView::Stretch);
    delete m_columnWidths;
    m_columnWidths = new FeedColumnWidths(horizontalHeader());
    updateNewRowsNotice();
}

void DataFeedTableView::addRow(const QStringList& fields)
{
    if (tableModel) {
        tableModel->appendRow(fields);
    }
}

void DataFeedTableView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QTableView::rowsInserted(parent, start, end);
    // Rows put back in their places by an undo are not new; rows added at the end are, whoever
    // stored them.
    if (end + 1 < tableModel->rowCount()) {
        return;
    }
    // Measuring contents is the expensive part; widths follow at most every 2.5 s.
    if (isVisible() && state() != QAbstractItemView::EditingState && !refreshTimer.isActive()) {
        refreshTimer.start();
        fitColumns();
    }
    if (isFollowingEnd()) {
        scrollToBottom();
    } else {
        m_newRows += end - start + 1;
        updateNewRowsNotice();
    }
}

int DataFeedTableView::nextCount() const
{
    return tableModel ? int(tableModel->nextCount()) : 1;
}

void DataFeedTableView::removeRow(int row)
{
    removeRows({row});
}

void DataFeedTableView::removeRows(QList<int> rows, const QString& reason)
{
    if (!tableModel) {
        return;
    }
    tableModel->setChangeReason(reason);
    // From the last, so that the rows still to go keep their places.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<QVariantList> removed;
    for (const int row : qAsConst(rows)) {
        const QVariantList values = tableModel->storedRow(row);
        if (tableModel->removeRows(row, 1) && !values.isEmpty()) {
            removed.prepend(values);
        }
    }
    tableModel->setChangeReason(QString());
    refresh();
    if (!removed.isEmpty()) {
        offerUndo(removed);
    }
}

bool DataFeedTableView::editNote(int row, const QString& note, const QString& reason)
{
    if (!tableModel) {
        return false;
    }
    tableModel->setChangeReason(reason);
    const bool ok = tableModel->setData(tableModel->index(row, DataFeedTableModel::NoteColumn), note);
    tableModel->setChangeReason(QString());
    return ok;
}

void DataFeedTableView::clearAll()
{
    if (tableModel) {
        tableModel->clear();
    }
    setHoverRow(-1);
    // Numbering starts again: a row put back now would take a number the new rows are to get.
    dropUndo();
    m_newRows = 0;
    updateNewRowsNotice();
}

void DataFeedTableView::offerUndo(const QList<QVariantList>& rows)
{
    m_deleted = rows;
    m_undoLabel->setText(rows.size() == 1
                             ? QStringLiteral("Result %1 deleted \u2014")
                                   .arg(rows.first().value(DataFeedTableModel::CountColumn).toLongLong())
                             : QStringLiteral("%1 results deleted \u2014").arg(rows.size()));
    m_undoNotice->show();
    placeNotices();
    m_undoTimer.start();
}

void DataFeedTableView::dropUndo()
{
    m_undoTimer.stop();
    m_deleted.clear();
    m_undoNotice->hide();
    placeNotices();
}

void DataFeedTableView::undoDelete()
{
    if (!tableModel) {
        return;
    }
    const QList<QVariantList> rows = std::exchange(m_deleted, {});
    dropUndo();
    for (const QVariantList& values : rows) {
        tableModel->restoreRow(values);
    }
    refresh();
    if (m_buttonRaised) {
        placeDeleteButton(viewport()->mapFromGlobal(QCursor::pos()));
    }
}

void DataFeedTableView::setPointerOver(bool over)
{
    if (over == m_pointerOver) {
        return;
    }
    m_pointerOver = over;
    if (!over && m_followEnd) {
        followEnd();
    }
}

void DataFeedTableView::showNewRows()
{
    m_followEnd = true;
    followEnd();
}

void DataFeedTableView::followEnd()
{
    scrollToBottom();
    m_newRows = 0;
    updateNewRowsNotice();
}

void DataFeedTableView::updateNewRowsNotice()
{
    const int rows = tableModel ? tableModel->rowCount() : 0;
    const QRect last =
        rows > 0 ? visualRect(tableModel->index(rows - 1, DataFeedTableModel::EmptyColumn)) : QRect();
    if (rows == 0 || last.bottom() < viewport()->height()) {
        // The end is in sight: nothing new lies beyond it.
        m_newRows = 0;
    }
    m_newRowsNotice->setText(m_newRows == 1 ? QStringLiteral("1 new result \u2193")
                                            : QStringLiteral("%1 new results \u2193").arg(m_newRows));
    m_newRowsNotice->setVisible(m_newRows > 0);
    placeNotices();
}

void DataFeedTableView::placeNotices()
{
    // Stacked at the bottom of the rows, centred, above the delete button.
    const QRect area = viewport()->geometry();
    int bottom = area.bottom() - NoticeMargin;
    for (QWidget* notice : std::initializer_list<QWidget*>{m_newRowsNotice, m_undoNotice}) {
        if (notice->isHidden()) {
            continue;
        }
        const QSize size = notice->sizeHint().boundedTo(area.size() - QSize(2 * NoticeMargin, 0));
        notice->setGeometry(area.left() + (area.width() - size.width()) / 2, bottom - size.height() + 1,
                            size.width(), size.height());
        notice->raise();
        bottom -= size.height() + NoticeMargin;
    }
}

void DataFeedTableView::updateGeometries()
{
    QTableView::updateGeometries();
    placeNotices();
}

void DataFeedTableView::refresh()
{
    if (!tableModel || state() == QAbstractItemView::EditingState || !isVisible()) {
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
            !isColumnHidden(column) && !(m_columnWidths && m_columnWidths->isKept(column))) {
            resizeColumnToContents(column);
        }
    }
}

qint64 DataFeedTableView::countAt(int row) const
{
    if (!tableModel || row < 0 || row >= tableModel->rowCount()) {
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
        if (m_newRows > 0) {
            updateNewRowsNotice();
        }
    }
    if (m_buttonRaised) {
        placeDeleteButton(viewport()->mapFromGlobal(QCursor::pos()));
    }
}

void DataFeedTableView::showEvent(QShowEvent* event)
{
    refresh();
    QTableView::showEvent(event);
    if (isFollowingEnd()) {
        scrollToBottom();
    }
}

void DataFeedTableView::mouseMoveEvent(QMouseEvent* event)
{
    placeDeleteButton(event->pos());
    setPointerOver(viewport()->rect().contains(event->pos()));
    QTableView::mouseMoveEvent(event);
}

void DataFeedTableView::leaveEvent(QEvent* event)
{
    lowerDeleteButton();
    setHoverRow(-1);
    setPointerOver(false);
    emit leaveTableEvent();
    QTableView::leaveEvent(event);
}

bool DataFeedTableView::eventFilter(QObject* watched, QEvent* event)
{
    const bool edge =
        watched == verticalScrollBar() || watched == horizontalScrollBar() || watched == horizontalHeader();
    if (edge && (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)) {
        lowerDeleteButton();
        setHoverRow(-1);
        setPointerOver(false);
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
    // The notices stay readable over it.
    m_undoNotice->raise();
    m_newRowsNotice->raise();
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
    emit hoverIndexChanged(row < 0 || !tableModel ? QModelIndex() : tableModel->index(row, 0));
}

void DataFeedTableView::updateRow(int row)
{
    if (!tableModel || row < 0 || row >= tableModel->rowCount()) {
        return;
    }
    const QRect first = visualRect(tableModel->index(row, 0));
    viewport()->update(QRect(0, first.top(), viewport()->width(), first.height()));
}
