#include "device/cdatabase.h"

#include <QSet>

#include <cmath>

bool CDatabase::breaksLine(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

QString CDatabase::fault(int* record) const
{
    QSet<qint32> numbers;
    for (int i = 0; i < count(); ++i) {
        if (record) {
            *record = i;
        }
        // Checked in file order, so that the first line at fault is the one named.
        if (i == capacity()) {
            return QStringLiteral("more than %1 records, which is what the instrument's table holds")
                .arg(capacity());
        }
        QString line = recordLine(i);
        line.chop(2);
        if (breaksLine(line)) {
            return QStringLiteral("a line break inside a field");
        }
        if (line.count(QLatin1Char(';')) != m_fieldsPerRecord - 1) {
            return QStringLiteral("\";\" inside a field");
        }
        const QString fields = fieldFault(i);
        if (!fields.isEmpty()) {
            return fields;
        }
        if (numbers.contains(recordNumber(i))) {
            return QStringLiteral("number %1 is already taken by an earlier record").arg(recordNumber(i));
        }
        numbers.insert(recordNumber(i));
    }
    return QString();
}

QString CDatabase::unsafeText() const
{
    int record = 0;
    const QString why = fault(&record);
    return why.isEmpty() ? why : QStringLiteral("record %1: %2").arg(record + 1).arg(why);
}

QString CDatabase::textFault(const char* name, const QString& text)
{
    // Characters as the instrument counts them: a character outside the BMP is one, not two.
    if (text.size() > MaxTextLength && text.toUcs4().size() > MaxTextLength) {
        return QStringLiteral("%1 is longer than %2 characters").arg(QLatin1String(name)).arg(MaxTextLength);
    }
    return QString();
}

QString CDatabase::numberFault(qint32 number)
{
    return number < 0 ? QStringLiteral("number %1 is below 0").arg(number) : QString();
}

QString CDatabase::valueFault(const char* name, double value)
{
    // The value travels rounded to three decimals; it is that rounded value the field must hold.
    if (!std::isfinite(value) || std::abs(std::round(value * 1000.0) / 1000.0) > MaxValue) {
        return QStringLiteral("%1 is out of range (-%2 to %2)")
            .arg(QLatin1String(name), QString::number(MaxValue, 'f', 3));
    }
    return QString();
}
