#include "support/ptypair.h"
#include "support/simprocess.h"

#include <QtTest>

#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// One line of "read": ISO time, value, unit, stability.
const QRegularExpression ReadLine(QStringLiteral(
    "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(?:Z|[+-]\\d\\d:\\d\\d)?) (\\S+) (\\S*) (\\S)$"));

const QStringList Older{QStringLiteral("--generation"), QStringLiteral("old")};

// mervik-sim on a pseudo-terminal, showing 12.5 kg.
struct Sim : SimProcess
{
    QString port;

    bool start(const QStringList& extra)
    {
        port = startPty(QStringList{"--weight", "12.5", "--decimals", "2", "--unit", "kg"} + extra);
        return !port.isEmpty();
    }
};

// Reads the simulator's traffic log (--verbose, on stderr) up to a line that starts with prefix; the
// simulator ends by itself, and with it the wait.
bool waitForTraffic(QProcess& sim, const QByteArray& prefix)
{
    sim.setReadChannel(QProcess::StandardError);
    while (sim.canReadLine() || sim.waitForReadyRead(5000)) {
        if (sim.canReadLine() && sim.readLine().startsWith(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

// mervik-cli end to end against mervik-sim on a pseudo-terminal.
class TstCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probe_data();
    void probe();
    void read_data();
    void read();
    void commands_data();
    void commands();
    void failures_data();
    void failures();
    void usageErrors_data();
    void usageErrors();
    void sendToStreamingInstrument_data();
    void sendToStreamingInstrument();
    void readWhenThePortGoesAway();
    void probeReportsWhatWasRead_data();
    void probeReportsWhatWasRead();
    void search_data();
    void search();
    void connectTo_data();
    void connectTo();

private:
    // Started with a scratch home: whatever the program might store goes there.
    bool startCli(QProcess& process, const QStringList& args);
    Run runCli(const QStringList& args);

    QTemporaryDir m_home;
};

void TstCli::initTestCase()
{
    QVERIFY(m_home.isValid());
    if (!PtyPair().isValid()) {
        QSKIP("pseudo-terminals are not available here");
    }
}

bool TstCli::startCli(QProcess& process, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    for (const char* name : {"CONFIG", "DATA", "CACHE"}) {
        env.insert(QStringLiteral("XDG_%1_HOME").arg(name), m_home.filePath(QString::fromLatin1(name)));
    }
    process.setProcessEnvironment(env);
    // A search sees no system port at all, a second guard besides MERVIK_SERIAL_PORTS: a private mount
    // namespace hides /sys/class/tty (as root; elsewhere the environment's list alone guards).
    if (args.value(0) == QLatin1String("search") && ::geteuid() == 0) {
        process.start(QStringLiteral("unshare"),
                      QStringList{"-m", "sh", "-c",
                                  "mount -t tmpfs none /sys/class/tty && exec \"$0\" \"$@\"",
                                  MERVIK_CLI_PATH} +
                          args);
    } else {
        process.start(QStringLiteral(MERVIK_CLI_PATH), args);
    }
    return process.waitForStarted(5000);
}

Run TstCli::runCli(const QStringList& args)
{
    QProcess process;
    // The slowest run (an older instrument's probe) takes about 1.5 s.
    if (!startCli(process, args) || !process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return Run{-1, QString(), QStringLiteral("did not finish")};
    }
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
}

void TstCli::probe_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("current") << QStringList()
                             << QStringList{"baud rate: 9600",       "model: PS 750.X2",
                                            "serial number: 123456", "production date: 2021-03-04",
                                            "firmware: 1.04.7",      "generation: current"};
    // No identity command: the identity stays empty.
    QTest::newRow("older") << Older << QStringList{"baud rate: 9600", "model: ", "generation: older"};
}

void TstCli::probe()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, expected);

    Sim sim;
    QVERIFY(sim.start(simArgs));
    const Run run = runCli({QStringLiteral("probe"), sim.port});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    for (const QString& line : expected) {
        QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral(" missing in:\n") + run.out));
    }
}

