#include "support/ptypair.h"
#include "support/simprocess.h"

#include "log/datafeedtablemodel.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
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

// Input that stands for a sparse file one byte over the firmware size limit.
const QByteArray OversizeFile = "(64 MiB and one byte)";

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
    void read_data();
    void read();
    void sendToStreamingInstrument_data();
    void sendToStreamingInstrument();
    void readWhenThePortGoesAway();
    void readStoppedBySignal_data();
    void readStoppedBySignal();
    void search_data();
    void search();
    void connectTo_data();
    void connectTo();
    void commands_data();
    void commands();
    void report();
    void verify_data();
    void verify();
    void capture();

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
    // namespace hides /sys/class/tty (where this machine allows one; elsewhere the list alone guards).
    const QString hide = QStringLiteral("mount -t tmpfs none /sys/class/tty");
    static const bool canHide = [&hide] {
        if (::geteuid() != 0) {
            return false;
        }
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {"-m", "sh", "-c", hide});
        return probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit &&
               probe.exitCode() == 0;
    }();
    if (args.value(0) == QLatin1String("search") && canHide) {
        process.start(QStringLiteral("unshare"),
                      QStringList{"-m", "sh", "-c", hide + " && exec \"$0\" \"$@\"", MERVIK_CLI_PATH} + args);
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

void TstCli::read_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("option"); // --csv (the results also go to a file), --stable, or none
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<bool>("plainLoop");
    const auto row = [](const char* name, const QStringList& sim, const QString& option, const QString& value,
                        int count = 3, int intervalMs = 50, bool plainLoop = false) {
        QTest::newRow(name) << sim << option << value << count << intervalMs << plainLoop;
    };
    row("current, stable", {}, "--stable", "12.50");
    row("older, stable", Older, "--stable", "12.50");
    // An analytical balance's eight significant digits arrive as sent.
    row("eight digits", {"--weight", "1234.5678", "--decimals", "4"}, "--csv", "1234.5678");
    // Streamed lines share chunks with the answers, and a request comes in the middle of one.
    row("streaming 1,000/s, no interval", {"--stream", "1"}, "", "12.50", 1000, 0);
    // Requested and streamed results alike come at the asked pace.
    row("streaming 10/s, interval 100", {"--stream", "100"}, "", "12.50", 12, 100);
    // Qt's own event loop runs the identity read that follows the connection before the first request.
    row("plain event loop, no interval", {}, "", "12.50", 3, 0, true);
}

void TstCli::read()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(int, count);
    QFETCH(int, intervalMs);
    QFETCH(bool, plainLoop);

    const QString csv = m_home.filePath(QStringLiteral("results.csv"));
    QFile::remove(csv);
    const bool stable = option == QLatin1String("--stable");
    // The traffic of an instrument that does not stream is counted (a streaming one's would fill the pipe).
    const bool streaming = simArgs.contains(QStringLiteral("--stream"));
    Sim sim;
    QVERIFY(sim.start(simArgs + (streaming ? QStringList() : QStringList{"--verbose"})));
    QStringList args{
        "read", sim.port, "--count", QString::number(count), "--interval", QString::number(intervalMs)};
    if (!option.isEmpty()) {
        args << option;
    }
    if (option == QLatin1String("--csv")) {
        args << csv;
    }
    if (plainLoop) {
        qputenv("QT_NO_GLIB", "1");
    }
    const Run run = runCli(args);
    qunsetenv("QT_NO_GLIB");
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.err, QString());
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), count);
    QDateTime previous;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = ReadLine.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const QDateTime time = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        QVERIFY2(time.isValid(), qPrintable(line));
        QCOMPARE(match.captured(2) + ' ' + match.captured(3) + ' ' + match.captured(4),
                 value + QStringLiteral(" kg ") + (stable ? 'S' : 'X'));
        // Each request waits the interval after the previous answer (timers may fire a little early).
        QVERIFY2(!previous.isValid() || previous.msecsTo(time) >= intervalMs * 9 / 10, qPrintable(run.out));
        previous = time;
    }
    // One request a result: a request the interval did not hold back would be answered too soon, and its
    // result left out (an older instrument's connection probes take two more).
    sim.stop();
    const int requests = QString::fromLatin1(sim.errors())
                             .count(QRegularExpression(QStringLiteral("^<- (Sx1|SI)\\\\"),
                                                       QRegularExpression::MultilineOption));
    QVERIFY2(streaming || (requests >= count && requests <= count + 2),
             qPrintable(QString::number(requests)));
    // The file holds the same results.
    QFile file(csv);
    const QString written = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    QCOMPARE(written, option == QLatin1String("--csv")
                          ? "time,value,unit,stability\n" + QString(run.out).replace(' ', ',')
                          : QString());
}

