#pragma once

#include "log/feedrecords.h"
#include "ui/chart/feedchartpainter.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

class QPainter;
class FeedStatistics;

// A weighing report as a PDF to print and sign: the instrument, the computer's user and host, the
// time span, the statistics and the chart of the results, the table of results with their notes,
// "Weighed by" and "Checked by" lines, and page numbers. Paints with QtGui only, so that a program
// without windows writes the same report.
class WeighingReport
{
public:
    struct Instrument
    {
        QString model;
        QString serial;
        QString firmware;
    };

    void setInstrument(const Instrument& instrument) { m_instrument = instrument; }
    void setRecords(const QVector<FeedRecord>& records) { m_records = records; }
    // The span asked for; without it the report gives the first and last result's time.
    void setPeriod(const QDateTime& from, const QDateTime& to);
    // A chart that knows more than the rows (the stability of live results); built from the rows otherwise.
    void setChart(const FeedChartPainter& chart) { m_chart = chart; }

    // The serial numbers of the rows, comma separated, for an instrument that is not at hand.
    static QString serialsOf(const QVector<FeedRecord>& records);
    // The computer's user (USER, else LOGNAME) and host.
    static QString userName();
    static QString hostName();

    // Writes the whole report or nothing: false with the reason in error, and no file left behind.
    bool write(const QString& path, QString& error) const;
    // Pages of the last report written.
    int pageCount() const { return m_pages; }

private:
    void paintFirstPage(QPainter& painter, const QRectF& body, const FeedStatistics& statistics) const;
    QString periodText() const;

    Instrument m_instrument;
    QVector<FeedRecord> m_records;
    QDateTime m_from;
    QDateTime m_to;
    std::optional<FeedChartPainter> m_chart;
    mutable int m_pages = 0;
};
