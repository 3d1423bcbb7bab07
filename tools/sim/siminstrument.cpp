#include "siminstrument.h"

#include "simdata.h"

#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

const QByteArray Crlf = "\r\n";

bool isThresholdCommand(const QByteArray& body)
{
    return body.size() > 2 && (body.startsWith("SL") || body.startsWith("SH") || body.startsWith("SM"));
}

QByteArray escaped(const QByteArray& bytes)
{
    QByteArray text;
    text.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            text += "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace

SimInstrument::SimInstrument(QObject* parent) : QObject(parent), m_data(new SimData(this))
{
    setSeed(0);
    setIdentity(m_identity);
    connect(m_data, &SimData::output, this, [this](const QByteArray& bytes) {
        if (!isSilent()) {
            send(bytes);
        }
    });
}

void SimInstrument::setIdentity(const Identity& identity)
{
    m_identity = identity;
    m_data->setDumpHeader(identity.model + Crlf + identity.serialNumber + Crlf + identity.firmware + Crlf);
}

QByteArray SimInstrument::formatResult(double value, int decimals, const QByteArray& unit, char mark)
{
    QByteArray digits = QByteArray::number(std::fabs(value), 'f', qBound(0, decimals, 7));
    // A value that rounds to zero is shown without sign, as the display does.
    bool negative = false;
    if (value < 0) {
        for (const char c : digits) {
            negative = negative || (c >= '1' && c <= '9');
        }
    }
    if (digits.size() > 9) {
        digits = "OL";
    }
    QByteArray line;
    line.reserve(17);
    if (mark != 0) {
        line += mark;
    }
    line += negative ? '-' : ' ';
    line += digits.rightJustified(9, ' ');
    line += ' ';
    line += unit.left(3).leftJustified(3, ' ');
    line += Crlf;
    return line;
}

void SimInstrument::setStable(bool stable)
{
    m_stable = stable;
    if (stable && m_stableRequestHeld) {
        m_stableRequestHeld = false;
        if (!isSilent()) {
            send(applyFaults(resultLine(false)));
        }
    }
}

void SimInstrument::setSeed(quint32 seed)
{
    m_faultRandom.seed(seed);
    // A separate stream, so that turning noise on does not change which answers are dropped or garbled.
    m_noiseRandom.seed(seed ^ 0x9e3779b9u);
}

void SimInstrument::setStreaming(int intervalMs)
{
    if (intervalMs <= 0) {
        delete m_streamTimer;
        m_streamTimer = nullptr;
        return;
    }
    if (!m_streamTimer) {
        m_streamTimer = new QTimer(this);
        m_streamTimer->setTimerType(Qt::PreciseTimer);
        connect(m_streamTimer, &QTimer::timeout, this, &SimInstrument::streamTick);
    }
    m_streamTimer->start(intervalMs);
}

QByteArray SimInstrument::resultLine(bool withMark)
{
    double value = displayedWeight();
    if (m_noise > 0) {
        value += (m_noiseRandom.generateDouble() * 2.0 - 1.0) * m_noise;
    }
    return formatResult(value, m_decimals, m_unit, withMark ? (m_stable ? 'S' : 'U') : 0);
}

QByteArray SimInstrument::respond(const QByteArray& bytes)
{
    QByteArray answers;
    int start = 0;
    while (start < bytes.size()) {
        const int lf = bytes.indexOf('\n', start);
        if (lf < 0) {
            if (!m_skippingOverlong) {
                m_input.append(bytes.constData() + start, bytes.size() - start);
                if (m_input.size() > MaxLineLength) {
                    // No line is this long: the sender is not speaking the protocol. Resynchronise at the
                    // next line feed instead of growing without bound.
                    if (m_verbose) {
                        std::fprintf(stderr, "sim: %d bytes without line feed discarded\n",
                                     int(m_input.size()));
                    }
                    m_input.clear();
                    m_skippingOverlong = true;
                }
            }
            break;
        }
        if (m_skippingOverlong) {
            m_skippingOverlong = false;
            m_input.clear();
            start = lf + 1;
            continue;
        }
        m_input.append(bytes.constData() + start, lf + 1 - start);
        start = lf + 1;
        const QByteArray line = m_input;
        m_input.clear();
        if (m_input.capacity() > MaxLineLength) {
            m_input.squeeze();
        }

        const bool silent = isSilent();
        ++m_linesReceived;
        if (m_verbose) {
            log("<-", line);
        }
        if (silent) {
            continue;
        }
        answers += applyFaults(handleLine(line));
    }
    return answers;
}

void SimInstrument::feed(const QByteArray& bytes)
{
    const QByteArray answers = respond(bytes);
    if (!answers.isEmpty()) {
        send(answers);
    }
}

void SimInstrument::resetInput()
{
    m_input.clear();
    m_skippingOverlong = false;
}

QByteArray SimInstrument::handleLine(const QByteArray& line)
{
    // The bootloader takes the image's lines as the file ends them.
    if (m_bootloader.isActive()) {
        m_commandCounts["image"]++;
        return m_bootloader.handleLine(line);
    }
    // The application always ends its lines in CR LF; a bare LF is a malformed line.
    if (!line.endsWith(Crlf)) {
        m_commandCounts["?"]++;
        return unknown();
    }
    const QByteArray body = line.left(line.size() - 2);
    m_commandCounts[commandName(body)]++;
    const bool current = m_generation == Generation::Current;

    if (body == "SI") {
        if (!m_stable) {
            m_stableRequestHeld = true;
            return {};
        }
        return resultLine(false);
    }
    if (body == "Sx1") {
        return resultLine(false);
    }
    if (body == "Sx3" && current) {
        return resultLine(true);
    }
    if (body == "ST") {
        m_pan.tareNow();
        return "MT\r\n";
    }
    if (body == "SZ") {
        m_pan.zeroNow();
        return "MZ\r\n";
    }
    if (body == "SS") {
        // The on/off key. The interface keeps answering in standby, so only the flag changes.
        m_on = !m_on;
        return {};
    }
    if (body == "SJ" && current) {
        return "MJ\r\n";
    }
    if (body == "SW9" && current) {
        return m_identity.model + Crlf + m_identity.serialNumber + Crlf + m_identity.productionDate + Crlf +
               m_identity.firmware + Crlf;
    }
    if (SimAlibi::isAlibiCommand(body)) {
        return m_alibi.handle(body);
    }
    if (body == "Sfirmwupd") {
        return m_bootloader.start();
    }
    if (isThresholdCommand(body)) {
        const QByteArray value = body.mid(2);
        double* threshold = body[1] == 'L'   ? &m_minThreshold
                            : body[1] == 'H' ? &m_maxThreshold
                                             : &m_zeroThreshold;
        if (setThreshold(value, threshold)) {
            return QByteArray("M") + body[1] + Crlf;
        }
    }
    QByteArray answer;
    if (m_data->handle(body, &answer)) {
        return answer;
    }
    return unknown();
}

QByteArray SimInstrument::commandName(const QByteArray& body) const
{
    if (isThresholdCommand(body)) {
        return body.left(2);
    }
    static const QByteArray known[] = {"SI",        "Sx1",        "Sx3",      "ST",        "SZ",
                                       "SS",        "SJ",         "SW9",      "Salibiprn", "Salibinext",
                                       "Salibirep", "Salibistop", "Sfirmwupd"};
    for (const QByteArray& name : known) {
        if (body == name) {
            return name;
        }
    }
    const QByteArray data = SimData::commandName(body);
    if (!data.isEmpty()) {
        return data;
    }
    // Unknown lines share one counter, so that a stream of garbage cannot grow the table.
    return "?";
}

bool SimInstrument::setThreshold(const QByteArray& text, double* threshold)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || text.trimmed() != text) {
        return false;
    }
    *threshold = value;
    return true;
}

