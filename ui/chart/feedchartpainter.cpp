#include "ui/chart/feedchartpainter.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {
const QColor StableColor(0x1f, 0x5f, 0xa8);
const QColor UnstableColor(0xe0, 0x7b, 0x00);
const QColor UnknownColor(0x79, 0x79, 0x79);
const QColor ThresholdColor(0xc0, 0x20, 0x20);
const QColor GridColor(0xe4, 0xe4, 0xe4);
constexpr int ValueTicks = 5;
constexpr int TimeTicks = 4;
// Markers only while they stay apart; a dense series shows as its line.
constexpr int PixelsPerMarker = 4;

QColor colorOf(char stability)
{
    return stability == 'S' ? StableColor : stability == 'U' ? UnstableColor : UnknownColor;
}
} // namespace

void FeedChartPainter::dropFirst(int n)
{
    m_points.remove(0, qBound(0, n, int(m_points.size())));
}

void FeedChartPainter::setThresholds(double lower, double upper)
{
    m_lower = lower;
    m_upper = upper;
}

QVector<int> FeedChartPainter::thin(const QVector<Point>& points, int columns)
{
    const int n = int(points.size());
    QVector<int> kept;
    if (columns <= 0 || n <= 2 * columns) {
        kept.reserve(n);
        for (int i = 0; i < n; ++i) {
            kept.append(i);
        }
        return kept;
    }
    kept.reserve(2 * columns);
    for (int column = 0; column < columns; ++column) {
        const int first = int(qint64(column) * n / columns);
        const int end = int(qint64(column + 1) * n / columns);
        if (first >= end) {
            continue;
        }
        int low = first;
        int high = first;
        for (int i = first + 1; i < end; ++i) {
            if (points.at(i).value < points.at(low).value) {
                low = i;
            }
            if (points.at(i).value > points.at(high).value) {
                high = i;
            }
        }
        kept.append(qMin(low, high));
        if (low != high) {
            kept.append(qMax(low, high));
        }
    }
    return kept;
}

