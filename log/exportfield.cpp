#include "log/exportfield.h"

namespace ExportField {

QString quoted(const QString& text, const QString& fieldDelimiter, const QString& lineEnd)
{
    const bool needsQuotes = (!fieldDelimiter.isEmpty() && text.contains(fieldDelimiter)) ||
                             (!lineEnd.isEmpty() && text.contains(lineEnd)) ||
                             text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')) ||
                             text.contains(QLatin1Char('\r'));
    if (!needsQuotes) {
        return text;
    }
    QString out = text;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace ExportField