QByteArray SimInstrument::unknown() const
{
    // The older generation ignores what it does not know; the application relies on that silence to tell
    // the generations apart.
    return m_generation == Generation::Current ? QByteArray("ES\r\n") : QByteArray();
}

QByteArray SimInstrument::applyFaults(const QByteArray& answer)
{
    if (answer.isEmpty()) {
        return answer;
    }
    if (m_dropProbability > 0 && m_faultRandom.generateDouble() < m_dropProbability) {
        ++m_dropped;
        if (m_verbose) {
            log("-x", answer);
        }
        return {};
    }
    QByteArray bytes = answer;
    if (m_garbleProbability > 0 && m_faultRandom.generateDouble() < m_garbleProbability) {
        ++m_garbled;
        if (bytes.count('\n') > 1) {
            // The identity is accepted as any four lines, so garbling it means losing its last line feed.
            bytes[bytes.size() - 1] = '?';
        } else {
            // Position 1 is checked by every grammar: the value field or sign of a result, the command letter
            // of an acknowledgement.
            bytes[1] = '?';
        }
    }
    return bytes;
}

void SimInstrument::send(const QByteArray& bytes)
{
    if (m_delayMs == 0) {
        if (m_verbose) {
            log("->", bytes);
        }
        emit output(bytes);
        return;
    }
    QTimer::singleShot(m_delayMs, Qt::PreciseTimer, this, [this, bytes] {
        if (m_verbose) {
            log("->", bytes);
        }
        emit output(bytes);
    });
}

void SimInstrument::log(const char* direction, const QByteArray& bytes) const
{
    std::fprintf(stderr, "%s %s\n", direction, escaped(bytes).constData());
}

void SimInstrument::streamTick()
{
    // The weighing program that streams does not run while the bootloader has the line.
    if (isSilent() || m_bootloader.isActive()) {
        return;
    }
    const QByteArray line =
        m_streamNumbered ? formatResult(double(++m_streamed), m_decimals, m_unit, 0) : resultLine(false);
    if (m_verbose) {
        log("->", line);
    }
    emit output(line);
}
