#include "platform/procarpresolver.h"

#include "platform/logcategories.h"

#include <QFile>
#include <QList>

ProcArpResolver::ProcArpResolver(QString tablePath) : m_tablePath(std::move(tablePath)) {}

QByteArray ProcArpResolver::macForIp(const QString& ip)
{
    QFile table(m_tablePath);
    if (!table.open(QIODevice::ReadOnly)) {
        qCWarning(lcPlatform) << "cannot read" << m_tablePath << table.errorString();
        return QByteArray();
    }
    return macFromTable(table.readAll(), ip);
}

QByteArray ProcArpResolver::macFromTable(const QByteArray& table, const QString& ip)
{
    const QByteArray wanted = ip.toLatin1();
    const QList<QByteArray> lines = table.split('\n');
    // Columns: IP address, HW type, Flags, HW address, Mask, Device; the first line is the header.
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> columns = lines.at(i).simplified().split(' ');
        if (columns.size() < 4 || columns.at(0) != wanted) {
            continue;
        }
        bool ok = false;
        const int flags = columns.at(2).toInt(&ok, 16);
        // Without the "complete" flag the entry is a pending resolution with a zero address.
        if (!ok || (flags & 0x2) == 0) {
            continue;
        }
        const QByteArray mac = normalizedMac(columns.at(3));
        if (!mac.isEmpty() && mac != "00-00-00-00-00-00") {
            return mac;
        }
    }
    return QByteArray();
}