void TstCli::read_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::newRow("current") << QStringList() << "--csv"
                             << "12.50";
    QTest::newRow("current, stable") << QStringList() << "--stable"
                                     << "12.50";
    QTest::newRow("older, stable") << Older << "--stable"
                                   << "12.50";
    // An analytical balance's eight significant digits arrive as sent.
    QTest::newRow("eight digits") << QStringList{"--weight", "1234.5678", "--decimals", "4"} << "--csv"
                                  << "1234.5678";
}

void TstCli::read()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, option);
    QFETCH(QString, value);

    const QString csv = m_home.filePath(QStringLiteral("results.csv"));
    QFile::remove(csv);
    const bool stable = option == QLatin1String("--stable");
    Sim sim;
    QVERIFY(sim.start(simArgs));
    const Run run = runCli(QStringList{"read", sim.port, "--count", "3", "--interval", "50", option} +
                           (stable ? QStringList() : QStringList{csv}));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QDateTime previous;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = ReadLine.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const QDateTime time = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        QVERIFY2(time.isValid(), qPrintable(line));
        QCOMPARE(match.captured(2) + ' ' + match.captured(3) + ' ' + match.captured(4),
                 value + QStringLiteral(" kg ") + (stable ? 'S' : 'X'));
        // Each request waits the interval after the previous answer (timers may fire a little early).
        QVERIFY2(!previous.isValid() || previous.msecsTo(time) >= 45, qPrintable(run.out));
        previous = time;
    }
    // The file holds the same results.
    QFile file(csv);
    const QString written = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    QCOMPARE(written,
             stable ? QString() : "time,value,unit,stability\n" + QString(run.out).replace(' ', ','));
}

void TstCli::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("valueAfter");
    QTest::newRow("tare") << QStringList{"tare"} << "tared\n"
                          << "0.00";
    QTest::newRow("zero") << QStringList{"zero"} << "zeroed\n"
                          << "0.00";
    QTest::newRow("send prints the answer") << QStringList{"send", "PORT", "SW9", "--wait", "200"}
                                            << "PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n"
                                            << "12.50";
}

void TstCli::commands()
{
    QFETCH(QStringList, args);
    QFETCH(QString, printed);
    QFETCH(QString, valueAfter);

    Sim sim;
    QVERIFY(sim.start({}));
    args.replaceInStrings(QStringLiteral("PORT"), sim.port);
    const Run run = runCli(args.size() == 1 ? args << sim.port : args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, printed);
    QCOMPARE(run.err, QString());

    // What the instrument shows for the same load afterwards.
    const Run after = runCli({QStringLiteral("read"), sim.port});
    const QRegularExpressionMatch match = ReadLine.match(after.out.trimmed());
    QVERIFY2(match.hasMatch(), qPrintable(after.out));
    QCOMPARE(match.captured(2), valueAfter);
}

void TstCli::failures_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("no such port") << "none" << QStringList{"probe", "/nonexistent/ttyMERVIK0"} << 3
                                  << "no such port";
    QTest::newRow("nobody answers") << "silent line" << QStringList{"probe", "PORT", "--baud", "9600"} << 4
                                    << "no instrument answered";
    QTest::newRow("older ignores SW9")
        << "older" << QStringList{"send", "PORT", "SW9", "--wait", "200"} << 4 << "no answer";
    // Every answer garbled: the instrument is found, its results do not parse.
    QTest::newRow("unparsable result") << "garbled" << QStringList{"read", "PORT"} << 5 << "wrong answer";
}

void TstCli::failures()
{
    QFETCH(QString, instrument);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    PtyPair line;
    Sim sim;
    if (instrument == QLatin1String("silent line")) {
        args.replaceInStrings(QStringLiteral("PORT"), line.slavePath());
    } else if (instrument != QLatin1String("none")) {
        QVERIFY(sim.start(instrument == QLatin1String("older") ? Older : QStringList{"--garble", "1"}));
        args.replaceInStrings(QStringLiteral("PORT"), sim.port);
    }
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith(QLatin1String("mervik-cli: ")), qPrintable(run.err));
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    QCOMPARE(run.out, QString());
}

void TstCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    const QString port = QStringLiteral("/nonexistent/ttyMERVIK0");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("no port") << QStringList{"probe"};
    QTest::newRow("unknown command") << QStringList{"weigh", port};
    QTest::newRow("send without line") << QStringList{"send", port};
    QTest::newRow("extra argument") << QStringList{"tare", port, "now"};
    QTest::newRow("count 0") << QStringList{"read", port, "--count", "0"};
    QTest::newRow("negative interval") << QStringList{"read", port, "--interval", "-5"};
    QTest::newRow("baud not a number") << QStringList{"probe", port, "--baud", "fast"};
    QTest::newRow("unknown option") << QStringList{"probe", port, "--bogus"};
}

void TstCli::usageErrors()
{
    QFETCH(QStringList, args);
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(!run.err.isEmpty(), "a usage error says so on stderr");
    QCOMPARE(run.out, QString());
}

void TstCli::sendToStreamingInstrument_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("lines");

    // Results keep coming after the answer: only a bound ends the wait (0 lines: any number).
    QTest::newRow("--lines") << QStringList{QStringLiteral("--lines"), QStringLiteral("2")} << 2;
    QTest::newRow("--timeout") << QStringList{QStringLiteral("--timeout"), QStringLiteral("300")} << 0;
    // Stopped (-1) once the identity and a result after it have left the instrument.
    QTest::newRow("stopped") << QStringList() << -1;
}

void TstCli::sendToStreamingInstrument()
{
    QFETCH(QStringList, options);
    QFETCH(int, lines);

    Sim sim;
    QVERIFY(sim.start({QStringLiteral("--stream"), QStringLiteral("50"), QStringLiteral("--verbose")}));
    ChildProcess cli;
    QVERIFY(startCli(cli.process,
                     QStringList{QStringLiteral("send"), sim.port, QStringLiteral("SW9")} + options));
    if (lines < 0) {
        QVERIFY(waitForTraffic(sim.process, "-> PS 750.X2"));
        QVERIFY(waitForTraffic(sim.process, "-> "));
        cli.process.terminate();
    }
    QVERIFY(cli.process.waitForFinished(30000));
    QCOMPARE(cli.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.process.exitCode(), 0);
    const QString out = QString::fromUtf8(cli.process.readAllStandardOutput());
    QVERIFY2(lines > 0 ? out.count(QLatin1Char('\n')) == lines
                       : out.contains(QLatin1String("PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n")),
             qPrintable(out));
}

void TstCli::readWhenThePortGoesAway()
{
    Sim sim;
    QVERIFY(sim.start({}));
    ChildProcess cli;
    QVERIFY(
        startCli(cli.process, {QStringLiteral("read"), sim.port, QStringLiteral("--count"),
                               QStringLiteral("1000"), QStringLiteral("--interval"), QStringLiteral("100")}));
    QVERIFY(!cli.waitForLine("", 30000).isEmpty());
    sim.process.kill();
    QVERIFY(cli.process.waitForFinished(30000));
    QCOMPARE(cli.process.exitCode(), 4);
    const QString err = QString::fromUtf8(cli.process.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("mervik-cli: ")) && err.contains(QLatin1String("went away")),
             qPrintable(err));
}

void TstCli::probeReportsWhatWasRead_data()
{
    QTest::addColumn<QStringList>("simArgs");

    // Seed 1 leaves the first two answers (echo, identity) whole and garbles the third.
    QTest::newRow("garbled answer after the identity") << QStringList{
        QStringLiteral("--garble"), QStringLiteral("0.5"), QStringLiteral("--seed"), QStringLiteral("1")};
    // Seed 16 drops the first answer (the echo) and none of the next six.
    QTest::newRow("one echo dropped") << QStringList{QStringLiteral("--drop"), QStringLiteral("0.3"),
                                                     QStringLiteral("--seed"), QStringLiteral("16")};
}

void TstCli::probeReportsWhatWasRead()
{
    QFETCH(QStringList, simArgs);

    Sim sim;
    QVERIFY(sim.start(simArgs));
    const Run run = runCli({QStringLiteral("probe"), sim.port});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QLatin1String("model: PS 750.X2\nserial number: 123456\n")) &&
                 run.out.contains(QLatin1String("generation: current\n")),
             qPrintable(run.out));
}

