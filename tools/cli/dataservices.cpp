#include "dataservices.h"
#include "clioutput.h"
#include "instrumentsession.h"

#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdeviceold.h"
#include "device/cproductsdatabase.h"
#include "device/cusersdatabase.h"
#include "device/eepromimage.h"
#include "device/srecordfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

using CliOutput::csvField;
using CliOutput::fail;
using CliOutput::out;

const QString ClockFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
constexpr int CompensationValues = 15;
constexpr int ProgressBarWidth = 40;
constexpr int UTF8Mib = 106;

const QStringList UserFields{QStringLiteral("number"), QStringLiteral("text1"), QStringLiteral("text2")};
const QStringList ProductFields{QStringLiteral("number"),       QStringLiteral("text1"),
                                QStringLiteral("text2"),        QStringLiteral("text3"),
                                QStringLiteral("integerValue"), QStringLiteral("value1"),
                                QStringLiteral("value2"),       QStringLiteral("value3")};
const QString AlibiCsvHeader =
    QStringLiteral("rec_id,date,time,num,user_id,prod_id,net,gross,tare,unit,point,stable\n");

// A progress line, rewritten in place.
void progress(const QString& line)
{
    std::fprintf(stderr, "\r%s", qPrintable(line));
    std::fflush(stderr);
}

// Splits one CSV line; false when a quote is left open or text follows a closing quote. Unquoted
// fields lose their surrounding blanks.
bool splitCsvLine(const QString& line, QChar delimiter, QStringList* fields)
{
    fields->clear();
    QString field;
    bool inQuotes = false;
    bool wasQuoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (inQuotes) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else {
                inQuotes = false;
            }
        } else if (c == delimiter) {
            *fields << (wasQuoted ? field : field.trimmed());
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty() && !wasQuoted) {
            field.clear();
            inQuotes = true;
            wasQuoted = true;
        } else if (wasQuoted) {
            if (!c.isSpace()) {
                return false;
            }
        } else {
            field += c;
        }
    }
    *fields << (wasQuoted ? field : field.trimmed());
    return !inQuotes;
}

// The rows of a CSV table with its columns put in the order of names, each with its line number.
struct CsvRow
{
    int line = 0;
    QStringList fields;
};

// Why the bytes are no UTF-8 text, with the line at fault; empty when they are. A NUL, which no text
// holds, is how a binary or UTF-16 file shows, and would otherwise end the text where it stands.
QString notUtf8Text(const QByteArray& bytes, int* line)
{
    QTextCodec* utf8 = QTextCodec::codecForMib(UTF8Mib);
    int start = 0;
    for (*line = 1; start <= bytes.size(); ++*line) {
        int end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end;
        const QByteArray text = QByteArray::fromRawData(bytes.constData() + start, end - start);
        if (text.contains('\0')) {
            return QStringLiteral("a NUL byte");
        }
        QTextCodec::ConverterState state;
        utf8->toUnicode(text.constData(), text.size(), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0) {
            return QStringLiteral("bytes that are not UTF-8");
        }
        start = end + 1;
    }
    return QString();
}

