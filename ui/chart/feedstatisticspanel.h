#pragma once

#include <QLabel>
#include <QPointer>

class FeedSeries;

// The statistics of a series of results (count, mean, standard deviation, coefficient of variation,
// minimum, maximum, range, and the results left out), under the series' scope ("All results"). Shown
// beside the chart and beside the table; it is written when the series changes, at most once a frame,
// and only while it is visible.
class FeedStatisticsPanel : public QLabel
{
    Q_OBJECT
public:
    explicit FeedStatisticsPanel(QWidget* parent = nullptr);

    void setSeries(FeedSeries* series);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showFigures();

    QPointer<FeedSeries> m_series;
};
