#include "device/cdatabase.h"

bool CDatabase::breaksLine(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

QString CDatabase::unsafeText() const
{
    for (int i = 0; i < count(); ++i) {
        QString line = recordLine(i);
        line.chop(2);
        if (breaksLine(line)) {
            return QStringLiteral("record %1: a line break inside a field").arg(i + 1);
        }
        if (line.count(QLatin1Char(';')) != m_fieldsPerRecord - 1) {
            return QStringLiteral("record %1: \";\" inside a field").arg(i + 1);
        }
    }
    return QString();
}
