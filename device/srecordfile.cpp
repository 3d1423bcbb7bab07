#include "device/srecordfile.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Address bytes of each record type; -1 for the reserved S4.
constexpr int AddressBytes[10] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};

} // namespace

QString SRecordFile::checkRecord(const QByteArray& record)
{
    if (record.size() < 4 || record.at(0) != 'S' || record.at(1) < '0' || record.at(1) > '9') {
        return QStringLiteral("not an S-record");
    }
    const int addressBytes = AddressBytes[record.at(1) - '0'];
    if (addressBytes < 0) {
        return QStringLiteral("reserved record type S4");
    }
    if (record.size() % 2 != 0) {
        return QStringLiteral("odd number of hexadecimal digits");
    }
    QByteArray bytes;
    for (int i = 2; i < record.size(); i += 2) {
        const int high = hexValue(record.at(i));
        const int low = hexValue(record.at(i + 1));
        if (high < 0 || low < 0) {
            return QStringLiteral("not a hexadecimal digit at column %1").arg(high < 0 ? i + 1 : i + 2);
        }
        bytes += char(high * 16 + low);
    }
    const int count = quint8(bytes.at(0));
    if (count != bytes.size() - 1) {
        return QStringLiteral("byte count %1 where the record holds %2").arg(count).arg(bytes.size() - 1);
    }
    if (count < addressBytes + 1) {
        return QStringLiteral("record too short for its address");
    }
    unsigned sum = 0;
    for (int i = 0; i < bytes.size() - 1; ++i) {
        sum += quint8(bytes.at(i));
    }
    if (quint8(~sum) != quint8(bytes.back())) {
        const auto hex = [](unsigned value) {
            return QString::number(value, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        };
        return QStringLiteral("checksum %1 where %2 is due")
            .arg(hex(quint8(bytes.back())), hex(quint8(~sum)));
    }
    return QString();
}

bool SRecordFile::fail(int line, const QString& error)
{
    m_lines.clear();
    m_errorLine = line;
    m_error = error;
    return false;
}

bool SRecordFile::parse(const QByteArray& content)
{
    m_lines.clear();
    m_error.clear();
    m_errorLine = 0;
    QByteArray terminator;
    int blankFrom = 0;
    int endLine = 0;
    int lastLine = 0;
    int start = 0;
    int number = 0;
    while (start < content.size()) {
        ++number;
        const int lf = content.indexOf('\n', start);
        QByteArray line = content.mid(start, lf < 0 ? -1 : lf + 1 - start);
        start += line.size();
        QByteArray record = line;
        while (record.endsWith('\n') || record.endsWith('\r')) {
            record.chop(1);
        }
        if (terminator.isEmpty() && record.size() < line.size()) {
            terminator = line.mid(record.size());
        }
        for (int i = 0; i < record.size(); ++i) {
            const char c = record.at(i);
            if (c < 0x20 || c > 0x7e) {
                return fail(number, QStringLiteral("not text at column %1").arg(i + 1));
            }
        }
        if (record.isEmpty()) {
            blankFrom = blankFrom ? blankFrom : number;
            continue;
        }
        if (blankFrom) {
            return fail(blankFrom, QStringLiteral("empty line between records"));
        }
        const QString error = checkRecord(record);
        if (!error.isEmpty()) {
            return fail(number, error);
        }
        // The bootloader finishes at the end record: whatever follows it would never be written.
        if (endLine) {
            return fail(number, QStringLiteral("a record after the end record of line %1").arg(endLine));
        }
        if (record.at(1) >= '7') {
            endLine = number;
        }
        if (record.size() == line.size()) {
            // The bootloader acts on whole lines: a last line without its end would never be answered.
            line += terminator.isEmpty() ? QByteArray("\r\n") : terminator;
        }
        m_lines << line;
        lastLine = number;
    }
    if (m_lines.isEmpty()) {
        return fail(1, QStringLiteral("no records"));
    }
    if (!endLine) {
        // Without it the bootloader waits for more after the last line and the instrument stays there.
        return fail(lastLine, QStringLiteral("no end record (S7, S8 or S9) after the last record"));
    }
    return true;
}
