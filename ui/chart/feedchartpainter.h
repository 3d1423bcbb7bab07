#pragma once

#include <QString>
#include <QVector>

#include <limits>

class QPainter;
class QRectF;

// Draws a series of results in their capture order on any painter (a widget or a report page): the
// values with stable and unstable results told apart, the threshold lines, the unit on the value axis
// and times under the other. A series wider than the plot is thinned to the lowest and highest value
// of each pixel column; the series itself is never changed.
class FeedChartPainter
{
public:
    struct Point
    {
        double value = 0;
        // Seconds since the epoch, -1 when the row's time could not be read.
        qint64 time = -1;
        // 'S' stable, 'U' unstable, 'X' not known.
        char stability = 'X';
    };
    static constexpr double NoThreshold = std::numeric_limits<double>::quiet_NaN();

    void append(const Point& point) { m_points.append(point); }
    // Forgets the first n points (a long capture keeps its newest ones only).
    void dropFirst(int n);
    void clear() { m_points.clear(); }
    int pointCount() const { return int(m_points.size()); }
    const QVector<Point>& points() const { return m_points; }

    void setUnit(const QString& unit) { m_unit = unit; }
    void setDecimals(int decimals) { m_decimals = decimals; }
    void setThresholds(double lower, double upper);
    // Which results the chart shows ("All results"), written at its top right.
    void setCaption(const QString& caption) { m_caption = caption; }
    QString caption() const { return m_caption; }

    // Draws into rect; returns the number of points drawn.
    int paint(QPainter& painter, const QRectF& rect) const;

    // The indices of the points kept for columns pixel columns: every point when they fit, otherwise
    // the lowest and highest of each column, in order.
    static QVector<int> thin(const QVector<Point>& points, int columns);

private:
    QVector<Point> m_points;
    QString m_unit;
    QString m_caption;
    int m_decimals = 0;
    double m_lower = NoThreshold;
    double m_upper = NoThreshold;
};
