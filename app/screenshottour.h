#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QStringList>

#include <functional>

class FirmwareDialog;
class MainWindow;
class QWinWidget;
class QWidget;

// Walks through the start screen, every page and every view of the data capture page at the window's
// minimum size (the data feed at a large size too) and writes one PNG of each, so that the look can
// be reviewed without a display.
class ScreenshotTour : public QObject
{
    Q_OBJECT
public:
    // Time given to each view to fill (results, the throttled log refresh) before it is taken;
    // MERVIK_SCREENSHOT_SETTLE_MS overrides it (a test that checks the files, not the look).
    static constexpr int SettleMs = 900;
    // Result requests sent before the tour when an instrument is connected, so the feed has rows.
    static constexpr int WarmUpRequests = 6;
    static constexpr int WarmUpIntervalMs = 150;
    // How long a step waits for the notice it ends in.
    static constexpr int NoticeWaitMs = 15000;
    static constexpr int NoticePollMs = 50;

    ScreenshotTour(QWinWidget* window, const QString& folder, QObject* parent = nullptr);

    QStringList written() const { return m_written; }

public slots:
    void start();

signals:
    void finished(bool ok);

private:
    using Action = std::function<void()>;
    void add(const QString& name, Action action);
    // A dialog shown over the window, taken alone and then closed.
    void addDialog(const QString& name, std::function<QWidget*()> make);
    // The device page's views, with a connected and an unreachable instrument in its table.
    void addDeviceViews(MainWindow* main);
    // The data feed at a large size and with a hovered row, the full-screen display and the terminal's
    // filter panel; each step puts the page back as it found it.
    void addCaptureDetails(MainWindow* main, QWidget* capture);
    // The firmware dialog without a file, its file chooser and a failure notice; with an instrument
    // connected also the notice of a finished upload and, last, the dialog while it uploads.
    void addFirmwareUpload(MainWindow* main, bool connected);
    // A firmware dialog with path chosen and its upload started and confirmed.
    static FirmwareDialog* uploading(MainWindow* main, const QString& path);
    // A dialog that ends in a notice: the picture is of the notice, once it is shown.
    void addNotice(const QString& name, std::function<QWidget*()> make);
    void awaitNotice(const QString& name);
    void runNext();
    void shoot(const QString& name);
    void clickFrame(const char* name);
    void clickButton(QWidget* scope, const char* name);

    QWinWidget* m_window;
    QDir m_folder;
    QList<QPair<QString, Action>> m_steps;
    // The dialog of the current step, when it is one.
    QPointer<QWidget> m_subject;
    // What puts the window back after the current step's picture.
    Action m_undo;
    // The notice the current step waits for, once it is shown.
    std::function<QWidget*()> m_notice;
    QElapsedTimer m_noticeWaited;
    QStringList m_written;
    bool m_ok = true;
    int m_settleMs = SettleMs;
    // The window's size in the pictures: MERVIK_SCREENSHOT_SIZE (such as 1280x720), else its minimum.
    QSize m_size;
};