void TstCli::sendToStreamingInstrument_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("lines");

    // Results keep coming after the answer: only a bound ends the wait (0 lines: any number).
    QTest::newRow("--lines") << QStringList{"--lines", "2"} << 2;
    QTest::newRow("--timeout") << QStringList{"--timeout", "300"} << 0;
    // Stopped (-1) once the identity and a result after it have left the instrument.
    QTest::newRow("stopped") << QStringList() << -1;
}

void TstCli::sendToStreamingInstrument()
{
    QFETCH(QStringList, options);
    QFETCH(int, lines);

    Sim sim;
    QVERIFY(sim.start({"--stream", "50", "--verbose"}));
    ChildProcess cli;
    QVERIFY(startCli(cli.process, QStringList{"send", sim.port, "SW9"} + options));
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
    QVERIFY(startCli(cli.process, {"read", sim.port, "--count", "1000", "--interval", "100"}));
    QVERIFY(!cli.waitForLine("", 30000).isEmpty());
    sim.process.kill();
    QVERIFY(cli.process.waitForFinished(30000));
    QCOMPARE(cli.process.exitCode(), 4);
    const QString err = QString::fromUtf8(cli.process.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("mervik-cli: ")) && err.contains(QLatin1String("went away")),
             qPrintable(err));
}

void TstCli::readStoppedBySignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
}

void TstCli::readStoppedBySignal()
{
    QFETCH(int, signal);
    // Stopped at full pace, while results are held for a joint write: each one the instrument answered
    // is printed, whole.
    Sim sim;
    QVERIFY(sim.start({"--verbose"}));
    ChildProcess cli;
    QVERIFY(startCli(cli.process, {"read", sim.port, "--count", "1000000"}));
    QVERIFY(cli.process.waitForReadyRead(30000));
    QCOMPARE(::kill(pid_t(cli.process.processId()), signal), 0);
    QVERIFY(cli.process.waitForFinished(30000));
    QCOMPARE(cli.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.process.exitCode(), 0);
    const QStringList lines =
        QString::fromUtf8(cli.process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        QVERIFY2(ReadLine.match(line).hasMatch(), qPrintable(line));
    }
    sim.stop();
    const int answered =
        QString::fromLatin1(sim.errors())
            .count(QRegularExpression(QStringLiteral("^<- Sx1\\\\"), QRegularExpression::MultilineOption));
    QVERIFY2(lines.size() > 1, qPrintable(QString::number(lines.size())));
    // Connecting reads the identity and a result after it, which is not printed.
    QCOMPARE(lines.size(), answered - 1);
}

void TstCli::search_data()
{
    // CURRENT: at 9600 baud, OLDER: at 115200 baud, SILENT: a line nobody answers on; LINE: three-letter
    // instruments at 3 and 17, ECHOING: one at 12 on a line that echoes, COMMANDS: one at 12 that echoes
    // its commands but not an empty line.
    QTest::addColumn<QString>("ports"); // MERVIK_SERIAL_PORTS
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected"); // stdout lines in any order, else the stderr line

    const QString lineProtocol = QStringLiteral("CURRENT:OLDER:SILENT");
    QTest::newRow("both generations, then the count")
        << lineProtocol << QStringList{"search"} << 0
        << QStringList{
               "CURRENT: model PS 750.X2, serial number 123456, firmware 1.04.7, serial port at 9600 baud",
               "OLDER: no identity, serial port at 115200 baud", "2 instruments found"};
    QTest::newRow("JSON, the named port only")
        << lineProtocol << QStringList{"search", "--serial", "--json", "--port", "OLDER"} << 0
        << QStringList{
               "{\"baudRate\":115200,\"connection\":\"serial\",\"firmware\":\"\",\"model\":\"\","
               "\"place\":\"OLDER\",\"productionDate\":\"\",\"reachable\":true,\"serialNumber\":\"\"}"};
    QTest::newRow("nothing found") << lineProtocol
                                   << QStringList{"search", "--port", "SILENT", "--baud", "9600"} << 4
                                   << QStringList{"mervik-cli: no instrument found"};
    // The environment's list holds: a port outside it is never opened.
    QTest::newRow("port outside the list") << lineProtocol << QStringList{"search", "--port", "/dev/ttyS0"}
                                           << 3 << QStringList{"mervik-cli: no serial port /dev/ttyS0"};

    const QString identity =
        QStringLiteral(": model KX40, serial number %1, firmware KX40 v2.13, serial port at "
                       "9600 baud, address %2");
    // Every address that answers on a line is an instrument of its own.
    QTest::newRow("three-letter, each address on each line")
        << "LINE:ECHOING" << QStringList{"search", "--protocol", "three-letter", "--baud", "9600"} << 0
        << QStringList{"LINE" + identity.arg("400003").arg(3), "LINE" + identity.arg("400017").arg(17),
                       "ECHOING" + identity.arg("400012").arg(12), "3 instruments found"};
    QTest::newRow("three-letter, echo of commands only")
        << "COMMANDS" << QStringList{"search", "--protocol", "three-letter", "--baud", "9600"} << 0
        << QStringList{"COMMANDS" + identity.arg("400012").arg(12), "1 instrument found"};
    QTest::newRow("three-letter, one address, JSON")
        << "LINE:ECHOING" << QStringList{"search", "--protocol", "three-letter", "--address", "17", "--json"}
        << 0
        << QStringList{
               "{\"address\":17,\"baudRate\":9600,\"connection\":\"serial\",\"firmware\":\"KX40 v2.13\","
               "\"model\":\"KX40\",\"place\":\"LINE\",\"productionDate\":\"Unavailable\",\"reachable\":"
               "true,\"serialNumber\":\"400017\"}"};
    QTest::newRow("three-letter, no network search")
        << "LINE:ECHOING" << QStringList{"search", "--protocol", "three-letter", "--network"} << 2
        << QStringList{"mervik-cli: --protocol three-letter searches serial ports only"};
}

