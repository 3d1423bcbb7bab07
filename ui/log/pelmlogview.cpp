#include "ui/log/pelmlogview.h"

#include "log/cpelmlog.h"
#include "log/exportfield.h"
#include "log/pelmlogquery.h"
#include "ui/log/abstractfilter.h"
#include "ui/log/filterdialog.h"
#include "ui/log/filterwidget.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/log/pelmquerymodel.h"
#include "ui/log/tableexport.h"
#include "ui/requestnotice.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

constexpr int KeyColumns = 2;
constexpr int LineIdColumn = 0;
constexpr int PacketIdColumn = 1;
constexpr int InOutColumn = 2;

const char* const HeaderTexts[] = {"IN/OUT", "Interface", "Date", "Time", "Message"};

QString rowKey(const QAbstractItemModel* model, int row)
{
    return model->index(row, PacketIdColumn).data().toString() + QLatin1Char('\x1f') +
           model->index(row, LineIdColumn).data().toString() + QLatin1Char('\x1f') +
           model->index(row, InOutColumn).data().toString();
}

} // namespace

PelmLogView::PelmLogView(QWidget* parent)
    : QTableView(parent), filterWidget(new FilterWidget), m_model(new PelmQueryModel(this))
{
    setModel(m_model);
    resizeColumnsToContents();
    horizontalHeader()->setStretchLastSection(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::MultiSelection);
    // The row colours set the lines apart; grid lines and row numbers that change with every
    // refresh would only cost drawing time on each new log line.
    setShowGrid(false);
    verticalHeader()->hide();

    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &PelmLogView::onScrollbarChange);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &PelmLogView::setBarMaxed);
    connect(filterWidget, &FilterWidget::filterString, this, &PelmLogView::setFilter);
    connect(filterWidget, &FilterWidget::setCollumns, this, &PelmLogView::setCollumns);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_restoringSelection) {
            stickToBottom = false;
        }
    });
}

PelmLogView::~PelmLogView()
{
    // A panel without a parent is a window of its own: nothing else deletes it.
    if (filterWidget && !filterWidget->parent()) {
        delete filterWidget;
    }
}

FilterWidget* PelmLogView::filterPanel() const
{
    return filterWidget;
}

void PelmLogView::setTable(const QString& name)
{
    table = name;
    QSqlQuery query(QSqlDatabase::database());
    query.exec(QStringLiteral("SELECT * FROM ") + name);
    QSqlRecord record = query.record();
    query.finish();
    // Without it every refresh would read the whole table.
    query.exec(CPelmLog::lineIndexStatement(name));

    filterWidget->setSkippedColumns(KeyColumns);
    QStringList labels;
    for (const char* text : HeaderTexts) {
        labels << QLatin1String(text);
    }
    filterWidget->init(record,
                       {AbstractFilter::InOut, AbstractFilter::String, AbstractFilter::Date,
                        AbstractFilter::Time, AbstractFilter::String},
                       labels);
    refresh();
}

void PelmLogView::setLimit(int n)
{
    limit = QString::number(n);
    refresh();
}

void PelmLogView::setLineMode(bool on)
{
    lineMode = on;
    refresh();
}

void PelmLogView::setRowColours(const QColor& inColour, const QColor& outColour)
{
    m_model->setRowColours(inColour, outColour);
}

void PelmLogView::clearLog()
{
    QSqlQuery query(QSqlDatabase::database());
    query.exec(QStringLiteral("DELETE FROM ") + table);
    refreshKeepingSelection();
}

void PelmLogView::refresh()
{
    if (table.isEmpty()) {
        return;
    }
    const int oldValue = verticalScrollBar()->value();
    const PelmLogQuery groups(table, filter, lineMode, limit.toInt());
    QSqlQuery query = groups.exec(QSqlDatabase::database());
    if (query.isActive()) {
        // The view holds at most `limit` rows; having them all lets it follow the tail at once.
        m_model->setQueryFetchingAll(std::move(query));
    } else {
        m_model->clear();
    }
    applyColumns();

    updateGeometries();
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(stickToBottom ? bar->maximum() : oldValue);
}

