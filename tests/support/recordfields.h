#pragma once

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
