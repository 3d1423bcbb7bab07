// The weighing commands of CDevice and the result-line grammar; the engine they run on is in
// cdevice.cpp.
#include "device/cdevice.h"

#include "platform/logcategories.h"

namespace {
const QString CrLf = QStringLiteral("\r\n");

// Result line: [mark] sign, 9-character value, blank, 3-character unit, CR LF.
constexpr int ResultLineLength = 16;
constexpr int ValueWidth = 9;
constexpr int UnitWidth = 3;

// A result value is a plain decimal number between blanks: an optional sign, digits and a point
// ("12.", ".5" too). Exponents, "inf", "nan" and hexadecimal forms are no weight.
bool parseDecimal(const QStringRef& field, double& value, int& decimals)
{
    // References, not copies: a stream of results is parsed thousands of times a second.
    const QStringRef text = field.trimmed();
    const auto isDigit = [&text](int i) {
        return i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9');
    };
    int i = 0;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        ++i;
    }
    int digits = 0;
    for (; isDigit(i); ++i) {
        ++digits;
    }
    int point = -1;
    if (i < text.size() && text.at(i) == QLatin1Char('.')) {
        point = i++;
        for (; isDigit(i); ++i) {
            ++digits;
        }
    }
    if (digits == 0 || i != text.size()) {
        return false;
    }
    bool ok = false;
    value = text.toDouble(&ok);
    decimals = point < 0 ? 0 : text.size() - 1 - point;
    return ok;
}
} // namespace

Measurement CDevice::newMeasurement() const
{
    // Simplified once per serial number, not once per result.
    if (!m_simplifiedSerialOf.isSharedWith(m_serialNumber)) {
        m_simplifiedSerialOf = m_serialNumber;
        m_simplifiedSerial = m_serialNumber.simplified();
    }
    Measurement m;
    m.serialNumber = m_simplifiedSerial;
    return m;
}

