#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// An EEPROM image as the instrument dumps it, one write command per line, checked completely before
// anything is sent: any other line would reach the instrument as a command (a tare, its bootloader).
class EepromImage
{
public:
    // Checks content: every line "SEW", four hexadecimal digits of address, ":" and 1 to 16 bytes in
    // hexadecimal; lines end in LF or CR LF; blank lines only at the end. Fills lines (without their
    // terminators) or error and errorLine (1-based).
    bool parse(const QByteArray& content);

    const QStringList& lines() const { return m_lines; }
    QString error() const { return m_error; }
    int errorLine() const { return m_errorLine; }

private:
    bool fail(int line, const QString& error);

    QStringList m_lines;
    QString m_error;
    int m_errorLine = 0;
};
