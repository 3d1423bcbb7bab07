#include "instrumentcapture.h"

#include "controller/capturecore.h"
#include "controller/reconnector.h"
#include "device/cdevice.h"
#include "log/cpelmlog.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>
#include <QPointer>

InstrumentCapture::InstrumentCapture(std::unique_ptr<CDevice> device, const QString& place, CaptureCore* core,
                                     int intervalMs, bool stable, QObject* parent)
    : QObject(parent), m_device(std::move(device)), m_place(place), m_stable(stable)
{
    core->follow(m_device.get());
    CPelmLog::follow(m_device.get());
    m_reconnector = new Reconnector(m_device.get(), this);
    connect(m_reconnector, &Reconnector::reconnecting, this, [this](bool active) {
        if (active) {
            say(QStringLiteral("connection lost, reconnecting"));
        }
    });
    connect(m_device.get(), &CDevice::stateChanged, this, &InstrumentCapture::onStateChanged);
    m_requestTimer.setInterval(intervalMs);
    connect(&m_requestTimer, &QTimer::timeout, this, &InstrumentCapture::request);
    m_thread.setObjectName(QStringLiteral("capture ") + place);
}

InstrumentCapture::~InstrumentCapture()
{
    stop();
}

void InstrumentCapture::start()
{
    CDevice* device = m_device.get();
    // Reached by the session in this thread; it works on from its own, connected anew there.
    device->disconnectDevice();
    device->moveToThread(&m_thread);
    m_thread.start();
    queueCall(device, [device] { device->connectDevice(true); });
    if (m_requestTimer.interval() > 0) {
        m_requestTimer.start();
    }
}

void InstrumentCapture::stop()
{
    if (!m_thread.isRunning()) {
        return;
    }
    m_requestTimer.stop();
    m_reconnector->setEnabled(false);
    CDevice* device = m_device.get();
    QThread* home = thread();
    // After whatever the device's thread still runs (a request, a reconnection trial): its results are
    // queued to the capture core before the device comes home.
    waitForCall(device, [device, home] {
        device->disconnectDevice();
        device->moveToThread(home);
    });
    m_thread.quit();
    m_thread.wait();
}

void InstrumentCapture::request()
{
    CDevice* device = m_device.get();
    if (device->state() != STATE_CONNECTED || m_reconnector->isReconnecting() ||
        (m_requesting.isValid() && m_requesting.elapsed() < RequestLimitMs)) {
        return;
    }
    m_requesting.start();
    QPointer<InstrumentCapture> self(this);
    const bool stable = m_stable;
    // The exchange runs in the device's thread and ends there; the next request waits for its end.
    queueCall(device, [device, self, stable] {
        stable ? device->stableResult() : device->result();
        if (self) {
            queueCall(self, [self] { self->m_requesting.invalidate(); });
        }
    });
}

void InstrumentCapture::onStateChanged(int state)
{
    // The reconnection's trials connect and disconnect on their own: only their outcome is said.
    if (m_reconnector->isReconnecting()) {
        return;
    }
    if (state == STATE_CONNECTED) {
        say(QStringLiteral("connected (serial %1)").arg(m_device->serialNumber()));
    } else if (state == STATE_DISCONNECTED && m_thread.isRunning() && !m_reconnector->isEnabled()) {
        say(QStringLiteral("disconnected"));
    }
}

void InstrumentCapture::say(const QString& state)
{
    if (state != m_said) {
        m_said = state;
        emit stateLine(m_place + QStringLiteral(": ") + state);
    }
}
