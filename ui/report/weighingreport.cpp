#include "ui/report/weighingreport.h"

#include "log/feedstatistics.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSet>
#include <QSysInfo>

namespace {
constexpr int Resolution = 300;
constexpr int BodyPoints = 9;
constexpr int TitlePoints = 16;
constexpr int MarginMm = 15;
// Lines the two signature lines and their space take at the end of the table.
constexpr int SignatureLines = 6;
const char* const DateTimeFormat = "yyyy-MM-dd HH:mm:ss";
const char* const NotKnown = "not known";

QString orNotKnown(const QString& text)
{
    return text.trimmed().isEmpty() ? QLatin1String(NotKnown) : text;
}

// The table's columns: title and share of the width.
struct Column
{
    const char* title;
    double share;
};
const Column Columns[] = {{"Count", 0.08}, {"Date", 0.12}, {"Time", 0.10}, {"Serial number", 0.16},
                          {"Value", 0.14}, {"Unit", 0.07}, {"Note", 0.33}};
} // namespace

void WeighingReport::setPeriod(const QDateTime& from, const QDateTime& to)
{
    m_from = from;
    m_to = to;
}

QString WeighingReport::serialsOf(const QVector<FeedRecord>& records)
{
    QStringList serials;
    QSet<QString> seen;
    for (const FeedRecord& r : records) {
        if (!seen.contains(r.serial)) {
            seen.insert(r.serial);
            serials.append(r.serial);
        }
    }
    return serials.join(QStringLiteral(", "));
}

QString WeighingReport::userName()
{
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("LOGNAME") : user;
}

QString WeighingReport::hostName()
{
    return QSysInfo::machineHostName();
}

QString WeighingReport::periodText() const
{
    QDateTime from = m_from;
    QDateTime to = m_to;
    // Without a span asked for, the results' own.
    for (const FeedRecord& r : m_records) {
        const QDateTime at = r.takenAt();
        if (at.isValid() && !m_from.isValid() && (!from.isValid() || at < from)) {
            from = at;
        }
        if (at.isValid() && !m_to.isValid() && (!to.isValid() || at > to)) {
            to = at;
        }
    }
    const QString f =
        from.isValid() ? from.toString(QLatin1String(DateTimeFormat)) : QStringLiteral("the first result");
    const QString t =
        to.isValid() ? to.toString(QLatin1String(DateTimeFormat)) : QStringLiteral("the last result");
    return QStringLiteral("%1 to %2").arg(f, t);
}

void WeighingReport::paintFirstPage(QPainter& painter, const QRectF& body,
                                    const FeedStatistics& statistics) const
{
    QFont title = painter.font();
    title.setPointSize(TitlePoints);
    title.setBold(true);
    QFont normal = painter.font();
    QFont bold = normal;
    bold.setBold(true);
    const double line = QFontMetricsF(normal, painter.device()).height() * 1.3;

    double y = body.top();
    painter.setFont(title);
    painter.drawText(QPointF(body.left(), y + QFontMetricsF(title, painter.device()).ascent()),
                     QStringLiteral("Weighing report"));
    y += QFontMetricsF(title, painter.device()).height() * 1.6;

    const QString unit = statistics.unit();
    const auto withUnit = [&](const QString& figure) {
        return figure.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1 %2").arg(figure, unit).trimmed();
    };
    const QString cv = statistics.coefficientOfVariation();
    QVector<QPair<QString, QString>> facts = {
        {QStringLiteral("Instrument model"), orNotKnown(m_instrument.model)},
        {QStringLiteral("Serial number"), orNotKnown(m_instrument.serial)},
        {QStringLiteral("Firmware"), orNotKnown(m_instrument.firmware)},
        {QStringLiteral("User"), orNotKnown(userName())},
        {QStringLiteral("Computer"), orNotKnown(hostName())},
        {QStringLiteral("Time span"), periodText()},
        {QStringLiteral("Printed"), QDateTime::currentDateTime().toString(QLatin1String(DateTimeFormat))},
        {QString(), QString()},
        {QStringLiteral("Results"), QString::number(statistics.count())},
        {QStringLiteral("Mean"), withUnit(statistics.mean())},
        {QStringLiteral("Standard deviation"), withUnit(statistics.standardDeviation())},
        {QStringLiteral("Coefficient of variation"),
         cv.isEmpty() ? QStringLiteral("-") : cv + QStringLiteral(" %")},
        {QStringLiteral("Minimum"), withUnit(statistics.minimum())},
        {QStringLiteral("Maximum"), withUnit(statistics.maximum())},
        {QStringLiteral("Range"), withUnit(statistics.range())},
    };
    if (statistics.otherUnitCount() > 0) {
        facts.append({QStringLiteral("Left out (other unit)"), QString::number(statistics.otherUnitCount())});
    }
    if (statistics.unreadableCount() > 0) {
        facts.append(
            {QStringLiteral("Left out (not a number)"), QString::number(statistics.unreadableCount())});
    }
    const double valueX = body.left() + body.width() * 0.3;
    for (const auto& fact : facts) {
        painter.setFont(bold);
        painter.drawText(QPointF(body.left(), y + QFontMetricsF(bold, painter.device()).ascent()),
                         fact.first);
        painter.setFont(normal);
        painter.drawText(QPointF(valueX, y + QFontMetricsF(normal, painter.device()).ascent()), fact.second);
        y += line;
    }
    y += line;

    FeedChartPainter chart;
    if (m_chart) {
        chart = *m_chart;
    } else {
        FeedStatistics series;
        for (const FeedRecord& r : m_records) {
            if (series.add(r.value, r.unit)) {
                FeedChartPainter::Point p;
                p.value = r.value.toDouble();
                const QDateTime at = r.takenAt();
                p.time = at.isValid() ? at.toSecsSinceEpoch() : -1;
                chart.append(p);
            }
        }
    }
    chart.setUnit(unit);
    chart.setDecimals(statistics.decimals());
    painter.setFont(normal);
    chart.paint(painter, QRectF(body.left(), y, body.width(), qMin(body.bottom() - y, body.height() * 0.4)));
}

