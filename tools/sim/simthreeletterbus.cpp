#include "simthreeletterbus.h"

#include "simthreeletter.h"

#include <QCommandLineParser>

#include <cstdio>

SimThreeLetterBus::SimThreeLetterBus(QObject* parent) : QObject(parent) {}

void SimThreeLetterBus::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("protocol"),
         QStringLiteral("Line protocol: line (S/M commands) or three-letter (addressed mnemonics)."),
         QStringLiteral("line|three-letter"), QStringLiteral("line")},
        {QStringLiteral("address"),
         QStringLiteral("Three-letter: bus addresses of the instruments on the line, 0 to 99."),
         QStringLiteral("N[,M...]"), QStringLiteral("1")},
        {QStringLiteral("echo"), QStringLiteral("Three-letter: the line echoes every line it carries.")},
        {QStringLiteral("echo-commands"),
         QStringLiteral("Three-letter: each instrument echoes the lines addressed to it, not empty ones.")},
        {QStringLiteral("service-password"), QStringLiteral("Three-letter: password of the service mode."),
         QStringLiteral("TEXT"), QStringLiteral("1111")},
        {QStringLiteral("admin-password"),
         QStringLiteral("Three-letter: password of the administrator mode."), QStringLiteral("TEXT"),
         QStringLiteral("4040")},
        {QStringLiteral("loader-image"),
         QStringLiteral("Three-letter: write every image the loader receives in full to PATH."),
         QStringLiteral("PATH")},
        {QStringLiteral("loader-ready-ms"),
         QStringLiteral("Three-letter: the loader asks for the image every MS ms."), QStringLiteral("MS"),
         QStringLiteral("1000")},
        {QStringLiteral("loader-no-ack"),
         QStringLiteral("Three-letter: the loader takes block N (0 the header) without ACK and quits."),
         QStringLiteral("N")},
        {QStringLiteral("loader-no-ready"),
         QStringLiteral("Three-letter: the loader never asks for the image.")},
    });
}

bool SimThreeLetterBus::configure(const QCommandLineParser& parser, QString* error)
{
    const auto fail = [error](const QString& text) {
        *error = text;
        return false;
    };
    const QByteArray unit = parser.value(QStringLiteral("unit")).toLatin1();
    if (!SimThreeLetter::isUnit(unit)) {
        return fail(QStringLiteral("--unit: the three-letter dialect knows kg, g, t and d"));
    }
    const int decimals = parser.value(QStringLiteral("decimals")).toInt();
    const double weight = parser.value(QStringLiteral("weight")).toDouble();
    if (SimThreeLetter::formatResult(weight, decimals, unit).contains("OL")) {
        return fail(QStringLiteral("--weight: does not fit 7 characters with %1 decimals").arg(decimals));
    }
    bool ok = false;
    const int readyMs = parser.value(QStringLiteral("loader-ready-ms")).toInt(&ok);
    if (!ok || readyMs < 1 || readyMs > 60000) {
        return fail(QStringLiteral("--loader-ready-ms: expected a whole number from 1 to 60000"));
    }
    int noAck = -1;
    if (parser.isSet(QStringLiteral("loader-no-ack"))) {
        noAck = parser.value(QStringLiteral("loader-no-ack")).toInt(&ok);
        if (!ok || noAck < 0) {
            return fail(QStringLiteral("--loader-no-ack: expected a block number from 0"));
        }
    }
    const QStringList addresses = parser.value(QStringLiteral("address")).split(QLatin1Char(','));
    for (const QString& text : addresses) {
        const int address = text.toInt(&ok);
        if (!ok || address < 0 || address > 99 || instrument(address)) {
            return fail(QStringLiteral("--address: expected distinct addresses from 0 to 99"));
        }
        SimThreeLetter* added = addInstrument(address);
        added->setWeight(weight);
        added->setUnit(unit);
        added->setDecimals(decimals);
        added->setStable(!parser.isSet(QStringLiteral("unstable")));
        added->setPasswords(parser.value(QStringLiteral("service-password")).toUtf8(),
                            parser.value(QStringLiteral("admin-password")).toUtf8());
        if (parser.isSet(QStringLiteral("serial"))) {
            added->setSerialNumber(parser.value(QStringLiteral("serial")).toUtf8());
        }
        if (parser.isSet(QStringLiteral("firmware"))) {
            added->setFirmware(parser.value(QStringLiteral("firmware")).toUtf8());
        }
        SimBlockLoader* loader = added->loader();
        loader->setReadyInterval(readyMs);
        loader->setNoAckFor(noAck);
        loader->setNoReady(parser.isSet(QStringLiteral("loader-no-ready")));
        loader->setImagePath(parser.value(QStringLiteral("loader-image")));
    }
    setEcho(parser.isSet(QStringLiteral("echo")));
    setCommandEcho(parser.isSet(QStringLiteral("echo-commands")));
    setVerbose(parser.isSet(QStringLiteral("verbose")));
    return true;
}

