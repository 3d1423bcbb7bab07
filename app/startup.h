#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class CBalanceController;
class ChainCheck;
class CaptureCore;
class CentralForwarder;
class CDeviceController;
class CPelmLog;
class QWinWidget;
class WalCheckpointer;

// What the program creates before its event loop runs, in the order the parts depend on each other,
// and what it destroys afterwards. The application object exists before start().
class Startup : public QObject
{
    Q_OBJECT
public:
    // How long closing waits for the central database to take the last results.
    static constexpr int FinishForwardingMs = 2000;

    // Called after each step with its name; tests check what exists at each point.
    using StepObserver = std::function<void(const QString& step)>;

    explicit Startup(QObject* parent = nullptr);
    ~Startup() override;

    // The organisation and application names, which decide where the settings and the database live.
    static void applyNames();

    void setStepObserver(StepObserver observer) { m_observer = std::move(observer); }

    // Names, database, meta-types, log writer, settings and capture export, the two device
    // controllers, the capture of results, the window and its place, the start-up option values; then shows
    // the window.
    void start();
    // Closes the database and destroys the window, the capture, the controllers and the log writer.
    void shutdown();

    bool databaseOpen() const { return m_databaseOpen; }
    QWinWidget* window() const { return m_window.get(); }

private:
    void step(const char* name);
    void openDatabase();
    void placeWindow();
    // Checks the newest links of the hash chain and says on the status line when they do not hold.
    void checkChain();

    StepObserver m_observer;
    bool m_databaseOpen = false;
    bool m_started = false;
    std::unique_ptr<WalCheckpointer> m_checkpointer;
    std::unique_ptr<ChainCheck> m_chainCheck;
    std::unique_ptr<CPelmLog> m_log;
    QPointer<CDeviceController> m_deviceController;
    QPointer<CBalanceController> m_balanceController;
    std::unique_ptr<CaptureCore> m_capture;
    std::unique_ptr<CentralForwarder> m_central;
    std::unique_ptr<QWinWidget> m_window;
};
