#pragma once

#include "device/devicetypes.h"

#include <QPoint>
#include <QTimer>
#include <QVector>
#include <QWidget>

class DataFeedTableView;
class FeedChartPage;
class QPushButton;

namespace Ui {
class DataFeedWidget;
}

// The "Data Capture" page: captured results as a table, the current reading in large type, the
// communication log with a command line, or the results as a chart, each with its panels beside and below.
class DataFeedWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int DisplayIntervalMs = 400;
    static constexpr int RefreshIntervalMs = 500;
    static constexpr int FlashMs = 200;
    static constexpr int LogLimit = 3000;
    static constexpr const char* FlashStyle = "background: #e8fdff;";

    enum Page
    {
        TablePage = 0,
        DisplayPage = 1,
        TerminalPage = 2,
        ChartPage = 3
    };

    explicit DataFeedWidget(QWidget* parent = nullptr);
    ~DataFeedWidget() override;

    bool isDisplayTimerActive() const { return displayTimer.isActive(); }
    DataFeedTableView* feedView() const;
    FeedChartPage* chartPage() const { return m_chartPage; }

signals:
    void swapToTransfer();

public slots:
    void setDisplay(bool enabled);
    void setTerminal(bool enabled);
    void setFeed(bool enabled);
    void setChart(bool enabled);
    // A significant result: the display flashes. The capture stores it, and the table shows it.
    void receiveResult(Measurement m);
    void clearContents();
    // Empties the data feed after asking; the communication log stays.
    void clearFeed();
    void setColumnHidden(int column, bool show);
    void setColumnHiddenTerminal(int column, bool show);
    void menuRequested(QPoint pos);
    void refresh();
    void isRefreshPending();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showAnyResult(Measurement m);
    // A reading is shown only from a connected instrument; without one the display says so.
    void updateDisplayNotice();
    void askForDisplayResult();
    void updateDisplayTimer();
    void setFullScreen(bool on);
    void flashDisplay();
    bool isDisplayShown() const;

    Ui::DataFeedWidget* ui;
    QPushButton* m_chartButton;
    FeedChartPage* m_chartPage;
    QTimer displayTimer;
    QTimer refreshTimer;
    bool refreshPending = false;
    // Log lines came while another view was chosen.
    bool m_logBehind = false;
    QTimer flashTimer;
    // Shown (true) or hidden log columns after the two key columns: IN/OUT, Interface, Date, Time,
    // Message.
    QVector<bool> terminalColumns{true, true, true, true, true};
};
