#pragma once

#include "log/datafeedtablemodel.h"
#include "log/feedstatistics.h"
#include "ui/chart/feedchartpainter.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// The captured results as a chart, following new ones live. Changes of the model only mark the chart
// stale; a timer takes the new rows in and repaints at most FrameMs apart, so a fast stream costs
// one read and one paint a frame, not one a result. The statistics of the same rows are kept beside.
class FeedChartView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int FrameMs = 40;
    // Rows taken in a frame: a long table is read over several frames, never in one long stop.
    static constexpr int RowsPerFrame = 20000;
    // The chart keeps the newest results this many; the statistics count every one.
    static constexpr int MaxPoints = 200000;

    explicit FeedChartView(QWidget* parent = nullptr);

    // The rows to follow; the chart reads them again from the first.
    void setModel(DataFeedTableModel* model);
    DataFeedTableModel* model() const { return m_model; }
    // The stability of a result that was captured while the chart looked on: the table does not keep it.
    void noteStability(qint64 count, char stability);
    void setThresholds(double lower, double upper);

    const FeedStatistics& statistics() const { return m_statistics; }
    const FeedChartPainter& chart() const { return m_chart; }
    // Points drawn by the last paint, after thinning.
    int shownPointCount() const { return m_shown; }
    // Rows of the model taken in so far.
    int rowsTaken() const { return m_taken; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    // Takes in the rows not yet read now, rather than at the next frame.
    void refresh();

signals:
    // New rows were taken in: the statistics changed.
    void updated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void schedule();
    void restart();

    QPointer<DataFeedTableModel> m_model;
    FeedChartPainter m_chart;
    FeedStatistics m_statistics;
    QHash<qint64, char> m_stability;
    QTimer m_frame;
    int m_taken = 0;
    int m_shown = 0;
};
