#ifndef SIMMODULESETTINGS_H
#define SIMMODULESETTINGS_H

#include <QByteArray>
#include <QHostAddress>

// What a simulated network module holds: its identity, its IP layer, the TCP role of the instrument
// behind it and the serial link to the instrument. Both dialects keep the same record and show it in
// their own formats.
struct SimModuleSettings
{
    // Six bytes.
    QByteArray mac = QByteArray::fromHex("02004d560001");
    // Where the module really is; its replies leave from this address. Null lets the system choose.
    QHostAddress ownAddress;

    bool dhcp = false;
    // Whether a DHCP server would lease an address; without one a DHCP module has none.
    bool dhcpServer = true;
    bool ipObtained = true;
    QHostAddress ip;
    QHostAddress gateway;
    QHostAddress netmask{QStringLiteral("255.255.255.0")};

    // The module either listens on port (server) or connects to remoteIp:remotePort (client).
    bool client = false;
    QHostAddress remoteIp;
    quint16 port = 4001;
    quint16 remotePort = 4001;
    bool udp = false;
    int baudRate = 115200;
};

#endif // SIMMODULESETTINGS_H