SimThreeLetter* SimThreeLetterBus::addInstrument(int address)
{
    auto* added = new SimThreeLetter(address, this);
    m_instruments.append(added);
    connect(added->loader(), &SimBlockLoader::output, this, [this](const QByteArray& bytes) {
        if (m_verbose) {
            log("->", bytes);
        }
        emit output(bytes);
    });
    return added;
}

SimThreeLetter* SimThreeLetterBus::instrument(int address) const
{
    for (SimThreeLetter* candidate : m_instruments) {
        if (candidate->address() == address) {
            return candidate;
        }
    }
    return nullptr;
}

SimThreeLetter* SimThreeLetterBus::loading() const
{
    for (SimThreeLetter* candidate : m_instruments) {
        if (candidate->loader()->isActive()) {
            return candidate;
        }
    }
    return nullptr;
}

QByteArray SimThreeLetterBus::respond(const QByteArray& bytes)
{
    QByteArray answers;
    int start = 0;
    while (start < bytes.size()) {
        if (SimThreeLetter* target = loading()) {
            // The loader's blocks are bytes, not lines; what follows its end is lost, as on a line whose
            // instrument restarts.
            if (m_verbose) {
                std::fprintf(stderr, "<- %d bytes for the loader\n", int(bytes.size() - start));
            }
            answers += target->loader()->feed(bytes.mid(start));
            m_input.clear();
            break;
        }
        const int lf = bytes.indexOf('\n', start);
        if (lf < 0) {
            m_input.append(bytes.constData() + start, bytes.size() - start);
            // No line is this long: the sender does not speak the protocol.
            if (m_input.size() > MaxLineLength) {
                m_input.clear();
            }
            break;
        }
        const QByteArray line = m_input + bytes.mid(start, lf + 1 - start);
        m_input.clear();
        start = lf + 1;
        if (m_verbose) {
            log("<-", line);
        }
        QByteArray command;
        SimThreeLetter* target = addressee(line, &command);
        if (m_echo || (m_commandEcho && target)) {
            answers += line;
        }
        if (target) {
            answers += target->handle(command);
        }
    }
    return answers;
}

void SimThreeLetterBus::feed(const QByteArray& bytes)
{
    const QByteArray answers = respond(bytes);
    if (answers.isEmpty()) {
        return;
    }
    if (m_verbose) {
        log("->", answers);
    }
    emit output(answers);
}

SimThreeLetter* SimThreeLetterBus::addressee(const QByteArray& line, QByteArray* command) const
{
    if (!line.endsWith("\r\n") || !line.startsWith('U')) {
        return nullptr;
    }
    const QByteArray body = line.left(line.size() - 2);
    int digits = 1;
    while (digits < body.size() && digits <= 2 && body.at(digits) >= '0' && body.at(digits) <= '9') {
        ++digits;
    }
    if (digits == 1) {
        return nullptr;
    }
    *command = body.mid(digits);
    return instrument(body.mid(1, digits - 1).toInt());
}

void SimThreeLetterBus::log(const char* direction, const QByteArray& bytes) const
{
    QByteArray text;
    for (const char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (quint8(c) < 0x20 || quint8(c) >= 0x7f) {
            text += "\\x" + QByteArray::number(quint8(c), 16).rightJustified(2, '0');
        } else {
            text += c;
        }
    }
    std::fprintf(stderr, "%s %s\n", direction, text.constData());
}
