#pragma once

#include "log/datafeedtablemodel.h"
#include "log/feedrecords.h"
#include "log/feedstatistics.h"
#include "ui/chart/feedchartpainter.h"

#include <QHash>
#include <QItemSelectionModel>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <utility>

// The results that the chart and the statistics show: the rows the user selected in the feed when
// there are several, otherwise every stored row, following new ones. Changes only mark the series
// stale; a timer takes the new rows in at most FrameMs apart, so a fast stream costs one read a frame,
// not one a result, and a long table or selection is read over several frames, never in one long
// stop. Each row is read once: the statistics are summed as rows come in. Nothing is read while
// none of the widgets that show the series is visible; they catch up when shown.
class FeedSeries : public QObject
{
    Q_OBJECT
public:
    static constexpr int FrameMs = 40;
    // Rows taken in a frame.
    static constexpr int RowsPerFrame = 20000;
    // The chart keeps the newest results this many; the statistics count every one.
    static constexpr int MaxPoints = 200000;

    explicit FeedSeries(QObject* parent = nullptr);

    // The rows to follow; the series reads them again from the first.
    void setModel(DataFeedTableModel* model);
    DataFeedTableModel* model() const { return m_model; }
    // The feed table's selection: two or more selected rows are the series instead of every row.
    void setSelectionModel(QItemSelectionModel* selection);
    // A widget that shows the series: rows are read while one of them is visible.
    void addViewer(QWidget* viewer);
    // The stability of a result that was captured while the series looked on: the table does not keep it.
    void noteStability(qint64 count, char stability);

    const FeedStatistics& statistics() const { return m_statistics; }
    const FeedChartPainter& chart() const { return m_chart; }
    FeedChartPainter& chart() { return m_chart; }
    // Rows taken in so far, and the rows of the series (the selected ones or every stored one).
    int rowsTaken() const { return m_taken; }
    int rowsWanted() const;
    bool isSelection() const { return m_selectedRows > 0; }
    // What the series is: "Selected: 25 results" or "All results".
    QString scopeText() const;
    // Every row of the series as stored, in order (what a report holds).
    QVector<FeedRecord> records() const;

public slots:
    // Takes in the rows not yet read now (up to a frame's worth), rather than at the next frame.
    void refresh();

signals:
    // Rows were taken in or the series started again: the chart and the statistics changed.
    void updated();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void schedule();
    void restart();
    // The series' rows as ranges (first, last) of stored rows, in order, without overlaps.
    // selectedRows: the number of selected stored rows when they are the series, 0 otherwise.
    QVector<std::pair<int, int>> ranges(int* selectedRows = nullptr) const;
    QVector<std::pair<int, int>> selectedRanges() const;
    // A result's local time in seconds since the epoch; -1 when it has none.
    qint64 secondsSinceEpoch(const QDateTime& at);

    QPointer<DataFeedTableModel> m_model;
    QPointer<QItemSelectionModel> m_selection;
    QVector<QPointer<QWidget>> m_viewers;
    FeedChartPainter m_chart;
    FeedStatistics m_statistics;
    QHash<qint64, char> m_stability;
    QTimer m_frame;
    // The ranges read from: rows are taken in this order.
    QVector<std::pair<int, int>> m_ranges;
    int m_taken = 0;
    // Selected stored rows when they are the series; 0 when every row is.
    int m_selectedRows = 0;
    // The last minute looked up (Julian day * 1440 + minute of the day), and where it starts.
    qint64 m_minute = -1;
    qint64 m_minuteStart = 0;
};
