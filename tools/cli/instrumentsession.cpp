#include "instrumentsession.h"

#include "device/cdeviceold.h"
#include "device/cmervikmanagerfactory.h"

#include <QFileInfo>

InstrumentSession::InstrumentSession(QObject* parent) : QObject(parent) {}

InstrumentSession::~InstrumentSession()
{
    if (m_device && m_device->state() != STATE_DISCONNECTED) {
        m_device->disconnectDevice();
    }
}

int InstrumentSession::open(const QString& port, const QVector<int>& baudRates, bool readIdentity,
                            QString& error)
{
    if (!QFileInfo::exists(port)) {
        error = QStringLiteral("no such port: %1").arg(port);
        return ExitNoPort;
    }
    CMervikManagerFactory factory;
    bool opened = false;
    for (const int baud : baudRates) {
        const QList<CDevice*> candidates = factory.createDevices(nullptr, true);
        for (CDevice* created : candidates) {
            std::unique_ptr<CDeviceOld> candidate(static_cast<CDeviceOld*>(created));
            candidate->setRS232(port, QString(), baud);
            if (!candidate->connectDevice(false)) {
                continue;
            }
            opened = true;
            candidate->setBaudRate(baud);
            if (candidate->checkEcho() || candidate->checkEcho()) {
                if (readIdentity) {
                    candidate->readInfo();
                }
                m_device = std::move(candidate);
                m_baudRate = baud;
                return ExitOk;
            }
            candidate->disconnectDevice();
        }
    }
    if (!opened) {
        error = QStringLiteral("cannot open %1").arg(port);
        return ExitNoPort;
    }
    error = QStringLiteral("no instrument answered on %1").arg(port);
    return ExitNoAnswer;
}

QString InstrumentSession::generation() const
{
    if (!m_device) {
        return QString();
    }
    switch (m_device->protocolMode()) {
    case CDeviceOld::ModeCurrent:
        return QStringLiteral("current");
    case CDeviceOld::ModeOlder:
        return QStringLiteral("older");
    default:
        return QStringLiteral("unknown");
    }
}

QString InstrumentSession::formatValue(const Measurement& m)
{
    return QString::number(double(m.value), 'f', m.decimals);
}