int FeedChartPainter::paint(QPainter& painter, const QRectF& rect) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(rect, Qt::white);
    const QFontMetricsF metrics(painter.font(), painter.device());
    // Sizes in screen pixels, scaled for a printer's finer ones.
    const double px = painter.device() ? qMax(1.0, painter.device()->logicalDpiY() / 96.0) : 1.0;
    // The caption at the top right; below the legend when the legend leaves no room for it.
    const QRectF firstLine(rect.left(), rect.top(), rect.width(), metrics.height());
    const double captionWidth = metrics.horizontalAdvance(m_caption);
    if (m_points.isEmpty()) {
        painter.setPen(Qt::black);
        painter.drawText(firstLine, Qt::AlignRight | Qt::AlignVCenter, m_caption);
        painter.setPen(UnknownColor);
        painter.drawText(rect, Qt::AlignCenter, QStringLiteral("No results to show"));
        painter.restore();
        return 0;
    }

    double low = m_points.first().value;
    double high = low;
    for (const Point& p : m_points) {
        low = qMin(low, p.value);
        high = qMax(high, p.value);
    }
    for (double t : {m_lower, m_upper}) {
        if (!std::isnan(t)) {
            low = qMin(low, t);
            high = qMax(high, t);
        }
    }
    if (high <= low) {
        const double pad = qMax(std::fabs(high) * 0.01, 1.0);
        low -= pad;
        high += pad;
    }
    // Round steps (1, 2 or 5 times a power of ten) and the axis from one to another.
    const double raw = (high - low) / ValueTicks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double step = magnitude * (raw <= magnitude       ? 1
                                     : raw <= 2 * magnitude ? 2
                                     : raw <= 5 * magnitude ? 5
                                                            : 10);
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;
    const int ticks = qBound(1, int(std::lround((high - low) / step)), 4 * ValueTicks);
    // Enough decimals that neighbouring labels differ.
    const int decimals = qBound(m_decimals, int(-std::floor(std::log10(step))), 9);
    const QString widest = QString::number(qMax(std::fabs(low), std::fabs(high)), 'f', decimals);
    const double left =
        rect.left() + metrics.horizontalAdvance(widest) + metrics.horizontalAdvance(QStringLiteral("-00"));
    const double legendWidth = metrics.horizontalAdvance(QStringLiteral("0000")) * 4 + 3 * 8 * px +
                               metrics.horizontalAdvance(QStringLiteral("Stable")) +
                               metrics.horizontalAdvance(QStringLiteral("Unstable")) +
                               metrics.horizontalAdvance(QStringLiteral("Not marked")) + (left - rect.left());
    const bool captionBelow = !m_caption.isEmpty() && legendWidth + captionWidth > rect.width();
    const double top = rect.top() + metrics.height() * (captionBelow ? 2.5 : 1.5);
    const QRectF plot(left, top, rect.right() - left - metrics.horizontalAdvance(QStringLiteral("00:00")) / 2,
                      rect.bottom() - top - metrics.height() * 1.6);
    const int n = int(m_points.size());
    const auto xOf = [&](int i) {
        return n == 1 ? plot.center().x() : plot.left() + plot.width() * i / (n - 1);
    };
    const auto yOf = [&](double v) { return plot.bottom() - plot.height() * (v - low) / (high - low); };

    // The unit above the value axis, the legend beside it.
    painter.setPen(Qt::black);
    painter.drawText(QPointF(rect.left(), rect.top() + metrics.ascent()), m_unit);
    double legendX = plot.left() + metrics.horizontalAdvance(QStringLiteral("0000"));
    for (char s : {'S', 'U', 'X'}) {
        painter.setBrush(colorOf(s));
        painter.setPen(colorOf(s));
        painter.drawEllipse(QPointF(legendX, rect.top() + metrics.height() / 2), 3 * px, 3 * px);
        painter.setPen(Qt::black);
        const QString label = s == 'S'   ? QStringLiteral("Stable")
                              : s == 'U' ? QStringLiteral("Unstable")
                                         : QStringLiteral("Not marked");
        painter.drawText(QPointF(legendX + 8 * px, rect.top() + metrics.ascent()), label);
        legendX +=
            8 * px + metrics.horizontalAdvance(label) + metrics.horizontalAdvance(QStringLiteral("0000"));
    }

    painter.setBrush(Qt::NoBrush);
    painter.drawText(captionBelow ? firstLine.translated(0, metrics.height()) : firstLine,
                     Qt::AlignRight | Qt::AlignVCenter, m_caption);
    for (int t = 0; t <= ticks; ++t) {
        const double v = low + step * t;
        const double y = yOf(v);
        painter.setPen(GridColor);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(Qt::black);
        const QString label = QString::number(v, 'f', decimals);
        painter.drawText(
            QPointF(plot.left() - 4 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2 - 1), label);
    }
    qint64 lastLabel = -1;
    for (int t = 0; t <= TimeTicks && n > 0; ++t) {
        const int i = (n - 1) * t / TimeTicks;
        // Many results a second share their time: it is written once.
        if (m_points.at(i).time < 0 || m_points.at(i).time == lastLabel) {
            continue;
        }
        lastLabel = m_points.at(i).time;
        const QString label =
            QDateTime::fromSecsSinceEpoch(m_points.at(i).time).toString(QStringLiteral("HH:mm:ss"));
        const double w = metrics.horizontalAdvance(label);
        const double x = qBound(rect.left(), xOf(i) - w / 2, rect.right() - w);
        painter.drawText(QPointF(x, plot.bottom() + metrics.height()), label);
    }
    painter.setPen(QPen(Qt::black, px));
    painter.drawRect(plot);

    for (double t : {m_lower, m_upper}) {
        if (!std::isnan(t)) {
            painter.setPen(QPen(ThresholdColor, px, Qt::DashLine));
            painter.drawLine(QPointF(plot.left(), yOf(t)), QPointF(plot.right(), yOf(t)));
        }
    }

    const QVector<int> kept = thin(m_points, qMax(1, int(plot.width() / px)));
    QPainterPath line;
    for (int k = 0; k < kept.size(); ++k) {
        const QPointF p(xOf(kept.at(k)), yOf(m_points.at(kept.at(k)).value));
        k == 0 ? line.moveTo(p) : line.lineTo(p);
    }
    painter.setClipRect(plot.adjusted(-4 * px, -4 * px, 4 * px, 4 * px));
    painter.setPen(QPen(StableColor, px));
    painter.drawPath(line);
    const bool markers = kept.size() * PixelsPerMarker * px <= plot.width();
    for (int i : kept) {
        const Point& p = m_points.at(i);
        // Unstable results keep their mark in a dense series too.
        if (markers || p.stability == 'U') {
            const QColor c = colorOf(p.stability);
            painter.setPen(QPen(c, px));
            painter.setBrush(p.stability == 'U' ? QBrush(Qt::white) : QBrush(c));
            painter.drawEllipse(QPointF(xOf(i), yOf(p.value)), 2.5 * px, 2.5 * px);
        }
    }
    painter.restore();
    return int(kept.size());
}