void TstCli::search_data()
{
    // CURRENT: at 9600 baud, OLDER: at 115200 baud, SILENT: a line nobody answers on.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected"); // stdout lines in any order, else the stderr line

    QTest::newRow("both generations, then the count")
        << QStringList{"search"} << 0
        << QStringList{
               "CURRENT: model PS 750.X2, serial number 123456, firmware 1.04.7, serial port at 9600 baud",
               "OLDER: no identity, serial port at 115200 baud", "2 instruments found"};
    QTest::newRow("JSON, the named port only")
        << QStringList{"search", "--serial", "--json", "--port", "OLDER"} << 0
        << QStringList{
               "{\"baudRate\":115200,\"connection\":\"serial\",\"firmware\":\"\",\"model\":\"\","
               "\"place\":\"OLDER\",\"productionDate\":\"\",\"reachable\":true,\"serialNumber\":\"\"}"};
    QTest::newRow("nothing found") << QStringList{"search", "--port", "SILENT", "--baud", "9600"} << 4
                                   << QStringList{"mervik-cli: no instrument found"};
    // The environment's list holds: a port outside it is never opened.
    QTest::newRow("port outside the list") << QStringList{"search", "--port", "/dev/ttyS0"} << 3
                                           << QStringList{"mervik-cli: no serial port /dev/ttyS0"};
}

void TstCli::search()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);

    Sim current;
    Sim older;
    PtyPair silent;
    QVERIFY(current.start({}) && older.start(Older + QStringList{"--baud", "115200"}));
    const QStringList ports{current.port, older.port, silent.slavePath()};
    qputenv("MERVIK_SERIAL_PORTS", ports.join(QLatin1Char(':')).toLocal8Bit());
    // No interface is searched: nothing leaves this machine.
    qputenv("MERVIK_SEARCH_INTERFACES", "");
    for (QStringList* list : {&args, &expected}) {
        list->replaceInStrings(QStringLiteral("CURRENT"), current.port);
        list->replaceInStrings(QStringLiteral("OLDER"), older.port);
        list->replaceInStrings(QStringLiteral("SILENT"), silent.slavePath());
    }
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, exitCode);
    QStringList lines = (exitCode == 0 ? run.out : run.err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    expected.sort();
    QCOMPARE(lines, expected);
}

void TstCli::connectTo_data()
{
    QTest::addColumn<QString>("place"); // PORT: the sim on a pseudo-terminal, TCP: the sim over TCP
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("saved"); // AutoConnect's Address, COM and Port

    QTest::newRow("serial, saved") << "PORT" << QStringList{"--save"} << 0
                                   << QStringList{"PORT", "1", "9600"};
    QTest::newRow("TCP without a module, saved")
        << "TCP" << QStringList{"--save"} << 0 << QStringList{"127.0.0.1", "0", "TCPPORT"};
    QTest::newRow("not saved") << "PORT" << QStringList() << 0 << QStringList{"", "", ""};
    QTest::newRow("nobody answers") << "SILENT" << QStringList{"--save", "--baud", "9600"} << 4
                                    << QStringList{"", "", ""};
}

void TstCli::connectTo()
{
    QFETCH(QString, place);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, saved);

    Sim serial;
    SimProcess tcp;
    PtyPair silent;
    QVERIFY(serial.start({}) && tcp.start({"--tcp-server", "127.0.0.1:0"}));
    qputenv("MERVIK_SERIAL_PORTS", (serial.port + QLatin1Char(':') + silent.slavePath()).toLocal8Bit());
    const QString address = tcp.port();
    for (QString* text : {&place, &saved[0], &saved[2]}) {
        text->replace(QStringLiteral("TCPPORT"), address.section(QLatin1Char(':'), 1));
        text->replace(QStringLiteral("PORT"), serial.port);
        text->replace(QStringLiteral("TCP"), address);
        text->replace(QStringLiteral("SILENT"), silent.slavePath());
    }
    const QString conf = m_home.filePath(QStringLiteral("CONFIG/Mervik/Mervik Connect.conf"));
    QFile::remove(conf);

    const Run run = runCli(QStringList{QStringLiteral("connect"), place} + options);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.startsWith(exitCode == 0 ? QStringLiteral("connected to ") : QString()),
             qPrintable(run.out));
    QSettings settings(conf, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("AutoConnect"));
    QCOMPARE((QStringList{settings.value("Address").toString(), settings.value("COM").toString(),
                          settings.value("Port").toString()}),
             saved);
}

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
