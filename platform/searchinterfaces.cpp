#include "platform/searchinterfaces.h"

#include "platform/logcategories.h"

#include <QUdpSocket>

namespace SearchInterfaces {

QList<QNetworkInterface> interfaces()
{
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    if (!qEnvironmentVariableIsSet("MERVIK_SEARCH_INTERFACES")) {
        return all;
    }
    const QStringList names =
        qEnvironmentVariable("MERVIK_SEARCH_INTERFACES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    QList<QNetworkInterface> chosen;
    for (const QNetworkInterface& interface : all) {
        for (const QString& name : names) {
            if (interface.name() == name.trimmed()) {
                chosen.append(interface);
                break;
            }
        }
    }
    return chosen;
}

bool isSearched(const QNetworkInterface& interface)
{
    const QNetworkInterface::InterfaceFlags flags = interface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning) &&
           !flags.testFlag(QNetworkInterface::IsLoopBack);
}

bool localAddressFor(const QHostAddress& peer, QHostAddress* address, QHostAddress* netmask)
{
    // Connecting a datagram socket sends nothing: the kernel only picks the route and its source.
    QUdpSocket socket;
    socket.connectToHost(peer, 9);
    if (socket.state() != QAbstractSocket::ConnectedState) {
        qCDebug(lcPlatform) << "no route to" << peer << socket.errorString();
        return false;
    }
    bool isV4 = false;
    const QHostAddress local(socket.localAddress().toIPv4Address(&isV4));
    socket.abort();
    if (!isV4) {
        return false;
    }
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : all) {
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip() == local) {
                if (address) {
                    *address = local;
                }
                if (netmask) {
                    *netmask = entry.netmask();
                }
                return true;
            }
        }
    }
    return false;
}

} // namespace SearchInterfaces
