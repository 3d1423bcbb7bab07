// mervik-cli: weighing from scripts. Every failure prints one line on stderr and exits non-zero.
#include "capturecommand.h"
#include "clioutput.h"
#include "dataservices.h"
#include "discovery.h"
#include "instrumentsession.h"
#include "mervik_version.h"
#include "modulereader.h"
#include "reportcommand.h"
#include "resultprinter.h"
#include "verifycommand.h"

#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevicekx40.h"
#include "device/cmervikmanagerfactory.h"
#include "device/cscalemanagerfactory.h"
#include "interface/cinterface.h"
#include "log/logclock.h"
#include "platform/quitsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

using CliOutput::csvField;
using CliOutput::fail;
using CliOutput::out;

int failureCode(int result)
{
    return result == COMMAND_TIMEOUT ? InstrumentSession::ExitNoAnswer : InstrumentSession::ExitBadAnswer;
}

QString resultText(int result)
{
    return result == COMMAND_TIMEOUT ? QStringLiteral("no answer") : QStringLiteral("wrong answer");
}

int probe(InstrumentSession& session)
{
    CDevice* device = session.device();
    out(QStringLiteral("port: %1").arg(device->interfaceDescription()));
    if (!session.isNetwork()) {
        out(QStringLiteral("baud rate: %1").arg(session.baudRate()));
    }
    out(QStringLiteral("model: %1").arg(device->model()));
    out(QStringLiteral("serial number: %1").arg(device->serialNumber()));
    out(QStringLiteral("production date: %1").arg(device->productionDate()));
    out(QStringLiteral("firmware: %1").arg(device->firmware()));
    // The dialect has no generations; its instruments differ by their bus address.
    if (auto* kx40 = qobject_cast<CDeviceKx40*>(device)) {
        out(QStringLiteral("address: %1").arg(kx40->address()));
    } else {
        out(QStringLiteral("generation: %1").arg(session.generation()));
    }
    return InstrumentSession::ExitOk;
}

