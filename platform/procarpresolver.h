#pragma once

#include "platform/addressresolver.h"

// Reads the kernel's neighbour table of the calling thread's network namespace. A read of that
// table costs microseconds, so no tool has to be started and waited for.
class ProcArpResolver : public AddressResolver
{
public:
    explicit ProcArpResolver(QString tablePath = QStringLiteral("/proc/net/arp"));

    QByteArray macForIp(const QString& ip) override;

    // The MAC of ip in a table of the /proc/net/arp layout; incomplete entries do not count.
    static QByteArray macFromTable(const QByteArray& table, const QString& ip);

private:
    QString m_tablePath;
};
