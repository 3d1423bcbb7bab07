#include "search/threadwrapper.h"

#include "device/cdevice.h"
#include "platform/logcategories.h"
#include "search/comdeviceloop.h"

#include <QThread>

ThreadWrapper::ThreadWrapper(QObject* parent) : QObject(parent), m_thread(new QThread(this))
{
    qRegisterMetaType<CDevice*>("CDevice*");
}

ThreadWrapper::~ThreadWrapper()
{
    if (m_thread->isRunning()) {
        // Its owner goes while the probe runs: stop the probe, which closes its port at once.
        emit stop();
        m_thread->quit();
    }
    if (!m_thread->wait(StopWaitMs)) {
        // Destroying a running thread would end the program; let it go when it ends.
        qCWarning(lcSearch) << "a serial probe did not end within" << StopWaitMs << "ms";
        m_thread->setParent(nullptr);
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    }
}

void ThreadWrapper::start(QThread* targetThread, QList<CDevice*> devices, QString portName,
                          QString portDescription, QList<int> baudRates)
{
    auto* loop = new COMDeviceLoop(targetThread, devices, std::move(portName), std::move(portDescription),
                                   std::move(baudRates));
    loop->moveToThread(m_thread);
    for (CDevice* device : qAsConst(devices)) {
        device->moveToThread(m_thread);
        device->setParent(loop);
    }
    connect(this, &ThreadWrapper::stop, loop, &COMDeviceLoop::stop);
    connect(loop, &COMDeviceLoop::newLogLine, this, &ThreadWrapper::newLogLine);
    connect(loop, &COMDeviceLoop::finished, this, &ThreadWrapper::finished);
    connect(m_thread, &QThread::started, loop, &COMDeviceLoop::run);
    // Directly: the thread ends even while the owner's thread is busy.
    connect(loop, &COMDeviceLoop::endOfWork, m_thread, &QThread::quit, Qt::DirectConnection);
    // The thread deletes its probe on its way out; this object follows once the thread has ended,
    // after the results that the probe sent before.
    connect(m_thread, &QThread::finished, loop, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, this, &QObject::deleteLater);
    m_thread->start(QThread::InheritPriority);
}
