// Reading the instrument's alibi memory record by record.
#include "device/cdevice.h"

#include "platform/logcategories.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

#include <cmath>

namespace {
const QString AlibiHeader =
    QStringLiteral("REC_ID;DATE;TIME;NUM;USER_ID;PROD_ID;NET;GROSS;TARE;UNIT;POINT;STB");
const QString Marker = QStringLiteral("Malibi");
constexpr int MarkerCut = 100;
constexpr int RecordFields = 12;
// Identifiers as the instrument's tables hold them.
constexpr int MaxIdLength = 32;

bool matches(const char* pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern)))
        .match(text)
        .hasMatch();
}

// A garbled line still splits into twelve fields; only each field's form tells an altered character.
bool toCount(const QString& text, qint32& value)
{
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && matches("[0-9]+", text);
}

bool toMass(const QString& text, double& value)
{
    const QString mass = text.trimmed();
    bool ok = false;
    value = mass.toDouble(&ok);
    return ok && std::isfinite(value) && matches("[+-]?[0-9]+(\\.[0-9]+)?", mass);
}

// Any printable text the instrument's tables can hold.
bool isId(const QString& text)
{
    return text.size() <= MaxIdLength && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
               return c.isPrint() && c != QChar::ReplacementCharacter;
           });
}

// What identifiers are mostly made of. Other marks may be the instrument's own or a garbled
// character: a record that holds one is taken only when a second answer reads the same.
bool isPlainId(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('-') ||
               c == QLatin1Char('_') || c == QLatin1Char('.') || c == QLatin1Char('/');
    });
}

bool isKnownUnit(const QString& unit)
{
    static const QStringList units{"g",   "kg", "mg", "ug", "\u00b5g", "t",   "ct", "lb", "oz",  "ozt",
                                   "dwt", "gn", "gr", "tl", "mom",     "msg", "N",  "kN", "pcs", "%"};
    return units.contains(unit, Qt::CaseInsensitive);
}

// "2024-02-30" has the form of a date but is none; both are checked.
bool toDate(const QString& text, QDate& date)
{
    date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() && matches("[0-9]{4}-[0-9]{2}-[0-9]{2}", text);
}

bool toTime(const QString& text, QTime& time)
{
    time = QTime::fromString(text, QStringLiteral("hh:mm:ss"));
    return time.isValid() && matches("[0-9]{2}:[0-9]{2}:[0-9]{2}", text);
}

// The name of the first field that does not have its form; empty when the record is whole.
QString recordFault(const QStringList& fields, AlibiRecord& r)
{
    bool pointOk = false;
    r.point = fields.at(10).toShort(&pointOk, 10);
    // The line's terminator stays on the last field.
    QString stb = fields.at(11);
    while (stb.endsWith(QLatin1Char('\n')) || stb.endsWith(QLatin1Char('\r'))) {
        stb.chop(1);
    }
    r.stb = stb == QLatin1String("1");
    r.userId = fields.at(4);
    r.prodId = fields.at(5);
    r.unit = fields.at(9).trimmed();
    const std::pair<const char*, bool> checks[] = {
        {"REC_ID", toCount(fields.at(0), r.recId)},
        {"DATE", toDate(fields.at(1), r.date)},
        {"TIME", toTime(fields.at(2), r.time)},
        {"NUM", toCount(fields.at(3), r.num)},
        {"USER_ID", isId(r.userId)},
        {"PROD_ID", isId(r.prodId)},
        {"NET", toMass(fields.at(6), r.net)},
        {"GROSS", toMass(fields.at(7), r.gross)},
        {"TARE", toMass(fields.at(8), r.tare)},
        {"UNIT", isKnownUnit(r.unit)},
        {"POINT", pointOk && matches("[0-9]+", fields.at(10))},
        {"STB", r.stb || stb == QLatin1String("0")},
    };
    for (const auto& [name, ok] : checks) {
        if (!ok) {
            return QLatin1String(name);
        }
    }
    return QString();
}
} // namespace

int CDevice::reportedRecords(const QStringList& startPieces)
{
    // Beside the count the start answer names the first and the last record's number ("FIRST:1",
    // "LAST:1020"); the records between them are the ones the instrument holds.
    qint32 first = 1;
    qint32 last = -1;
    for (int i = 2; i < startPieces.size(); ++i) {
        const QString& piece = startPieces.at(i);
        const int colon = piece.indexOf(QLatin1Char(':'));
        qint32 number = 0;
        if (colon < 0 || !toCount(piece.mid(colon + 1).trimmed(), number)) {
            continue;
        }
        const QString name = piece.left(colon).trimmed();
        if (name.compare(QLatin1String("FIRST"), Qt::CaseInsensitive) == 0) {
            first = number;
        } else if (name.compare(QLatin1String("LAST"), Qt::CaseInsensitive) == 0) {
            last = number;
        }
    }
    if (last < 0 || first < 1 || last < first) {
        return -1;
    }
    return last - first + 1;
}

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
        result.fault = QStringLiteral("%1 fields").arg(fields.size());
        return result;
    }
    result.fault = recordFault(fields, result.record);
    result.parsed = result.fault.isEmpty();
    result.confirm = result.parsed && !(isPlainId(result.record.userId) && isPlainId(result.record.prodId));
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
    const int reported = reportedRecords(pieces);

    int position = 1;
    int repeats = 0;
    bool lastFailed = false;
    bool endSeen = false;
    // The answer of a record that waits for a second reading the same.
    QString unconfirmed;
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
            qCDebug(lcDevice) << "found 'Malibi': this is the last record";
        }
        if (!parsed.parsed && !parsed.markerOnly) {
            qCDebug(lcDevice) << "record" << position << "asked again:" << parsed.fault << answer;
        }
        if (parsed.confirm && answer != unconfirmed) {
            qCDebug(lcDevice) << "record" << position << "asked again to confirm its identifiers:" << answer;
            unconfirmed = answer;
            lastFailed = true;
            continue;
        }
        if (parsed.parsed) {
            emit readingAlibiProgress(count, position, parsed.record);
            ++position;
            unconfirmed.clear();
        }
        lastFailed = !parsed.parsed;
        // A last record that did not parse is asked for again: only the bare marker ends the reading
        // without a record.
        if (parsed.last && (parsed.parsed || parsed.markerOnly)) {
            endSeen = true;
            break;
        }
    }
    // The instrument is read as far as it announced; when it numbers more records than that, the
    // reader must not take the announced ones for the whole memory.
    if (!stopAlibi && !endSeen && reported > count) {
        const QString warning = QStringLiteral("the instrument announced %1 records but reports %2; "
                                               "only the %1 announced were read")
                                    .arg(count)
                                    .arg(reported);
        qCWarning(lcDevice) << warning;
        emit readingAlibiWarning(warning);
    }
    qCDebug(lcDevice) << "end: sending 'Salibistop'";
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