int readResults(QCoreApplication& app, InstrumentSession& session, bool stable, int count, int intervalMs,
                const QString& csvPath)
{
    std::unique_ptr<QFile> csv;
    std::unique_ptr<QTextStream> csvStream;
    if (!csvPath.isEmpty()) {
        csv = std::make_unique<QFile>(csvPath);
        if (!csv->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            return fail(InstrumentSession::ExitFailure,
                        QStringLiteral("cannot write %1: %2").arg(csvPath, csv->errorString()));
        }
        csvStream = std::make_unique<QTextStream>(csv.get());
        csvStream->setCodec("UTF-8");
        *csvStream << "time,value,unit,stability\n";
    }

    CDevice* device = session.device();
    CBalanceController* balance = CBalanceController::instance();
    QString error;
    if (!session.handToControllers(error)) {
        return fail(InstrumentSession::ExitNoPort, error);
    }

    int printed = 0;
    int exitCode = InstrumentSession::ExitOk;
    // A write per line was a third of the tool's system calls at full pace. A stop (SIGTERM, SIGINT)
    // ends the loop, and what was read until then is still printed.
    ResultPrinter output;
    QuitSignals::install(&app);
    QTimer requestTimer;
    requestTimer.setSingleShot(true);
    // A coarse timer may fire early, and its answer would then fall inside the interval.
    requestTimer.setTimerType(Qt::PreciseTimer);
    // An instrument that streams results by itself is heard at the asked pace too: what it sends
    // within the interval after the last printed result is left out.
    QElapsedTimer sincePrinted;
    QObject::connect(
        balance, &CBalanceController::significantResultReceived, &app, [&](const Measurement& m) {
            if (printed >= count || (sincePrinted.isValid() && sincePrinted.elapsed() < intervalMs)) {
                return;
            }
            sincePrinted.start();
            ++printed;
            // The local time of every line without asking the time zone each time: that costs a file
            // check per result and was the tool's largest share above the exchange itself.
            QDate date;
            QTime clock;
            LogClock::now(date, clock);
            output.add(date, clock, m);
            if (csvStream) {
                *csvStream << ResultPrinter::timeText(date, clock) << ',' << InstrumentSession::formatValue(m)
                           << ',' << csvField(m.unit) << ',' << QChar::fromLatin1(m.stability) << '\n';
                csvStream->flush();
            }
            if (intervalMs == 0) {
                // The request sent ahead of this result's handling counts too: ahead of it, only
                // what is still missing after it.
                device->setResultsAhead(count - printed - 1);
            }
            if (printed >= count) {
                app.quit();
            }
        });
    // The first failure is the one reported.
    bool failed = false;
    auto stop = [&](int code, const QString& message) {
        if (!failed) {
            failed = true;
            output.flush();
            exitCode = fail(code, message);
            app.quit();
        }
    };
    // A port that goes away (adapter pulled, connection closed) disconnects the device under the
    // controllers: they refuse further requests and hear nothing more of a running one.
    const QString gone = QStringLiteral("the instrument stopped answering: its port went away (%1)")
                             .arg(device->interfaceDescription());
    QObject scope;
    QObject::connect(device, &CDevice::stateChanged, &scope, [&](int state) {
        if (state == STATE_DISCONNECTED) {
            stop(InstrumentSession::ExitNoAnswer, gone);
        }
    });
    QObject::connect(balance, &CControllerInterface::raiseError, &scope, [&](int error, int command) {
        if (device->state() != STATE_CONNECTED) {
            stop(InstrumentSession::ExitNoAnswer, gone);
        } else if (command == COMMAND_RESULT || command == COMMAND_STABLE_RESULT) {
            stop(failureCode(error), resultText(error));
        } else if (command == -1) {
            stop(InstrumentSession::ExitFailure, QStringLiteral("request refused (%1)").arg(error));
        }
    });
    // Without an interval the next request follows the answer at once, not after a round of the event
    // loop: that round cost a poll(2) and a timer per result. The exchange itself still runs the events.
    // It goes out even before the answer is handled, while the instrument works on it.
    if (intervalMs == 0) {
        device->setResultsAhead(count - 1);
    }
    bool requesting = false;
    bool again = false;
    QMetaObject::Connection waitingForFree;
    QObject::connect(balance, &CControllerInterface::commandFinished, &app, [&](int result, int command) {
        if (result == COMMAND_OK && (command == COMMAND_RESULT || command == COMMAND_STABLE_RESULT) &&
            printed < count) {
            if (intervalMs == 0 && requesting) {
                again = true;
            } else {
                requestTimer.start(intervalMs);
            }
        }
    });
    const auto request = [&] {
        requesting = true;
        do {
            again = false;
            stable ? balance->stableResult() : balance->result();
        } while (again && !QuitSignals::received());
        requesting = false;
    };
    QObject::connect(&requestTimer, &QTimer::timeout, &app, request);
    // The identity read that follows the connection may still wait for its answer, and a request then
    // would be refused as busy: the first one goes once the device is free.
    std::function<void()> first = [&] {
        if (!device->busy()) {
            request();
            return;
        }
        if (!waitingForFree) {
            waitingForFree = QObject::connect(
                device, &CDevice::busyChanged, &scope,
                [&](bool busy) {
                    if (!busy) {
                        QObject::disconnect(waitingForFree);
                        QTimer::singleShot(0, &app, first);
                    }
                },
                Qt::QueuedConnection);
        }
    };
    QTimer::singleShot(0, &app, first);
    app.exec();
    // A stop leaves the answer to the request already sent ahead; it is printed like the others.
    if (exitCode == InstrumentSession::ExitOk) {
        device->finishResultsAhead();
    }
    output.flush();
    if (csv && csv->error() != QFileDevice::NoError) {
        return fail(InstrumentSession::ExitFailure,
                    QStringLiteral("cannot write %1: %2").arg(csvPath, csv->errorString()));
    }
    return exitCode;
}

