#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// A Motorola S-record firmware image, checked completely before anything is sent: an instrument
// that has been switched to its bootloader must never be left there by a damaged file.
class SRecordFile
{
public:
    // Checks content: printable ASCII only, every line a well-formed record with a correct
    // checksum, the last record an end record (S7, S8 or S9), blank lines only at the end. Fills lines (each
    // with its own terminator; a last line without one gets the file's) or error and errorLine (1-based).
    bool parse(const QByteArray& content);

    const QByteArrayList& lines() const { return m_lines; }
    QString error() const { return m_error; }
    int errorLine() const { return m_errorLine; }

    // Checks one record without its line terminator; returns an empty text when it is good.
    static QString checkRecord(const QByteArray& record);

private:
    bool fail(int line, const QString& error);

    QByteArrayList m_lines;
    QString m_error;
    int m_errorLine = 0;
};
