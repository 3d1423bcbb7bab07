#pragma once

#include <QList>
#include <QString>

// One serial port the program may search or connect to. On Linux the name is the port's path
// (/dev/ttyUSB0), which is also what the transport opens.
struct SerialPortEntry
{
    QString name;
    QString description;
    QString manufacturer;
};

namespace SerialPorts {

// The operating system's ports followed by the paths in MERVIK_EXTRA_SERIAL_PORTS (colon-separated).
// MERVIK_SERIAL_PORTS, when set, replaces the list altogether: tests and fixed installations name
// exactly the ports to use, and no other port is ever opened.
QList<SerialPortEntry> available();

// The kind a search filters ports by: "Bluetooth" (by description, or an rfcomm device), "FTDI" or
// "Tibbo" (by manufacturer), otherwise the manufacturer itself, "Built-in" for a port of the
// computer without one, and "Serial port" for any other port without a manufacturer.
QString kind(const SerialPortEntry& port);

// The entry named name (a path, or a bare name taken as /dev/NAME), if the list holds it.
bool find(const QString& name, SerialPortEntry* entry = nullptr);

// Who may open a port's file and how to tell a user who may not.
struct PortUser
{
    unsigned uid = 0;
    QList<unsigned> groups;
    QString name;

    // The user this program runs as, with every group it is in.
    static PortUser current();
};

// What to tell user when its permissions keep it from reading and writing the port's file: the group
// that owns it and the command that joins it. Empty when the user may open it, or the file is missing.
QString permissionProblem(const QString& port, const PortUser& user = PortUser::current());

} // namespace SerialPorts
