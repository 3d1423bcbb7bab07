#include "device/cdeviceold.h"

#include "interface/cinterface.h"
#include "platform/logcategories.h"

CDeviceOld::CDeviceOld(QObject* parent) : CDevice(parent)
{
    echoCommand = QStringLiteral("SJ\r\n");
    m_deviceType = 1;
}

bool CDeviceOld::setBaudRate(int baudRate)
{
    // Another instrument may answer at the new rate.
    m_protocolMode = ModeUnknown;
    return CDevice::setBaudRate(baudRate);
}

bool CDeviceOld::checkEcho()
{
    if (!threadGuard("checkEcho") || !canSendNextCommand(COMMAND_CHECK_ECHO, "checkEcho")) {
        return false;
    }
    if (m_protocolMode == ModeCurrent) {
        return CDevice::checkEcho();
    }
    if (m_protocolMode == ModeOlder) {
        emit commandFinished(COMMAND_OK, COMMAND_CHECK_ECHO);
        return !resultWithStb().isEmpty();
    }
    m_currentCommand = COMMAND_CHECK_ECHO;
    QString answer;
    int result = sendAndRead(echoCommand, &answer, 1, ProbeEchoTimeoutMs, 1);
    if (result == COMMAND_OK && answer.contains(echoAnswer)) {
        m_protocolMode = ModeCurrent;
    } else {
        if (result == COMMAND_OK) {
            result = COMMAND_FAILED;
        }
        // No echo command: an older instrument still answers a plain result request.
        if (!resultWithStb().isEmpty()) {
            m_protocolMode = ModeOlder;
            result = COMMAND_OK;
        }
    }
    emit commandFinished(result, COMMAND_CHECK_ECHO);
    checkCommunication(result);
    return result == COMMAND_OK;
}

QString CDeviceOld::resultWithStb()
{
    if (!threadGuard("resultWithStb") || !canSendNextCommand(COMMAND_RESULT_WITH_STB, "resultWithStb")) {
        return QString();
    }
    m_currentCommand = COMMAND_RESULT_WITH_STB;
    const QString request =
        m_protocolMode == ModeCurrent ? QStringLiteral("Sx3\r\n") : QStringLiteral("Sx1\r\n");
    QString answer;
    answerIsResult = true;
    const int result = sendAndRead(request, &answer, 1, OldResultTimeoutMs, OldResultAttempts);
    answerIsResult = false;
    if (m_protocolMode == ModeUnknown) {
        m_protocolMode = answer.isEmpty() ? ModeOlder : ModeCurrent;
    }
    return finishResultWithStb(result, answer, m_protocolMode == ModeCurrent);
}

bool CDeviceOld::readInfo()
{
    if (!threadGuard("readInfo") || !canSendNextCommand(COMMAND_READ_INFO, "readInfo")) {
        return false;
    }
    m_currentCommand = COMMAND_READ_INFO;
    setBusy(true);
    filterResultLines = true;
    QString identity;
    const int infoResult =
        sendAndRead(QStringLiteral("SW9\r\n"), &identity, 4, OldInfoTimeoutMs, OldInfoAttempts);
    filterResultLines = false;
    if (infoResult == COMMAND_OK) {
        const QStringList pieces = identity.split(QStringLiteral("\r\n"));
        if (pieces.size() > 3) {
            m_model = pieces.at(0);
            m_serialNumber = pieces.at(1);
            m_productionDate = pieces.at(2);
            m_firmware = pieces.at(3);
        }
    }
    // An older instrument without the identity command still passes when it answers a result.
    QString answer;
    int result = sendAndReadResult(QStringLiteral("Sx1\r\n"), answer, ResultTimeoutMs, InfoResultAttempts);
    Measurement m;
    if (result == COMMAND_OK && !parseResult(answer, m, false)) {
        result = COMMAND_FAILED;
        const QString unknown = QStringLiteral("Unknown");
        m_model = unknown;
        m_serialNumber = unknown;
        m_productionDate = unknown;
        m_firmware = unknown;
    }
    m_lastAnswer = answer;
    setBusy(false);
    emit commandFinished(result, COMMAND_READ_INFO);
    // Results the instrument streamed after the answer.
    dispatchReceived();
    checkCommunication(result);
    return result == COMMAND_OK;
}

bool CDeviceOld::checkCommunication(int result)
{
    if (!m_checkConnection || result != COMMAND_TIMEOUT) {
        return true;
    }
    if (m_protocolMode == ModeCurrent) {
        return CDevice::checkCommunication(COMMAND_TIMEOUT);
    }
    if (m_protocolMode == ModeOlder) {
        // An older instrument has no echo to probe with: it is never dropped by this check.
        return true;
    }
    if (sendAndRead(echoCommand, nullptr, 1, CheckTimeoutMs, CheckAttempts) == COMMAND_TIMEOUT) {
        qCDebug(lcDevice) << interfaceDescription();
        m_protocolMode = ModeOlder;
    } else {
        m_protocolMode = ModeCurrent;
    }
    return true;
}
