// The three-letter dialect: its lines, result grammar and added commands. The block firmware upload
// is in cdevicekx40_firmware.cpp.
#include "device/cdevicekx40.h"

#include "interface/cinterface.h"
#include "platform/logcategories.h"

#include <QSettings>

namespace {
const QString CrLf = QStringLiteral("\r\n");
const QString Ok = QStringLiteral("OK\r\n");

// Numbers go out in the shortest general form with up to 6 significant digits (2.5, 1.23457e+06).
QString number(double value)
{
    return QString::number(value, 'g', 6);
}

// A value field without its blanks: an optional sign, digits and at most one point. Exponents,
// "inf" and "nan", which a plain conversion would take, are no weight.
bool isDecimal(const QString& text)
{
    int i = 0;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        ++i;
    }
    int digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isDigit() && c.unicode() < 128) {
            ++digits;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits > 0;
}
} // namespace

CDeviceKx40::CDeviceKx40(QObject* parent) : CDevice(parent)
{
    m_deviceType = Kx40DeviceType;
    echoCommand = QStringLiteral("DAD\r\n");
    setAddressValue(0);
    commandNames.insert(COMMAND_CHECK_MODE, QStringLiteral("COMMAND_CHECK_MODE"));
    commandNames.insert(COMMAND_SEND_FKD, QStringLiteral("COMMAND_SEND_FKD"));
    commandNames.insert(COMMAND_SEND_FKG, QStringLiteral("COMMAND_SEND_FKG"));
    commandNames.insert(COMMAND_SET_SERIAL, QStringLiteral("COMMAND_SET_SERIAL"));
    commandNames.insert(COMMAND_SEND_KFL, QStringLiteral("COMMAND_SEND_KFL"));
    commandNames.insert(COMMAND_ENTER_SERVICE, QStringLiteral("COMMAND_ENTER_SERVICE"));
    commandNames.insert(COMMAND_LEAVE_SERVICE, QStringLiteral("COMMAND_LEAVE_SERVICE"));
    commandNames.insert(COMMAND_ENTER_ADMIN, QStringLiteral("COMMAND_ENTER_ADMIN"));
    commandNames.insert(COMMAND_LEAVE_ADMIN, QStringLiteral("COMMAND_LEAVE_ADMIN"));
    commandNames.insert(COMMAND_SEND_UWA, QStringLiteral("COMMAND_SEND_UWA"));
    commandNames.insert(COMMAND_SET_ADDRESS, QStringLiteral("COMMAND_SET_ADDRESS"));
    commandNames.insert(COMMAND_START_DOWNLOADING, QStringLiteral("COMMAND_START_DOWNLOADING"));
}

CDeviceKx40* CDeviceKx40::forSerialPort(const QString& portName, const QString& portDescription, int baudRate,
                                        int address, QObject* parent)
{
    auto* device = new CDeviceKx40(parent);
    device->setAddressValue(address);
    device->setRS232(portName, portDescription, baudRate);
    return device;
}

void CDeviceKx40::setAddressValue(int address)
{
    m_address = address;
    echoAnswer = QString::number(address) + CrLf;
}

QString CDeviceKx40::interfaceDescription() const
{
    return CDevice::interfaceDescription() + tr(" Adress: ") + QString::number(m_address);
}

void CDeviceKx40::send(const QString& line)
{
    CDevice::send(QLatin1Char('U') + QString::number(m_address) + line);
}

QString CDeviceKx40::withEcho(const QString& command, const QString& answer) const
{
    return m_echo ? QLatin1Char('U') + QString::number(m_address) + command + answer : answer;
}

QString CDeviceKx40::answerLine(const QString& answer) const
{
    return answer.split(CrLf).value(m_echo ? 1 : 0);
}

QString CDeviceKx40::afterEcho(const QString& answer) const
{
    return m_echo ? answer.mid(answer.indexOf(CrLf) + 2) : answer;
}

// ---------------------------------------------------------------------------------------------
// Results

