#pragma once

#include <QWidget>

class DataFeedTableModel;
class FeedChartView;
class FeedSeries;
class FeedStatisticsPanel;
class QBoxLayout;
class QItemSelectionModel;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The Data Capture page's chart view: the chart of the captured results (or of the rows selected in
// the feed), their statistics beside it, and "Report..." to save the same results as a weighing report.
class FeedChartPage : public QWidget
{
    Q_OBJECT
public:
    explicit FeedChartPage(QWidget* parent = nullptr);

    void setModel(DataFeedTableModel* model);
    // The feed table's selection, which the chart, the statistics and the report follow.
    void setSelectionModel(QItemSelectionModel* selection);
    FeedSeries* series() const { return m_series; }
    FeedChartView* chartView() const { return m_chart; }
    // The statistics panel, which the feed's table view borrows while it is shown.
    FeedStatisticsPanel* statisticsPanel() const { return m_statistics; }
    // Lends the statistics panel to another view's layout (the feed's table), and puts it back beside
    // the chart.
    void lendStatistics(QBoxLayout* layout);
    void placeStatistics();
    QPushButton* reportButton() const { return m_report; }

    // Writes the report of the results the chart shows, with the current instrument's identity; false
    // with the reason in error.
    bool writeReport(const QString& path, QString& error);

public slots:
    // Asks where to save the report, then writes it and says how it went below the button.
    void saveReport();

private:
    FeedSeries* m_series;
    FeedChartView* m_chart;
    FeedStatisticsPanel* m_statistics;
    QVBoxLayout* m_side;
    QLabel* m_outcome;
    QPushButton* m_report;
};
