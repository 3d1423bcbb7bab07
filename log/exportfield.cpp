#include "log/exportfield.h"

#include <QRegularExpression>

namespace ExportField {

namespace {

// A weight or count as a spreadsheet reads it: "-5.0", "+3", "-0,25", "-1E+05".
bool isNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(?:[0-9]+(?:[.,][0-9]*)?|[.,][0-9]+)(?:[eE][+-]?[0-9]+)?$"));
    return number.match(text).hasMatch();
}

bool looksLikeFormula(const QString& text)
{
    if (text.isEmpty()) {
        return false;
    }
    const QChar first = text.at(0);
    return (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-') ||
            first == QLatin1Char('@')) &&
           !isNumber(text);
}

} // namespace

QString quoted(const QString& text, const QString& fieldDelimiter, const QString& lineEnd)
{
    const bool formula = !fieldDelimiter.isEmpty() && looksLikeFormula(text);
    const bool needsQuotes = formula || (!fieldDelimiter.isEmpty() && text.contains(fieldDelimiter)) ||
                             (!lineEnd.isEmpty() && text.contains(lineEnd)) ||
                             text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')) ||
                             text.contains(QLatin1Char('\r'));
    if (!needsQuotes) {
        return text;
    }
    QString out = text;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    if (formula) {
        out.prepend(QLatin1Char('\''));
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace ExportField