bool CDeviceKx40::parseResult(const QString& line, Measurement& m, bool withStability)
{
    Q_UNUSED(withStability)
    QString text = line;
    // The echo in front of a result is the command line as this instrument got it, "U", the address
    // and the mnemonic, whatever the length of the address.
    if (m_echo && text.startsWith(QLatin1Char('U') + QString::number(m_address))) {
        const int end = text.indexOf(CrLf);
        if (end >= 0 && end + 2 < text.size()) {
            text.remove(0, end + 2);
        }
    }
    if (text.size() != ResultLineLength || !text.endsWith(CrLf)) {
        return false;
    }
    QString value = text.left(7);
    value.remove(QLatin1Char(' '));
    if (!isDecimal(value)) {
        return false;
    }
    bool ok = false;
    const double parsed = value.toDouble(&ok);
    if (!ok) {
        return false;
    }
    if (text.at(7) == QLatin1Char('k')) {
        m.unit = QStringLiteral("kg");
    } else if (text.at(8) == QLatin1Char('g') || text.at(8) == QLatin1Char('t') ||
               text.at(8) == QLatin1Char('d')) {
        m.unit = text.at(8);
    }
    const int point = value.indexOf(QLatin1Char('.'));
    m.value = parsed;
    m.decimals = point < 0 ? 0 : value.size() - 1 - point;
    // The line carries no stability mark: shown as such everywhere, never as a control character.
    m.stability = 'X';
    return true;
}

QString CDeviceKx40::requestResult(int command, const QString& line, char stability)
{
    m_currentCommand = command;
    QString answer;
    answerIsResult = true;
    int result = sendAndRead(line, &answer, lines(), ExchangeTimeoutMs, ExchangeAttempts);
    answerIsResult = false;
    Measurement m = newMeasurement();
    if (result == COMMAND_OK) {
        if (parseResult(answer, m, false)) {
            m.stability = stability;
        } else {
            result = COMMAND_FAILED;
        }
    }
    m_lastAnswer = answer;
    emit commandFinished(result, command, QVariant::fromValue(m));
    checkCommunication(result);
    return answer;
}

QString CDeviceKx40::stableResult()
{
    if (!threadGuard("stableResult") || !canSendNextCommand(COMMAND_STABLE_RESULT, "stableResult")) {
        return QString();
    }
    return requestResult(COMMAND_STABLE_RESULT, QStringLiteral("DWS\r\n"), 'S');
}

QString CDeviceKx40::result()
{
    if (!threadGuard("result") || !canSendNextCommand(COMMAND_RESULT, "result")) {
        return QString();
    }
    return requestResult(COMMAND_RESULT, QStringLiteral("DWY\r\n"), 'X');
}

QString CDeviceKx40::resultWithStb()
{
    if (!threadGuard("resultWithStb") || !canSendNextCommand(COMMAND_RESULT_WITH_STB, "resultWithStb")) {
        return QString();
    }
    return requestResult(COMMAND_RESULT_WITH_STB, QStringLiteral("DWY\r\n"), 'X');
}

void CDeviceKx40::sendSI()
{
    sendOneLine(COMMAND_SEND_SI, "sendSI", QStringLiteral("DWY\r\n"));
}

void CDeviceKx40::sendSx1()
{
    sendOneLine(COMMAND_SEND_Sx1, "sendSx1", QStringLiteral("DWY\r\n"));
}

void CDeviceKx40::sendSx3()
{
    sendOneLine(COMMAND_SEND_Sx3, "sendSx3", QStringLiteral("DWY\r\n"));
}

void CDeviceKx40::sendST()
{
    sendOneLine(COMMAND_SEND_ST, "sendST", QStringLiteral("TAR\r\n"));
}

void CDeviceKx40::sendSZ()
{
    sendOneLine(COMMAND_SEND_SZ, "sendSZ", QStringLiteral("ZER\r\n"));
}

void CDeviceKx40::sendSJ()
{
    sendOneLine(COMMAND_SEND_SJ, "sendSJ", QStringLiteral("UFW2\r\n"));
}

