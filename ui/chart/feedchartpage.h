#pragma once

#include <QWidget>

class DataFeedTableModel;
class FeedChartView;
class QLabel;
class QPushButton;

// The Data Capture page's chart view: the chart of the captured results, their statistics beside it,
// and "Report..." to save them as a weighing report.
class FeedChartPage : public QWidget
{
    Q_OBJECT
public:
    explicit FeedChartPage(QWidget* parent = nullptr);

    void setModel(DataFeedTableModel* model);
    FeedChartView* chartView() const { return m_chart; }
    QPushButton* reportButton() const { return m_report; }

    // Writes the report of every stored result, with the current instrument's identity; false with
    // the reason in error.
    bool writeReport(const QString& path, QString& error);

public slots:
    // Asks where to save the report, then writes it and says how it went below the button.
    void saveReport();

private:
    void showStatistics();

    FeedChartView* m_chart;
    QLabel* m_figures;
    QLabel* m_outcome;
    QPushButton* m_report;
};
