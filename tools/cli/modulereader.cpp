#include "modulereader.h"

#include "instrumentsession.h"
#include "interface/cesp.h"
#include "interface/ctibbo.h"
#include "platform/ipv4.h"

#include <QEventLoop>
#include <QNetworkInterface>
#include <QTimer>

#include <memory>

bool ModuleReader::localEndpoint(const QHostAddress& address, const QString& given, QHostAddress* local,
                                 quint32* netmask, QString* error)
{
    const QHostAddress wanted(given);
    if (!given.isEmpty() && wanted.protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("--local expects an IPv4 address");
        return false;
    }
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        if (!(interface.flags() & QNetworkInterface::IsUp)) {
            continue;
        }
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol) {
                continue;
            }
            const quint32 mask = ipv4(entry.netmask());
            const bool chosen =
                given.isEmpty() ? (ipv4(entry.ip()) & mask) == (ipv4(address) & mask) : entry.ip() == wanted;
            if (chosen) {
                *local = entry.ip();
                *netmask = mask;
                return true;
            }
        }
    }
    *error =
        given.isEmpty()
            ? QStringLiteral("%1 is in none of this computer's subnets; name the local address with --local")
                  .arg(address.toString())
            : QStringLiteral("%1 is not an address of this computer").arg(given);
    return false;
}

int ModuleReader::await(CInterfaceModule* module)
{
    QEventLoop loop;
    int result = 3;
    QObject::connect(module, &CInterfaceModule::infoReady, &loop, [&] {
        result = 1;
        loop.quit();
    });
    QObject::connect(module, &CInterfaceModule::commandOk, &loop, [&] {
        result = 1;
        loop.quit();
    });
    QObject::connect(module, &CInterfaceModule::commandFailed, &loop, [&] {
        result = 2;
        loop.quit();
    });
    QObject::connect(module, &CInterfaceModule::commandTimeout, &loop, [&] {
        result = 3;
        loop.quit();
    });
    // The module's own time-outs end every command; this only bounds the wait should one not.
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

int ModuleReader::read(Dialect dialect, const QHostAddress& address, const QHostAddress& local,
                       quint32 netmask, QString* error)
{
    std::unique_ptr<CInterfaceModule> module;
    if (dialect == Tibbo) {
        module = std::make_unique<CTibbo>(local, netmask, QByteArray(), address);
    } else {
        module = std::make_unique<CESP>(local, netmask, QByteArray(), address);
    }

    // Outside the subnet the status is a broadcast, and any module may answer it first.
    int result = 3;
    for (int attempt = 0; attempt < StatusAttempts; ++attempt) {
        module->setModuleAddress(address);
        module->readStatus();
        result = await(module.get());
        if (result != 1 || module->moduleAddress() == address) {
            break;
        }
        result = 3;
    }
    if (result != 1) {
        *error = result == 2
                     ? QStringLiteral("the module at %1 refused the status request").arg(address.toString())
                     : QStringLiteral("no module answered at %1").arg(address.toString());
        return result == 2 ? InstrumentSession::ExitBadAnswer : InstrumentSession::ExitNoAnswer;
    }
    module->readInfo(1);
    result = await(module.get());
    if (result != 1) {
        *error = result == 2
                     ? QStringLiteral("the module at %1 refused to give its settings").arg(address.toString())
                     : QStringLiteral("the module at %1 did not give its settings").arg(address.toString());
        return result == 2 ? InstrumentSession::ExitBadAnswer : InstrumentSession::ExitNoAnswer;
    }
    const auto yesNo = [](bool value) { return value ? QStringLiteral("yes") : QStringLiteral("no"); };
    m_lines = QStringList{
        QStringLiteral("mac: ") + QString::fromLatin1(module->mac()),
        QStringLiteral("dhcp: ") + (module->dhcp() ? QStringLiteral("on") : QStringLiteral("off")),
        QStringLiteral("ip obtained: ") + yesNo(module->ipObtained()),
        QStringLiteral("ip: ") + module->ip().toString(),
        QStringLiteral("gateway: ") + module->gateway().toString(),
        QStringLiteral("netmask: ") + module->netmask().toString(),
        QStringLiteral("routing mode: ") + module->routingModeText(),
        QStringLiteral("remote ip: ") + module->remoteIp().toString(),
        QStringLiteral("port: ") + QString::number(module->port()),
        QStringLiteral("remote port: ") + QString::number(module->remotePort()),
        QStringLiteral("protocol: ") + module->protocolText(),
        QStringLiteral("baud rate: ") + module->baudrateText(),
    };
    return InstrumentSession::ExitOk;
}