bool readCsv(const QString& path, const QStringList& names, QVector<CsvRow>* rows, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const auto failAt = [&](int line, const QString& what) {
        error = QStringLiteral("%1 line %2: %3").arg(path).arg(line).arg(what);
        return false;
    };
    const QByteArray bytes = file.readAll();
    int badLine = 0;
    const QString notText = notUtf8Text(bytes, &badLine);
    if (!notText.isEmpty()) {
        return failAt(badLine, QStringLiteral("not a UTF-8 text file (%1)").arg(notText));
    }
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xfeff))) {
        text.remove(0, 1);
    }
    const QStringList lines = text.split(QLatin1Char('\n'));
    QVector<int> columns;
    QChar delimiter;
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty()) {
            continue;
        }
        const int number = i + 1;
        if (line.contains(QLatin1Char('\r'))) {
            return failAt(number, QStringLiteral("a carriage return inside the line"));
        }
        if (delimiter.isNull()) {
            delimiter = line.contains(QLatin1Char(';')) ? QLatin1Char(';') : QLatin1Char(',');
        }
        QStringList fields;
        if (!splitCsvLine(line, delimiter, &fields)) {
            return failAt(number, QStringLiteral("a quoted field is not closed where it should be"));
        }
        if (columns.isEmpty()) {
            // The header: each of the record's fields once, in any order.
            columns.fill(-1, names.size());
            for (int c = 0; c < fields.size(); ++c) {
                int index = -1;
                for (int n = 0; n < names.size(); ++n) {
                    if (names.at(n).compare(fields.at(c), Qt::CaseInsensitive) == 0) {
                        index = n;
                    }
                }
                if (index < 0) {
                    return failAt(number, QStringLiteral("unknown field \"%1\" (the fields are %2)")
                                              .arg(fields.at(c), names.join(QStringLiteral(", "))));
                }
                if (columns.at(index) >= 0) {
                    return failAt(number, QStringLiteral("field \"%1\" named twice").arg(names.at(index)));
                }
                columns[index] = c;
            }
            for (int n = 0; n < names.size(); ++n) {
                if (columns.at(n) < 0) {
                    return failAt(number, QStringLiteral("no field \"%1\" in the header").arg(names.at(n)));
                }
            }
            continue;
        }
        if (fields.size() != names.size()) {
            return failAt(
                number,
                QStringLiteral("%1 fields, the header names %2").arg(fields.size()).arg(names.size()));
        }
        CsvRow row{number, {}};
        for (int n = 0; n < names.size(); ++n) {
            const QString& field = fields.at(columns.at(n));
            // The instrument separates its fields by ";" and ends its lines with CR LF.
            if (field.contains(QLatin1Char(';'))) {
                return failAt(number, QStringLiteral("%1 holds a \";\"").arg(names.at(n)));
            }
            row.fields << field;
        }
        rows->append(row);
    }
    if (columns.isEmpty()) {
        error = QStringLiteral("%1: no header row").arg(path);
        return false;
    }
    return true;
}

bool wholeNumber(const QString& text, qint32* value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok;
}

bool decimalNumber(QString text, double* value)
{
    // A semicolon-separated file may come with decimal commas.
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

// A table value as people write it: digits with a point or, in a ";" file, a comma; no exponent, so
// that 1e300 is not taken for a weight.
bool plainDecimal(const QString& text, double* value)
{
    static const QRegularExpression plain(QStringLiteral("^[+-]?([0-9]+([.,][0-9]*)?|[.,][0-9]+)$"));
    return plain.match(text).hasMatch() && decimalNumber(text, value);
}

// Whether the instrument's table can take the records read from the rows; else names the row at fault.
bool fitsTable(const CDatabase& table, const QString& path, const QVector<CsvRow>& rows, QString& error)
{
    int record = 0;
    const QString why = table.fault(&record);
    if (why.isEmpty()) {
        return true;
    }
    error = QStringLiteral("%1 line %2: %3").arg(path).arg(rows.at(record).line).arg(why);
    return false;
}

QString massText(double value, int point)
{
    return point >= 0 && point <= 9 ? QString::number(value, 'f', point) : QString::number(value);
}

// Whether the instrument answered the last line sent to it: a failure without an answer is no
// answer (4), one with an answer a wrong answer (5).
class Traffic
{
public:
    explicit Traffic(CDevice* device)
    {
        QObject::connect(device, &CDevice::newOutLog, &m_scope, [this] { m_answered = false; });
        QObject::connect(device, &CDevice::newInLog, &m_scope, [this] { m_answered = true; });
    }
    int failureCode() const
    {
        return m_answered ? InstrumentSession::ExitBadAnswer : InstrumentSession::ExitNoAnswer;
    }
    QString failureText() const
    {
        return m_answered ? QStringLiteral("wrong answer") : QStringLiteral("no answer");
    }

private:
    QObject m_scope;
    bool m_answered = true;
};

// One request through the balance controller; the device runs it in this thread and reports its
// outcome before the call returns.
struct Outcome
{
    bool accepted = false;
    bool finished = false;
    int result = COMMAND_FAILED;
    QVariant response;
};

Outcome request(const QList<int>& commands, const std::function<bool(CBalanceController*)>& call)
{
    CBalanceController* balance = CBalanceController::instance();
    Outcome outcome;
    QObject scope;
    QObject::connect(balance, &CControllerInterface::commandFinished, &scope,
                     [&](int result, int command, const QVariant& response) {
                         if (commands.contains(command)) {
                             outcome.finished = true;
                             outcome.result = result;
                             outcome.response = response;
                         }
                     });
    outcome.accepted = call(balance);
    return outcome;
}

} // namespace

