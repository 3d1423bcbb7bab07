#pragma once

#include "interface/ctibbo.h"

#include <QMap>
#include <QString>
#include <QStringList>

// A record written as "name=value" fields joined by blanks, with some of them replaced:
// withFields("ip=1.1.1.1 port=7", "port=8") gives "ip=1.1.1.1 port=8".
inline QString withFields(const QString& record, const QString& changes)
{
    QStringList fields = record.split(QLatin1Char(' '));
    for (const QString& change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString name = change.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        for (QString& field : fields) {
            if (field.startsWith(name)) {
                field = change;
            }
        }
    }
    return fields.join(QLatin1Char(' '));
}

// A Tibbo module that differs from a reachable static server at 192.168.1.50/24 by changes
// ("dhcp=1 routing=2"), seen from the computer "address/prefix"; nothing is sent from it.
inline CTibbo* moduleWith(const QString& changes = QString(), const QString& computer = "192.168.1.20/24")
{
    QMap<QString, QString> s;
    const QString settings =
        withFields("dhcp=0 obtained=1 address=192.168.1.50 routing=1 remote=192.168.1.20 "
                   "netmask=255.255.255.0 protocol=1",
                   changes);
    for (const QString& field : settings.split(QLatin1Char(' '))) {
        s.insert(field.section(QLatin1Char('='), 0, 0), field.section(QLatin1Char('='), 1));
    }
    const int prefix = computer.section(QLatin1Char('/'), 1).toInt();
    auto* module = new CTibbo(QHostAddress(computer.section(QLatin1Char('/'), 0, 0)),
                              prefix == 0 ? 0 : ~quint32(0) << (32 - prefix), "0.26.43.60.77.94",
                              QHostAddress(s["address"]));
    module->setPlannedSettings(s["dhcp"] == "1", s["routing"].toInt(), QHostAddress(s["remote"]),
                               QHostAddress(s["netmask"]), s["protocol"].toInt());
    module->setDhcpState(s["dhcp"] == "1", s["obtained"] == "1");
    return module;
}
