#pragma once

#include <QByteArray>

#include <numeric>

// A record of the test's own making: type, 16-bit address, data, and the checksum that makes the
// bytes add up to FF.
inline QByteArray sRecord(char type, int address, const QByteArray& data)
{
    QByteArray bytes = QByteArray(1, char(data.size() + 3)) + char(address >> 8) + char(address) + data;
    bytes +=
        char(~std::accumulate(bytes.cbegin(), bytes.cend(), 0, [](int s, char b) { return s + quint8(b); }));
    return 'S' + QByteArray(1, type) + bytes.toHex().toUpper();
}

// An image of `lines` lines: a header, data records and the closing S9, each ended by CR LF.
inline QByteArray sRecordImage(int lines)
{
    QByteArray image = sRecord('0', 0, "mervik") + "\r\n";
    for (int i = 1; i < lines - 1; ++i) {
        image += sRecord('1', i * 16, QByteArray(16, char(i))) + "\r\n";
    }
    return image + sRecord('9', 0, QByteArray()) + "\r\n";
}
