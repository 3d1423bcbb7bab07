#pragma once

#include <QString>

// A table of records sent to an instrument: the line that opens the transfer, the answer that lets it
// begin, and one protocol line per record.
class CDatabase
{
public:
    virtual int count() const = 0;
    // The record's line, CR LF included.
    virtual QString recordLine(int index) const = 0;
    virtual QString startCommand() const = 0;
    virtual QString startAcknowledge() const = 0;
    virtual ~CDatabase() = default;

    // Why the table cannot travel on the line protocol (a ";" or a line break inside a field would
    // shift the instrument's fields or end the line early); empty when every record can.
    QString unsafeText() const;
    // Whether text would end a protocol line early: a CR or LF inside it. Every text sent is checked.
    static bool breaksLine(const QString& text);

protected:
    explicit CDatabase(int fieldsPerRecord) : m_fieldsPerRecord(fieldsPerRecord) {}
    CDatabase(const CDatabase&) = default;
    CDatabase& operator=(const CDatabase&) = default;

private:
    int m_fieldsPerRecord;
};