bool CDevice::parseResult(const QString& line, Measurement& m, bool withStability)
{
    const int o = withStability ? 1 : 0;
    if (line.size() != ResultLineLength + o) {
        return false;
    }
    char stability = 'X';
    if (withStability) {
        const QChar mark = line.at(0);
        if (mark != QLatin1Char('S') && mark != QLatin1Char('U')) {
            return false;
        }
        stability = mark.toLatin1();
    }
    const QChar sign = line.at(o);
    if (sign != QLatin1Char(' ') && sign != QLatin1Char('-')) {
        return false;
    }
    const QStringRef field = line.midRef(o + 1, ValueWidth);
    // A sign in the column and another in the field: which one is meant cannot be told, so the line is
    // refused rather than stored with a guessed sign.
    const QStringRef digits = field.trimmed();
    if (sign == QLatin1Char('-') &&
        (digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+')))) {
        return false;
    }
    double value = 0.0;
    int decimals = 0;
    if (!parseDecimal(field, value, decimals)) {
        return false;
    }
    if (sign == QLatin1Char('-')) {
        value = -value;
    }
    if (line.at(o + 10) != QLatin1Char(' ')) {
        return false;
    }
    if (line.at(o + 14) != QLatin1Char('\r') || line.at(o + 15) != QLatin1Char('\n')) {
        return false;
    }
    m.value = value;
    m.unit = line.midRef(o + 11, UnitWidth).trimmed().toString();
    m.decimals = decimals;
    m.stability = stability;
    return true;
}

void CDevice::sendOneLine(int command, const char* method, const QString& line)
{
    if (!threadGuard(method) || !canSendNextCommand(command, method)) {
        return;
    }
    m_currentCommand = command;
    send(line);
}

void CDevice::sendSI()
{
    sendOneLine(COMMAND_SEND_SI, "sendSI", QStringLiteral("SI\r\n"));
}

void CDevice::sendSx1()
{
    sendOneLine(COMMAND_SEND_Sx1, "sendSx1", QStringLiteral("Sx1\r\n"));
}

void CDevice::sendSx3()
{
    sendOneLine(COMMAND_SEND_Sx3, "sendSx3", QStringLiteral("Sx3\r\n"));
}

void CDevice::sendST()
{
    sendOneLine(COMMAND_SEND_ST, "sendST", QStringLiteral("ST\r\n"));
}

void CDevice::sendSZ()
{
    sendOneLine(COMMAND_SEND_SZ, "sendSZ", QStringLiteral("SZ\r\n"));
}

void CDevice::sendSS()
{
    sendOneLine(COMMAND_SEND_SS, "sendSS", QStringLiteral("SS\r\n"));
}

void CDevice::sendSJ()
{
    sendOneLine(COMMAND_SEND_SJ, "sendSJ", QStringLiteral("SJ\r\n"));
}

void CDevice::sendSW9()
{
    sendOneLine(COMMAND_SEND_SW9, "sendSW9", QStringLiteral("SW9\r\n"));
}

QString CDevice::requestResult(int command, const QString& line, bool stable)
{
    m_currentCommand = command;
    QString answer;
    int result = sendAndReadResult(line, answer, ResultTimeoutMs, ResultAttempts);
    Measurement m = newMeasurement();
    if (result == COMMAND_OK) {
        const bool parsed = parseResult(answer, m, false);
        if (stable) {
            m.stability = 'S';
        }
        if (!parsed) {
            result = COMMAND_FAILED;
        }
    }
    m_lastAnswer = answer;
    emit commandFinished(result, command, QVariant::fromValue(m));
    // Lines that came after the answer are the instrument's own, in the order they came.
    dispatchReceived();
    checkCommunication(result);
    return answer;
}

QString CDevice::stableResult()
{
    if (!threadGuard("stableResult") || !canSendNextCommand(COMMAND_STABLE_RESULT, "stableResult")) {
        return QString();
    }
    return requestResult(COMMAND_STABLE_RESULT, QStringLiteral("SI\r\n"), true);
}

QString CDevice::result()
{
    if (!threadGuard("result") || !canSendNextCommand(COMMAND_RESULT, "result")) {
        return QString();
    }
    return requestResult(COMMAND_RESULT, QStringLiteral("Sx1\r\n"), false);
}

QString CDevice::resultWithStb()
{
    if (!threadGuard("resultWithStb") || !canSendNextCommand(COMMAND_RESULT_WITH_STB, "resultWithStb")) {
        return QString();
    }
    m_currentCommand = COMMAND_RESULT_WITH_STB;
    QString answer;
    answerIsResult = true;
    const int result = sendAndRead(QStringLiteral("Sx3\r\n"), &answer, 1, ResultTimeoutMs, ResultAttempts);
    answerIsResult = false;
    return finishResultWithStb(result, answer, true);
}

QString CDevice::finishResultWithStb(int result, QString answer, bool withStability)
{
    Measurement m = newMeasurement();
    if (result == COMMAND_OK && !parseResult(answer, m, withStability)) {
        result = COMMAND_FAILED;
        // An instrument without the marked result answers as to a plain request; further lines
        // that came with it are dispatched with the next chunk.
        const QStringList pieces = answer.split(CrLf, Qt::SkipEmptyParts);
        if (pieces.size() > 1) {
            // The leftover lines keep their own line ends, so the last of them is not glued to the
            // first line of the next chunk; only an unfinished tail stays open.
            QString rest = pieces.mid(1).join(CrLf);
            if (answer.endsWith(CrLf)) {
                rest += CrLf;
            }
            answer = pieces.first() + CrLf;
            receiveBuffer += rest;
        }
        if (parseResult(answer, m, false)) {
            emit commandFinished(COMMAND_OK, COMMAND_RESULT, QVariant::fromValue(m));
        }
    }
    m_lastAnswer = answer;
    emit commandFinished(result, COMMAND_RESULT_WITH_STB, QVariant::fromValue(m));
    checkCommunication(result);
    return answer;
}

bool CDevice::tare()
{
    if (!threadGuard("tare") || !canSendNextCommand(COMMAND_TARE, "tare")) {
        return false;
    }
    setBusy(true);
    m_currentCommand = COMMAND_TARE;
    qCDebug(lcDevice) << "virtual bool CDevice::tare()";
    const int result =
        sendAndExpect(QStringLiteral("ST\r\n"), QStringLiteral("MT\r\n"), 1, TareTimeoutMs, TareAttempts);
    setBusy(false);
    emit commandFinished(result, COMMAND_TARE);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDevice::zero()
{
    if (!threadGuard("zero") || !canSendNextCommand(COMMAND_ZERO, "zero")) {
        return false;
    }
    setBusy(true);
    m_currentCommand = COMMAND_ZERO;
    const int result =
        sendAndExpect(QStringLiteral("SZ\r\n"), QStringLiteral("MZ\r\n"), 1, TareTimeoutMs, TareAttempts);
    setBusy(false);
    emit commandFinished(result, COMMAND_ZERO);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDevice::expectAcknowledgement(int command, const QString& line, const QString& expected,
                                    QVariant param1)
{
    m_currentCommand = command;
    const int result = sendAndExpect(line, expected, 1, TareTimeoutMs, TareAttempts);
    emit commandFinished(result, command, QVariant(), param1);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDevice::minTHR(float masa)
{
    if (!threadGuard("minTHR", Q_ARG(float, masa)) ||
        !canSendNextCommand(COMMAND_MIN_THR, "minTHR", Q_ARG(float, masa))) {
        return false;
    }
    return expectAcknowledgement(COMMAND_MIN_THR, QStringLiteral("SL%1\r\n").arg(masa),
                                 QStringLiteral("ML\r\n"), QVariant(masa));
}

bool CDevice::maxTHR(float masa)
{
    if (!threadGuard("maxTHR", Q_ARG(float, masa)) ||
        !canSendNextCommand(COMMAND_MAX_THR, "maxTHR", Q_ARG(float, masa))) {
        return false;
    }
    return expectAcknowledgement(COMMAND_MAX_THR, QStringLiteral("SH%1\r\n").arg(masa),
                                 QStringLiteral("MH\r\n"), QVariant(masa));
}

bool CDevice::zeroTHR(float masa)
{
    if (!threadGuard("zeroTHR", Q_ARG(float, masa)) ||
        !canSendNextCommand(COMMAND_ZERO_THR, "zeroTHR", Q_ARG(float, masa))) {
        return false;
    }
    return expectAcknowledgement(COMMAND_ZERO_THR, QStringLiteral("SM%1\r\n").arg(masa),
                                 QStringLiteral("MM\r\n"), QVariant(masa));
}

bool CDevice::checkEcho()
{
    if (!threadGuard("checkEcho") || !canSendNextCommand(COMMAND_CHECK_ECHO, "checkEcho")) {
        return false;
    }
    m_currentCommand = COMMAND_CHECK_ECHO;
    QString answer;
    int result = sendAndRead(echoCommand, &answer, 1, EchoTimeoutMs, ResultAttempts);
    if (result == COMMAND_OK && !answer.contains(echoAnswer)) {
        result = COMMAND_FAILED;
    }
    emit commandFinished(result, COMMAND_CHECK_ECHO);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDevice::readInfo()
{
    if (!threadGuard("readInfo") || !canSendNextCommand(COMMAND_READ_INFO, "readInfo")) {
        return false;
    }
    setBusy(true);
    filterResultLines = true;
    m_currentCommand = COMMAND_READ_INFO;
    QString answer;
    int result = sendAndRead(QStringLiteral("SW9\r\n"), &answer, 4, InfoTimeoutMs, ResultAttempts);
    m_lastAnswer = answer;
    if (result == COMMAND_OK) {
        const QStringList pieces = answer.split(CrLf);
        if (pieces.size() > 3) {
            m_model = pieces.at(0);
            m_serialNumber = pieces.at(1);
            m_productionDate = pieces.at(2);
            m_firmware = pieces.at(3);
        } else {
            result = COMMAND_FAILED;
        }
    }
    filterResultLines = false;
    setBusy(false);
    emit commandFinished(result, COMMAND_READ_INFO);
    checkCommunication(result);
    return result == COMMAND_OK;
}