void TstCli::search()
{
    QFETCH(QString, ports);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);

    Sim current;
    Sim older;
    PtyPair silent;
    SimProcess line;
    SimProcess echoing;
    SimProcess commands;
    QVERIFY(current.start({}) && older.start(Older + QStringList{"--baud", "115200"}));
    const QString linePort = line.startPty({"--protocol", "three-letter", "--address", "3,17"});
    const QString echoingPort = echoing.startPty({"--protocol", "three-letter", "--address", "12", "--echo"});
    const QString commandsPort =
        commands.startPty({"--protocol", "three-letter", "--address", "12", "--echo-commands"});
    QVERIFY(!linePort.isEmpty() && !echoingPort.isEmpty() && !commandsPort.isEmpty());
    const QList<std::pair<QString, QString>> places{
        {"CURRENT", current.port}, {"OLDER", older.port},    {"SILENT", silent.slavePath()},
        {"LINE", linePort},        {"ECHOING", echoingPort}, {"COMMANDS", commandsPort}};
    for (const auto& [name, path] : places) {
        ports.replace(name, path);
        args.replaceInStrings(name, path);
        expected.replaceInStrings(name, path);
    }
    qputenv("MERVIK_SERIAL_PORTS", ports.toLocal8Bit());
    // No interface is searched: nothing leaves this machine.
    qputenv("MERVIK_SEARCH_INTERFACES", "");
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

