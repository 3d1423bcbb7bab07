#include "ui/chart/feedstatisticspanel.h"

#include "ui/chart/feedseries.h"

FeedStatisticsPanel::FeedStatisticsPanel(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("feedStatistics"));
    setAccessibleName(QStringLiteral("Statistics of the captured results"));
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Apart from the table's scroll bar and the chart's caption beside it.
    setContentsMargins(8, 0, 0, 0);
    m_later.setSingleShot(true);
    connect(&m_later, &QTimer::timeout, this, &FeedStatisticsPanel::showFigures);
    showFigures();
}

void FeedStatisticsPanel::setSeries(FeedSeries* series)
{
    if (m_series) {
        disconnect(m_series, nullptr, this, nullptr);
    }
    m_series = series;
    if (series) {
        connect(series, &FeedSeries::updated, this, [this] {
            if (isVisible()) {
                showFiguresSoon();
            }
        });
        series->addViewer(this);
    }
    showFigures();
}

void FeedStatisticsPanel::showEvent(QShowEvent* event)
{
    showFigures();
    QLabel::showEvent(event);
}

void FeedStatisticsPanel::showFiguresSoon()
{
    if (m_later.isActive()) {
        return;
    }
    const qint64 since = m_shown.isValid() ? m_shown.elapsed() : RefreshMs;
    if (since >= RefreshMs) {
        showFigures();
    } else {
        m_later.start(int(RefreshMs - since));
    }
}

void FeedStatisticsPanel::showFigures()
{
    m_later.stop();
    m_shown.start();
    const FeedStatistics none;
    const FeedStatistics& s = m_series ? m_series->statistics() : none;
    const QString unit = s.unit();
    const auto figure = [&](const QString& text, const QString& suffix) {
        return text.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1 %2").arg(text, suffix).trimmed();
    };
    const QString scope = m_series ? m_series->scopeText() : QStringLiteral("All results");
    QString rows = QStringLiteral("<b>%1</b><table cellspacing=\"4\">").arg(scope.toHtmlEscaped());
    const auto row = [&](const QString& name, const QString& value) {
        rows += QStringLiteral("<tr><td>%1</td><td align=\"right\"><b>%2</b></td></tr>")
                    .arg(name.toHtmlEscaped(), value.toHtmlEscaped());
    };
    row(QStringLiteral("Results"), QString::number(s.count()));
    row(QStringLiteral("Mean"), figure(s.mean(), unit));
    row(QStringLiteral("Standard deviation"), figure(s.standardDeviation(), unit));
    row(QStringLiteral("Coefficient of variation"), figure(s.coefficientOfVariation(), QStringLiteral("%")));
    row(QStringLiteral("Minimum"), figure(s.minimum(), unit));
    row(QStringLiteral("Maximum"), figure(s.maximum(), unit));
    row(QStringLiteral("Range"), figure(s.range(), unit));
    if (s.otherUnitCount() > 0) {
        row(QStringLiteral("Left out (other unit)"), QString::number(s.otherUnitCount()));
    }
    if (s.unreadableCount() > 0) {
        row(QStringLiteral("Left out (not a number)"), QString::number(s.unreadableCount()));
    }
    // The same text is not laid out again.
    setText(rows + QStringLiteral("</table>"));
}
