// The data exchange of CDevice: EEPROM image, compensation table, message, clock and the users and
// products tables. The engine they run on is in cdevice.cpp.
#include "device/cdevice.h"

#include "device/cproductsdatabase.h"
#include "device/cusersdatabase.h"
#include "device/eepromimage.h"
#include "platform/logcategories.h"

#include <QFile>
#include <QTimer>

namespace {
const QString CrLf = QStringLiteral("\r\n");
const QString DateTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
// Some instruments answer the clock request with two blanks and an hour without leading zero.
const QString ShortHourFormat = QStringLiteral("yyyy-MM-dd  h:mm:ss");
const QString EepromTerminator = QStringLiteral("ME?\r\n");
const QString EepromMarker = QStringLiteral("EEPROM:");

constexpr int EepromTimeoutMs = 2000;
constexpr int EepromAttempts = 3;
constexpr int EepromAnswerLines = 3;
// A dump that sends nothing for this long has stopped; the device must not stay busy for good.
constexpr int EepromIdleMs = 5000;
constexpr int CompensationTimeoutMs = 2000;
constexpr int CompensationAttempts = 3;
constexpr int MessageTimeoutMs = 1500;
constexpr int MessageAttempts = 2;
constexpr int ClockReadTimeoutMs = 2000;
constexpr int ClockReadAttempts = 3;
constexpr int TableTimeoutMs = 1500;
constexpr int TableAttempts = 2;
constexpr int TableCloseTimeoutMs = 2000;

// Parameter codes of the 15 compensation values, in list order.
const char* const CompensationCodes[] = {"009", "010", "011", "012", "013", "019", "020", "021",
                                         "022", "023", "014", "015", "016", "017", "018"};
constexpr int CompensationValues = 15;
} // namespace

// ---------------------------------------------------------------------------------------------
// EEPROM

bool CDevice::setEEPROM(QString filePath)
{
    if (!threadGuard("setEEPROM", Q_ARG(QString, filePath)) ||
        !canSendNextCommand(COMMAND_SET_EEPROM, "setEEPROM", Q_ARG(QString, filePath))) {
        return false;
    }
    m_currentCommand = COMMAND_SET_EEPROM;
    setBusy(true);
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcDevice) << "Failed to open" << filePath;
        setBusy(false);
        return false;
    }
    // The whole file is checked first: a line that is not part of a dump would reach the instrument
    // as a command, and an image stopped halfway leaves its EEPROM half written.
    EepromImage image;
    if (!image.parse(file.readAll())) {
        const QString reason =
            QStringLiteral("%1 line %2: %3").arg(filePath).arg(image.errorLine()).arg(image.error());
        qCWarning(lcDevice) << reason;
        setBusy(false);
        emit commandFinished(COMMAND_FAILED, COMMAND_SET_EEPROM, reason);
        return false;
    }
    for (const QString& line : image.lines()) {
        const int result =
            sendAndExpect(line + CrLf, QStringLiteral("MEW\r\n"), 1, EepromTimeoutMs, EepromAttempts);
        if (result != COMMAND_OK) {
            emit commandFinished(result, COMMAND_SET_EEPROM);
            setBusy(false);
            return false;
        }
    }
    setBusy(false);
    emit commandFinished(COMMAND_OK, COMMAND_SET_EEPROM);
    return true;
}

bool CDevice::getEEPROM()
{
    if (!threadGuard("getEEPROM") || !canSendNextCommand(COMMAND_GET_EEPROM, "getEEPROM")) {
        return false;
    }
    m_currentCommand = COMMAND_GET_EEPROM;
    qCDebug(lcDevice) << interfaceDescription();
    QString answer;
    if (sendAndRead(QStringLiteral("SE?\r\n"), &answer, EepromAnswerLines, EepromTimeoutMs, EepromAttempts) !=
        COMMAND_OK) {
        return false;
    }
    setBusy(true);
    armEepromObserver();
    // The dump may follow its answer in the same burst: what comes after the answer's lines (or from
    // the dump's first line on) is dispatched like any received line, so that none of it is lost.
    int end = 0;
    for (int lines = 0; lines < EepromAnswerLines; ++lines) {
        const int lf = answer.indexOf(QLatin1Char('\n'), end);
        if (lf < 0 || answer.midRef(end, lf + 1 - end).contains(EepromMarker)) {
            break;
        }
        end = lf + 1;
    }
    if (end < answer.size()) {
        appendToReceiveBuffer(answer.mid(end));
    }
    return true;
}