void TstCli::commands_data()
{
    // IN is a file holding input, OUT one the command writes; "&&" runs the next command on the same
    // instrument. printed is a regular expression for the beginning of stdout (TIME an ISO time), written
    // the beginning of OUT; wire the lines the instrument received, in this order.
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QString>("err"); // in the last line of stderr

    const QString none = QStringLiteral("/nonexistent/ttyMERVIK0"); // refused before it is opened
    const QByteArray values = "100\n200\n0.75\n1.5\n7\n101\n201\n1.5\n2.25\n8\n102\n202\n2.5\n3.25\n9\n";
    const QByteArray image = "S00900006D657276696B68\r\nS1130100000102030405060708090A0B0C0D0E0F73\r\n"
                             "S1130110101112131415161718191A1B1C1D1E1F63\r\nS9030000FC\r\n";
    const QByteArray products = "number;text1;text2;text3;integerValue;value1;value2;value3\n"
                                "7;Flour;bag;;3;1,5;2.25;0\n";
    auto row = [](const char* name, const QStringList& sim, const QStringList& args, const QByteArray& input,
                  int exitCode, const QString& printed, const QByteArray& written, const QString& wire,
                  const QString& err) {
        QTest::newRow(name) << sim << args << input << exitCode << printed << written << wire << err;
    };
    // Nothing on stdout, the message on stderr.
    auto fails = [&row](const char* name, const QStringList& sim, const QStringList& args,
                        const QByteArray& input, int exitCode,
                        const QString& err) { row(name, sim, args, input, exitCode, "", "", "", err); };
    const QString identity =
        QStringLiteral("port: PORT \\(9600\\)\nbaud rate: 9600\nmodel: PS 750.X2\nserial number: "
                       "123456\nproduction date: 2021-03-04\nfirmware: 1.04.7\ngeneration: current\n");
    row("probe", {}, {"probe", "PORT"}, {}, 0, identity, "", "<- SW9\\r", "");
    // No identity command: the identity stays empty.
    row("probe, older", Older, {"probe", "PORT"}, {}, 0,
        "port: PORT \\(9600\\)\nbaud rate: 9600\nmodel: \nserial number: \nproduction date: \nfirmware: \n"
        "generation: older\n",
        "", "", "");
    // What was read is reported: seed 1 leaves the echo and the identity whole and garbles the third
    // answer; seed 16 drops the first echo and none of the next six answers.
    row("probe, garbled answer after the identity", {"--garble", "0.5", "--seed", "1"}, {"probe", "PORT"}, {},
        0, identity, "", "", "");
    row("probe, one echo dropped", {"--drop", "0.3", "--seed", "16"}, {"probe", "PORT"}, {}, 0, identity, "",
        "", "");
    row("tare", {}, {"tare", "PORT"}, {}, 0, "tared\n", "", "<- ST\\r", "");
    row("send prints the answer", {}, {"send", "PORT", "SW9", "--wait", "200"}, {}, 0,
        "PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n", "", "<- SW9\\r", "");
    // The echo's late answer, and the answer to the result request that follows it, are not the line's.
    row("send to a slow instrument", {"--delay", "250"}, {"send", "PORT", "ST"}, {}, 0, "MT\r\n$", "",
        "<- ST\\r", "");
    row("alibi", {"--alibi", "3"}, {"alibi", "PORT", "--csv", "OUT"}, {}, 0,
        "1 2024-01-01 08:01:01 num 1001 user U1 product P1 net 0.125 gross 0.625 tare 0.500 g S\n"
        "2 2024-01-02 08:02:02 num 1002 user U2 product P2 net 0.250 gross 0.750 tare 0.500 g S\n"
        "3 2024-01-03 08:03:03 num 1003 user U3 product P3 net 0.375 gross 0.875 tare 0.500 g U\n",
        "rec_id,date,time,num,user_id,prod_id,net,gross,tare,unit,point,stable\n"
        "1,2024-01-01,08:01:01,1001,U1,P1,0.125,0.625,0.500,g,3,1\n",
        "", "alibi: 3 of 3");
    // Read as far as announced, with a word that the memory holds more.
    row("alibi, fewer announced than held", {"--alibi", "1020", "--alibi-announce", "5"}, {"alibi", "PORT"},
        {}, 0, "1 2024-01-01 08:01:01 num 1001 .*\n(.*\n){3}5 2024-01-05 08:05:05 num 1005 .*\n\\z", "", "",
        "alibi: warning: the instrument announced 5 records but reports 1020; only the 5 announced were "
        "read");
    row("users, quoted, any order", {}, {"users", "PORT", "IN"},
        "Number,text2,text1\r\n1,\"Smith, Anna\",op\r\n\r\n2,\"said \"\"hi\"\"\",x\r\n", 0,
        "2 users loaded\n", "", "<- Sr2;x;said \"hi\"\\r", "");
    row("products, semicolons", {}, {"products", "PORT", "IN"}, products, 0, "1 products loaded\n", "",
        "<- Sr7;Flour;bag;;3;1.500;2.250;0.000\\r", "");
    row("clock set, read", {}, {"clock", "PORT", "--set", "2030-01-02 03:04:05", "&&", "clock", "PORT"}, {},
        0, "2030-01-02 03:04:0", "", "<- Sd&t2030-01-02 03:04:05\\r", "");
    row("clock now", {}, {"clock", "PORT", "--now"}, {}, 0,
        "clock set to " + QDate::currentDate().toString(Qt::ISODate), "", "<- Sd&t", "");
    row("message", {}, {"message", "PORT", "Hello there", "--seconds", "3"}, {}, 0, "shown for 3 s\n", "",
        "<- SN03Hello there\\r", "");
    row("compensation set, read", {}, {"compensation", "PORT", "--set", "IN", "&&", "compensation", "PORT"},
        values, 0, values, "", "<- SEF0110.75\\r", "");
    row("eeprom get, set", {}, {"eeprom", "PORT", "--get", "OUT", "&&", "eeprom", "PORT", "--set", "OUT"}, {},
        0, "EEPROM written from OUT\n", "SEW0000:030A11181F262D343B424950575E656C\n", "<- SEW01F0:", "");
    // The identity read that connecting queues waits for the dump instead of taking its lines: at 150 ms an
    // answer it would still be reading when the dump comes, 300 ms after the acknowledgement, in one burst.
    row("eeprom dump after a pause", {"--eeprom-pause", "300", "--eeprom-gap", "0", "--delay", "150"},
        {"eeprom", "PORT", "--get", "OUT"}, {}, 0, "32 lines written to OUT\n",
        "SEW0000:030A11181F262D343B424950575E656C\n", "<- SE?\\r", "");
    row("firmware", {}, {"firmware", "PORT", "IN"}, image, 0, "firmware uploaded from IN\n", "",
        "<- S9030000FC\\r", "100%");
    // Failures of the instrument.
    fails("no such port", {}, {"probe", none}, {}, 3, "no such port");
    fails("nobody answers", {"--silent-after", "0"}, {"probe", "PORT", "--baud", "9600"}, {}, 4,
          "no instrument answered");
    fails("older ignores SW9", Older, {"send", "PORT", "SW9", "--wait", "200"}, {}, 4, "no answer");
    // Every answer garbled: the instrument is found, its results do not parse.
    fails("unparsable result", {"--garble", "1"}, {"read", "PORT"}, {}, 5, "wrong answer");
    fails("table refused", {"--refuse-tables"}, {"users", "PORT", "IN"}, "number,text1,text2\n1,a,b\n", 5,
          "users: wrong answer");
    fails("firmware never finished", {"--boot-no-f3"}, {"firmware", "PORT", "IN"}, image, 5,
          "firmware: The bootloader did not report the end of the image after its last line (4 of 4; \"f3\" "
          "expected). The instrument may still be in its bootloader: send the file again.");
    fails("eeprom dump stalls", {"--eeprom-stall", "3"}, {"eeprom", "PORT", "--get", "OUT"}, {}, 4,
          "dump stopped after 3 lines");
    // Refused input: nothing is sent.
    fails("nothing", {}, {}, {}, 2, "usage: mervik-cli COMMAND PORT");
    fails("unknown command", {}, {"weigh", none}, {}, 2, "unknown command: weigh");
    fails("send without line", {}, {"send", none}, {}, 2, "wrong number of arguments for send");
    fails("count 0", {}, {"read", none, "--count", "0"}, {}, 2, "--count expects a positive number");
    fails("';' in a field", {}, {"users", none, "IN"}, "number;text1;text2\n1;\"a;b\";c\n", 2,
          "IN line 2: text1 holds a \";\"");
    fails("quote not closed", {}, {"users", none, "IN"}, "number,text1,text2\n1,a,b\n2,\"a,b\n", 2,
          "IN line 3: a quoted field");
    fails("unknown field", {}, {"products", none, "IN"}, "number,name\n", 2,
          "IN line 1: unknown field \"name\"");
    fails("value with an exponent", {}, {"products", none, "IN"}, products + "8;a;b;c;1;1e300;0;0\n", 2,
          "IN line 3: value1 is no plain decimal number");
    fails("value beyond the field", {}, {"products", none, "IN"}, products + "8;a;b;c;1;0;99999999;0\n", 2,
          "IN line 3: value2 is out of range");
    // Users files the instrument's table cannot take, each refused with its line before the port.
    const QByteArray header = "number,text1,text2\n";
    QByteArray tooMany = header;
    for (int i = 1; i <= 1001; ++i) {
        tooMany += QByteArray::number(i) + ",a,b\n";
    }
    const QList<std::pair<const char*, QByteArray>> refusedUsers{
        {"IN line 3: not a UTF-8 text file (a NUL byte)", header + "1,a,b\n2,c" + '\0' + "d,e\n3,f,g\n"},
        {"IN line 2: not a UTF-8 text file (bytes that are not UTF-8)", header + "1,caf\xe9,b\n"},
        {"IN line 1: not a UTF-8 text file", QTextCodec::codecForName("UTF-16")->fromUnicode(header)},
        {"IN line 4: number 1 is already taken", header + "1,a,b\n2,c,d\n1,e,f\n"},
        {"IN line 2: text2 is longer than 32 characters", header + "1,a," + QByteArray(1 << 20, 'x') + '\n'},
        {"IN line 1002: more than 1000 records", tooMany},
        {"IN holds no users: loading it empties the instrument's users table", header},
    };
    for (const auto& refused : refusedUsers) {
        fails(refused.first, {}, {"users", none, "IN"}, refused.second, 2, refused.first);
    }
    row("users, none on purpose", {}, {"users", "PORT", "IN", "--allow-empty"}, header, 0, "0 users loaded\n",
        "", "<- Se\\r", "");
    fails("14 compensation values", {}, {"compensation", none, "--set", "IN"}, values.left(values.size() - 2),
          2, "IN: 14 values");
    fails("firmware without its end record", {}, {"firmware", none, "IN"}, image.left(image.indexOf("S9")), 2,
          "IN line 3: no end record");
    fails("firmware over the size limit", {}, {"firmware", none, "IN"}, OversizeFile, 2, "IN is over 64 MiB");
    fails("eeprom empty file", {}, {"eeprom", none, "--set", "IN"}, "", 2, "IN line 1: no EEPROM lines");
    fails("bad date", {}, {"clock", none, "--set", "2030-13-01 00:00:00"}, {}, 2, "--set expects");
    fails("no file", {}, {"users", none, "OUT"}, {}, 1, "cannot read OUT");

    // Instruments at 3 and 17 on one line (12.5 kg each). Handed to the controllers, the instrument is
    // identified again.
    QByteArray kxImage(3000, '\0');
    for (int i = 0; i < kxImage.size(); ++i) {
        kxImage[i] = char(i * 7 + i / 256);
    }
    auto kx = [&row, &kxImage](const char* name, const QStringList& sim, const QStringList& args,
                               int exitCode, const QString& printed, const QString& wire,
                               const QString& err = {}) {
        QString lines;
        for (const QString& line : wire.split(QLatin1Char(' '))) {
            lines += "<- " + line + "\\r\n";
        }
        row(name, QStringList{"--protocol", "three-letter", "--address", "3,17"} + sim,
            QStringList{"--protocol", "three-letter"} + args, kxImage, exitCode, printed,
            args.contains("firmware") ? kxImage + QByteArray(3 * 1024 - kxImage.size(), '\0') : QByteArray(),
            lines, err);
    };
    const QStringList echo{"--echo"};
    const QString kxIdentity =
        "model: KX40\nserial number: 400017\nproduction date: Unavailable\nfirmware: KX40 v2.13\n";
    kx("three-letter probe at 17", {}, {"probe", "PORT", "--address", "17"}, 0,
       "port: .* Adress: 17\nbaud rate: 9600\n" + kxIdentity + "address: 17\n",
       "U17DAD U17DNW U17DNS U17UFW2");
    kx("three-letter probe, the first address that answers", echo, {"probe", "PORT"}, 0,
       "port: .* Adress: 3\nbaud rate: 9600\n" + QString(kxIdentity).replace("17", "03") + "address: 3\n",
       "U0DAD U1DAD U2DAD U3DAD U3DNW U3DNS U3UFW2");
    kx("three-letter read at 3", {}, {"read", "PORT", "--address", "3", "--count", "2"}, 0,
       "(TIME 12.50 kg X\n){2}$", "U3DAD U3DNW U3DNS U3UFW2 U3DWY U3DWY");
    kx("three-letter firmware at 17", {"--loader-ready-ms", "20", "--loader-image", "OUT"},
       {"firmware", "PORT", "IN", "--address", "17"}, 0, "firmware uploaded from IN\n", "U17DAD U17ZFI");
    kx("three-letter, nobody at the address", {}, {"probe", "PORT", "--address", "5", "--baud", "9600"}, 4,
       "", "U5DAD", "at address 5");
    fails("three-letter address out of range", {},
          {"probe", none, "--protocol", "three-letter", "--address", "33"}, {}, 2,
          "--address expects a bus address from 0 to 32");
    fails("address without three-letter", {}, {"probe", none, "--address", "3", "--protocol", "line"}, {}, 2,
          "--address is for --protocol three-letter");
    fails("three-letter empty image", {},
          {"firmware", none, "IN", "--protocol", "three-letter", "--address", "17"}, {}, 1,
          "cannot read IN as a firmware image");
}

