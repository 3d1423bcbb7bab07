#ifndef SIMTHREELETTERBUS_H
#define SIMTHREELETTERBUS_H

#include <QByteArray>
#include <QList>
#include <QObject>

class QCommandLineParser;
class SimThreeLetter;

// One line with instruments of the three-letter dialect on it. Every line from the host ("U", an address,
// a mnemonic, CR LF) reaches all of them and is answered by the one at that address only. With echo the
// line returns every line as received, empty ones included, before any answer, as a half-duplex line
// that hears itself does. While an instrument's loader runs, the bytes on the line are its blocks.
//
// Like SimInstrument: respond(bytes) answers at once (tests), feed(bytes) answers through output()
// (transports).
class SimThreeLetterBus : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxLineLength = 4096;

    explicit SimThreeLetterBus(QObject* parent = nullptr);

    static void addOptions(QCommandLineParser& parser);
    // Instruments and settings from the options, the weighing ones shared with the line protocol.
    bool configure(const QCommandLineParser& parser, QString* error);

    SimThreeLetter* addInstrument(int address);
    // The instrument answering at an address now, or null.
    SimThreeLetter* instrument(int address) const;
    QList<SimThreeLetter*> instruments() const { return m_instruments; }

    void setEcho(bool echo) { m_echo = echo; }
    bool echo() const { return m_echo; }
    // Each instrument returns the command lines addressed to it before its answer; an empty line, or one
    // for an address nobody has, comes back from nobody.
    void setCommandEcho(bool echo) { m_commandEcho = echo; }
    void setVerbose(bool verbose) { m_verbose = verbose; }

    QByteArray respond(const QByteArray& bytes);

public slots:
    void feed(const QByteArray& bytes);
    void resetInput() { m_input.clear(); }

signals:
    void output(const QByteArray& bytes);

private:
    // The instrument a line is addressed to, and the command for it (the line without "U", the address
    // and CR LF); null when nobody has the address.
    SimThreeLetter* addressee(const QByteArray& line, QByteArray* command) const;
    SimThreeLetter* loading() const;
    void log(const char* direction, const QByteArray& bytes) const;

    QList<SimThreeLetter*> m_instruments;
    QByteArray m_input;
    bool m_echo = false;
    bool m_commandEcho = false;
    bool m_verbose = false;
};

#endif // SIMTHREELETTERBUS_H