void CDevice::armEepromObserver()
{
    if (!m_eepromTimer) {
        m_eepromTimer = new QTimer(this);
        m_eepromTimer->setSingleShot(true);
        m_eepromTimer->setInterval(EepromIdleMs);
        connect(m_eepromTimer, &QTimer::timeout, this, [this] {
            qCWarning(lcDevice) << interfaceDescription() << "no EEPROM line for" << EepromIdleMs << "ms";
            finishEepromReading(COMMAND_TIMEOUT);
        });
    }
    disconnect(m_eepromObserver);
    readingEeprom = false;
    m_eepromArmed = true;
    m_eepromObserver = connect(this, &CDevice::lineReceived, this, [this](const QString& line) {
        if (line.contains(EepromMarker)) {
            readingEeprom = true;
        }
    });
    m_eepromTimer->start();
}

bool CDevice::takeEepromLine(const QString& line)
{
    if (!m_eepromArmed) {
        return false;
    }
    m_eepromTimer->start();
    if (line == EepromTerminator) {
        // The terminator itself still goes out as an ordinary line.
        finishEepromReading(COMMAND_OK);
        return false;
    }
    if (!readingEeprom) {
        return false;
    }
    emit eepromReceived(line);
    return true;
}

void CDevice::finishEepromReading(int result)
{
    m_eepromArmed = false;
    disconnect(m_eepromObserver);
    m_eepromTimer->stop();
    readingEeprom = false;
    setBusy(false);
    emit readingEEPROMFinished(result);
    // A command held back by the dump runs now that the line is free.
    if (delayedCommand.method) {
        QTimer::singleShot(DelayedCommandMs, this, &CDevice::invokeDelayedCommand);
    }
}

// ---------------------------------------------------------------------------------------------
// Compensation

