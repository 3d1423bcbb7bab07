#pragma once

#include <QString>

// A table of records sent to an instrument: the line that opens the transfer, the answer that lets it
// begin, and one protocol line per record.
class CDatabase
{
public:
    // What one record of the instrument's tables holds: texts of up to MaxTextLength characters,
    // numbers from 0 up, values of up to seven whole digits with three decimals.
    static constexpr int MaxTextLength = 32;
    static constexpr double MaxValue = 9999999.999;

    virtual int count() const = 0;
    // The record's line, CR LF included.
    virtual QString recordLine(int index) const = 0;
    virtual QString startCommand() const = 0;
    virtual QString startAcknowledge() const = 0;
    // The number the instrument files the record under; two records with one number overwrite each other.
    virtual qint32 recordNumber(int index) const = 0;
    // How many records the instrument's table holds.
    virtual int capacity() const = 0;
    virtual ~CDatabase() = default;

    // Why the table cannot be loaded as it is, with the index of the first record at fault in *record
    // (the first one beyond the capacity when there are too many); empty when every record can travel.
    QString fault(int* record = nullptr) const;
    // The same reason naming the record, for the device's report.
    QString unsafeText() const;
    // Whether text would end a protocol line early: a CR or LF inside it. Every text sent is checked.
    static bool breaksLine(const QString& text);

protected:
    explicit CDatabase(int fieldsPerRecord) : m_fieldsPerRecord(fieldsPerRecord) {}
    CDatabase(const CDatabase&) = default;
    CDatabase& operator=(const CDatabase&) = default;

    // Why one of the record's own fields does not fit the instrument's record; empty when all fit.
    virtual QString fieldFault(int index) const = 0;
    static QString textFault(const char* name, const QString& text);
    static QString numberFault(qint32 number);
    static QString valueFault(const char* name, double value);

private:
    int m_fieldsPerRecord;
};
