#include "device/cdatabase.h"

QString CDatabase::unsafeText() const
{
    for (int i = 0; i < count(); ++i) {
        QString line = recordLine(i);
        line.chop(2);
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
            return QStringLiteral("record %1: a line break inside a field").arg(i + 1);
        }
        if (line.count(QLatin1Char(';')) != m_fieldsPerRecord - 1) {
            return QStringLiteral("record %1: \";\" inside a field").arg(i + 1);
        }
    }
    return QString();
}
