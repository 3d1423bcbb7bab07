#include "device/eepromimage.h"

#include <QRegularExpression>

bool EepromImage::fail(int line, const QString& error)
{
    m_lines.clear();
    m_errorLine = line;
    m_error = error;
    return false;
}

bool EepromImage::parse(const QByteArray& content)
{
    // The form of the dump's lines, which the instrument takes back as they are.
    static const QRegularExpression dumpLine(QStringLiteral("^SEW[0-9A-Fa-f]{4}:(?:[0-9A-Fa-f]{2}){1,16}$"));
    m_lines.clear();
    m_error.clear();
    m_errorLine = 0;
    QByteArrayList lines = content.split('\n');
    if (lines.constLast().isEmpty()) {
        lines.removeLast();
    }
    int blankFrom = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty()) {
            blankFrom = blankFrom ? blankFrom : i + 1;
            continue;
        }
        if (blankFrom) {
            return fail(blankFrom, QStringLiteral("an empty line between the lines of the image"));
        }
        // Latin-1 keeps every byte one character, so that nothing but the expected ASCII matches.
        const QString text = QString::fromLatin1(line);
        if (!dumpLine.match(text).hasMatch()) {
            return fail(i + 1, QStringLiteral("not a line of an EEPROM dump (\"SEW\", the address in four "
                                              "hexadecimal digits, \":\", 1 to 16 bytes in hexadecimal)"));
        }
        m_lines << text;
    }
    if (m_lines.isEmpty()) {
        return fail(1, QStringLiteral("no EEPROM lines"));
    }
    return true;
}
