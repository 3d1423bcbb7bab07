#ifndef SIMDATA_H
#define SIMDATA_H

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>

class QCommandLineParser;

// The instrument's data services on the S/M line protocol: users and products tables, clock, message,
// EEPROM image (dump and writes) and the compensation table. SimInstrument hands it every line it does not
// know itself.
//
// The EEPROM dump answers "SE?" with three lines (model, serial number, firmware), then "EEPROM: <size>",
// one "SEW<addr>:<hex>" line per 16 bytes and "ME?"; the first half of the dump goes out in the same burst as
// the answer (or a pause after it), the rest after a gap. A dump line sent back is a write, acknowledged with
// "MEW".
class SimData : public QObject
{
    Q_OBJECT

public:
    static constexpr int EepromSize = 512;
    static constexpr int BytesPerLine = 16;
    static constexpr int CompensationValues = 15;

    explicit SimData(QObject* parent = nullptr);

    // Adds the data options to mervik-sim's command line, and applies them; false with a message when
    // a value is wrong.
    static void addOptions(QCommandLineParser& parser);
    bool applyOptions(const QCommandLineParser& parser, QString* error);

    // The answer to a line without its CR LF; false when the line is not a data command.
    bool handle(const QByteArray& body, QByteArray* answer);
    // The command's name for the counters; empty when the line is not a data command.
    static QByteArray commandName(const QByteArray& body);

    // The three lines that answer the dump request, CR LF included.
    void setDumpHeader(const QByteArray& header) { m_dumpHeader = header; }
    QByteArray eeprom() const { return m_eeprom; }
    // Pause between the two halves of the dump.
    void setDumpGap(int ms) { m_dumpGapMs = ms; }
    // Pause between the answer to the request and the dump's first line; 0 sends them together.
    void setDumpPause(int ms) { m_dumpPauseMs = ms; }
    // The dump stops for good after this many data lines (no terminator); -1 sends it whole.
    void setDumpStall(int lines) { m_dumpStall = lines; }
    // The n-th EEPROM write (from 1) is refused with "ES" every time it comes; 0 refuses none.
    void setRefusedWrite(int n) { m_refusedWrite = n; }
    int eepromWrites() const { return m_eepromWrites; }

    // Tables opened by "SbU" or "SbP" are refused with "ES".
    void setRefuseTables(bool refuse) { m_refuseTables = refuse; }
    // The tables as the last closed transfers left them, each record as its fields.
    QList<QByteArrayList> users() const { return m_users; }
    QList<QByteArrayList> products() const { return m_products; }

    // The clock runs from the time set; the short form answers with two blanks and a one-digit hour.
    void setClock(const QDateTime& dt);
    QDateTime clock() const;
    void setShortHourClock(bool shortHour) { m_shortHour = shortHour; }

    QByteArray message() const { return m_message; }
    int messageSeconds() const { return m_messageSeconds; }

    // The 15 values in list order, as the instrument shows them.
    QByteArrayList compensation() const;
    // One group of the SW3 answer (0 to 2) loses its last field; -1 none.
    void setShortCompensationGroup(int group) { m_shortGroup = group; }

signals:
    // The part of the dump that follows its gap.
    void output(const QByteArray& bytes);

private:
    QByteArray dump();
    QByteArray writeEeprom(const QByteArray& body);
    QByteArray tableRecord(const QByteArray& fields);
    QByteArray setCompensationValue(const QByteArray& body);
    QByteArray compensationAnswer() const;

    QByteArray m_dumpHeader;
    QByteArray m_eeprom;
    int m_dumpGapMs = 200;
    int m_dumpPauseMs = 0;
    int m_dumpStall = -1;
    int m_refusedWrite = 0;
    int m_eepromWrites = 0;

    enum class Table
    {
        None,
        Users,
        Products,
    } m_table = Table::None;
    bool m_refuseTables = false;
    QList<QByteArrayList> m_pending;
    QList<QByteArrayList> m_users;
    QList<QByteArrayList> m_products;

    QDateTime m_clockBase;
    QElapsedTimer m_clockRunning;
    bool m_shortHour = false;

    QByteArray m_message;
    int m_messageSeconds = 0;

    // By parameter code ("009" to "023").
    QHash<QByteArray, double> m_compensation;
    int m_shortGroup = -1;
};

#endif // SIMDATA_H
