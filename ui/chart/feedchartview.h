#pragma once

#include "ui/chart/feedseries.h"

#include <QPointer>
#include <QWidget>

// A series of results as a chart, repainted when the series takes in new rows (at most a frame apart).
class FeedChartView : public QWidget
{
    Q_OBJECT
public:
    explicit FeedChartView(QWidget* parent = nullptr);

    // The series to draw; it reads its rows while this view is visible.
    void setSeries(FeedSeries* series);
    FeedSeries* series() const { return m_series; }
    void setThresholds(double lower, double upper);

    // Points drawn by the last paint, after thinning.
    int shownPointCount() const { return m_shown; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<FeedSeries> m_series;
    int m_shown = 0;
};