void TstCli::commands()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QString, printed);
    QFETCH(QByteArray, written);
    QFETCH(QString, wire);
    QFETCH(QString, err);

    const QString in = m_home.filePath(QStringLiteral("in.txt"));
    const QString out = m_home.filePath(QStringLiteral("out.txt"));
    QFile::remove(out);
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(input);
    if (input == OversizeFile) {
        QVERIFY(file.resize(64 * 1024 * 1024 + 1));
    }
    file.close();
    Sim sim;
    for (QStringList* list : {&simArgs, &args}) {
        list->replaceInStrings(QRegularExpression(QStringLiteral("^IN$")), in);
        list->replaceInStrings(QRegularExpression(QStringLiteral("^OUT$")), out);
    }
    QVERIFY(sim.start(simArgs + QStringList{"--verbose"}));
    args.replaceInStrings(QStringLiteral("PORT"), sim.port);
    const QStringList commands = args.join(QLatin1Char('\n')).split(QStringLiteral("\n&&\n"));
    Run run;
    for (int i = 0; i < commands.size(); ++i) {
        run = runCli(commands.at(i).split(QLatin1Char('\n')));
        QVERIFY2(i + 1 == commands.size() || run.exitCode == 0, qPrintable(run.err));
    }
    // Progress lines end in a carriage return or a line feed; the outcome is the last line.
    const QStringList errLines =
        run.err.split(QRegularExpression(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts);
    const QString lastErr = errLines.isEmpty() ? QString() : errLines.constLast();
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
    printed.replace("TIME", "\\S+")
        .replace("IN", QRegularExpression::escape(in))
        .replace("OUT", QRegularExpression::escape(out))
        .replace("PORT", QRegularExpression::escape(QString(sim.port).remove("/dev/")));
    QVERIFY2(exitCode == 0 ? QRegularExpression("\\A" + printed).match(run.out).hasMatch()
                           : run.out.isEmpty(),
             qPrintable(run.out + " does not match " + printed));
    QVERIFY2(lastErr.contains(QString(err).replace("IN", in).replace("OUT", out)), qPrintable(run.err));
    QCOMPARE(lastErr.startsWith(QLatin1String("mervik-cli: ")), exitCode != 0);
    QFile result(out);
    if (!written.isEmpty()) {
        QVERIFY(result.open(QIODevice::ReadOnly));
        QVERIFY2(result.readAll().startsWith(written), "what the command wrote");
    }
    if (exitCode != 0 && !args.contains(QStringLiteral("--set"))) {
        QVERIFY2(!result.exists(), "nothing written on failure");
    }
    for (const QString& line : wire.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QVERIFY2(waitForTraffic(sim.process, line.toUtf8()), qPrintable(line));
    }
}

