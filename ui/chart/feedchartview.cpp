#include "ui/chart/feedchartview.h"

#include "log/datafeedtablemodel.h"
#include "log/feedrecords.h"

#include <QPainter>

FeedChartView::FeedChartView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("feedChartView"));
    setAccessibleName(QStringLiteral("Chart of the captured results"));
    m_frame.setSingleShot(true);
    m_frame.setInterval(FrameMs);
    connect(&m_frame, &QTimer::timeout, this, &FeedChartView::refresh);
}

QSize FeedChartView::sizeHint() const
{
    return QSize(600, 360);
}

QSize FeedChartView::minimumSizeHint() const
{
    return QSize(240, 160);
}

void FeedChartView::setModel(DataFeedTableModel* model)
{
    if (m_model) {
        disconnect(m_model, nullptr, this, nullptr);
    }
    m_model = model;
    if (model) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &FeedChartView::schedule);
        connect(model, &QAbstractItemModel::dataChanged, this, &FeedChartView::schedule);
        connect(model, &DataFeedTableModel::rowsStored, this, &FeedChartView::schedule);
        // Rows removed or the table read again: the places of the rows taken in may have moved.
        connect(model, &QAbstractItemModel::rowsRemoved, this, &FeedChartView::restart);
        connect(model, &QAbstractItemModel::modelReset, this, &FeedChartView::restart);
    }
    restart();
}

void FeedChartView::noteStability(qint64 count, char stability)
{
    // Bounded while the chart is hidden and reads nothing.
    if (m_stability.size() >= MaxPoints) {
        m_stability.clear();
    }
    if (count > 0) {
        m_stability.insert(count, stability);
    }
}

void FeedChartView::setThresholds(double lower, double upper)
{
    m_chart.setThresholds(lower, upper);
    update();
}

void FeedChartView::restart()
{
    m_chart.clear();
    m_statistics.clear();
    m_taken = 0;
    schedule();
}

void FeedChartView::schedule()
{
    // A hidden chart reads nothing; it catches up when shown.
    if (isVisible() && !m_frame.isActive()) {
        m_frame.start();
    }
}

void FeedChartView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    schedule();
}

void FeedChartView::refresh()
{
    if (!m_model) {
        update();
        return;
    }
    const int stored = m_model->storedRowCount();
    if (stored < m_taken) {
        restart();
        return;
    }
    const int last = qMin(stored, m_taken + RowsPerFrame) - 1;
    const QVector<FeedRecord> records = FeedRecords::fromModel(m_model, m_taken, last);
    for (const FeedRecord& r : records) {
        // The chart shows what the statistics count: the series' unit only.
        if (!m_statistics.add(r.value, r.unit)) {
            continue;
        }
        FeedChartPainter::Point p;
        p.value = r.value.toDouble();
        const QDateTime at = r.takenAt();
        p.time = at.isValid() ? at.toSecsSinceEpoch() : -1;
        p.stability = m_stability.contains(r.count) ? m_stability.take(r.count) : 'X';
        m_chart.append(p);
    }
    m_taken += int(records.size());
    if (m_chart.pointCount() > MaxPoints) {
        m_chart.dropFirst(m_chart.pointCount() - MaxPoints);
    }
    m_chart.setUnit(m_statistics.unit());
    m_chart.setDecimals(m_statistics.decimals());
    if (!records.isEmpty()) {
        emit updated();
    }
    if (m_taken < stored) {
        schedule();
    }
    update();
}

void FeedChartView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_shown = m_chart.paint(painter, QRectF(rect()).adjusted(4, 4, -4, -4));
}
