#include "controller/interfacesetter.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cinterfacemodule.h"
#include "platform/ipv4.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"

namespace {

bool isIPv4(const QHostAddress& address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol;
}

bool isNetmask(const QHostAddress& address)
{
    return isIPv4(address) && isContiguousMask(ipv4(address));
}

} // namespace

InterfaceSetter::InterfaceSetter(QString settings[7], QObject* parent)
    : QObject(parent), m_ip_mode(settings[0]), m_ip(settings[1]), m_netmask(settings[2]),
      m_gateway(settings[3]), m_cs_mode(settings[4]), m_port(settings[5]), m_server_ip(settings[6])
{
}

bool InterfaceSetter::parse()
{
    m_ipAddress = QHostAddress(m_ip.trimmed());
    m_netmaskAddress = QHostAddress(m_netmask.trimmed());
    // No gateway is 0.0.0.0, as the modules report it; an empty address would be refused.
    m_gatewayAddress =
        QHostAddress(m_gateway.trimmed().isEmpty() ? QStringLiteral("0.0.0.0") : m_gateway.trimmed());
    m_serverAddress = QHostAddress(m_server_ip.trimmed());
    bool ok = false;
    m_portNumber = m_port.trimmed().toInt(&ok);
    return isIPv4(m_ipAddress) && isNetmask(m_netmaskAddress) && isIPv4(m_gatewayAddress) &&
           isIPv4(m_serverAddress) && ok && m_portNumber >= 1 && m_portNumber <= 65535;
}

void InterfaceSetter::run()
{
    CDevice* device = CDeviceController::currentDevice();
    m_module = device ? device->module() : nullptr;
    // Nothing is written from texts a module cannot take.
    if (!m_module || !parse()) {
        qCWarning(lcInterface) << "interface settings not written:"
                               << (m_module ? "invalid settings" : "no module");
        finish(0);
        return;
    }
    connect(m_module, &CInterfaceModule::infoReady, this, &InterfaceSetter::onInfoReady);
    connect(m_module, &CInterfaceModule::commandFailed, this, &InterfaceSetter::onCommandFailed);
    connect(m_module, &CInterfaceModule::commandTimeout, this, &InterfaceSetter::onCommandTimeout);
    qCDebug(lcInterface) << "1. Start ok";
    command([](CInterfaceModule* m) { m->readInfo(1); });
}

void InterfaceSetter::then(void (InterfaceSetter::*next)())
{
    disconnect(m_step);
    m_step = connect(m_module, &CInterfaceModule::commandOk, this, [this, next] {
        disconnect(m_step);
        (this->*next)();
    });
}

void InterfaceSetter::command(const std::function<void(CInterfaceModule*)>& call)
{
    CInterfaceModule* module = m_module;
    callInThreadOf(module, [module, call] { call(module); });
}

void InterfaceSetter::finish(int ret)
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (m_module) {
        disconnect(m_module, nullptr, this, nullptr);
    }
    emit settingFinished(ret);
}

void InterfaceSetter::onInfoReady()
{
    qCDebug(lcInterface) << "1. Start ok - information read";
    // The information request is done with: its answers no longer advance the sequence.
    disconnect(m_module, &CInterfaceModule::infoReady, this, &InterfaceSetter::onInfoReady);
    setClientServer();
}

void InterfaceSetter::setClientServer()
{
    qCDebug(lcInterface) << "2. setClientServer";
    then(&InterfaceSetter::setRemoteIp);
    const int mode =
        m_cs_mode == tr("Client") ? CInterfaceModule::ROUTING_CLIENT : CInterfaceModule::ROUTING_SERVER;
    command([mode](CInterfaceModule* m) { m->setRoutingMode(mode); });
}

void InterfaceSetter::setRemoteIp()
{
    qCDebug(lcInterface) << "3. Remote ip ok";
    then(&InterfaceSetter::setPort);
    const QHostAddress server = m_serverAddress;
    command([server](CInterfaceModule* m) { m->setRemoteIP(server); });
}

void InterfaceSetter::setPort()
{
    qCDebug(lcInterface) << "4. Port ok";
    then(&InterfaceSetter::setRemotePort);
    const int port = m_portNumber;
    command([port](CInterfaceModule* m) { m->setPort(port); });
}

void InterfaceSetter::setRemotePort()
{
    qCDebug(lcInterface) << "5. Remote port ok";
    then(&InterfaceSetter::startClientServer);
    // One port serves both roles.
    const int port = m_portNumber;
    command([port](CInterfaceModule* m) { m->setRemotePort(port); });
}

void InterfaceSetter::startClientServer()
{
    qCDebug(lcInterface) << "5,5. startClientServer ok";
    then(&InterfaceSetter::setIPConfig);
    command([](CInterfaceModule* m) { m->startClientServer(); });
}

void InterfaceSetter::setIPConfig()
{
    qCDebug(lcInterface) << "6. Ip config ok";
    then(&InterfaceSetter::reboot);
    const bool dhcp = m_ip_mode != tr("Static");
    const QHostAddress ip = m_ipAddress;
    const QHostAddress gateway = m_gatewayAddress;
    const QHostAddress netmask = m_netmaskAddress;
    command([=](CInterfaceModule* m) { m->setIPLayer(dhcp, ip, gateway, netmask); });
}

void InterfaceSetter::reboot()
{
    qCDebug(lcInterface) << "7. Reboot ok";
    disconnect(m_step);
    disconnect(m_module, &CInterfaceModule::commandTimeout, this, &InterfaceSetter::onCommandTimeout);
    connect(m_module, &CInterfaceModule::commandTimeout, this, &InterfaceSetter::onRebootTimeout);
    // A Wi-Fi module has its settings at once; a Tibbo module takes them at its restart, which it
    // does without answering: its time-out goes on.
    if (m_module->moduleType() != CInterfaceModule::MODULE_TIBBO) {
        onRebootTimeout();
        return;
    }
    command([](CInterfaceModule* m) { m->reboot(); });
}

void InterfaceSetter::onRebootTimeout()
{
    disconnect(m_module, nullptr, this, nullptr);
    connect(m_module, &CInterfaceModule::infoReady, this, &InterfaceSetter::onInfoReadyAfterReboot);
    connect(m_module, &CInterfaceModule::commandTimeout, this, &InterfaceSetter::onCommandTimeoutAfterReboot);
    connect(m_module, &CInterfaceModule::commandFailed, this, &InterfaceSetter::onCommandFailedAfterReboot);
    m_attempts = 0;
    // A broadcast that selects the module by its MAC finds it wherever its new address is.
    command([](CInterfaceModule* m) {
        m->setModuleAddress(QHostAddress(QStringLiteral("0.0.0.0")));
        m->readInfo(1);
    });
}

void InterfaceSetter::onInfoReadyAfterReboot()
{
    finish(1);
}

void InterfaceSetter::onCommandTimeoutAfterReboot()
{
    if (m_attempts >= AttemptsAfterReboot - 1) {
        finish(0);
        return;
    }
    ++m_attempts;
    command([](CInterfaceModule* m) { m->readInfo(1); });
}

void InterfaceSetter::onCommandFailedAfterReboot()
{
    onCommandTimeoutAfterReboot();
}

void InterfaceSetter::onCommandFailed()
{
    finish(0);
}

void InterfaceSetter::onCommandTimeout()
{
    finish(0);
}