bool WeighingReport::write(const QString& path, QString& error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    FeedStatistics statistics;
    for (const FeedRecord& r : m_records) {
        statistics.add(r.value, r.unit);
    }

    QPdfWriter pdf(&file);
    pdf.setResolution(Resolution);
    pdf.setTitle(QStringLiteral("Weighing report"));
    pdf.setCreator(QStringLiteral("Mervik Connect"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm),
                                  QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&pdf)) {
        error = QStringLiteral("%1: the PDF could not be started").arg(path);
        return false;
    }
    QFont normal(QStringLiteral("DejaVu Sans"));
    normal.setPointSize(BodyPoints);
    painter.setFont(normal);
    QFont bold = normal;
    bold.setBold(true);
    const QFontMetricsF metrics(normal, &pdf);
    const double line = metrics.height() * 1.3;
    const QRectF page(QPointF(0, 0), QSizeF(pdf.pageLayout().paintRectPixels(Resolution).size()));
    // The footer's line at the bottom of every page.
    const QRectF body = page.adjusted(0, 0, 0, -line * 2);

    // Table pages: a heading row, then rows; the signatures follow the last row.
    const int rowsPerPage = qMax(1, int(body.height() / line) - 1);
    const int rows = int(m_records.size());
    const int tablePages = qMax(1, (rows + rowsPerPage - 1) / rowsPerPage);
    const int lastRows = rows - (tablePages - 1) * rowsPerPage;
    const bool signaturesApart = lastRows + SignatureLines > rowsPerPage;
    m_pages = 1 + tablePages + (signaturesApart ? 1 : 0);

    const auto footer = [&](int number) {
        painter.setFont(normal);
        painter.setPen(Qt::black);
        const QString text = QStringLiteral("Page %1 of %2").arg(number).arg(m_pages);
        painter.drawText(QRectF(page.left(), page.bottom() - line, page.width(), line), Qt::AlignRight, text);
        painter.drawText(QRectF(page.left(), page.bottom() - line, page.width(), line), Qt::AlignLeft,
                         QStringLiteral("Weighing report"));
    };
    paintFirstPage(painter, body, statistics);
    footer(1);

    int number = 1;
    double y = 0;
    for (int p = 0; p < tablePages; ++p) {
        pdf.newPage();
        ++number;
        y = body.top();
        double x = body.left();
        painter.setFont(bold);
        for (const Column& c : Columns) {
            painter.drawText(QPointF(x, y + metrics.ascent()), QLatin1String(c.title));
            x += body.width() * c.share;
        }
        y += line;
        painter.drawLine(QPointF(body.left(), y - line * 0.15), QPointF(body.right(), y - line * 0.15));
        painter.setFont(normal);
        const int first = p * rowsPerPage;
        for (int i = first; i < qMin(rows, first + rowsPerPage); ++i) {
            const FeedRecord& r = m_records.at(i);
            const QString cells[] = {
                QString::number(r.count), r.date, r.time, r.serial, r.value, r.unit, r.note};
            x = body.left();
            for (int c = 0; c < int(std::size(Columns)); ++c) {
                const double w = body.width() * Columns[c].share;
                painter.drawText(QPointF(x, y + metrics.ascent()),
                                 metrics.elidedText(cells[c], Qt::ElideRight, w * 0.95));
                x += w;
            }
            y += line;
        }
        if (rows == 0) {
            painter.drawText(QPointF(body.left(), y + metrics.ascent()), QStringLiteral("No results"));
            y += line;
        }
        footer(number);
    }
    if (signaturesApart) {
        pdf.newPage();
        footer(++number);
        y = body.top();
    }
    y += line * 2;
    const double half = body.width() / 2;
    for (int s = 0; s < 2; ++s) {
        const double x = body.left() + s * half;
        const QString label = s == 0 ? QStringLiteral("Weighed by") : QStringLiteral("Checked by");
        painter.drawText(QPointF(x, y + metrics.ascent()), label);
        painter.drawLine(QPointF(x, y + line * 2.5), QPointF(x + half * 0.85, y + line * 2.5));
        painter.drawText(QPointF(x, y + line * 2.6 + metrics.ascent()), QStringLiteral("Date and signature"));
    }
    if (!painter.end()) {
        error = QStringLiteral("%1: the PDF could not be finished").arg(path);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