bool DataJob::handles(const QString& command)
{
    return argumentCount(command) > 0;
}

int DataJob::argumentCount(const QString& command)
{
    static const QStringList two{QStringLiteral("alibi"), QStringLiteral("clock"), QStringLiteral("eeprom"),
                                 QStringLiteral("compensation")};
    static const QStringList three{QStringLiteral("users"), QStringLiteral("products"),
                                   QStringLiteral("message"), QStringLiteral("firmware")};
    return two.contains(command) ? 2 : three.contains(command) ? 3 : 0;
}

bool DataJob::readUsers(const QString& path, QVector<UserRecord>* users, QString& error)
{
    QVector<CsvRow> rows;
    if (!readCsv(path, UserFields, &rows, error)) {
        return false;
    }
    for (const CsvRow& row : qAsConst(rows)) {
        UserRecord r;
        if (!wholeNumber(row.fields.at(0), &r.number)) {
            error = QStringLiteral("%1 line %2: number is no whole number").arg(path).arg(row.line);
            return false;
        }
        r.text1 = row.fields.at(1);
        r.text2 = row.fields.at(2);
        users->append(r);
    }
    return fitsTable(CUsersDatabase(*users), path, rows, error);
}

bool DataJob::readProducts(const QString& path, QVector<ProductRecord>* products, QString& error)
{
    QVector<CsvRow> rows;
    if (!readCsv(path, ProductFields, &rows, error)) {
        return false;
    }
    for (const CsvRow& row : qAsConst(rows)) {
        ProductRecord r;
        const QStringList& f = row.fields;
        QString bad;
        if (!wholeNumber(f.at(0), &r.number)) {
            bad = QStringLiteral("number is no whole number");
        } else if (!wholeNumber(f.at(4), &r.integerValue)) {
            bad = QStringLiteral("integerValue is no whole number");
        } else {
            double* values[] = {&r.value1, &r.value2, &r.value3};
            for (int v = 0; v < 3 && bad.isEmpty(); ++v) {
                if (!plainDecimal(f.at(5 + v), values[v])) {
                    bad = QStringLiteral("%1 is no plain decimal number (such as 12.5)")
                              .arg(ProductFields.at(5 + v));
                }
            }
        }
        if (!bad.isEmpty()) {
            error = QStringLiteral("%1 line %2: %3").arg(path).arg(row.line).arg(bad);
            return false;
        }
        r.text1 = f.at(1);
        r.text2 = f.at(2);
        r.text3 = f.at(3);
        products->append(r);
    }
    return fitsTable(CProductsDatabase(*products), path, rows, error);
}

