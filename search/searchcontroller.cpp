#include "search/searchcontroller.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cinterfacemodule.h"
#include "log/cpelmlog.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"
#include "search/csearching.h"
#include "search/repairprompt.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Modules live in the search's thread; their commands are queued there.
SearchController::SearchController(QObject* parent)
    : QObject(parent), m_factory(new CMervikManagerFactory), m_thread(new QThread),
      m_searching(new CSearching(m_factory, nullptr))
{
    m_searching->moveToThread(m_thread);
    connect(m_searching, &CSearching::newDeviceFound, this, &SearchController::newDevice);
    connect(m_searching, &CSearching::newLogLine, this, &SearchController::newLog);
    connect(m_searching, &CSearching::searchingFinished, this, &SearchController::searchFinished);
    connect(m_searching, &CSearching::progressChanged, this, &SearchController::searchProgress);
    connect(m_searching, &CSearching::searchSummary, this, &SearchController::summary);
    connect(this, &SearchController::search, m_searching, &CSearching::search);
    connect(this, &SearchController::stopSearching, m_searching, &CSearching::stopSearching);
    connect(this, &SearchController::sendDeviceToSearchingThread, m_searching, &CSearching::setDevice);
    connect(m_thread, &QThread::finished, m_searching, &QObject::deleteLater);
    CPelmLog::follow(m_searching);
    connect(CDeviceController::instance(), &CControllerInterface::commandFinished, this,
            [this](int result, int command) { onCommandFinished(result, command); });
    m_thread->start();
}

SearchController::~SearchController()
{
    m_searching->stopSearching();
    m_thread->quit();
    if (m_thread->wait(StopBoundMs)) {
        delete m_thread;
        delete m_factory;
        return;
    }
    qCWarning(lcSearch) << "the search did not end within" << StopBoundMs << "ms; left to end by itself";
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
}

void SearchController::startSearching()
{
    disconnectCurrentDevice();
    emit search();
}

bool SearchController::disconnectCurrentDevice()
{
    CDevice* current = CControllerInterface::currentDevice();
    if (!current || current->state() == STATE_DISCONNECTED) {
        return false;
    }
    current->disconnectDevice();
    CDeviceController::instance()->setCurrentDevice(nullptr);
    return true;
}

void SearchController::stopAndWait()
{
    m_searching->stopSearching();
    QElapsedTimer waited;
    waited.start();
    while (m_searching->isSearching() && waited.elapsed() < StopBoundMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

CDevice* SearchController::device(int index) const
{
    return m_searching->device(index);
}

int SearchController::indexOf(CDevice* dev) const
{
    return m_searching->indexOf(dev);
}

void SearchController::sendDevice(CDevice* dev)
{
    dev->setParent(nullptr);
    dev->moveToThread(m_thread);
    emit sendDeviceToSearchingThread(dev);
}

void SearchController::connectInPlace(CDevice* dev)
{
    // The device stays in the search's thread: its connection runs there, re-posted by its guard.
    CDeviceController::instance()->setCurrentDevice(dev);
    dev->connectDevice(true);
}

void SearchController::toggleConnection(int index)
{
    CDevice* dev = device(index);
    if (!dev || dev->state() == STATE_CONNECTING || dev->state() == STATE_DISCONNECTING) {
        return;
    }
    if (dev->state() != STATE_DISCONNECTED) {
        dev->disconnectDevice();
        return;
    }
    disconnectCurrentDevice();
    disconnect(dev, nullptr, nullptr, nullptr);
    CPelmLog::follow(dev);
    CInterfaceModule* module = dev->module();
    if (module) {
        disconnect(module, nullptr, nullptr, nullptr);
    }
    stopAndWait();
    if (dev->isReachable()) {
        connectInPlace(dev);
        return;
    }
    connect(module, &CInterfaceModule::infoReady, this, &SearchController::onModuleInfoReady);
    connect(module, &CInterfaceModule::commandFailed, this, &SearchController::onModuleCommandFailed);
    connect(module, &CInterfaceModule::commandOk, this, &SearchController::onModuleCommandOk);
    connect(module, &CInterfaceModule::commandTimeout, this, &SearchController::onModuleCommandTimeout);
    connect(module, &CInterfaceModule::commandsListFinished, this, &SearchController::onCommandsListFinished);
    CPelmLog::follow(module);
    module->readInfo(1);
}

void SearchController::onModuleInfoReady()
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    CDevice* dev = module ? qobject_cast<CDevice*>(module->parent()) : nullptr;
    if (!dev) {
        return;
    }
    dev->setTransportFromModule();
    emit update(indexOf(dev), dev);
    closeProgress();
    if (dev->isReachable()) {
        // The device controller reads the identity as soon as the device reports Connected.
        connectInPlace(dev);
        return;
    }
    QList<int> commands;
    QList<QVariant> arguments;
    const bool accepted = m_prompt && m_prompt->proposeSettings(dev, &commands, &arguments);
    qCDebug(lcSearch) << "accepted?" << accepted << commands;
    // Declined, or nothing the module could change: reading the settings again would only find
    // the same ones, for ever.
    if (!accepted || commands.isEmpty() || commands.size() != arguments.size()) {
        return;
    }
    m_progressShown = true;
    m_prompt->showProgress(tr("Changing interface settings...\n\r\n\r(It make take up to 20 seconds)"));
    queueCall(module, [module, commands, arguments] {
        module->startCommandsList(1, commands, arguments, SettingAttempts, 1);
    });
}

void SearchController::onCommandsListFinished(int r)
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    if (!module) {
        return;
    }
    qCDebug(lcSearch) << "list_id =" << module->getListId() << "list_result=" << r << module->commandName();
    if (module->getListId() == 1) {
        // A Tibbo module takes new settings at its restart; a Wi-Fi module has them at once.
        if (module->moduleType() == CInterfaceModule::MODULE_TIBBO) {
            queueCall(module, [module] { module->reboot(); });
        } else {
            module->readInfo(1);
        }
    } else if (module->getListId() == 2) {
        if (r == CInterfaceModule::LIST_OK) {
            module->readInfo(1);
        } else {
            closeProgress();
        }
    }
}

void SearchController::onModuleCommandTimeout()
{
    auto* module = qobject_cast<CInterfaceModule*>(sender());
    if (!module) {
        return;
    }
    qCDebug(lcSearch) << module->commandName();
    // The module restarts before it can acknowledge its reboot: poll its settings until it is back.
    if (module->command() == CInterfaceModule::COMMAND_REBOOT) {
        queueCall(module, [module] {
            module->startCommandsList(2, {CInterfaceModule::COMMAND_GET_INFO}, {QVariant()}, PollAttempts, 1);
        });
    }
}

void SearchController::onModuleCommandFailed()
{
    closeProgress();
}

void SearchController::onModuleCommandOk() {}

void SearchController::onCommandFinished(int result, int command)
{
    if (result == COMMAND_REFUSED || command != COMMAND_READ_INFO) {
        return;
    }
    CDevice* current = CControllerInterface::currentDevice();
    const int index = current ? indexOf(current) : -1;
    if (index >= 0) {
        emit update(index, current);
    }
}

void SearchController::closeProgress()
{
    if (m_progressShown && m_prompt) {
        m_prompt->closeProgress();
    }
    m_progressShown = false;
}