int tareOrZero(InstrumentSession& session, bool tare)
{
    CDevice* device = session.device();
    int finished = COMMAND_TIMEOUT;
    const int command = tare ? COMMAND_TARE : COMMAND_ZERO;
    QObject::connect(device, &CDevice::commandFinished, device, [&](int result, int id) {
        if (id == command) {
            finished = result;
        }
    });
    tare ? device->tare() : device->zero();
    if (finished != COMMAND_OK) {
        return fail(failureCode(finished),
                    (tare ? QStringLiteral("tare: ") : QStringLiteral("zero: ")) + resultText(finished));
    }
    out(tare ? QStringLiteral("tared") : QStringLiteral("zeroed"));
    return InstrumentSession::ExitOk;
}

// The text up to and including its n-th line feed; all of it when it has fewer.
QString firstLines(const QString& text, int n)
{
    int end = -1;
    for (int i = 0; i < n; ++i) {
        end = text.indexOf(QLatin1Char('\n'), end + 1);
        if (end < 0) {
            return text;
        }
    }
    return text.left(end + 1);
}

// When send stops waiting: after `lines` complete lines when given, else once a complete line has come
// and `quietMs` passed without more; in any case `timeoutMs` after sending. An instrument that streams
// results never falls quiet.
struct AnswerBounds
{
    int lines = 0;
    int quietMs = 200;
    int timeoutMs = 2000;
};

// How long a slow instrument may stay silent before an answer it owes counts as lost.
constexpr int OwedAnswerQuietMs = 500;

// The two ends of a wait for an answer, each ending the event loop: the line fell quiet, or the time ran out.
struct QuietWait
{
    explicit QuietWait(QCoreApplication& app)
    {
        for (QTimer* timer : {&quiet, &limit}) {
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, &app, &QCoreApplication::quit);
        }
    }
    QTimer quiet;
    QTimer limit;
};

// An answer that a slow instrument still owes to a line of the session's own would come before the
// answer to the line sent next and be printed as part of it: what comes until the instrument has
// fallen quiet is left out, within the time-out.
void settle(QCoreApplication& app, CDevice* device, const AnswerBounds& bounds)
{
    // Longer than the answer's own quiet: the owed answer was already late once.
    const int settleMs = qMax(bounds.quietMs, OwedAnswerQuietMs);
    QuietWait wait(app);
    QObject settling;
    QObject::connect(device, &CDevice::newInLog, &settling,
                     [&](const PelmLogRecord&) { wait.quiet.start(settleMs); });
    wait.quiet.start(settleMs);
    wait.limit.start(bounds.timeoutMs);
    app.exec();
}

int sendLine(QCoreApplication& app, InstrumentSession& session, QString line, const AnswerBounds& bounds)
{
    if (!line.endsWith(QLatin1String("\r\n"))) {
        line += QStringLiteral("\r\n");
    }
    CDevice* device = session.device();
    // A stop (SIGTERM, SIGINT) ends the waits too, and what arrived until then is still printed.
    QuitSignals::install(&app);
    if (session.answerOwed()) {
        settle(app, device, bounds);
    }
    QString received;
    QuietWait wait(app);
    QObject receiving;
    QObject::connect(device, &CDevice::newInLog, &receiving, [&](const PelmLogRecord& r) {
        received += r.message;
        const int lines = received.count(QLatin1Char('\n'));
        if (bounds.lines > 0 && lines >= bounds.lines) {
            app.quit();
        } else if (bounds.lines == 0 && lines > 0) {
            wait.quiet.start(bounds.quietMs);
        }
    });
    // Only what comes after the line is its answer.
    if (device->interface()) {
        device->interface()->clear();
    }
    device->sendString(line);
    wait.limit.start(bounds.timeoutMs);
    app.exec();
    // Bytes already waiting when the wait ended have arrived as well.
    QCoreApplication::processEvents();
    if (bounds.lines > 0) {
        // What follows the asked-for lines is no longer the answer.
        received = firstLines(received, bounds.lines);
    }
    std::fprintf(stdout, "%s", received.toUtf8().constData());
    std::fflush(stdout);
    if (received.isEmpty()) {
        return fail(InstrumentSession::ExitNoAnswer, QStringLiteral("no answer to %1").arg(line.trimmed()));
    }
    const int lines = received.count(QLatin1Char('\n'));
    if (bounds.lines > 0 && lines < bounds.lines) {
        return fail(InstrumentSession::ExitNoAnswer, QStringLiteral("answer to %1 incomplete: %2 of %3 lines")
                                                         .arg(line.trimmed())
                                                         .arg(lines)
                                                         .arg(bounds.lines));
    }
    return InstrumentSession::ExitOk;
}

