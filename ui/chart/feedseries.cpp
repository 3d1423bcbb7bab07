#include "ui/chart/feedseries.h"

#include "log/datafeedtablemodel.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QWidget>

#include <algorithm>

FeedSeries::FeedSeries(QObject* parent) : QObject(parent)
{
    m_frame.setSingleShot(true);
    m_frame.setInterval(FrameMs);
    connect(&m_frame, &QTimer::timeout, this, &FeedSeries::refresh);
}

void FeedSeries::setModel(DataFeedTableModel* model)
{
    if (m_model) {
        disconnect(m_model, nullptr, this, nullptr);
    }
    m_model = model;
    if (model) {
        connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int, int last) {
            // A row put back in its place (an undo) moves the places of the rows after it.
            if (m_model && last + 1 < m_model->rowCount()) {
                restart();
            } else {
                schedule();
            }
        });
        connect(model, &QAbstractItemModel::dataChanged, this, &FeedSeries::schedule);
        connect(model, &DataFeedTableModel::rowsStored, this, &FeedSeries::schedule);
        // Rows removed or the table read again: the places of the rows taken in may have moved.
        connect(model, &QAbstractItemModel::rowsRemoved, this, &FeedSeries::restart);
        connect(model, &QAbstractItemModel::modelReset, this, &FeedSeries::restart);
    }
    restart();
}

void FeedSeries::setSelectionModel(QItemSelectionModel* selection)
{
    if (m_selection) {
        disconnect(m_selection, nullptr, this, nullptr);
    }
    m_selection = selection;
    if (selection) {
        // A selection dragged over rows changes with every move: it is looked at once a frame.
        connect(selection, &QItemSelectionModel::selectionChanged, this, &FeedSeries::schedule);
    }
    schedule();
}

void FeedSeries::addViewer(QWidget* viewer)
{
    m_viewers.append(viewer);
    viewer->installEventFilter(this);
    schedule();
}

bool FeedSeries::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        schedule();
    }
    return QObject::eventFilter(watched, event);
}

void FeedSeries::noteStability(qint64 count, char stability)
{
    // Bounded while nothing shows the series and it reads nothing.
    if (m_stability.size() >= MaxPoints) {
        m_stability.clear();
    }
    if (count > 0) {
        m_stability.insert(count, stability);
    }
}

void FeedSeries::restart()
{
    m_chart.clear();
    m_statistics.clear();
    m_taken = 0;
    schedule();
}

void FeedSeries::schedule()
{
    if (m_frame.isActive()) {
        return;
    }
    const bool shown = std::any_of(m_viewers.cbegin(), m_viewers.cend(), [](const QPointer<QWidget>& viewer) {
        return viewer && viewer->isVisible();
    });
    if (shown) {
        m_frame.start();
    }
}

QVector<std::pair<int, int>> FeedSeries::selectedRanges() const
{
    QVector<std::pair<int, int>> rows;
    if (!m_model || !m_selection || m_selection->model() != m_model) {
        return rows;
    }
    // Rows still waiting for the database are no results yet.
    const int stored = m_model->storedRowCount();
    const QItemSelection selection = m_selection->selection();
    for (const QItemSelectionRange& range : selection) {
        const int last = std::min(range.bottom(), stored - 1);
        if (range.isValid() && !range.parent().isValid() && range.top() <= last) {
            rows.append({range.top(), last});
        }
    }
    // Ranges of a selection made piece by piece may touch or overlap: each row counts once.
    std::sort(rows.begin(), rows.end());
    QVector<std::pair<int, int>> merged;
    for (const auto& range : qAsConst(rows)) {
        if (!merged.isEmpty() && range.first <= merged.last().second + 1) {
            merged.last().second = std::max(merged.last().second, range.second);
        } else {
            merged.append(range);
        }
    }
    return merged;
}

QVector<std::pair<int, int>> FeedSeries::ranges(int* selectedRows) const
{
    const QVector<std::pair<int, int>> selected = selectedRanges();
    int count = 0;
    for (const auto& range : selected) {
        count += range.second - range.first + 1;
    }
    if (selectedRows) {
        *selectedRows = count > 1 ? count : 0;
    }
    if (count > 1) {
        return selected;
    }
    const int stored = m_model ? m_model->storedRowCount() : 0;
    return stored > 0 ? QVector<std::pair<int, int>>{{0, stored - 1}} : QVector<std::pair<int, int>>{};
}

int FeedSeries::rowsWanted() const
{
    int rows = 0;
    for (const auto& range : ranges()) {
        rows += range.second - range.first + 1;
    }
    return rows;
}

QString FeedSeries::scopeText() const
{
    return isSelection() ? QStringLiteral("Selected: %1 results").arg(m_selectedRows)
                         : QStringLiteral("All results");
}

qint64 FeedSeries::secondsSinceEpoch(const QDateTime& at)
{
    if (!at.isValid()) {
        return -1;
    }
    // The local time's offset is looked up once a minute of results, not for each: the C library
    // reads the time zone file again for every lookup. Offsets change on whole minutes.
    const QTime time = at.time();
    const qint64 minute = at.date().toJulianDay() * 1440 + time.hour() * 60 + time.minute();
    if (minute != m_minute) {
        m_minute = minute;
        m_minuteStart = QDateTime(at.date(), QTime(time.hour(), time.minute())).toSecsSinceEpoch();
    }
    return m_minuteStart + time.second();
}

QVector<FeedRecord> FeedSeries::records() const
{
    QVector<FeedRecord> records;
    if (!m_model) {
        return records;
    }
    for (const auto& range : ranges()) {
        records += FeedRecords::fromModel(m_model, range.first, range.second);
    }
    return records;
}

void FeedSeries::refresh()
{
    int selected = 0;
    const QVector<std::pair<int, int>> wanted = ranges(&selected);
    int total = 0;
    for (const auto& range : wanted) {
        total += range.second - range.first + 1;
    }
    // Every stored row grows at its end only; a selection is read again whenever it changed.
    if ((selected > 0) != isSelection() || (selected > 0 && wanted != m_ranges) || total < m_taken) {
        m_chart.clear();
        m_statistics.clear();
        m_taken = 0;
    }
    m_ranges = wanted;
    m_selectedRows = selected;

    QVector<FeedRecord> records;
    int budget = RowsPerFrame;
    int skip = m_taken;
    for (const auto& range : wanted) {
        const int length = range.second - range.first + 1;
        if (skip >= length) {
            skip -= length;
            continue;
        }
        if (budget <= 0) {
            break;
        }
        const int first = range.first + skip;
        const int last = std::min(range.second, first + budget - 1);
        skip = 0;
        records += FeedRecords::fromModel(m_model, first, last);
        budget -= last - first + 1;
    }
    for (const FeedRecord& r : qAsConst(records)) {
        // The chart shows what the statistics count: the series' unit only.
        if (!m_statistics.add(r.value, r.unit)) {
            continue;
        }
        FeedChartPainter::Point p;
        p.value = r.value.toDouble();
        p.time = secondsSinceEpoch(r.takenAt());
        // Kept, not taken: a selection read again marks its results again.
        p.stability = m_stability.value(r.count, 'X');
        m_chart.append(p);
    }
    m_taken += int(records.size());
    if (m_chart.pointCount() > MaxPoints) {
        m_chart.dropFirst(m_chart.pointCount() - MaxPoints);
    }
    m_chart.setUnit(m_statistics.unit());
    m_chart.setDecimals(m_statistics.decimals());
    m_chart.setCaption(scopeText());
    if (m_taken < total && !records.isEmpty()) {
        schedule();
    }
    emit updated();
}
