#include "simdata.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>

namespace {

const QByteArray Crlf = "\r\n";
const QByteArray Refused = "ES\r\n";
const char* const ClockFormat = "yyyy-MM-dd hh:mm:ss";

// Parameter codes of the compensation table, one group of five per SW3 answer line: two whole numbers,
// two decimals, one whole number.
const char* const Groups[3][5] = {
    {"009", "010", "011", "012", "013"},
    {"019", "020", "021", "022", "023"},
    {"014", "015", "016", "017", "018"},
};

bool isDecimalCode(const QByteArray& code)
{
    for (const auto& group : Groups) {
        if (code == group[2] || code == group[3]) {
            return true;
        }
    }
    return false;
}

bool isCode(const QByteArray& code)
{
    for (const auto& group : Groups) {
        for (const char* c : group) {
            if (code == c) {
                return true;
            }
        }
    }
    return false;
}

bool isWholeNumber(const QByteArray& text)
{
    static const QRegularExpression pattern(QStringLiteral("^-?[0-9]+$"));
    return pattern.match(QString::fromLatin1(text)).hasMatch();
}

// The instrument takes the products' values only as written by the protocol: fixed, three decimals.
bool isThreeDecimals(const QByteArray& text)
{
    static const QRegularExpression pattern(QStringLiteral("^-?[0-9]+\\.[0-9]{3}$"));
    return pattern.match(QString::fromLatin1(text)).hasMatch();
}

QByteArray numberText(double value)
{
    return QByteArray::number(value, 'g', 12);
}

} // namespace

SimData::SimData(QObject* parent) : QObject(parent), m_eeprom(EepromSize, '\0')
{
    for (int i = 0; i < EepromSize; ++i) {
        m_eeprom[i] = char((i * 7 + 3) & 0xff);
    }
    for (int g = 0; g < 3; ++g) {
        m_compensation[Groups[g][0]] = 100 + g;
        m_compensation[Groups[g][1]] = 200 + g;
        m_compensation[Groups[g][2]] = 0.5 + g;
        m_compensation[Groups[g][3]] = 1.25 + g;
        m_compensation[Groups[g][4]] = 7 + g;
    }
    setClock(QDateTime::currentDateTime());
}

void SimData::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("eeprom-gap"), QStringLiteral("Pause in the middle of the EEPROM dump."),
         QStringLiteral("MS"), QStringLiteral("200")},
        {QStringLiteral("eeprom-pause"),
         QStringLiteral("The EEPROM dump starts MS after the answer to its request."), QStringLiteral("MS")},
        {QStringLiteral("eeprom-stall"),
         QStringLiteral("The EEPROM dump stops after N lines, without its terminator."), QStringLiteral("N")},
        {QStringLiteral("eeprom-refuse-write"), QStringLiteral("Refuse the N-th EEPROM write (from 1)."),
         QStringLiteral("N")},
        {QStringLiteral("refuse-tables"), QStringLiteral("Refuse the users and products tables.")},
        {QStringLiteral("clock-short-hour"),
         QStringLiteral("Answer the clock with two blanks and a one-digit hour.")},
        {QStringLiteral("compensation-short"),
         QStringLiteral("Group G (0 to 2) of the compensation answer lacks its last field."),
         QStringLiteral("G")},
    });
}

bool SimData::applyOptions(const QCommandLineParser& parser, QString* error)
{
    const auto integer = [&parser, error](const char* name, int low, int high, int* value) {
        const QString option = QLatin1String(name);
        if (!parser.isSet(option)) {
            return true;
        }
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (!ok || *value < low || *value > high) {
            *error =
                QStringLiteral("--%1: expected a whole number from %2 to %3").arg(option).arg(low).arg(high);
            return false;
        }
        return true;
    };
    int gap = m_dumpGapMs;
    int pause = m_dumpPauseMs;
    int stall = m_dumpStall;
    int refused = m_refusedWrite;
    int shortGroup = m_shortGroup;
    if (!integer("eeprom-gap", 0, 600000, &gap) || !integer("eeprom-pause", 0, 600000, &pause) ||
        !integer("eeprom-stall", 0, EepromSize / BytesPerLine, &stall) ||
        !integer("eeprom-refuse-write", 1, 1000000, &refused) ||
        !integer("compensation-short", 0, 2, &shortGroup)) {
        return false;
    }
    setDumpGap(gap);
    setDumpPause(pause);
    setDumpStall(stall);
    setRefusedWrite(refused);
    setShortCompensationGroup(shortGroup);
    setRefuseTables(parser.isSet(QStringLiteral("refuse-tables")));
    setShortHourClock(parser.isSet(QStringLiteral("clock-short-hour")));
    return true;
}

QByteArray SimData::commandName(const QByteArray& body)
{
    static const QByteArray exact[] = {"SE?", "SW3", "SbU", "SbP", "Se", "Sd&t?"};
    for (const QByteArray& name : exact) {
        if (body == name) {
            return name;
        }
    }
    static const QByteArray prefixes[] = {"SEW", "SEF", "Sd&t", "SN", "Sr"};
    for (const QByteArray& name : prefixes) {
        if (body.startsWith(name)) {
            return name;
        }
    }
    return QByteArray();
}