void PelmLogView::applyColumns()
{
    setColumnHidden(LineIdColumn, true);
    setColumnHidden(PacketIdColumn, true);
    for (int i = 0; i < int(sizeof HeaderTexts / sizeof HeaderTexts[0]); ++i) {
        m_model->setHeaderData(KeyColumns + i, Qt::Horizontal, QLatin1String(HeaderTexts[i]));
        if (i < m_shownColumns.size()) {
            setColumnHidden(KeyColumns + i, !m_shownColumns.at(i));
        }
    }
}

void PelmLogView::refreshKeepingSelection()
{
    if (!isVisible()) {
        return;
    }
    QSet<QString> selected;
    const QModelIndexList rows = selectionModel()->selectedRows();
    for (const QModelIndex& index : rows) {
        selected.insert(rowKey(m_model, index.row()));
    }
    refresh();
    if (selected.isEmpty()) {
        return;
    }
    QItemSelection selection;
    const int lastColumn = m_model->columnCount() - 1;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (selected.contains(rowKey(m_model, row))) {
            selection.select(m_model->index(row, 0), m_model->index(row, lastColumn));
        }
    }
    m_restoringSelection = true;
    selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_restoringSelection = false;
}

void PelmLogView::setBarMaxed(int action)
{
    const QScrollBar* bar = verticalScrollBar();
    stickToBottom =
        action == QAbstractSlider::SliderToMaximum || bar->sliderPosition() > 0.99 * bar->maximum();
}

void PelmLogView::onScrollbarChange(int, int max)
{
    if (stickToBottom) {
        verticalScrollBar()->setValue(max);
    }
}

void PelmLogView::setFilter(QString f)
{
    filter = f;
    if (!f.isEmpty()) {
        filterWidget->show();
    }
    refresh();
}

void PelmLogView::setCollumns(QVector<bool> list)
{
    if (!list.isEmpty()) {
        m_shownColumns = list;
        applyColumns();
    }
    resizeColumnsToContents();
}

void PelmLogView::chooseFilters()
{
    auto* dialog = new FilterDialog(filterWidget->labels(), filterWidget->shownFilters(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &FilterDialog::filterList, filterWidget, &FilterWidget::setFilters);
    dialog->open();
}

void PelmLogView::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    stickToBottom = true;
    refreshKeepingSelection();
}

void PelmLogView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        clearSelection();
    }
    QTableView::keyPressEvent(event);
}

void PelmLogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("Filter columns..."), this, &PelmLogView::chooseFilters);
    menu.addAction(QStringLiteral("Export..."), this, qOverload<>(&PelmLogView::save));
    menu.addAction(QStringLiteral("Export received data..."), this, &PelmLogView::saveRaw);
    menu.exec(event->globalPos());
}

void PelmLogView::save(QString path)
{
    // The first column numbers the lines as shown.
    TableExport::save(this, m_model, QStringLiteral("ModelToCsv"), path, 1, true, QStringLiteral("line"));
}

void PelmLogView::save()
{
    save(QString());
}

void PelmLogView::saveRaw()
{
    PelmFileDialog dialog(QStringLiteral("rawDbPath"), this);
    const QString path = dialog.saveFile(QStringLiteral("Text (*.txt);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    QSqlQuery query(QSqlDatabase::database());
    query.exec(QStringLiteral(
        "SELECT GROUP_CONCAT(Message, '') AS 'OUT' FROM LOGS\nGROUP BY INOUT HAVING INOUT='IN'"));
    const QString received = query.next() ? query.value(0).toString() : QString();
    const QByteArray bytes = received.toUtf8();
    if (TableExport::writeFile(this, path, bytes, QIODevice::WriteOnly | QIODevice::Truncate)) {
        TableExport::sayWritten(bytes.size(), QStringLiteral("byte"), path);
    }
}