int readModule(const QString& addressText, const QString& dialect, const QString& local)
{
    const QHostAddress address(addressText);
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("module expects an IPv4 address"));
    }
    if (dialect != QLatin1String("wifi") && dialect != QLatin1String("tibbo")) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("--dialect expects wifi or tibbo"));
    }
    QHostAddress localAddress;
    quint32 netmask = 0;
    QString error;
    if (!ModuleReader::localEndpoint(address, local, &localAddress, &netmask, &error)) {
        return fail(InstrumentSession::ExitUsage, error);
    }
    ModuleReader reader;
    const int result =
        reader.read(dialect == QLatin1String("tibbo") ? ModuleReader::Tibbo : ModuleReader::Wifi, address,
                    localAddress, netmask, &error);
    if (result != InstrumentSession::ExitOk) {
        return fail(result, error);
    }
    for (const QString& line : reader.lines()) {
        out(line);
    }
    return InstrumentSession::ExitOk;
}

bool positiveInt(const QString& text, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value > 0;
}

// The commands that reach instruments of the three-letter dialect.
const QStringList ThreeLetterCommands{
    QStringLiteral("probe"), QStringLiteral("read"),   QStringLiteral("tare"),     QStringLiteral("zero"),
    QStringLiteral("send"),  QStringLiteral("search"), QStringLiteral("firmware"), QStringLiteral("capture")};