int DataJob::prepare(const QString& command, const QStringList& arguments, const Options& options,
                     QString& error)
{
    m_command = command;
    m_csv = options.csv;
    const auto usage = [&error](const QString& message) {
        error = message;
        return InstrumentSession::ExitUsage;
    };
    const bool eeprom = command == QLatin1String("eeprom");
    const bool takesSet =
        eeprom || command == QLatin1String("clock") || command == QLatin1String("compensation");
    if (options.setGiven && !takesSet) {
        return usage(QStringLiteral("--set is for clock, eeprom and compensation"));
    }
    if (options.getGiven && !eeprom) {
        return usage(QStringLiteral("--get is for eeprom"));
    }
    if (options.now && command != QLatin1String("clock")) {
        return usage(QStringLiteral("--now is for clock"));
    }
    if (options.secondsGiven && command != QLatin1String("message")) {
        return usage(QStringLiteral("--seconds is for message"));
    }
    if (options.allowEmpty && command != QLatin1String("users") && command != QLatin1String("products")) {
        return usage(QStringLiteral("--allow-empty is for users and products"));
    }
    if (!options.csv.isEmpty() && command != QLatin1String("alibi")) {
        return usage(QStringLiteral("--csv is for read and alibi"));
    }
    m_set = options.setGiven;
    m_file = options.setGiven ? options.set : arguments.value(2);
    // Files read before the instrument is reached: a missing one ends here.
    const bool readsFile = command == QLatin1String("users") || command == QLatin1String("products") ||
                           command == QLatin1String("firmware") ||
                           (m_set && (eeprom || command == QLatin1String("compensation")));
    if (readsFile && !QFileInfo(m_file).isReadable()) {
        error = QStringLiteral("cannot read %1").arg(m_file);
        return InstrumentSession::ExitFailure;
    }

    const bool users = command == QLatin1String("users");
    if (users || command == QLatin1String("products")) {
        if (!(users ? readUsers(m_file, &m_users, error) : readProducts(m_file, &m_products, error))) {
            return InstrumentSession::ExitUsage;
        }
        // A table without records empties the instrument's: only on purpose.
        if ((users ? m_users.isEmpty() : m_products.isEmpty()) && !options.allowEmpty) {
            return usage(QStringLiteral("%1 holds no %2: loading it empties the instrument's %2 table "
                                        "(--allow-empty does that)")
                             .arg(m_file, command));
        }
        return InstrumentSession::ExitOk;
    }
    if (command == QLatin1String("clock")) {
        if (m_set && options.now) {
            return usage(QStringLiteral("clock takes --set or --now, not both"));
        }
        if (options.now) {
            m_set = true;
            m_clock = QDateTime::currentDateTime();
        } else if (m_set) {
            m_clock = QDateTime::fromString(options.set, ClockFormat);
            if (!m_clock.isValid()) {
                return usage(
                    QStringLiteral("--set expects \"yyyy-MM-dd hh:mm:ss\", not \"%1\"").arg(options.set));
            }
        }
        return InstrumentSession::ExitOk;
    }
    if (command == QLatin1String("message")) {
        m_text = arguments.value(2);
        if (m_text.contains(QLatin1Char('\r')) || m_text.contains(QLatin1Char('\n'))) {
            return usage(QStringLiteral("the message must be one line"));
        }
        if (options.secondsGiven) {
            bool ok = false;
            m_seconds = options.seconds.toInt(&ok);
            if (!ok || m_seconds < 1 || m_seconds > 99) {
                return usage(QStringLiteral("--seconds expects 1 to 99"));
            }
        }
        return InstrumentSession::ExitOk;
    }
    if (eeprom) {
        if (options.setGiven == options.getGiven) {
            return usage(QStringLiteral("eeprom takes --get FILE or --set FILE"));
        }
        if (options.getGiven) {
            m_file = options.get;
            return InstrumentSession::ExitOk;
        }
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(m_file, file.errorString());
            return InstrumentSession::ExitFailure;
        }
        EepromImage image;
        if (!image.parse(file.readAll())) {
            return usage(
                QStringLiteral("%1 line %2: %3").arg(m_file).arg(image.errorLine()).arg(image.error()));
        }
        return InstrumentSession::ExitOk;
    }
    if (command == QLatin1String("compensation")) {
        if (!m_set) {
            return InstrumentSession::ExitOk;
        }
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(m_file, file.errorString());
            return InstrumentSession::ExitFailure;
        }
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            const QString value = lines.at(i).trimmed();
            if (value.isEmpty()) {
                continue;
            }
            // In each group of five, the third and fourth are decimals, the others whole numbers.
            const int position = m_compensation.size() % 5;
            const bool decimal = position == 2 || position == 3;
            qint32 whole = 0;
            double number = 0;
            const bool ok = decimal ? !value.contains(QLatin1Char(',')) && decimalNumber(value, &number)
                                    : wholeNumber(value, &whole);
            if (m_compensation.size() == CompensationValues || !ok) {
                return usage(QStringLiteral("%1 line %2: %3")
                                 .arg(m_file)
                                 .arg(i + 1)
                                 .arg(m_compensation.size() == CompensationValues
                                          ? QStringLiteral("more than %1 values").arg(CompensationValues)
                                      : decimal ? QStringLiteral("\"%1\" is no number").arg(value)
                                                : QStringLiteral("\"%1\" is no whole number").arg(value)));
            }
            m_compensation << value;
        }
        if (m_compensation.size() != CompensationValues) {
            return usage(QStringLiteral("%1: %2 values, the instrument takes %3")
                             .arg(m_file)
                             .arg(m_compensation.size())
                             .arg(CompensationValues));
        }
        return InstrumentSession::ExitOk;
    }
    if (command == QLatin1String("firmware")) {
        m_rawFirmware = options.rawFirmware;
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly) || (m_rawFirmware && file.size() == 0)) {
            error = QStringLiteral("cannot read %1 as a firmware image").arg(m_file);
            return InstrumentSession::ExitFailure;
        }
        if (file.size() > CDevice::MaxFirmwareFileSize) {
            return usage(QStringLiteral("%1 is over %2 MiB, too large for a firmware image")
                             .arg(m_file)
                             .arg(CDevice::MaxFirmwareFileSize / (1024 * 1024)));
        }
        if (m_rawFirmware) {
            return InstrumentSession::ExitOk;
        }
        SRecordFile image;
        if (!image.parse(file.readAll())) {
            return usage(
                QStringLiteral("%1 line %2: %3").arg(m_file).arg(image.errorLine()).arg(image.error()));
        }
        return InstrumentSession::ExitOk;
    }
    return InstrumentSession::ExitOk;
}

