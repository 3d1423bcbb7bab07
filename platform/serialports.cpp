#include "platform/serialports.h"

#include <QSerialPortInfo>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

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

PortUser PortUser::current()
{
    PortUser user;
    user.uid = ::geteuid();
    const passwd* entry = ::getpwuid(user.uid);
    user.name = entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(user.uid);
    user.groups.append(::getegid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(size_t(count), 0);
        const int got = ::getgroups(count, groups.data());
        for (int i = 0; i < got; ++i) {
            user.groups.append(groups[size_t(i)]);
        }
    }
    return user;
}

QString permissionProblem(const QString& port, const PortUser& user)
{
    struct stat file;
    if (::stat(path(port).toLocal8Bit().constData(), &file) != 0 || user.uid == 0) {
        return QString();
    }
    const mode_t readWrite = file.st_uid == user.uid             ? (S_IRUSR | S_IWUSR)
                             : user.groups.contains(file.st_gid) ? (S_IRGRP | S_IWGRP)
                                                                 : (S_IROTH | S_IWOTH);
    if ((file.st_mode & readWrite) == readWrite) {
        return QString();
    }
    // Joining the owning group helps only when the group itself may read and write.
    const bool groupMay = (file.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (user.groups.contains(file.st_gid) || !groupMay) {
        return QStringLiteral("No permission to open %1: it needs read and write rights for %2, which only "
                              "the administrator can give.")
            .arg(path(port), user.name);
    }
    const group* owner = ::getgrgid(file.st_gid);
    const QString group = owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(file.st_gid);
    return QStringLiteral("No permission to open %1: the port belongs to the group %2, which %3 is not in. "
                          "Join it with \"sudo usermod -a -G %2 %3\", then log out and in again.")
        .arg(path(port), group, user.name);
}

} // namespace SerialPorts
