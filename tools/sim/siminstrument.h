#ifndef SIMINSTRUMENT_H
#define SIMINSTRUMENT_H

#include "simalibi.h"
#include "simbootloader.h"
#include "simpan.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QRandomGenerator>

class QTimer;
class SimData;

// The instrument side of the S/M line protocol, kept apart from the transports so that tests can drive it
// in-process. It has its own formatter and parser on purpose: it checks the application, it must not share
// its mistakes.
//
// Two ways in:
// - respond(bytes): frames the bytes into lines, acts on every complete line and returns the answers at once
//   (drop, garble and silence applied; the answer delay is not). Tests use this.
// - feed(bytes): the same, but the answers leave through the output() signal, after the answer delay when one
//   is set. Transports use this. Streamed results and a held SI answer also leave through output().
class SimInstrument : public QObject
{
    Q_OBJECT

public:
    enum class Generation
    {
        Current, // every command; unknown lines get "ES"
        Old,     // no SJ, SW9 or Sx3; unknown lines get no answer at all
    };

    struct Identity
    {
        QByteArray model = "PS 750.X2";
        QByteArray serialNumber = "123456";
        QByteArray productionDate = "2021-03-04";
        QByteArray firmware = "1.04.7";
    };

    // A line without line feed longer than this is thrown away up to its next line feed.
    static constexpr int MaxLineLength = 4096;

    explicit SimInstrument(QObject* parent = nullptr);

    // The 16-character result line (17 with a mark 'S' or 'U'; pass 0 for none), CR LF included.
    // A value that does not fit the 9-character field gives the overload field "OL".
    static QByteArray formatResult(double value, int decimals, const QByteArray& unit, char mark = 0);

    void setGeneration(Generation generation) { m_generation = generation; }
    Generation generation() const { return m_generation; }

    // The load on the pan; what is shown is gross minus zero offset minus tare.
    void setWeight(double gross) { m_pan.gross = gross; }
    double grossWeight() const { return m_pan.gross; }
    double displayedWeight() const { return m_pan.displayed(); }
    double tare() const { return m_pan.tare; }
    double zeroOffset() const { return m_pan.zeroOffset; }

    void setUnit(const QByteArray& unit) { m_unit = unit.left(3); }
    QByteArray unit() const { return m_unit; }
    void setDecimals(int decimals) { m_decimals = qBound(0, decimals, 7); }
    int decimals() const { return m_decimals; }

    // While unstable, results carry 'U' and SI is held until the weight settles (setStable(true)), which then
    // sends one result.
    void setStable(bool stable);
    bool isStable() const { return m_stable; }

    void setIdentity(const Identity& identity);
    Identity identity() const { return m_identity; }

    // Faults, for exercising the application's retries and time-outs.
    void setAnswerDelay(int ms) { m_delayMs = qMax(0, ms); }
    int answerDelay() const { return m_delayMs; }
    void setDropProbability(double p) { m_dropProbability = qBound(0.0, p, 1.0); }
    void setGarbleProbability(double p) { m_garbleProbability = qBound(0.0, p, 1.0); }
    void setSeed(quint32 seed);
    // After this many received lines the instrument goes quiet altogether, streaming included; -1 never.
    void setSilentAfter(int lines) { m_silentAfter = lines; }
    bool isSilent() const { return m_silentAfter >= 0 && m_linesReceived >= m_silentAfter; }

    // Uniform noise of +-amplitude added to every result; 0 (the default) keeps results deterministic.
    void setNoise(double amplitude) { m_noise = qMax(0.0, amplitude); }

    // Sends a result without mark every intervalMs, as in continuous mode; 0 stops.
    void setStreaming(int intervalMs);
    // Streamed results carry their place in the stream as their value, so that a reader can tell a
    // result lost, repeated or reordered.
    void setStreamNumbered(bool numbered) { m_streamNumbered = numbered; }

    // Traffic to stderr, one line per direction.
    void setVerbose(bool verbose) { m_verbose = verbose; }

    bool isOn() const { return m_on; }
    double minThreshold() const { return m_minThreshold; }
    double maxThreshold() const { return m_maxThreshold; }
    double zeroThreshold() const { return m_zeroThreshold; }

    // Complete lines received, and of those the ones with a given command ("ST", "SL", ...).
    int linesReceived() const { return m_linesReceived; }
    int commandCount(const QByteArray& command) const { return m_commandCounts.value(command); }
    int droppedAnswers() const { return m_dropped; }
    int garbledAnswers() const { return m_garbled; }

    // The alibi memory and the bootloader, with their faults.
    SimAlibi& alibi() { return m_alibi; }
    SimBootloader& bootloader() { return m_bootloader; }
    // The speed the line must run at: the bootloader has its own.
    int lineBaud(int configured) const
    {
        return m_bootloader.isActive() ? SimBootloader::BaudRate : configured;
    }

    // The current result as the instrument would send it now.
    QByteArray resultLine(bool withMark);

    QByteArray respond(const QByteArray& bytes);

    // Tables, clock, message, EEPROM and compensation.
    SimData* data() const { return m_data; }

public slots:
    void feed(const QByteArray& bytes);
    // Forgets a partial line, for a new client on the same instrument.
    void resetInput();

signals:
    void output(const QByteArray& bytes);

private:
    QByteArray handleLine(const QByteArray& line);
    QByteArray commandName(const QByteArray& body) const;
    bool setThreshold(const QByteArray& text, double* threshold);
    QByteArray unknown() const;
    QByteArray applyFaults(const QByteArray& answer);
    void send(const QByteArray& bytes);
    void log(const char* direction, const QByteArray& bytes) const;
    void streamTick();

    Generation m_generation = Generation::Current;
    SimPan m_pan;
    QByteArray m_unit = "g";
    int m_decimals = 3;
    bool m_stable = true;
    bool m_on = true;
    bool m_stableRequestHeld = false;
    double m_minThreshold = 0.0;
    double m_maxThreshold = 0.0;
    double m_zeroThreshold = 0.0;
    Identity m_identity;

    int m_delayMs = 0;
    double m_dropProbability = 0.0;
    double m_garbleProbability = 0.0;
    QRandomGenerator m_faultRandom;
    QRandomGenerator m_noiseRandom;
    double m_noise = 0.0;
    int m_silentAfter = -1;
    bool m_verbose = false;

    QByteArray m_input;
    bool m_skippingOverlong = false;
    int m_linesReceived = 0;
    QHash<QByteArray, int> m_commandCounts;
    int m_dropped = 0;
    int m_garbled = 0;
    QTimer* m_streamTimer = nullptr;
    bool m_streamNumbered = false;
    qint64 m_streamed = 0;
    SimData* m_data = nullptr;
    SimAlibi m_alibi;
    SimBootloader m_bootloader;
};

#endif // SIMINSTRUMENT_H
