#include "controller/reconnector.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>

Reconnector* Reconnector::s_instance = nullptr;

Reconnector* Reconnector::instance()
{
    if (!s_instance) {
        new Reconnector(QCoreApplication::instance());
    }
    return s_instance;
}

Reconnector::Reconnector(QObject* parent) : QObject(parent)
{
    if (!s_instance) {
        s_instance = this;
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Reconnector::attempt);
    CDeviceController* devices = CDeviceController::instance();
    connect(devices, &CControllerInterface::deviceStateChanged, this, &Reconnector::onStateChanged);
    // Another instrument chosen meanwhile ends the wait for this one.
    connect(devices, &CControllerInterface::currentDeviceChanged, this, [this] {
        if (m_device && CControllerInterface::currentDevice() != m_device) {
            stop();
        }
    });
}

Reconnector::Reconnector(CDevice* device, QObject* parent) : QObject(parent), m_own(device), m_ownDevice(true)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Reconnector::attempt);
    connect(device, &CDevice::stateChanged, this, &Reconnector::onStateChanged);
}

Reconnector::~Reconnector()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

bool Reconnector::isReconnecting() const
{
    return m_active;
}

void Reconnector::setPauses(int firstMs, int longestMs)
{
    m_firstMs = firstMs;
    m_longestMs = longestMs;
}

void Reconnector::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled) {
        stop();
    }
}

void Reconnector::onStateChanged(int state)
{
    CDevice* device = m_ownDevice ? m_own.data() : CControllerInterface::currentDevice();
    // Only a connection that was up and went down by itself: a disconnection asked for passes through
    // Disconnecting first.
    if (!m_enabled || m_active || !device || state != STATE_DISCONNECTED ||
        device->previousState() != STATE_CONNECTED || device->serialNumber().isEmpty()) {
        return;
    }
    start(device);
}

void Reconnector::start(CDevice* device)
{
    qCInfo(lcController) << "connection lost:" << device->interfaceDescription() << "reconnecting";
    m_device = device;
    m_serialNumber = device->serialNumber();
    m_pauseMs = m_firstMs;
    m_active = true;
    // A trial under way when the device goes is never answered: its end is this.
    m_destroyed = connect(device, &QObject::destroyed, this, &Reconnector::stop);
    // The trials' own connections and disconnections are not the program's business.
    if (!m_ownDevice) {
        CDeviceController::instance()->setQuiet(true);
    }
    emit reconnecting(true);
    m_timer.start(m_pauseMs);
}

void Reconnector::stop()
{
    if (!m_active) {
        return;
    }
    m_active = false;
    m_attempting = false;
    m_timer.stop();
    disconnect(m_destroyed);
    m_device = nullptr;
    if (!m_ownDevice) {
        CDeviceController::instance()->setQuiet(false);
    }
    emit reconnecting(false);
}

void Reconnector::attempt()
{
    CDevice* device = m_device;
    if (!device) {
        // Gone meanwhile (a new search deletes what the last one found): nothing to wait for.
        stop();
        return;
    }
    if (m_attempting) {
        return;
    }
    m_attempting = true;
    // In the device's own thread, where its exchanges run and may block.
    queueCall(device, [this, device] {
        bool same = false;
        if (device->connectDevice(false)) {
            same = (device->checkEcho() || device->checkEcho()) && device->readInfo() &&
                   device->serialNumber() == m_serialNumber;
            device->disconnectDevice();
        }
        queueCall(this, [this, same] { attemptEnded(same); });
    });
}

void Reconnector::attemptEnded(bool same)
{
    m_attempting = false;
    CDevice* device = m_device;
    if (!device) {
        stop();
        return;
    }
    if (!same) {
        // A place that does not answer, or another instrument there: try again later.
        m_pauseMs = qMin(m_pauseMs * 2, m_longestMs);
        m_timer.start(m_pauseMs);
        return;
    }
    qCInfo(lcController) << "reconnected:" << device->interfaceDescription();
    stop();
    queueCall(device, [device] { device->connectDevice(true); });
}
