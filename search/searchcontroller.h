#pragma once

#include "device/cmervikmanagerfactory.h"

#include <QObject>
#include <QString>

class CDevice;
class CInterfaceModule;
class CSearching;
class QThread;
class RepairPrompt;

// Stands between the device page and discovery: runs the search in a worker thread, relays its
// progress and finds, connects and disconnects a found device in place, and repairs the network
// settings of an instrument that cannot be reached, with the user's consent.
class SearchController : public QObject
{
    Q_OBJECT
public:
    // How long the destructor and stopAndWait() wait for the search to end.
    static constexpr int StopBoundMs = 10000;
    // The settings poll after a module's reboot, and the attempts of each new setting.
    static constexpr int PollAttempts = 6;
    static constexpr int SettingAttempts = 3;

    explicit SearchController(QObject* parent = nullptr);
    ~SearchController() override;

    // Not owned; null: every proposal counts as declined.
    void setRepairPrompt(RepairPrompt* prompt) { m_prompt = prompt; }

    // Virtual so that the device page can be tried with a scripted search.
    virtual void toggleConnection(int index);
    virtual bool disconnectCurrentDevice();
    virtual void stopAndWait();
    void sendDevice(CDevice* dev);
    virtual CDevice* device(int index) const;
    virtual int indexOf(CDevice* dev) const;
    CSearching* searching() const { return m_searching; }

signals:
    void search();
    void stopSearching();
    void searchProgress(int progress);
    void searchFinished();
    void newDevice(CDevice* dev);
    void newLog(QString line);
    void sendDeviceToSearchingThread(CDevice* dev);
    void update(int index, CDevice* dev);
    // The last line of every search: what was found, and which ports and interfaces were searched.
    void summary(QString text);

public slots:
    virtual void startSearching();
    void onModuleInfoReady();
    void onModuleCommandFailed();
    void onModuleCommandOk();
    void onModuleCommandTimeout();
    void onCommandsListFinished(int r);
    void onCommandFinished(int result, int command);

private:
    void connectInPlace(CDevice* dev);
    void closeProgress();

    // On the heap: should the search not end within the bound, the thread and the factory it reads
    // are left to end by themselves rather than destroyed under it.
    CMervikManagerFactory* m_factory;
    QThread* m_thread;
    CSearching* m_searching;
    RepairPrompt* m_prompt = nullptr;
    bool m_progressShown = false;
};