int DataJob::run(QCoreApplication& app, InstrumentSession& session)
{
    QString error;
    if (!session.handToControllers(error)) {
        return fail(InstrumentSession::ExitNoPort, error);
    }
    if (m_command == QLatin1String("alibi")) {
        return runAlibi();
    }
    if (m_command == QLatin1String("users") || m_command == QLatin1String("products")) {
        return runTable();
    }
    if (m_command == QLatin1String("clock")) {
        return runClock();
    }
    if (m_command == QLatin1String("message")) {
        return runMessage();
    }
    if (m_command == QLatin1String("eeprom")) {
        return m_set ? runEepromSet() : runEepromGet(app);
    }
    if (m_command == QLatin1String("compensation")) {
        return runCompensation();
    }
    return runFirmware();
}

namespace {

// The exit code and message of a request that did not succeed.
int failed(const QString& what, const Outcome& outcome, const Traffic& traffic)
{
    if (!outcome.accepted) {
        return fail(InstrumentSession::ExitFailure, what + QStringLiteral(": the request was refused"));
    }
    QString text = outcome.result == COMMAND_TIMEOUT ? QStringLiteral("no answer") : traffic.failureText();
    if (outcome.response.type() == QVariant::String && !outcome.response.toString().isEmpty()) {
        text = outcome.response.toString();
    }
    return fail(outcome.result == COMMAND_TIMEOUT ? InstrumentSession::ExitNoAnswer : traffic.failureCode(),
                what + QStringLiteral(": ") + text);
}

} // namespace

int DataJob::runAlibi()
{
    CBalanceController* balance = CBalanceController::instance();
    CDevice* device = CDeviceController::instance()->currentDevice();
    QSaveFile csv(m_csv);
    QTextStream csvStream(&csv);
    csvStream.setCodec("UTF-8");
    if (!m_csv.isEmpty()) {
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Text)) {
            return fail(InstrumentSession::ExitFailure,
                        QStringLiteral("cannot write %1: %2").arg(m_csv, csv.errorString()));
        }
        csvStream << AlibiCsvHeader;
    }
    Traffic traffic(device);
    QObject scope;
    int records = 0;
    int announced = 0;
    QObject::connect(
        balance, &CBalanceController::readingAlibiProgress, &scope,
        [&](int count, int, const AlibiRecord& r) {
            ++records;
            announced = count;
            const QString date = r.date.toString(Qt::ISODate);
            const QString time = r.time.toString(QStringLiteral("hh:mm:ss"));
            const QString net = massText(r.net, r.point);
            const QString gross = massText(r.gross, r.point);
            const QString tare = massText(r.tare, r.point);
            out(QStringLiteral("%1 %2 %3 num %4 user %5 product %6 net %7 gross %8 tare %9 %10 %11")
                    .arg(QString::number(r.recId), date, time, QString::number(r.num), r.userId, r.prodId,
                         net, gross, tare)
                    .arg(r.unit, r.stb ? QStringLiteral("S") : QStringLiteral("U")));
            if (!m_csv.isEmpty()) {
                csvStream << r.recId << ',' << date << ',' << time << ',' << r.num << ','
                          << csvField(r.userId) << ',' << csvField(r.prodId) << ',' << net << ',' << gross
                          << ',' << tare << ',' << csvField(r.unit) << ',' << r.point << ','
                          << (r.stb ? 1 : 0) << '\n';
            }
            progress(QStringLiteral("alibi: %1 of %2").arg(records).arg(count));
        });
    int result = -1;
    QObject::connect(balance, &CBalanceController::readingAlibiFinished, &scope, [&](int r) { result = r; });
    QString warning;
    QObject::connect(balance, &CBalanceController::readingAlibiWarning, &scope,
                     [&](const QString& text) { warning = text; });
    const bool accepted = balance->readAlibiMemory();
    if (records > 0) {
        std::fprintf(stderr, "\n");
    }
    if (!accepted) {
        return fail(InstrumentSession::ExitFailure, QStringLiteral("alibi: the request was refused"));
    }
    if (result != 1) {
        return fail(traffic.failureCode(), QStringLiteral("alibi: %1 after %2 of %3 records")
                                               .arg(traffic.failureText())
                                               .arg(records)
                                               .arg(announced));
    }
    csvStream.flush();
    if (!m_csv.isEmpty() && !csv.commit()) {
        return fail(InstrumentSession::ExitFailure,
                    QStringLiteral("cannot write %1: %2").arg(m_csv, csv.errorString()));
    }
    if (!warning.isEmpty()) {
        std::fprintf(stderr, "alibi: warning: %s\n", qUtf8Printable(warning));
    } else if (records == 0) {
        std::fprintf(stderr, "alibi: the memory is empty\n");
    }
    return InstrumentSession::ExitOk;
}