bool CDevice::getCompensation()
{
    if (!threadGuard("getCompensation") || !canSendNextCommand(COMMAND_GET_COMPENSATION, "getCompensation")) {
        return false;
    }
    m_currentCommand = COMMAND_GET_COMPENSATION;
    qCDebug(lcDevice) << interfaceDescription();
    QString answer;
    const int result =
        sendAndRead(QStringLiteral("SW3\r\n"), &answer, 3, CompensationTimeoutMs, CompensationAttempts);
    QVariantList values;
    if (result == COMMAND_OK) {
        for (const QString& line : answer.split(CrLf, Qt::SkipEmptyParts)) {
            qCDebug(lcDevice) << line;
            const QStringList fields = line.split(QLatin1Char('\t'));
            if (fields.size() > 4) {
                values << fields.at(0).toInt() << fields.at(1).toInt() << fields.at(2).toDouble()
                       << fields.at(3).toDouble() << fields.at(4).toInt();
            }
        }
    }
    emit commandFinished(result, COMMAND_GET_COMPENSATION, values);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDevice::setCompensation(QVariantList values)
{
    if (!threadGuard("setCompensation", Q_ARG(QVariantList, values)) ||
        !canSendNextCommand(COMMAND_SET_COMPENSATION, "setCompensation", Q_ARG(QVariantList, values))) {
        return false;
    }
    m_currentCommand = COMMAND_SET_COMPENSATION;
    setBusy(true);
    qCDebug(lcDevice) << interfaceDescription() << values;
    if (values.size() != CompensationValues) {
        setBusy(false);
        return false;
    }
    QStringList texts;
    for (int i = 0; i < CompensationValues; ++i) {
        texts << values.at(i).toString();
        if (texts.last().isEmpty() || CDatabase::breaksLine(texts.last())) {
            const QString reason = QStringLiteral("value %1: not a one-line number").arg(i + 1);
            qCWarning(lcDevice) << reason;
            setBusy(false);
            emit commandFinished(COMMAND_FAILED, COMMAND_SET_COMPENSATION, reason);
            return false;
        }
    }
    for (int i = 0; i < CompensationValues; ++i) {
        const QString line = QStringLiteral("SEF") + QLatin1String(CompensationCodes[i]) + texts.at(i) + CrLf;
        const int result =
            sendAndExpect(line, QStringLiteral("MEF\r\n"), 1, CompensationTimeoutMs, CompensationAttempts);
        if (result != COMMAND_OK) {
            setBusy(false);
            emit commandFinished(result, COMMAND_SET_COMPENSATION);
            checkCommunication(result);
            return false;
        }
    }
    setBusy(false);
    emit commandFinished(COMMAND_OK, COMMAND_SET_COMPENSATION);
    checkCommunication(COMMAND_OK);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Message and clock

bool CDevice::message(QString message, int time_sek)
{
    if (!threadGuard("message", Q_ARG(QString, message), Q_ARG(int, time_sek)) ||
        !canSendNextCommand(COMMAND_MESSAGE, "message", Q_ARG(QString, message), Q_ARG(int, time_sek))) {
        return false;
    }
    m_currentCommand = COMMAND_MESSAGE;
    time_sek = qBound(1, time_sek, 99);
    if (CDatabase::breaksLine(message)) {
        qCWarning(lcDevice) << "a line break inside the message";
        emit commandFinished(COMMAND_FAILED, COMMAND_MESSAGE, QVariant(), message, time_sek);
        return false;
    }
    const QString line = QStringLiteral("SN%1").arg(time_sek, 2, 10, QLatin1Char('0')) + message + CrLf;
    const int result = sendAndExpect(line, QStringLiteral("MN\r\n"), 1, MessageTimeoutMs, MessageAttempts);
    emit commandFinished(result, COMMAND_MESSAGE, QVariant(), message, time_sek);
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDevice::setDateTime(QDateTime dt)
{
    if (!threadGuard("setDateTime", Q_ARG(QDateTime, dt)) ||
        !canSendNextCommand(COMMAND_SET_DATE_TIME, "setDateTime", Q_ARG(QDateTime, dt))) {
        return false;
    }
    m_currentCommand = COMMAND_SET_DATE_TIME;
    const QString text = dt.toString(DateTimeFormat);
    // An invalid date-time formats as nothing, and a year outside four digits as another length.
    if (!dt.isValid() || text.size() != DateTimeFormat.size()) {
        qCWarning(lcDevice) << "not a date and time the instrument can take:" << dt;
        emit commandFinished(COMMAND_FAILED, COMMAND_SET_DATE_TIME, QVariant(), dt);
        return false;
    }
    const int result = sendAndExpect(QStringLiteral("Sd&t") + text + CrLf, QStringLiteral("Md&t\r\n"), 1,
                                     MessageTimeoutMs, MessageAttempts);
    emit commandFinished(result, COMMAND_SET_DATE_TIME, QVariant(), dt);
    checkCommunication(result);
    return result == COMMAND_OK;
}

QDateTime CDevice::getDateTime()
{
    if (!threadGuard("getDateTime") || !canSendNextCommand(COMMAND_GET_DATE_TIME, "getDateTime")) {
        return QDateTime();
    }
    m_currentCommand = COMMAND_GET_DATE_TIME;
    QString answer;
    int result = sendAndRead(QStringLiteral("Sd&t?\r\n"), &answer, 1, ClockReadTimeoutMs, ClockReadAttempts);
    m_lastAnswer = answer;
    QDateTime dt;
    if (result == COMMAND_OK) {
        const QString text = answer.trimmed();
        dt = QDateTime::fromString(text, DateTimeFormat);
        if (!dt.isValid()) {
            dt = QDateTime::fromString(text, ShortHourFormat);
        }
        if (!dt.isValid()) {
            result = COMMAND_FAILED;
        }
    }
    emit commandFinished(result, COMMAND_GET_DATE_TIME, dt);
    checkCommunication(result);
    return dt;
}

// ---------------------------------------------------------------------------------------------
// Users and products tables

bool CDevice::setUsers(QVector<UserRecord> users)
{
    const QArgument<QVector<UserRecord>> argument("QVector<UserRecord>", users);
    if (!threadGuard("setUsers", argument) || !canSendNextCommand(COMMAND_SET_USERS, "setUsers", argument)) {
        return false;
    }
    m_currentCommand = COMMAND_SET_USERS;
    setBusy(true);
    return sendDB(CUsersDatabase(users), COMMAND_SET_USERS);
}

bool CDevice::setProducts(QVector<ProductRecord> products)
{
    const QArgument<QVector<ProductRecord>> argument("QVector<ProductRecord>", products);
    if (!threadGuard("setProducts", argument) ||
        !canSendNextCommand(COMMAND_SET_PRODUCTS, "setProducts", argument)) {
        return false;
    }
    m_currentCommand = COMMAND_SET_PRODUCTS;
    setBusy(true);
    return sendDB(CProductsDatabase(products), COMMAND_SET_PRODUCTS);
}

bool CDevice::sendDB(const CDatabase& db, int command)
{
    const QString unsafe = db.unsafeText();
    if (!unsafe.isEmpty()) {
        qCWarning(lcDevice) << unsafe;
        setBusy(false);
        emit commandFinished(COMMAND_FAILED, command, unsafe);
        return false;
    }
    const auto close = [this] {
        sendAndExpect(QStringLiteral("Se\r\n"), QStringLiteral("Me\r\n"), 1, TableCloseTimeoutMs,
                      TableAttempts);
    };
    const auto fail = [this, &close](int result) {
        close();
        setBusy(false);
        emit commandFinished(result, COMMAND_UNKNOWN);
        checkCommunication(result);
        return false;
    };
    int result = sendAndExpect(db.startCommand(), db.startAcknowledge(), 1, TableTimeoutMs, TableAttempts);
    if (result != COMMAND_OK) {
        return fail(result);
    }
    qCDebug(lcDevice) << "confirmation received";
    for (int i = 0; i < db.count(); ++i) {
        result = sendAndExpect(db.recordLine(i), QStringLiteral("Mr\r\n"), 1, TableTimeoutMs, TableAttempts);
        if (result != COMMAND_OK) {
            return fail(result);
        }
    }
    close();
    setBusy(false);
    emit commandFinished(COMMAND_OK, command);
    return true;
}