void TstCli::report()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty()) {
        QSKIP("pdftotext (poppler-utils) is not installed: the report cannot be read back");
    }
    const QString db = m_home.filePath(QStringLiteral("feed.db"));
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("feed"));
        sql.setDatabaseName(db);
        QVERIFY(sql.open());
        QSqlQuery query(sql);
        QVERIFY(query.exec(QLatin1String(DataFeedTableModel::CreateStatement)));
        // Around a new year: the stored dates (MM-dd-yyyy) do not sort by time as texts.
        const char* const rows[] = {
            "1, '12-31-2025', '23:59:58', 'A', '1.00', 'g', 'before'",
            "2, '12-31-2025', '23:59:59', 'A', '2.00', 'g', 'eve'",
            "3, '01-01-2026', '00:00:01', 'A', '3.00', 'g', 'new year'",
            "4, '01-01-2026', '12:00:00', 'B', '9.00', 'g', 'other scale'",
            "5, '01-02-2026', '00:00:00', 'A', '4.00', 'g', 'after'",
            "6, '01-01-2025', '12:00:00', 'A', '5.00', 'g', 'last year'",
        };
        for (const char* row : rows) {
            QVERIFY(
                query.exec(QStringLiteral("INSERT INTO DATAFEED VALUES ('', %1)").arg(QLatin1String(row))));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("feed"));
    QFileInfo before(db);
    const QDateTime modified = before.lastModified();

    const QString out = m_home.filePath(QStringLiteral("out.pdf"));
    Run run = runCli(
        {"report", "--db", db, "--from", "2025-12-31 23:59:59", "--to", "2026-01-01", "--serial", "A", out});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("2 results written to")), qPrintable(run.out + run.err));
    QCOMPARE(QFileInfo(db).lastModified(), modified);
    QProcess text;
    text.start(pdftotext, {QStringLiteral("-layout"), out, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(20000));
    const QString pdf = QString::fromUtf8(text.readAllStandardOutput());
    for (const char* kept :
         {"eve", "new year", "2.50 g", "0.71 g", "2025-12-31 23:59:59 to 2026-01-01 23:59:59"}) {
        QVERIFY2(pdf.contains(QLatin1String(kept)), kept);
    }
    for (const char* left : {"before", "other scale", "after", "last year"}) {
        QVERIFY2(!pdf.contains(QLatin1String(left)), left);
    }

    // Usage errors and a missing database: a clear word, no file written.
    const QString none = m_home.filePath(QStringLiteral("none.pdf"));
    run = runCli({"report", "--from", "31.12.2025", "--db", db, none});
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains(QStringLiteral("--from")));
    run = runCli({"report", "--db", m_home.filePath(QStringLiteral("missing.db")), none});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains(QStringLiteral("no such database")));
    QVERIFY(!QFileInfo::exists(none));
    QVERIFY(!QFileInfo::exists(m_home.filePath(QStringLiteral("missing.db"))));
}

