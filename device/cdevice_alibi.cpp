// Reading the instrument's alibi memory record by record.
#include "device/cdevice.h"

#include "platform/logcategories.h"

#include <QStringList>

#include <cmath>

namespace {
const QString AlibiHeader =
    QStringLiteral("REC_ID;DATE;TIME;NUM;USER_ID;PROD_ID;NET;GROSS;TARE;UNIT;POINT;STB");
const QString Marker = QStringLiteral("Malibi");
constexpr int MarkerCut = 100;
constexpr int RecordFields = 12;

bool toMass(const QString& text, double& value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}
} // namespace

CDevice::AlibiAnswer CDevice::parseAlibiAnswer(QString answer)
{
    AlibiAnswer result;
    const int marker = answer.indexOf(Marker);
    if (marker >= 0) {
        answer.remove(marker, MarkerCut);
        result.last = true;
        result.markerOnly = answer.trimmed().isEmpty();
    }
    const QStringList fields = answer.split(QLatin1Char(';'));
    if (fields.size() != RecordFields) {
        return result;
    }
    AlibiRecord& r = result.record;
    bool ok[5] = {};
    r.recId = fields.at(0).toInt(&ok[0], 10);
    r.date = QDate::fromString(fields.at(1), QStringLiteral("yyyy-MM-dd"));
    r.time = QTime::fromString(fields.at(2), QStringLiteral("hh:mm:ss"));
    r.num = fields.at(3).toInt(&ok[1], 10);
    r.userId = fields.at(4);
    r.prodId = fields.at(5);
    r.unit = fields.at(9).trimmed();
    r.point = fields.at(10).toShort(&ok[2], 10);
    r.stb = fields.at(11).contains(QLatin1Char('1'));
    ok[3] = toMass(fields.at(6), r.net) && toMass(fields.at(7), r.gross);
    ok[4] = toMass(fields.at(8), r.tare);
    result.parsed = r.date.isValid() && r.time.isValid() && ok[0] && ok[1] && ok[2] && ok[3] && ok[4];
    if (!result.parsed) {
        result.record = AlibiRecord();
    }
    return result;
}

bool CDevice::readAlibiMemory()
{
    if (!threadGuard("readAlibiMemory") || !canSendNextCommand(COMMAND_READ_ALIBI, "readAlibiMemory")) {
        return false;
    }
    m_currentCommand = COMMAND_READ_ALIBI;
    setBusy(true);
    stopAlibi = false;

    QString answer;
    const int started =
        sendAndRead(QStringLiteral("Salibiprn\r\n"), &answer, AlibiStartLines, AlibiTimeoutMs, AlibiAttempts);
    m_lastAnswer = answer;
    if (started != COMMAND_OK) {
        finishAlibiReading(0);
        checkCommunication(started);
        return false;
    }
    const QStringList pieces = answer.split(QStringLiteral("\r\n"));
    const int colon = pieces.constFirst().indexOf(QLatin1Char(':'));
    bool countRead = false;
    const int count = colon < 0 ? 0 : pieces.constFirst().mid(colon + 1).toInt(&countRead, 10);
    // A count that cannot be read is no empty memory: the reading fails rather than reporting none.
    if (pieces.size() < AlibiStartLines || !countRead || count < 0 || pieces.at(1) != AlibiHeader) {
        qCWarning(lcDevice) << "bad start answer" << answer;
        finishAlibiReading(0);
        return false;
    }
    qCDebug(lcDevice) << "record_count = " << count;

    int position = 1;
    int repeats = 0;
    bool lastFailed = false;
    while (position <= count && !stopAlibi) {
        int result;
        if (!lastFailed) {
            repeats = 0;
            result = sendAndRead(QStringLiteral("Salibinext\r\n"), &answer, 1, AlibiTimeoutMs, AlibiAttempts);
        } else if (++repeats > AlibiMaxRepeats) {
            qCDebug(lcDevice) << "repeat_count > 3";
            finishAlibiReading(0);
            return false;
        } else {
            result = sendAndRead(QStringLiteral("Salibirep\r\n"), &answer, 1, AlibiTimeoutMs, AlibiAttempts);
        }
        if (result != COMMAND_OK) {
            qCDebug(lcDevice) << "r != COMMAND_OK";
            finishAlibiReading(0);
            checkCommunication(result);
            return false;
        }
        const AlibiAnswer parsed = parseAlibiAnswer(answer);
        if (parsed.last) {
            qCDebug(lcDevice) << "znalazlem 'Malibi' tzn ze to ostatni record";
        }
        if (parsed.parsed) {
            emit readingAlibiProgress(count, position, parsed.record);
            ++position;
        }
        lastFailed = !parsed.parsed;
        // A last record that did not parse is asked for again: only the bare marker ends the reading
        // without a record.
        if (parsed.last && (parsed.parsed || parsed.markerOnly)) {
            break;
        }
    }
    qCDebug(lcDevice) << "koniec: wysylam 'Salibistop'";
    finishAlibiReading(1);
    return true;
}

void CDevice::finishAlibiReading(int result)
{
    sendAndExpect(QStringLiteral("Salibistop\r\n"), QStringLiteral("Malibistop\r\n"), 1, AlibiTimeoutMs,
                  AlibiStopAttempts);
    setBusy(false);
    emit readingAlibiFinished(result);
}

bool CDevice::stopReadingAlibiMemory()
{
    if (!threadGuard("stopReadingAlibiMemory")) {
        return false;
    }
    stopAlibi = true;
    return true;
}