int DataJob::runTable()
{
    const bool users = m_command == QLatin1String("users");
    Traffic traffic(CDeviceController::instance()->currentDevice());
    const int command = users ? COMMAND_SET_USERS : COMMAND_SET_PRODUCTS;
    // A transfer that fails on the way reports the unknown command.
    const Outcome outcome = request({command, COMMAND_UNKNOWN}, [&](CBalanceController* b) {
        return users ? b->setUsers(m_users) : b->setProducts(m_products);
    });
    if (!outcome.finished || outcome.result != COMMAND_OK) {
        return failed(m_command, outcome, traffic);
    }
    const int count = users ? m_users.size() : m_products.size();
    out(QStringLiteral("%1 %2 loaded")
            .arg(count)
            .arg(users ? QStringLiteral("users") : QStringLiteral("products")));
    return InstrumentSession::ExitOk;
}

int DataJob::runClock()
{
    Traffic traffic(CDeviceController::instance()->currentDevice());
    if (m_set) {
        const Outcome outcome = request({COMMAND_SET_DATE_TIME},
                                        [this](CBalanceController* b) { return b->setDateTime(m_clock); });
        if (!outcome.finished || outcome.result != COMMAND_OK) {
            return failed(QStringLiteral("clock"), outcome, traffic);
        }
        out(QStringLiteral("clock set to ") + m_clock.toString(ClockFormat));
        return InstrumentSession::ExitOk;
    }
    const Outcome outcome =
        request({COMMAND_GET_DATE_TIME}, [](CBalanceController* b) { return b->getDateTime(); });
    if (!outcome.finished || outcome.result != COMMAND_OK) {
        return failed(QStringLiteral("clock"), outcome, traffic);
    }
    out(outcome.response.toDateTime().toString(ClockFormat));
    return InstrumentSession::ExitOk;
}

int DataJob::runMessage()
{
    Traffic traffic(CDeviceController::instance()->currentDevice());
    const Outcome outcome =
        request({COMMAND_MESSAGE}, [this](CBalanceController* b) { return b->message(m_text, m_seconds); });
    if (!outcome.finished || outcome.result != COMMAND_OK) {
        return failed(QStringLiteral("message"), outcome, traffic);
    }
    out(QStringLiteral("shown for %1 s").arg(m_seconds));
    return InstrumentSession::ExitOk;
}

int DataJob::runEepromGet(QCoreApplication& app)
{
    CBalanceController* balance = CBalanceController::instance();
    CDevice* device = CDeviceController::instance()->currentDevice();
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(InstrumentSession::ExitFailure,
                    QStringLiteral("cannot write %1: %2").arg(m_file, file.errorString()));
    }
    Traffic traffic(device);
    QObject scope;
    int lines = 0;
    int result = -1;
    QObject::connect(balance, &CBalanceController::eepromReceived, &scope, [&](const QString& line) {
        ++lines;
        file.write(line.trimmed().toLatin1() + '\n');
    });
    QObject::connect(balance, &CBalanceController::readingEEPROMFinished, &scope, [&](int r) {
        result = r;
        app.quit();
    });
    if (!balance->getEEPROM()) {
        return fail(InstrumentSession::ExitFailure, QStringLiteral("eeprom: the request was refused"));
    }
    // The answer came while the call ran; the dump follows it and ends by its terminator or when
    // it stays silent too long (the device's bounded wait).
    if (result < 0 && !device->busy()) {
        return fail(traffic.failureCode(), QStringLiteral("eeprom: ") + traffic.failureText());
    }
    if (result < 0) {
        app.exec();
    }
    if (result != COMMAND_OK) {
        return fail(InstrumentSession::ExitNoAnswer,
                    QStringLiteral("eeprom: the dump stopped after %1 lines").arg(lines));
    }
    if (!file.commit()) {
        return fail(InstrumentSession::ExitFailure,
                    QStringLiteral("cannot write %1: %2").arg(m_file, file.errorString()));
    }
    out(QStringLiteral("%1 lines written to %2").arg(lines).arg(m_file));
    return InstrumentSession::ExitOk;
}