void CDeviceKx40::sendSW9()
{
    sendOneLine(COMMAND_SEND_SW9, "sendSW9", QStringLiteral("DNS\r\n"));
}

// ---------------------------------------------------------------------------------------------
// Tare, zero, echo and identity

int CDeviceKx40::tareOrZero(int command, const QString& mnemonic)
{
    setBusy(true);
    m_currentCommand = command;
    const QString line = mnemonic + CrLf;
    const int result = sendAndExpect(line, withEcho(line, Ok), lines(), TareTimeoutMs, TareAttempts);
    setBusy(false);
    emit commandFinished(result, command);
    checkCommunication(result);
    return result;
}

bool CDeviceKx40::tare()
{
    if (!threadGuard("tare") || !canSendNextCommand(COMMAND_TARE, "tare")) {
        return false;
    }
    qCDebug(lcDevice) << "virtual bool CDeviceKx40::tare()";
    return tareOrZero(COMMAND_TARE, QStringLiteral("TAR")) == COMMAND_OK;
}

bool CDeviceKx40::zero()
{
    if (!threadGuard("zero") || !canSendNextCommand(COMMAND_ZERO, "zero")) {
        return false;
    }
    return tareOrZero(COMMAND_ZERO, QStringLiteral("ZER")) == COMMAND_OK;
}