void TstCli::verify_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QStringList>("findings");
    // A database the program wrote: four results, the newest deleted with an audit entry; changed
    // afterwards with SQL directly, as someone without the program would.
    QTest::newRow("as written") << QStringList() << QStringList();
    QTest::newRow("value changed") << QStringList{"UPDATE DATAFEED SET VAL = '9.99' WHERE COUNT = 2"}
                                   << QStringList{"row 2: altered"};
    QTest::newRow("row deleted") << QStringList{"DELETE FROM DATAFEED WHERE COUNT = 3"}
                                 << QStringList{"row 3: removed outside the program"};
    QTest::newRow("row inserted") << QStringList{"INSERT INTO DATAFEED VALUES "
                                                 "('', 9, '03-04-2026', '05:06:07', 'A', '1.00', 'g', '')"}
                                  << QStringList{"row 9: inserted outside the program"};
    QTest::newRow("deleted row put back")
        << QStringList{"INSERT INTO DATAFEED VALUES "
                       "('', 4, '03-04-2026', '05:06:07', 'A', '4', 'g', '')"}
        << QStringList{"row 4: inserted outside the program"};
    // The deletion that the entry records is then vouched for no longer.
    QTest::newRow("audit entry changed")
        << QStringList{"UPDATE AUDIT SET REASON = 'routine' WHERE ID = 1"}
        << QStringList{"audit entry 1: altered", "row 4: removed outside the program"};
    QTest::newRow("chain reordered") << QStringList{"UPDATE CHAIN SET SEQ = -1 WHERE SEQ = 3",
                                                    "UPDATE CHAIN SET SEQ = 3 WHERE SEQ = 4",
                                                    "UPDATE CHAIN SET SEQ = 4 WHERE SEQ = -1"}
                                     << QStringList{"chain broken at link 3", "chain broken at link 4",
                                                    "chain broken at link 5"};
}

