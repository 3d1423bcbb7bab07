#include "ui/chart/feedchartview.h"

#include "ui/chart/feedseries.h"

#include <QPainter>

FeedChartView::FeedChartView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("feedChartView"));
    setAccessibleName(QStringLiteral("Chart of the captured results"));
}

QSize FeedChartView::sizeHint() const
{
    return QSize(600, 360);
}

QSize FeedChartView::minimumSizeHint() const
{
    return QSize(240, 160);
}

void FeedChartView::setSeries(FeedSeries* series)
{
    if (m_series) {
        disconnect(m_series, nullptr, this, nullptr);
    }
    m_series = series;
    if (series) {
        connect(series, &FeedSeries::updated, this, qOverload<>(&QWidget::update));
        series->addViewer(this);
    }
    update();
}

void FeedChartView::setThresholds(double lower, double upper)
{
    if (m_series) {
        m_series->chart().setThresholds(lower, upper);
    }
    update();
}

void FeedChartView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const FeedChartPainter none;
    m_shown = (m_series ? m_series->chart() : none).paint(painter, QRectF(rect()).adjusted(4, 4, -4, -4));
}