bool SimData::handle(const QByteArray& body, QByteArray* answer)
{
    const QByteArray name = commandName(body);
    if (name.isEmpty()) {
        return false;
    }
    if (name == "SE?") {
        *answer = dump();
    } else if (name == "SEW") {
        *answer = writeEeprom(body);
    } else if (name == "SW3") {
        *answer = compensationAnswer();
    } else if (name == "SEF") {
        *answer = setCompensationValue(body);
    } else if (name == "SbU" || name == "SbP") {
        if (m_refuseTables) {
            *answer = Refused;
        } else {
            m_table = name == "SbU" ? Table::Users : Table::Products;
            m_pending.clear();
            *answer = "M" + name.mid(1) + Crlf;
        }
    } else if (name == "Sr") {
        *answer = tableRecord(body.mid(2));
    } else if (name == "Se") {
        if (m_table == Table::None) {
            *answer = Refused;
        } else {
            (m_table == Table::Users ? m_users : m_products) = m_pending;
            m_table = Table::None;
            *answer = "Me\r\n";
        }
    } else if (name == "Sd&t?") {
        *answer =
            clock().toString(QLatin1String(m_shortHour ? "yyyy-MM-dd  h:mm:ss" : ClockFormat)).toLatin1() +
            Crlf;
    } else if (name == "Sd&t") {
        const QDateTime dt =
            QDateTime::fromString(QString::fromLatin1(body.mid(4)), QLatin1String(ClockFormat));
        if (dt.isValid()) {
            setClock(dt);
            *answer = "Md&t\r\n";
        } else {
            *answer = Refused;
        }
    } else if (name == "SN") {
        // Two digits of display time, 01 to 99, then the text.
        const QByteArray digits = body.mid(2, 2);
        const int seconds = digits.toInt();
        if (digits.size() == 2 && isWholeNumber(digits) && seconds >= 1) {
            m_message = body.mid(4);
            m_messageSeconds = seconds;
            *answer = "MN\r\n";
        } else {
            *answer = Refused;
        }
    }
    return true;
}

QByteArray SimData::dump()
{
    QByteArrayList lines;
    for (int address = 0; address < EepromSize; address += BytesPerLine) {
        lines << "SEW" + QByteArray::number(address, 16).toUpper().rightJustified(4, '0') + ":" +
                     m_eeprom.mid(address, BytesPerLine).toHex().toUpper() + Crlf;
    }
    const int sent = m_dumpStall < 0 ? lines.size() : m_dumpStall;
    const int firstHalf = qMin(sent, int(lines.size()) / 2);
    const QByteArray first =
        "EEPROM: " + QByteArray::number(EepromSize) + Crlf + lines.mid(0, firstHalf).join();
    QByteArray later = lines.mid(firstHalf, sent - firstHalf).join();
    if (m_dumpStall < 0) {
        later += "ME?\r\n";
    }
    if (m_dumpPauseMs > 0) {
        QTimer::singleShot(m_dumpPauseMs, Qt::PreciseTimer, this, [this, first] { emit output(first); });
    }
    if (!later.isEmpty()) {
        QTimer::singleShot(m_dumpPauseMs + m_dumpGapMs, Qt::PreciseTimer, this,
                           [this, later] { emit output(later); });
    }
    return m_dumpPauseMs > 0 ? m_dumpHeader : m_dumpHeader + first;
}

QByteArray SimData::writeEeprom(const QByteArray& body)
{
    // SEW, four hexadecimal digits of address, ":", up to 16 bytes in hexadecimal.
    static const QRegularExpression pattern(
        QStringLiteral("^SEW([0-9A-Fa-f]{4}):((?:[0-9A-Fa-f]{2}){1,16})$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(body));
    if (!match.hasMatch()) {
        return Refused;
    }
    ++m_eepromWrites;
    if (m_eepromWrites == m_refusedWrite) {
        // The same write refused on every attempt.
        --m_eepromWrites;
        return Refused;
    }
    const int address = match.captured(1).toInt(nullptr, 16);
    const QByteArray bytes = QByteArray::fromHex(match.captured(2).toLatin1());
    if (address + bytes.size() > EepromSize) {
        return Refused;
    }
    m_eeprom.replace(address, bytes.size(), bytes);
    return "MEW\r\n";
}

QByteArray SimData::tableRecord(const QByteArray& fields)
{
    if (m_table == Table::None) {
        return Refused;
    }
    const QByteArrayList record = fields.split(';');
    const bool users = m_table == Table::Users;
    if (record.size() != (users ? 3 : 8) || !isWholeNumber(record.at(0))) {
        return Refused;
    }
    if (!users && (!isWholeNumber(record.at(4)) || !isThreeDecimals(record.at(5)) ||
                   !isThreeDecimals(record.at(6)) || !isThreeDecimals(record.at(7)))) {
        return Refused;
    }
    m_pending << record;
    return "Mr\r\n";
}

QByteArray SimData::setCompensationValue(const QByteArray& body)
{
    const QByteArray code = body.mid(3, 3);
    const QByteArray text = body.mid(6);
    if (!isCode(code)) {
        return Refused;
    }
    if (!isDecimalCode(code)) {
        if (!isWholeNumber(text)) {
            return Refused;
        }
        m_compensation[code] = text.toInt();
        return "MEF\r\n";
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return Refused;
    }
    m_compensation[code] = value;
    return "MEF\r\n";
}

QByteArrayList SimData::compensation() const
{
    QByteArrayList values;
    for (const auto& group : Groups) {
        for (const char* code : group) {
            values << numberText(m_compensation.value(code));
        }
    }
    return values;
}

QByteArray SimData::compensationAnswer() const
{
    QByteArray answer;
    for (int g = 0; g < 3; ++g) {
        QByteArrayList fields;
        for (int i = 0; i < (g == m_shortGroup ? 4 : 5); ++i) {
            fields << numberText(m_compensation.value(Groups[g][i]));
        }
        answer += fields.join('\t') + Crlf;
    }
    return answer;
}

void SimData::setClock(const QDateTime& dt)
{
    m_clockBase = dt;
    m_clockRunning.start();
}

QDateTime SimData::clock() const
{
    return m_clockBase.addMSecs(m_clockRunning.elapsed());
}
