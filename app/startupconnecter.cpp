#include "app/startupconnecter.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "device/cdevicekx40.h"
#include "device/cmervikmanagerfactory.h"
#include "device/cscalemanagerfactory.h"
#include "log/cpelmlog.h"
#include "platform/logcategories.h"
#include "platform/serialports.h"
#include "search/directconnecter.h"

#include <QFileInfo>
#include <QHostInfo>
#include <QRegularExpression>

QString StartupConnecter::Target::text() const
{
    if (network) {
        return QStringLiteral("%1:%2").arg(address.toString()).arg(tcpPort);
    }
    const QString serial = QStringLiteral("%1@%2").arg(port).arg(baud);
    return !threeLetter      ? serial
           : busAddress >= 0 ? serial + QStringLiteral(" address %1").arg(busAddress)
                             : serial + QStringLiteral(" (three-letter)");
}

bool StartupConnecter::parseProtocol(const QString& text, Target& target)
{
    if (text == QLatin1String("line")) {
        target.threeLetter = false;
        return true;
    }
    static const QRegularExpression threeLetter(QStringLiteral("^three-letter(?::(\\d{1,2}))?$"));
    const QRegularExpressionMatch match = threeLetter.match(text);
    const int address = match.captured(1).isEmpty() ? -1 : match.captured(1).toInt();
    if (!match.hasMatch() || address > CScaleManagerFactory::LastAddress) {
        return false;
    }
    target.threeLetter = true;
    target.busAddress = address;
    return true;
}

bool StartupConnecter::parseTarget(const QString& text, Target& target)
{
    // HOST:PORT names no file and has no slash; a serial path never looks like it.
    static const QRegularExpression hostPort(QStringLiteral("^\\[?([^/@\\[\\]]+?)\\]?:(\\d{1,5})$"));
    const QRegularExpressionMatch match = hostPort.match(text);
    if (match.hasMatch() && !QFileInfo::exists(text)) {
        const int port = match.captured(2).toInt();
        QHostAddress address(match.captured(1));
        if (address.isNull()) {
            const QList<QHostAddress> found = QHostInfo::fromName(match.captured(1)).addresses();
            if (found.isEmpty()) {
                return false;
            }
            address = found.first();
        }
        if (port < 1 || port > 65535) {
            return false;
        }
        target.network = true;
        target.address = address;
        target.tcpPort = port;
        return true;
    }
    const int at = text.lastIndexOf(QLatin1Char('@'));
    QString port = at < 0 ? text : text.left(at);
    if (at >= 0) {
        bool ok = false;
        target.baud = text.mid(at + 1).toInt(&ok);
        if (!ok || target.baud <= 0) {
            return false;
        }
    }
    if (port.isEmpty()) {
        return false;
    }
    // The serial port puts /dev/ before a name without a slash, so a file named relative to the
    // working folder (a pseudo-terminal's link) is made absolute; "ttyUSB0" stays as it is.
    if (QFileInfo::exists(port)) {
        port = QFileInfo(port).absoluteFilePath();
    }
    target.network = false;
    target.port = port;
    return true;
}

StartupConnecter::StartupConnecter(const Target& target, QObject* parent) : QObject(parent), m_target(target)
{
}

StartupConnecter::~StartupConnecter()
{
    if (m_device && m_device->state() != STATE_DISCONNECTED) {
        m_device->disconnectDevice();
    }
}

bool StartupConnecter::probe(CDevice* candidate)
{
    CPelmLog::follow(candidate);
    emit candidateCreated(candidate);
    if (m_target.network) {
        candidate->setLAN(m_target.address, m_target.tcpPort);
    } else {
        // Described as the search and the device page describe the port.
        SerialPortEntry entry;
        if (!SerialPorts::find(m_target.port, &entry)) {
            entry.name = m_target.port;
        }
        candidate->setRS232(m_target.port, SerialPorts::kind(entry), m_target.baud);
    }
    const DirectConnecter::Probe answer =
        DirectConnecter::probe(candidate, m_target.network ? 0 : m_target.baud);
    if (answer == DirectConnecter::NotOpened) {
        emit note(QStringLiteral("Cannot open ") + candidate->interfaceDescription());
        return false;
    }
    if (answer == DirectConnecter::Silent) {
        emit note(QStringLiteral("No instrument answered on ") + candidate->interfaceDescription());
        return false;
    }
    return candidate->isReachable();
}

bool StartupConnecter::connectNow()
{
    if (m_device) {
        return true;
    }
    QList<CDevice*> candidates;
    if (m_target.threeLetter) {
        // The addresses the dialect's factory tries on a serial port, or the one named.
        const int first = m_target.busAddress >= 0 ? m_target.busAddress : CScaleManagerFactory::FirstAddress;
        const int last = m_target.busAddress >= 0 ? m_target.busAddress : CScaleManagerFactory::LastAddress;
        for (int address = first; address <= last; ++address) {
            auto* candidate = new CDeviceKx40(this);
            candidate->setAddressValue(address);
            candidates.append(candidate);
        }
    } else {
        candidates = CMervikManagerFactory().createDevices(this, !m_target.network);
    }
    for (CDevice* candidate : candidates) {
        if (!m_device && probe(candidate)) {
            m_device = candidate;
        } else {
            delete candidate;
        }
    }
    if (!m_device) {
        qCWarning(lcUi).noquote() << "no instrument connected at" << m_target.text();
        emit finished(false);
        return false;
    }
    emit note(QStringLiteral("Instrument: %1, serial %2, made %3, firmware %4")
                  .arg(m_device->model(), m_device->serialNumber(), m_device->productionDate(),
                       m_device->firmware()));
    CDeviceController::instance()->setCurrentDevice(m_device);
    const bool connected = m_device->connectDevice(true);
    emit finished(connected);
    return connected;
}
