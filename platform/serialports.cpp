#include "platform/serialports.h"

#include <QSerialPortInfo>

namespace SerialPorts {
namespace {

QList<SerialPortEntry> namedPorts(const char* variable)
{
    QList<SerialPortEntry> ports;
    const QStringList names = qEnvironmentVariable(variable).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        ports.append({name.trimmed(), QString(), QString()});
    }
    return ports;
}

// Qt names a port without a slash after its device file in /dev.
QString path(const QString& name)
{
    return name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

const SerialPortEntry* lookUp(const QList<SerialPortEntry>& ports, const QString& name)
{
    for (const SerialPortEntry& port : ports) {
        if (path(port.name) == path(name)) {
            return &port;
        }
    }
    return nullptr;
}

} // namespace

QList<SerialPortEntry> available()
{
    if (qEnvironmentVariableIsSet("MERVIK_SERIAL_PORTS")) {
        return namedPorts("MERVIK_SERIAL_PORTS");
    }
    QList<SerialPortEntry> ports;
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : system) {
        ports.append({info.systemLocation(), info.description(), info.manufacturer()});
    }
    for (const SerialPortEntry& extra : namedPorts("MERVIK_EXTRA_SERIAL_PORTS")) {
        if (!lookUp(ports, extra.name)) {
            ports.append(extra);
        }
    }
    return ports;
}

QString kind(const SerialPortEntry& port)
{
    if (port.description.contains(QLatin1String("Bluetooth")) ||
        path(port.name).startsWith(QLatin1String("/dev/rfcomm"))) {
        return QStringLiteral("Bluetooth");
    }
    if (port.manufacturer.contains(QLatin1String("FTDI"))) {
        return QStringLiteral("FTDI");
    }
    if (port.manufacturer.contains(QLatin1String("Tibbo"))) {
        return QStringLiteral("Tibbo");
    }
    if (!port.manufacturer.isEmpty()) {
        return port.manufacturer;
    }
    if (path(port.name).startsWith(QLatin1String("/dev/ttyS"))) {
        return QStringLiteral("Built-in");
    }
    return QStringLiteral("Serial port");
}

bool find(const QString& name, SerialPortEntry* entry)
{
    const QList<SerialPortEntry> ports = available();
    const SerialPortEntry* port = lookUp(ports, name);
    if (port && entry) {
        *entry = *port;
    }
    return port != nullptr;
}

} // namespace SerialPorts