int DataJob::runEepromSet()
{
    Traffic traffic(CDeviceController::instance()->currentDevice());
    const Outcome outcome =
        request({COMMAND_SET_EEPROM}, [this](CBalanceController* b) { return b->setEEPROM(m_file); });
    if (!outcome.finished || outcome.result != COMMAND_OK) {
        return failed(QStringLiteral("eeprom"), outcome, traffic);
    }
    out(QStringLiteral("EEPROM written from %1").arg(m_file));
    return InstrumentSession::ExitOk;
}

int DataJob::runCompensation()
{
    Traffic traffic(CDeviceController::instance()->currentDevice());
    if (m_set) {
        const Outcome outcome = request({COMMAND_SET_COMPENSATION}, [this](CBalanceController* b) {
            return b->setCompensation(m_compensation);
        });
        if (!outcome.finished || outcome.result != COMMAND_OK) {
            return failed(QStringLiteral("compensation"), outcome, traffic);
        }
        out(QStringLiteral("%1 values written").arg(CompensationValues));
        return InstrumentSession::ExitOk;
    }
    const Outcome outcome =
        request({COMMAND_GET_COMPENSATION}, [](CBalanceController* b) { return b->getCompensation(); });
    if (!outcome.finished || outcome.result != COMMAND_OK) {
        return failed(QStringLiteral("compensation"), outcome, traffic);
    }
    const QVariantList values = outcome.response.toList();
    if (values.size() != CompensationValues) {
        return fail(InstrumentSession::ExitBadAnswer, QStringLiteral("compensation: %1 values instead of %2")
                                                          .arg(values.size())
                                                          .arg(CompensationValues));
    }
    for (const QVariant& value : values) {
        out(value.toString());
    }
    return InstrumentSession::ExitOk;
}

int DataJob::runFirmware()
{
    CBalanceController* balance = CBalanceController::instance();
    Traffic traffic(CDeviceController::instance()->currentDevice());
    QObject scope;
    int shown = -1;
    QObject::connect(balance, &CBalanceController::sendingFirmwareProgress, &scope, [&](int reported) {
        // The block loader reports the percentage of the image sent; the line protocol 1 when the
        // bootloader took over, then one more than the percentage of lines sent.
        const int percent = qBound(0, m_rawFirmware ? reported : reported - 1, 100);
        if (percent == shown) {
            return;
        }
        shown = percent;
        const int filled = percent * ProgressBarWidth / 100;
        progress(
            QStringLiteral("firmware [%1%2] %3%")
                .arg(QString(filled, QLatin1Char('#')), QString(ProgressBarWidth - filled, QLatin1Char('.')))
                .arg(percent, 3));
    });
    int result = -1;
    QString reason;
    QObject::connect(balance, &CBalanceController::sendingFirmwareFinished, &scope,
                     [&](int r) { result = r; });
    QObject::connect(balance, &CBalanceController::sendingFirmwareFailed, &scope,
                     [&](const QString& r) { reason = r; });
    const bool accepted = balance->sendNewFirmware(m_file);
    if (shown >= 0) {
        std::fprintf(stderr, "\n");
    }
    if (!accepted) {
        return fail(InstrumentSession::ExitFailure, QStringLiteral("firmware: the request was refused"));
    }
    if (result != 1) {
        // The device names the line and the instrument's state where it can.
        return fail(
            traffic.failureCode(),
            reason.isEmpty()
                ? QStringLiteral("firmware: %1 (%2% sent)").arg(traffic.failureText()).arg(qMax(shown, 0))
                : QStringLiteral("firmware: ") + reason);
    }
    out(QStringLiteral("firmware uploaded from %1").arg(m_file));
    return InstrumentSession::ExitOk;
}
