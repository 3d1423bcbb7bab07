#include "instrumentsession.h"

#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevicekx40.h"
#include "device/cdeviceold.h"
#include "device/cmervikmanagerfactory.h"
#include "device/cscalemanagerfactory.h"
#include "platform/serialports.h"

#include <QFileInfo>
#include <QHostInfo>

InstrumentSession::InstrumentSession(QObject* parent) : QObject(parent) {}

InstrumentSession::~InstrumentSession()
{
    if (m_device && m_device->state() != STATE_DISCONNECTED) {
        m_device->disconnectDevice();
    }
}

void InstrumentSession::setThreeLetter(int address)
{
    m_threeLetter = true;
    m_address = address;
}

std::vector<std::unique_ptr<CDevice>> InstrumentSession::serialCandidates() const
{
    std::vector<std::unique_ptr<CDevice>> owned;
    if (!m_threeLetter) {
        for (CDevice* created : CMervikManagerFactory().createDevices(nullptr, true)) {
            owned.emplace_back(created);
        }
        return owned;
    }
    // The addresses the dialect's factory tries on a serial port, in its order; the plain device it
    // adds speaks another protocol.
    const int first = m_address == AnyAddress ? CScaleManagerFactory::FirstAddress : m_address;
    const int last = m_address == AnyAddress ? CScaleManagerFactory::LastAddress : m_address;
    for (int address = first; address <= last; ++address) {
        auto device = std::make_unique<CDeviceKx40>();
        device->setAddressValue(address);
        owned.push_back(std::move(device));
    }
    return owned;
}

int InstrumentSession::open(const QString& portArgument, const QVector<int>& baudRates, bool readIdentity,
                            QString& error)
{
    if (!QFileInfo::exists(portArgument)) {
        QHostAddress address;
        int tcpPort = 0;
        if (parseHostPort(portArgument, &address, &tcpPort)) {
            if (m_threeLetter) {
                error = QStringLiteral(
                    "instruments of the three-letter dialect are reached on serial ports only");
                return ExitUsage;
            }
            return openNetwork(address, tcpPort, readIdentity, error);
        }
        error = QStringLiteral("no such port: %1").arg(portArgument);
        return ExitNoPort;
    }
    // The serial port takes a name without a slash as one below /dev.
    const QString port = QFileInfo(portArgument).absoluteFilePath();
    bool opened = false;
    for (const int baud : baudRates) {
        // Every candidate is owned here, also those after the one that answers.
        std::vector<std::unique_ptr<CDevice>> owned = serialCandidates();
        for (std::unique_ptr<CDevice>& candidate : owned) {
            candidate->setRS232(port, QString(), baud);
            if (!candidate->connectDevice(false)) {
                continue;
            }
            opened = true;
            candidate->setBaudRate(baud);
            if (adopt(candidate, readIdentity)) {
                m_baudRate = baud;
                return ExitOk;
            }
        }
    }
    if (!opened) {
        // Missing rights are said exactly, with the way to get them.
        const QString problem = SerialPorts::permissionProblem(port);
        error = problem.isEmpty() ? QStringLiteral("cannot open %1").arg(port) : problem;
        return ExitNoPort;
    }
    error = QStringLiteral("no instrument answered on %1").arg(port);
    if (m_threeLetter) {
        error += m_address == AnyAddress ? QStringLiteral(" at any address from %1 to %2")
                                               .arg(CScaleManagerFactory::FirstAddress)
                                               .arg(CScaleManagerFactory::LastAddress)
                                         : QStringLiteral(" at address %1").arg(m_address);
    }
    return ExitNoAnswer;
}

bool InstrumentSession::adopt(std::unique_ptr<CDevice>& candidate, bool readIdentity)
{
    // A line sent before anything came for the previous one leaves that one's answer owed.
    bool owed = false;
    bool answered = true;
    QObject watch;
    connect(candidate.get(), &CDevice::newOutLog, &watch, [&](const PelmLogRecord&) {
        owed = owed || !answered;
        answered = false;
    });
    connect(candidate.get(), &CDevice::newInLog, &watch, [&](const PelmLogRecord&) { answered = true; });
    const bool adopted = adoptAnswering(candidate, readIdentity);
    m_answerOwed = owed || !answered;
    return adopted;
}

bool InstrumentSession::adoptAnswering(std::unique_ptr<CDevice>& candidate, bool readIdentity)
{
    if (!candidate->checkEcho() && !candidate->checkEcho()) {
        candidate->disconnectDevice();
        return false;
    }
    if (readIdentity && m_threeLetter) {
        candidate->readInfo();
    } else if (readIdentity) {
        auto* device = static_cast<CDeviceOld*>(candidate.get());
        // The device tries its first echo once and takes an instrument that lost that one answer for an
        // older one. Only the echo test with its repeats (the base device's) tells the generations apart.
        const bool current =
            device->protocolMode() == CDeviceOld::ModeCurrent || device->CDevice::checkEcho();
        m_generation = current ? QStringLiteral("current") : QStringLiteral("older");
        // The identity exchange alone: the device's own reading asks for a result after it and, should
        // that answer be garbled, forgets the identity it had read. An older instrument has none.
        if (current) {
            device->CDevice::readInfo();
        }
    }
    m_device = std::move(candidate);
    return true;
}

int InstrumentSession::openNetwork(const QHostAddress& address, int port, bool readIdentity, QString& error)
{
    m_network = true;
    const QString target = QStringLiteral("%1:%2").arg(address.toString()).arg(port);
    CMervikManagerFactory factory;
    bool connected = false;
    const QList<CDevice*> candidates = factory.createDevices(nullptr, true);
    // Every candidate is owned here, also those after the one that answers.
    std::vector<std::unique_ptr<CDevice>> owned;
    for (CDevice* created : candidates) {
        owned.emplace_back(created);
    }
    for (std::unique_ptr<CDevice>& candidate : owned) {
        candidate->setLAN(address, port);
        if (!candidate->connectDevice(false)) {
            continue;
        }
        connected = true;
        if (adopt(candidate, readIdentity)) {
            return ExitOk;
        }
    }
    error = connected ? QStringLiteral("no instrument answered at %1").arg(target)
                      : QStringLiteral("cannot connect to %1").arg(target);
    return connected ? ExitNoAnswer : ExitNoPort;
}

bool InstrumentSession::parseHostPort(const QString& text, QHostAddress* address, int* port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return false;
    }
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const int value = text.mid(colon + 1).toInt(&ok);
    if (!ok || value < 1 || value > 65535 || host.isEmpty() || host.contains(QLatin1Char('/'))) {
        return false;
    }
    QHostAddress parsed(host);
    if (parsed.isNull()) {
        const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
        if (found.isEmpty()) {
            return false;
        }
        parsed = found.first();
    }
    *address = parsed;
    *port = value;
    return true;
}

std::unique_ptr<CDevice> InstrumentSession::takeDevice()
{
    return std::move(m_device);
}

QString InstrumentSession::formatValue(const Measurement& m)
{
    return m.valueText();
}

bool InstrumentSession::handToControllers(QString& error)
{
    CDevice* device = m_device.get();
    CBalanceController::instance();
    device->disconnectDevice();
    CDeviceController::instance()->setCurrentDevice(device);
    if (!device->connectDevice(false)) {
        error = QStringLiteral("cannot reopen %1").arg(device->interfaceDescription());
        return false;
    }
    return true;
}