void TstCli::verify()
{
    QFETCH(QStringList, changes);
    QFETCH(QStringList, findings);
    static int databases = 0;
    const QString db = m_home.filePath(QStringLiteral("verify-%1.db").arg(++databases));
    const QString connection = QStringLiteral("verify");
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        sql.setDatabaseName(db);
        QVERIFY(sql.open());
        {
            DataFeedTableModel model(nullptr, sql);
            QVERIFY(model.createTable());
            model.select();
            for (int i = 1; i <= 4; ++i) {
                QVERIFY(model.appendRow({"03-04-2026", "05:06:07", "A", QString::number(i), "g", ""}) == i);
            }
            model.setChangeReason(QStringLiteral("spilled"));
            QVERIFY(model.removeRows(3, 1));
        }
        QSqlQuery query(sql);
        for (const QString& change : changes) {
            QVERIFY2(query.exec(change), qPrintable(change));
        }
    }
    QSqlDatabase::removeDatabase(connection);

    const Run run = runCli({"verify", "--db", db});
    QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty(), qPrintable(run.err));
    const QString summary = lines.takeLast();
    QCOMPARE(lines, findings);
    QCOMPARE(run.exitCode, findings.isEmpty() ? 0 : 1);
    QVERIFY2(summary.endsWith(findings.isEmpty() ? QStringLiteral("everything holds")
                                                 : QStringLiteral("%1 findings").arg(findings.size())),
             qPrintable(summary));

    if (changes.isEmpty()) {
        const Run missing = runCli({"verify", "--db", m_home.filePath(QStringLiteral("missing.db"))});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY(missing.err.contains(QStringLiteral("no such database")));
        QVERIFY(!QFileInfo::exists(m_home.filePath(QStringLiteral("missing.db"))));
    }
}

void TstCli::capture()
{
    // Three instruments at once, each asked every 20 ms; stopped by SIGTERM.
    const QStringList serials{"CAP-1", "CAP-2", "CAP-3"};
    Sim sims[3];
    QStringList args{"capture"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(sims[i].start({"--serial", serials.at(i), "--verbose"}));
        args << sims[i].port;
    }
    const QString db = m_home.filePath(QStringLiteral("capture.db"));
    args << "--db" << db << "--interval"
         << "20";
    ChildProcess cli;
    QVERIFY(startCli(cli.process, args));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(cli.waitForLine(sims[i].port.toUtf8(), 20000),
                 sims[i].port.toUtf8() + ": connected (serial " + serials.at(i).toUtf8() + ")");
    }
    const auto stored = [&db](const QString& statement) {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("capture"));
        sql.setDatabaseName(db);
        QStringList rows;
        QSqlQuery query(sql);
        if (sql.open() && query.exec(statement)) {
            while (query.next()) {
                rows << query.value(0).toString() + '|' + query.value(1).toString();
            }
        }
        query = QSqlQuery();
        sql = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("capture"));
        return rows;
    };
    const QString perSerial = QStringLiteral("SELECT SN, COUNT(*) FROM DATAFEED GROUP BY SN ORDER BY SN");
    // A few results of each first.
    QTRY_VERIFY_WITH_TIMEOUT(
        stored(QStringLiteral("SELECT MIN(n), 0 FROM (SELECT COUNT(*) AS n FROM DATAFEED "
                              "GROUP BY SN HAVING COUNT(DISTINCT SN) = 1) t"))
                    .value(0)
                    .section('|', 0, 0)
                    .toInt() >= 10 &&
            stored(perSerial).size() == 3,
        20000);
    cli.process.terminate();
    QVERIFY(cli.process.waitForFinished(20000));
    QCOMPARE(cli.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.process.exitCode(), 0);
    // Every request an instrument answered is a stored row of its serial number, the last ones too;
    // only a request still unanswered when the program let go of the line (a loaded machine's time-out)
    // may have no row.
    const QStringList rows = stored(perSerial);
    QCOMPARE(rows.size(), 3);
    for (int i = 0; i < 3; ++i) {
        sims[i].stop();
        const int requests = QString::fromLatin1(sims[i].errors())
                                 .count(QRegularExpression(QStringLiteral("^<- Sx1\\\\"),
                                                           QRegularExpression::MultilineOption));
        QCOMPARE(rows.at(i).section('|', 0, 0), serials.at(i));
        const int kept = rows.at(i).section('|', 1).toInt();
        QVERIFY2(kept == requests || kept == requests - 1,
                 qPrintable(QStringLiteral("%1: %2 requests").arg(rows.at(i)).arg(requests)));
    }
    // The traffic went to the log as the program logs it.
    QVERIFY(stored(QStringLiteral("SELECT COUNT(*), 0 FROM LOGS")).value(0).section('|', 0, 0).toInt() > 0);
}

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
