#pragma once

#include "log/pelmlogrecord.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class CDevice;
class CDeviceFactory;
class CInterfaceModule;
class CServersPool;
class QUdpSocket;

// Finds instruments: every serial port is probed in a thread of its own while the network modules
// are asked by broadcast on every searched interface; a module that answers gets candidate devices
// that read its settings, connect over TCP and are identified. Lives in a worker thread of its own;
// search() blocks that thread but keeps handling its events in every wait.
class CSearching : public QObject
{
    Q_OBJECT
public:
    // How long the network modules have to answer and be identified.
    static constexpr int DefaultNetworkWaitMs = 8000;
    // Serial probes end by themselves well within this; after it they are stopped.
    static constexpr int ProbeWaitMs = 60000;
    // A stopped probe closes its port at once; this bounds the wait for it to say so.
    static constexpr int StopWaitMs = 2000;
    // A module's status is tens of bytes: an answer that never completes is kept only this far.
    static constexpr int MaxPartialBytes = 1024;
    static constexpr int MaxPartialSenders = 64;
    static constexpr int MaxInfoAttempts = 4;
    // Modules heard are identified this many at a time, each with sockets of its own; the others wait
    // their turn in the order heard, so that a flood of status replies delays a search but never uses
    // up the process's descriptors before the real instrument's turn.
    static constexpr int MaxModulesInFlight = 64;
    // Every module on a network answers the broadcast at once, and strangers may flood it: replies the
    // search cannot read at once wait here rather than be dropped by the system (which caps the size at
    // its own maximum).
    static constexpr int ReceiveBufferBytes = 2 * 1024 * 1024;
    // However many modules wait, the network part of a search ends after this.
    static constexpr int MaxNetworkWaitMs = 300000;

    explicit CSearching(CDeviceFactory* factory, QObject* parent = nullptr);
    ~CSearching() override;

    bool isStopped() const { return m_stop; }
    bool isSearching() const { return m_progress <= 99; }
    int progress() const { return m_progress; }
    CDevice* device(int i) const { return m_devices.value(i); }
    int deviceCount() const { return m_devices.size(); }
    int indexOf(CDevice* device) const { return m_devices.indexOf(device); }

    // The whole wait for network answers; the next search uses it. Set from the owner's thread while
    // this object lives in the search thread.
    // The last line of a search: how many instruments it found and where it looked.
    static QString summaryText(int found, bool stopped, const QStringList& ports,
                               const QStringList& interfaces);

    void setNetworkWait(int ms) { m_networkWaitMs = qMax(0, ms); }
    int networkWait() const { return m_networkWaitMs; }

public slots:
    bool search();
    void stopSearching();
    void setDevice(CDevice* device);

signals:
    void progressChanged(int progress);
    void newLogLine(QString line);
    void newDeviceFound(CDevice* dev);
    void searchingFinished();
    void userStopped();
    void newOutLog(PelmLogRecord r);
    void newInLog(PelmLogRecord r);
    // At the end of every search, with its last log line: how many instruments were found and where
    // the search looked ("Search finished: 2 instruments found. Searched serial ports: ...").
    void searchSummary(QString text);

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void onSocketReadyRead();
    void onModuleInfoReady();
    void onDeviceStateChanged(int state);
    void onModuleCommandFailed();
    void onModuleCommandOk();
    void onModuleCommandTimeout();
    void onProbeFinished(bool success, CDevice* device);

private:
    // The module behind one MAC and dialect, where it was first heard and what its status said.
    struct HeardModule
    {
        QUdpSocket* socket = nullptr;
        QHostAddress address;
        int port = 0;
        QByteArray mac;
        bool dhcp = false;
        bool ipObtained = false;
        QList<QPointer<CDevice>> candidates;
        // When its candidates were made (search time); -1 while it waits for its turn.
        qint64 startedMs = -1;
    };

    void searchSerialPorts();
    bool searchNetwork();
    void broadcast(QUdpSocket* socket, const QByteArray& datagram, int port);
    void waitForAnswers();
    void waitForProbes();
    void cleanUp();
    void parseReceivedData(QUdpSocket* socket, const QByteArray& answer, const QHostAddress& address,
                           int port);
    void appendToDevicesList(CDevice* device);
    void connectFoundModule(CDevice* device);
    void checkFoundDevice(CDevice* device);
    // Connects and checks the devices that became ready meanwhile, one at a time, outside any
    // other device's exchange.
    void runChecks();
    void retryInformation(CInterfaceModule* module);
    // Makes the candidates of a heard module, which then read its settings.
    void startModule(const QString& key);
    // Starts waiting modules while fewer than MaxModulesInFlight run.
    void startQueued();
    // Ends the turn of every module whose candidates are all done (found, listed or dropped), and
    // of one that had its share of the wait while others wait; deletes the dropped candidates.
    void updateModulesInFlight();
    // Modules still waiting, or running within their share of the wait.
    bool modulesBusy() const;
    void discard(CDevice* device);
    static bool isDiscarded(const CDevice* device);
    bool isListed(const QString& interfaceDescription) const;
    static bool holds(const QUdpSocket* socket, const QHostAddress& address);
    QString identityLine(const CDevice* device) const;
    // Handles this thread's events until done() holds, ms have passed, or (with endOnStop) the
    // search is stopped; tick runs after every round with the time so far.
    void runEvents(int ms, const std::function<bool()>& done, bool endOnStop, int tickMs,
                   const std::function<void(qint64)>& tick);
    // Progress only grows during a search and stays below 100 until its end.
    void setProgress(int progress);

    CDeviceFactory* m_factory = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_progress{100};
    QList<CDevice*> m_devices;
    QList<QUdpSocket*> m_sockets;
    QObject* m_candidates = nullptr;
    // Answer bytes so far, per receiving socket and sender.
    QHash<QString, QByteArray> m_partial;
    int m_pending = 0;
    int m_total = 1;

    std::atomic<int> m_networkWaitMs{DefaultNetworkWaitMs};
    bool m_running = false;
    QPointer<CServersPool> m_pool;
    QHash<QString, HeardModule> m_modules;
    QList<QPointer<CDevice>> m_toConnect;
    QList<QPointer<CDevice>> m_toCheck;
    // Dialect port and sender address -> the key of the module heard from there first.
    QHash<QString, QString> m_moduleAt;
    QList<QString> m_queue;
    QList<QString> m_inFlight;
    // Dropped candidates, deleted at the next round of the wait so that their sockets close then.
    QList<QPointer<CDevice>> m_discarded;
    QElapsedTimer m_clock;
    CDevice* m_checking = nullptr;
    int m_waitTimerId = 0;
    bool m_partialCapReported = false;
    // What the running (or last) search looked at, for its summary.
    QStringList m_searchedPorts;
    QStringList m_searchedInterfaces;
};
