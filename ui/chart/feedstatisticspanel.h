#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>

class FeedSeries;

// The statistics of a series of results (count, mean, standard deviation, coefficient of variation,
// minimum, maximum, range, and the results left out), under the series' scope ("All results"). Shown
// beside the chart and beside the table; it is written when the series changes, at most every
// RefreshMs while results stream, and only while it is visible.
class FeedStatisticsPanel : public QLabel
{
    Q_OBJECT
public:
    // Figures that change faster cannot be read, and laying out the table of figures again each frame
    // was a good part of the program's time at a thousand results a second.
    static constexpr int RefreshMs = 250;

    explicit FeedStatisticsPanel(QWidget* parent = nullptr);

    void setSeries(FeedSeries* series);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showFigures();
    // Shows the figures now, or once RefreshMs have passed since they were last shown.
    void showFiguresSoon();

    QPointer<FeedSeries> m_series;
    QElapsedTimer m_shown;
    QTimer m_later;
};