// --protocol and --address: false with the message when they do not fit each other or the command.
bool readProtocol(const QString& protocol, const QString& command, bool addressGiven,
                  const QString& addressText, bool* threeLetter, int* address, QString& error)
{
    *threeLetter = protocol == QLatin1String("three-letter");
    *address = InstrumentSession::AnyAddress;
    if (!*threeLetter && protocol != QLatin1String("line")) {
        error = QStringLiteral("--protocol expects line or three-letter");
        return false;
    }
    if (*threeLetter && !ThreeLetterCommands.contains(command)) {
        error = QStringLiteral("--protocol three-letter is for %1")
                    .arg(ThreeLetterCommands.join(QStringLiteral(", ")));
        return false;
    }
    if (addressGiven && !*threeLetter) {
        error = QStringLiteral("--address is for --protocol three-letter");
        return false;
    }
    if (addressGiven) {
        bool ok = false;
        *address = addressText.toInt(&ok);
        if (!ok || addressText.trimmed() != addressText || *address < CScaleManagerFactory::FirstAddress ||
            *address > CScaleManagerFactory::LastAddress) {
            error = QStringLiteral("--address expects a bus address from %1 to %2")
                        .arg(CScaleManagerFactory::FirstAddress)
                        .arg(CScaleManagerFactory::LastAddress);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (ReportCommand::requested(argc, argv)) {
        // Painting a PDF needs QtGui's fonts, not a screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QGuiApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Mervik"));
        QCoreApplication::setApplicationName(QStringLiteral("Mervik Connect"));
        QLoggingCategory::setFilterRules(QStringLiteral("mervik.*.debug=false"));
        return ReportCommand::run(QCoreApplication::arguments());
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Mervik"));
    QCoreApplication::setApplicationName(QStringLiteral("Mervik Connect"));
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.*.debug=false"));
    if (VerifyCommand::requested(argc, argv)) {
        return VerifyCommand::run(QCoreApplication::arguments());
    }
    DeviceTypes::registerMetaTypes();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Scripted weighing with Mervik Connect's protocol engine.\n\n"
        "Commands:\n"
        "  probe PORT [--baud N]          identify the instrument\n"
        "  read PORT [--baud N] [--stable] [--count N] [--interval MS] [--csv FILE]\n"
        "                                 print results: ISO time, value, unit, stability\n"
        "  tare PORT                      tare the instrument\n"
        "  zero PORT                      zero the instrument\n"
        "  send PORT LINE [--lines N] [--wait MS] [--timeout MS]\n"
        "                                 send a raw line (CR LF added), print the answer\n"
        "  module ADDRESS [--dialect wifi|tibbo] [--local ADDRESS]\n"
        "                                 read a network module's settings, one 'name: value' a line\n"
        "  search [--serial] [--network] [--port PATH]... [--interface NAME]... [--baud N]... [--json]\n"
        "                                 find instruments (both scans unless one is named); one line\n"
        "                                 each (one JSON object each with --json), then a count\n"
        "  connect PORT [--baud N] [--save]\n"
        "                                 connect as the program does; --save keeps PORT as the\n"
        "                                 program's automatic connection at start\n"
        "  alibi PORT [--csv FILE]        print the alibi memory, one record a line\n"
        "  users PORT FILE [--allow-empty]\n"
        "                                 load the users table from a CSV file\n"
        "  products PORT FILE [--allow-empty]\n"
        "                                 load the products table from a CSV file; a file with\n"
        "                                 no records empties the table only with --allow-empty\n"
        "  clock PORT [--set \"yyyy-MM-dd hh:mm:ss\" | --now]\n"
        "                                 print or set the instrument's clock\n"
        "  message PORT TEXT [--seconds N]\n"
        "                                 show TEXT on the instrument for N s (1 to 99, default 5)\n"
        "  eeprom PORT --get FILE | --set FILE\n"
        "                                 save the EEPROM to FILE or write it from FILE (lines\n"
        "                                 as --get saves them)\n"
        "  compensation PORT [--set FILE] print the 15 compensation values, one a line, or write\n"
        "                                 them from FILE (one a line)\n"
        "  firmware PORT FILE             upload an S-record firmware image (a raw image with\n"
        "                                 --protocol three-letter)\n"
        "  capture PLACE [PLACE...] [--db FILE] [--central URI] [--central-traffic] [--stable]\n"
        "          [--interval MS] [--baud N]\n"
        "                                 store the results of one or several instruments (each PLACE\n"
        "                                 a PORT) in the program's database (or FILE) until SIGTERM or\n"
        "                                 Ctrl+C, asking each for a result every MS ms (default 1000; 0:\n"
        "                                 only what they stream); forward them to the PostgreSQL database\n"
        "                                 at URI (postgresql://user@host:port/dbname; default: the\n"
        "                                 program's setting), with every traffic line when\n"
        "                                 --central-traffic is given (or, without --central, when the\n"
        "                                 program's setting asks); one line per change of state\n"
        "  report [--db FILE] [--from DATETIME] [--to DATETIME] [--serial S] OUT.pdf\n"
        "                                 a weighing report of the stored results (DATETIME as\n"
        "                                 yyyy-MM-dd or yyyy-MM-dd HH:mm:ss; both bounds included)\n"
        "  verify [--db FILE]             check the stored results and their audit trail against\n"
        "                                 the hash chain; one line per finding (exit 1 when any)\n\n"
        "PORT is a serial port path (pseudo-terminals included) or HOST:PORT of a network instrument.\n"
        "probe, read, capture, tare, zero, send, search and firmware take --protocol three-letter [--address "
        "N]\n"
        "for instruments of the three-letter dialect on a serial line: at bus address N (0 to 32), or\n"
        "else at the first address from 0 up that answers. search then searches serial ports only, with\n"
        "the dialect's factory: a plain device, then each address from 0 to 32, on every port and baud\n"
        "rate; every address that answers on a port is listed.\n"
        "Exit status: 0 success, 2 usage, 3 no such port, 4 no answer or nothing found, 5 wrong answer,\n"
        "1 other failure."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("probe, read, capture, tare, zero, send, module, search, connect, alibi,\n"
                       "users, products, clock, message, eeprom, compensation, firmware, report or verify"));
    parser.addPositionalArgument(QStringLiteral("port"),
                                 QStringLiteral("serial port path, HOST:PORT, or the module's address"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Baud rate (default: try 9600, then 115200)."),
                                        QStringLiteral("N"));
    const QCommandLineOption stableOption(QStringLiteral("stable"),
                                          QStringLiteral("Request stable results only."));
    const QCommandLineOption countOption(QStringLiteral("count"),
                                         QStringLiteral("Number of results (default 1)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption intervalOption(
        QStringLiteral("interval"),
        QStringLiteral("Least time between two printed results in ms, whether asked for "
                       "or streamed by the instrument (default 0)."),
        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption csvOption(QStringLiteral("csv"),
                                       QStringLiteral("Also write the results to FILE as CSV."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption waitOption(
        QStringLiteral("wait"),
        QStringLiteral("send: ms of silence after a complete line that ends the answer (default 200)."),
        QStringLiteral("MS"), QStringLiteral("200"));
    const QCommandLineOption linesOption(
        QStringLiteral("lines"), QStringLiteral("send: the answer is N lines; print them once they came."),
        QStringLiteral("N"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("send: ms after which to print what came and stop waiting (default 2000)."),
        QStringLiteral("MS"), QStringLiteral("2000"));
    const QCommandLineOption dialectOption(
        QStringLiteral("dialect"), QStringLiteral("module: wifi (UDP 65534, default) or tibbo (UDP 65535)."),
        QStringLiteral("wifi|tibbo"), QStringLiteral("wifi"));
    const QCommandLineOption localOption(
        QStringLiteral("local"),
        QStringLiteral("module: this computer's address to use (default: the one in the module's subnet)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption serialOption(QStringLiteral("serial"),
                                          QStringLiteral("search: the serial ports."));
    const QCommandLineOption networkOption(QStringLiteral("network"),
                                           QStringLiteral("search: the network modules."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("search: only this serial port (repeatable)."),
                                        QStringLiteral("PATH"));
    const QCommandLineOption interfaceOption(
        QStringLiteral("interface"), QStringLiteral("search: only this network interface (repeatable)."),
        QStringLiteral("NAME"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("search: one JSON object per instrument."));
    const QCommandLineOption saveOption(QStringLiteral("save"),
                                        QStringLiteral("connect: keep as the automatic connection."));
    const QCommandLineOption setOption(
        QStringLiteral("set"),
        QStringLiteral("clock: the date and time to set; eeprom, compensation: the file."),
        QStringLiteral("VALUE"));
    const QCommandLineOption nowOption(QStringLiteral("now"),
                                       QStringLiteral("clock: set the computer's date and time."));
    const QCommandLineOption getOption(QStringLiteral("get"), QStringLiteral("eeprom: save to FILE."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("message: how long it shows (default 5)."),
                                           QStringLiteral("N"));
    const QCommandLineOption allowEmptyOption(
        QStringLiteral("allow-empty"),
        QStringLiteral("users, products: a file with no records empties the instrument's table."));
    const QCommandLineOption protocolOption(
        QStringLiteral("protocol"),
        QStringLiteral("line (the S/M commands, default) or three-letter (addressed mnemonics)."),
        QStringLiteral("line|three-letter"), QStringLiteral("line"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"), QStringLiteral("three-letter: the instrument's bus address, 0 to 32."),
        QStringLiteral("N"));
    const QCommandLineOption dbOption(
        QStringLiteral("db"), QStringLiteral("capture: the database to store into."), QStringLiteral("FILE"));
    const QCommandLineOption centralOption(QStringLiteral("central"),
                                           QStringLiteral("capture: the central PostgreSQL database's URI."),
                                           QStringLiteral("URI"));
    const QCommandLineOption centralTrafficOption(
        QStringLiteral("central-traffic"),
        QStringLiteral("capture: forward the traffic log to the central database too."));
    parser.addOptions(
        {protocolOption, addressOption, allowEmptyOption, dbOption, centralOption, centralTrafficOption});
    parser.addOptions({baudOption,   stableOption,  countOption,   intervalOption,  csvOption,
                       waitOption,   linesOption,   timeoutOption, dialectOption,   localOption,
                       serialOption, networkOption, portOption,    interfaceOption, jsonOption,
                       saveOption,   setOption,     nowOption,     getOption,       secondsOption});
    // Parsed by hand so that an unknown option ends with the usage status, like the other usage errors.
    if (!parser.parse(QCoreApplication::arguments())) {
        return fail(InstrumentSession::ExitUsage, parser.errorText());
    }
    if (parser.isSet(QStringLiteral("version"))) {
        // The program's own name: the application name is the one its settings share with the program.
        std::printf("mervik-cli %s\n", MERVIK_VERSION);
        return InstrumentSession::ExitOk;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(InstrumentSession::ExitOk);
    }

    const QStringList args = parser.positionalArguments();
    bool threeLetter = false;
    int address = InstrumentSession::AnyAddress;
    QString protocolError;
    if (!readProtocol(parser.value(protocolOption), args.value(0), parser.isSet(addressOption),
                      parser.value(addressOption), &threeLetter, &address, protocolError)) {
        return fail(InstrumentSession::ExitUsage, protocolError);
    }
    if (args.value(0) == QLatin1String("search")) {
        if (args.size() != 1) {
            return fail(InstrumentSession::ExitUsage, QStringLiteral("search takes no argument"));
        }
        if (threeLetter && parser.isSet(networkOption)) {
            return fail(InstrumentSession::ExitUsage,
                        QStringLiteral("--protocol three-letter searches serial ports only"));
        }
        Discovery::SearchRequest request;
        request.threeLetter = threeLetter;
        request.address = address;
        request.serial = parser.isSet(serialOption) || !parser.isSet(networkOption);
        request.network = !threeLetter && (parser.isSet(networkOption) || !parser.isSet(serialOption));
        request.ports = parser.values(portOption);
        request.interfaces = parser.values(interfaceOption);
        request.json = parser.isSet(jsonOption);
        for (const QString& value : parser.values(baudOption)) {
            int baud = 0;
            if (!positiveInt(value, baud)) {
                return fail(InstrumentSession::ExitUsage, QStringLiteral("--baud expects a positive number"));
            }
            request.baudRates.append(baud);
        }
        return Discovery::search(app, request);
    }
    if (args.value(0) == QLatin1String("capture")) {
        CaptureCommand::Options options;
        options.places = args.mid(1);
        if (options.places.isEmpty()) {
            return fail(InstrumentSession::ExitUsage, QStringLiteral("capture expects at least one PLACE"));
        }
        options.database = parser.value(dbOption);
        options.central = parser.value(centralOption);
        options.centralTraffic = parser.isSet(centralTrafficOption);
        options.stable = parser.isSet(stableOption);
        options.threeLetter = threeLetter;
        options.address = address;
        options.baudRates =
            threeLetter ? CScaleManagerFactory().baudRates() : CMervikManagerFactory().baudRates();
        int baud = 0;
        if (parser.isSet(baudOption) && !positiveInt(parser.value(baudOption), baud)) {
            return fail(InstrumentSession::ExitUsage, QStringLiteral("--baud expects a positive number"));
        }
        if (baud > 0) {
            options.baudRates = {baud};
        }
        bool intervalOk = true;
        if (parser.isSet(intervalOption)) {
            options.intervalMs = parser.value(intervalOption).toInt(&intervalOk);
        }
        if (!intervalOk || options.intervalMs < 0) {
            return fail(InstrumentSession::ExitUsage,
                        QStringLiteral("--interval expects a number of milliseconds"));
        }
        return CaptureCommand::run(app, options);
    }
    if (args.size() < 2) {
        return fail(InstrumentSession::ExitUsage,
                    QStringLiteral("usage: mervik-cli COMMAND PORT [options] (see --help)"));
    }
    const QString command = args.at(0);
    const QString port = args.at(1);
    const QStringList known = {QStringLiteral("probe"),  QStringLiteral("read"), QStringLiteral("tare"),
                               QStringLiteral("zero"),   QStringLiteral("send"), QStringLiteral("module"),
                               QStringLiteral("connect")};
    if (!known.contains(command) && !DataJob::handles(command)) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("unknown command: %1").arg(command));
    }
    const int wanted = command == QLatin1String("send") ? 3 : qMax(2, DataJob::argumentCount(command));
    if (args.size() != wanted) {
        return fail(InstrumentSession::ExitUsage,
                    QStringLiteral("wrong number of arguments for %1").arg(command));
    }
    if (command == QLatin1String("module")) {
        return readModule(port, parser.value(dialectOption), parser.value(localOption));
    }

    QVector<int> baudRates =
        threeLetter ? CScaleManagerFactory().baudRates() : CMervikManagerFactory().baudRates();
    if (parser.isSet(baudOption)) {
        int baud = 0;
        if (!positiveInt(parser.value(baudOption), baud)) {
            return fail(InstrumentSession::ExitUsage, QStringLiteral("--baud expects a positive number"));
        }
        baudRates = {baud};
    }
    int count = 0;
    int interval = 0;
    AnswerBounds bounds;
    if (!positiveInt(parser.value(countOption), count)) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("--count expects a positive number"));
    }
    bool intervalOk = false;
    interval = parser.value(intervalOption).toInt(&intervalOk);
    if (!intervalOk || interval < 0) {
        return fail(InstrumentSession::ExitUsage,
                    QStringLiteral("--interval expects a number of milliseconds"));
    }
    if (!positiveInt(parser.value(waitOption), bounds.quietMs)) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("--wait expects a positive number"));
    }
    if (parser.isSet(linesOption) && !positiveInt(parser.value(linesOption), bounds.lines)) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("--lines expects a positive number"));
    }
    if (!positiveInt(parser.value(timeoutOption), bounds.timeoutMs)) {
        return fail(InstrumentSession::ExitUsage, QStringLiteral("--timeout expects a positive number"));
    }

    if (command == QLatin1String("connect")) {
        return Discovery::connectTo(port, parser.isSet(baudOption) ? baudRates.first() : 0,
                                    parser.isSet(saveOption));
    }

    // The files and values of a data service are checked before the instrument is reached.
    DataJob job;
    QString error;
    if (DataJob::handles(command)) {
        DataJob::Options options;
        options.csv = parser.value(csvOption);
        options.setGiven = parser.isSet(setOption);
        options.set = parser.value(setOption);
        options.now = parser.isSet(nowOption);
        options.getGiven = parser.isSet(getOption);
        options.get = parser.value(getOption);
        options.secondsGiven = parser.isSet(secondsOption);
        options.seconds = parser.value(secondsOption);
        options.rawFirmware = threeLetter;
        options.allowEmpty = parser.isSet(allowEmptyOption);
        const int prepared = job.prepare(command, args, options, error);
        if (prepared != InstrumentSession::ExitOk) {
            return fail(prepared, error);
        }
    }

    InstrumentSession session;
    if (threeLetter) {
        session.setThreeLetter(address);
    }
    const int opened = session.open(port, baudRates, command == QLatin1String("probe"), error);
    if (opened != InstrumentSession::ExitOk) {
        return fail(opened, error);
    }
    if (command == QLatin1String("probe")) {
        return probe(session);
    }
    if (command == QLatin1String("read")) {
        return readResults(app, session, parser.isSet(stableOption), count, interval,
                           parser.value(csvOption));
    }
    if (DataJob::handles(command)) {
        return job.run(app, session);
    }
    if (command == QLatin1String("tare") || command == QLatin1String("zero")) {
        return tareOrZero(session, command == QLatin1String("tare"));
    }
    return sendLine(app, session, args.at(2), bounds);
}