bool CDeviceKx40::checkEcho()
{
    if (!threadGuard("checkEcho") || !canSendNextCommand(COMMAND_CHECK_ECHO, "checkEcho")) {
        return false;
    }
    m_currentCommand = COMMAND_CHECK_ECHO;
    // An empty line first, so that the instrument's input holds nothing but the probe; an echoing
    // line returns it too.
    sendBytes(QByteArrayLiteral("\r\n"));
    QString answer;
    int result = sendAndRead(echoCommand, &answer, 2, EchoProbeTimeoutMs, 1);
    const QString echoedCommand = QLatin1Char('U') + QString::number(m_address) + echoCommand;
    if (answer == CrLf + echoedCommand + echoAnswer) {
        m_echo = true;
    } else if (answer.contains(echoedCommand + echoAnswer)) {
        // An instrument that echoes its commands but not the empty line: its whole answer is here.
        m_echo = true;
        result = COMMAND_OK;
    } else if (result == COMMAND_OK || result == COMMAND_TIMEOUT) {
        if (!answer.contains(echoCommand)) {
            if (answer.contains(echoAnswer)) {
                m_echo = false;
                result = COMMAND_OK;
            }
        } else {
            m_echo = true;
            QString more;
            result = waitForResponse(more, EchoFollowTimeoutMs) && more.contains(echoAnswer) ? COMMAND_OK
                                                                                             : COMMAND_FAILED;
        }
    }
    emit commandFinished(result, COMMAND_CHECK_ECHO);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDeviceKx40::readInfo()
{
    if (!threadGuard("readInfo") || !canSendNextCommand(COMMAND_READ_INFO, "readInfo")) {
        return false;
    }
    m_currentCommand = COMMAND_READ_INFO;
    QString answer;
    int result =
        sendAndRead(QStringLiteral("DNW\r\n"), &answer, lines(), FirmwareInfoTimeoutMs, ExchangeAttempts);
    m_lastAnswer = answer;
    if (result == COMMAND_OK) {
        m_model = QStringLiteral("KX40");
        m_firmware = answerLine(answer);
        result =
            sendAndRead(QStringLiteral("DNS\r\n"), &answer, lines(), ExchangeTimeoutMs, ExchangeAttempts);
        m_lastAnswer = answer;
        // A serial number is taken only from an answer: a silent instrument keeps the one it had.
        if (result == COMMAND_OK) {
            m_serialNumber = answerLine(answer);
            m_productionDate = QStringLiteral("Unavailable");
        }
    }
    const QString line = QStringLiteral("UFW2\r\n");
    result = sendAndExpect(line, withEcho(line, Ok), lines(), ExchangeTimeoutMs, ExchangeAttempts);
    if (result == COMMAND_OK &&
        QSettings().value(QLatin1String(AccessSetting)).toString() == QLatin1String(AccessCode)) {
        result = checkMode();
    }
    emit commandFinished(result, COMMAND_READ_INFO);
    checkCommunication(result);
    return result == COMMAND_OK;
}

int CDeviceKx40::checkMode()
{
    QString answer;
    int result =
        sendAndRead(QStringLiteral("UNS\r\n"), &answer, lines(), ExchangeTimeoutMs, ExchangeAttempts);
    // An empty serial number is contained in every answer: it proves nothing.
    if (!m_serialNumber.isEmpty() && answerLine(answer).contains(m_serialNumber)) {
        m_mode = ModeAdmin;
    } else {
        result =
            sendAndRead(QStringLiteral("ZKA\r\n"), &answer, lines(), ExchangeTimeoutMs, ExchangeAttempts);
        m_mode = answerLine(answer).contains(QLatin1String("E01")) ? ModeService : ModeUser;
    }
    emit commandFinished(result, COMMAND_CHECK_MODE, m_mode);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Added commands

bool CDeviceKx40::refuseBrokenText(int command, const QString& text)
{
    if (!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'))) {
        return false;
    }
    qCWarning(lcDevice) << commandName(command) << "refused: the text holds a line end";
    emit commandFinished(COMMAND_FAILED, command);
    return true;
}

bool CDeviceKx40::acknowledged(int command, const QString& line, bool thenCheckMode)
{
    m_currentCommand = command;
    QString answer;
    int result = sendAndRead(line, &answer, lines(), ExchangeTimeoutMs, ExchangeAttempts);
    m_lastAnswer = answer;
    // Looked for after the echo: an echoed password may itself hold "OK".
    if (result == COMMAND_OK && !afterEcho(answer).contains(Ok)) {
        result = COMMAND_FAILED;
    }
    emit commandFinished(result, command);
    if (thenCheckMode && result == COMMAND_OK) {
        result = checkMode();
    }
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDeviceKx40::sendFKD()
{
    if (!threadGuard("sendFKD") || !canSendNextCommand(COMMAND_SEND_FKD, "sendFKD")) {
        return false;
    }
    return acknowledged(COMMAND_SEND_FKD, QStringLiteral("FKD\r\n"), false);
}

bool CDeviceKx40::sendFKG(double m, QString unit)
{
    if (!threadGuard("sendFKG", Q_ARG(double, m), Q_ARG(QString, unit)) ||
        !canSendNextCommand(COMMAND_SEND_FKG, "sendFKG", Q_ARG(double, m), Q_ARG(QString, unit)) ||
        refuseBrokenText(COMMAND_SEND_FKG, unit)) {
        return false;
    }
    const QString unitPart = unit == QLatin1String("d") ? QString() : QLatin1Char(',') + unit;
    return acknowledged(COMMAND_SEND_FKG, QStringLiteral("FKG") + number(m) + unitPart + CrLf, false);
}

bool CDeviceKx40::setSerial(QString serial)
{
    if (!threadGuard("setSerial", Q_ARG(QString, serial)) ||
        !canSendNextCommand(COMMAND_SET_SERIAL, "setSerial", Q_ARG(QString, serial)) ||
        refuseBrokenText(COMMAND_SET_SERIAL, serial)) {
        return false;
    }
    m_currentCommand = COMMAND_SET_SERIAL;
    // "UNS" alone asks for the number; an empty one would be taken as set by any answer.
    if (serial.isEmpty()) {
        emit commandFinished(COMMAND_FAILED, COMMAND_SET_SERIAL);
        return false;
    }
    QString answer;
    sendAndRead(QStringLiteral("UNS") + serial + CrLf, &answer, lines(), ExchangeTimeoutMs, ExchangeAttempts);
    m_lastAnswer = answer;
    const int result = answerLine(answer).contains(serial) ? COMMAND_OK : COMMAND_FAILED;
    emit commandFinished(result, COMMAND_SET_SERIAL);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDeviceKx40::sendKFL()
{
    if (!threadGuard("sendKFL") || !canSendNextCommand(COMMAND_SEND_KFL, "sendKFL")) {
        return false;
    }
    return acknowledged(COMMAND_SEND_KFL, QStringLiteral("KFL\r\n"), false);
}

bool CDeviceKx40::enterService(QString password)
{
    if (!threadGuard("enterService", Q_ARG(QString, password)) ||
        !canSendNextCommand(COMMAND_ENTER_SERVICE, "enterService", Q_ARG(QString, password)) ||
        refuseBrokenText(COMMAND_ENTER_SERVICE, password)) {
        return false;
    }
    return acknowledged(COMMAND_ENTER_SERVICE, QStringLiteral("WES") + password + CrLf, true);
}

bool CDeviceKx40::leaveService()
{
    if (!threadGuard("leaveService") || !canSendNextCommand(COMMAND_LEAVE_SERVICE, "leaveService")) {
        return false;
    }
    return acknowledged(COMMAND_LEAVE_SERVICE, QStringLiteral("WYS\r\n"), true);
}

bool CDeviceKx40::enterAdmin(QString password)
{
    if (!threadGuard("enterAdmin", Q_ARG(QString, password)) ||
        !canSendNextCommand(COMMAND_ENTER_ADMIN, "enterAdmin", Q_ARG(QString, password)) ||
        refuseBrokenText(COMMAND_ENTER_ADMIN, password)) {
        return false;
    }
    return acknowledged(COMMAND_ENTER_ADMIN, QStringLiteral("WEA") + password + CrLf, true);
}

bool CDeviceKx40::leaveAdmin()
{
    if (!threadGuard("leaveAdmin") || !canSendNextCommand(COMMAND_LEAVE_ADMIN, "leaveAdmin")) {
        return false;
    }
    return acknowledged(COMMAND_LEAVE_ADMIN, QStringLiteral("WYA\r\n"), true);
}

bool CDeviceKx40::sendUWA(QString unit, double min, double max)
{
    if (!threadGuard("sendUWA", Q_ARG(QString, unit), Q_ARG(double, min), Q_ARG(double, max)) ||
        !canSendNextCommand(COMMAND_SEND_UWA, "sendUWA", Q_ARG(QString, unit), Q_ARG(double, min),
                            Q_ARG(double, max)) ||
        refuseBrokenText(COMMAND_SEND_UWA, unit)) {
        return false;
    }
    const QString line =
        QStringLiteral("UWA") + unit + QLatin1Char(',') + number(min) + QLatin1Char(',') + number(max) + CrLf;
    return acknowledged(COMMAND_SEND_UWA, line, false);
}

bool CDeviceKx40::setAddress(int address)
{
    if (!threadGuard("setAddress", Q_ARG(int, address)) ||
        !canSendNextCommand(COMMAND_SET_ADDRESS, "setAddress", Q_ARG(int, address))) {
        return false;
    }
    m_currentCommand = COMMAND_SET_ADDRESS;
    int result = COMMAND_FAILED;
    QString answer;
    if (address >= 0) {
        // Is anybody at the new address already? Two instruments at one address would answer together.
        const int old = m_address;
        m_address = address;
        sendAndRead(echoCommand, &answer, lines(), AddressProbeTimeoutMs, AddressProbeAttempts);
        m_address = old;
    }
    if (address < 0 || answer.contains(QString::number(address) + CrLf)) {
        qCDebug(lcDevice) << interfaceDescription() << "address" << address << "is not free";
    } else {
        result = sendAndRead(QStringLiteral("ZAD") + QString::number(address) + CrLf, &answer, lines(),
                             ExchangeTimeoutMs, ExchangeAttempts);
        m_lastAnswer = answer;
        if (result == COMMAND_OK && !afterEcho(answer).contains(Ok)) {
            result = COMMAND_FAILED;
        }
        if (result == COMMAND_OK) {
            setAddressValue(address);
            readInfo();
        }
    }
    emit commandFinished(result, COMMAND_SET_ADDRESS);
    checkCommunication(result);
    return result == COMMAND_OK;
}
