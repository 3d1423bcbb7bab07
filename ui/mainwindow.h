#pragma once

#include <QList>
#include <QMainWindow>

#include <memory>

class QAbstractButton;
class QShortcut;
class QTimer;
class QResizeEvent;

namespace Ui {
class MainWindow;
}

// The whole user interface inside the host window: title bar, start screen, the three pages, the
// status line and the four hotkeys.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int DevicePage = 0;
    static constexpr int DataCapturePage = 1;
    static constexpr int TransferPage = 2;
    // How long the status line says that waiting results were stored.
    static constexpr int StorageClearedMs = 10000;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The title bar and its buttons, which the host window drives.
    QWidget* titleBar() const;
    QAbstractButton* minimizeButton() const;
    QAbstractButton* fullScreenButton() const;
    QAbstractButton* closeButton() const;

    // Tries the stored automatic connection (not when the command line names an instrument).
    void startDevicePage();

signals:
    void restore();
    void resized();

private slots:
    void updateStatusBar(int state);
    void updateStatus(int result, int command);
    void setFilePath(QString path);
    void resizeEvent(QResizeEvent* ev) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpStartScreen();
    void setUpPageScrolling();
    void alignStartCards();
    void setUpStatusLine();
    void setUpShortcuts();
    void connectCaptureExport();
    void showPage(int page);
    void checkPageButton(int page);
    void paintConnectionIcon(const char* colour);
    // Results waiting for the database, or stored again after waiting.
    void updateStorageLabel();

    std::unique_ptr<Ui::MainWindow> ui;
    // The side bar's buttons, in the order of the pages.
    QList<QAbstractButton*> m_pageButtons;
    QShortcut* m_sendShortcut;
    QShortcut* m_tareShortcut;
    QShortcut* m_zeroShortcut;
    QShortcut* m_onOffShortcut;
    // Takes back the word that waiting results were stored.
    QTimer* m_storageClearedTimer;
};
