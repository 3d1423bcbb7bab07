#include "support/childprocess.h"
#include "support/ptypair.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Bounds for the child processes; the slowest run (an older instrument's probe) takes about 1.5 s.
constexpr int StartBoundMs = 5000;
constexpr int RunBoundMs = 30000;

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// mervik-sim on a pseudo-terminal; it exits by itself should the test not stop it.
class Sim
{
public:
    bool start(const QStringList& extra)
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(MERVIK_SIM_PATH),
                      QStringList{QStringLiteral("--pty"), QStringLiteral("--max-seconds"),
                                  QStringLiteral("60"), QStringLiteral("--weight"), QStringLiteral("12.5"),
                                  QStringLiteral("--decimals"), QStringLiteral("2"), QStringLiteral("--unit"),
                                  QStringLiteral("kg")} +
                          extra);
        if (!process.waitForStarted(StartBoundMs)) {
            return false;
        }
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(StartBoundMs)) {
                return false;
            }
        }
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("PTY "))) {
            return false;
        }
        port = line.mid(4);
        return true;
    }

    ~Sim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(StartBoundMs)) {
                process.kill();
                process.waitForFinished(StartBoundMs);
            }
        }
    }

    QProcess process;
    QString port;
};

// One line of "read": ISO time, value, unit, stability.
const QRegularExpression ReadLine(QStringLiteral(
    "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(?:Z|[+-]\\d\\d:\\d\\d)?) (\\S+) (\\S*) (\\S)$"));

// Reads the simulator's traffic log (--verbose, on stderr) up to a line that starts with prefix; the
// simulator ends by itself, and with it the wait.
bool waitForTraffic(QProcess& sim, const QByteArray& prefix)
{
    sim.setReadChannel(QProcess::StandardError);
    while (sim.canReadLine() || sim.waitForReadyRead(StartBoundMs)) {
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
    void readToCsv();
    void tareAndZero_data();
    void tareAndZero();
    void sendPrintsAnswer();
    void failures_data();
    void failures();
    void usageErrors_data();
    void usageErrors();
    void sendToStreamingInstrument_data();
    void sendToStreamingInstrument();
    void readWhenThePortGoesAway();
    void probeReportsWhatWasRead_data();
    void probeReportsWhatWasRead();

private:
    Run runCli(const QStringList& args);
    bool startCli(QProcess& process, const QStringList& args);

    QTemporaryDir home;
};

void TstCli::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(home.isValid());
    QVERIFY(QFile::exists(QStringLiteral(MERVIK_CLI_PATH)));
    QVERIFY(QFile::exists(QStringLiteral(MERVIK_SIM_PATH)));
    PtyPair probe;
    if (!probe.isValid()) {
        QSKIP("pseudo-terminals are not available here");
    }
}

Run TstCli::runCli(const QStringList& args)
{
    QProcess process;
    // Whatever the program might store goes to a scratch home.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MERVIK_CLI_PATH), args);
    Run run;
    if (!process.waitForStarted(StartBoundMs)) {
        run.err = QStringLiteral("did not start");
        return run;
    }
    if (!process.waitForFinished(RunBoundMs)) {
        process.kill();
        process.waitForFinished(StartBoundMs);
        run.err = QStringLiteral("did not finish");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TstCli::probe_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("current") << QStringList() << QStringList{QStringLiteral("baud rate: 9600"),
                                                             QStringLiteral("model: PS 750.X2"),
                                                             QStringLiteral("serial number: 123456"),
                                                             QStringLiteral("production date: 2021-03-04"),
                                                             QStringLiteral("firmware: 1.04.7"),
                                                             QStringLiteral("generation: current")};
    // No identity command: the identity stays empty.
    QTest::newRow("older") << QStringList{QStringLiteral("--generation"), QStringLiteral("old")}
                           << QStringList{QStringLiteral("baud rate: 9600"), QStringLiteral("model: "),
                                          QStringLiteral("generation: older")};
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
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : expected) {
        QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral(" missing in:\n") + run.out));
    }
}

void TstCli::read_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("stability");

    const QStringList threeAt50{QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--interval"),
                                QStringLiteral("50")};
    const QStringList older{QStringLiteral("--generation"), QStringLiteral("old")};
    QTest::newRow("current") << QStringList() << threeAt50 << QStringLiteral("X");
    QTest::newRow("current, stable") << QStringList() << threeAt50 + QStringList{QStringLiteral("--stable")}
                                     << QStringLiteral("S");
    QTest::newRow("older") << older << threeAt50 << QStringLiteral("X");
    QTest::newRow("older, stable") << older << threeAt50 + QStringList{QStringLiteral("--stable")}
                                   << QStringLiteral("S");
}

void TstCli::read()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, options);
    QFETCH(QString, stability);

    Sim sim;
    QVERIFY(sim.start(simArgs));
    const Run run = runCli(QStringList{QStringLiteral("read"), sim.port} + options);
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
        QCOMPARE(match.captured(2), QStringLiteral("12.50"));
        QCOMPARE(match.captured(3), QStringLiteral("kg"));
        QCOMPARE(match.captured(4), stability);
        // Each request waits the interval after the previous answer (timers may fire a little early).
        if (previous.isValid()) {
            QVERIFY2(previous.msecsTo(time) >= 45, qPrintable(run.out));
        }
        previous = time;
    }
}

void TstCli::readToCsv()
{
    Sim sim;
    QVERIFY(sim.start({}));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("results.csv"));
    const Run run =
        runCli({QStringLiteral("read"), sim.port, QStringLiteral("--count"), QStringLiteral("3"),
                QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--csv"), path});
    QCOMPARE(run.exitCode, 0);

    QStringList expected{QStringLiteral("time,value,unit,stability")};
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        expected << QString(line).replace(QLatin1Char(' '), QLatin1Char(','));
    }
    QCOMPARE(expected.size(), 4);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString contents = QString::fromUtf8(file.readAll());
    QCOMPARE(contents, expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TstCli::tareAndZero_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("printed");

    QTest::newRow("tare") << QStringLiteral("tare") << QStringLiteral("tared\n");
    QTest::newRow("zero") << QStringLiteral("zero") << QStringLiteral("zeroed\n");
}

void TstCli::tareAndZero()
{
    QFETCH(QString, command);
    QFETCH(QString, printed);

    Sim sim;
    QVERIFY(sim.start({}));
    const Run run = runCli({command, sim.port});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, printed);
    QCOMPARE(run.err, QString());

    // The instrument now shows nothing for the same load.
    const Run after = runCli({QStringLiteral("read"), sim.port});
    QCOMPARE(after.exitCode, 0);
    const QRegularExpressionMatch match = ReadLine.match(after.out.trimmed());
    QVERIFY2(match.hasMatch(), qPrintable(after.out));
    QCOMPARE(match.captured(2), QStringLiteral("0.00"));
}

void TstCli::sendPrintsAnswer()
{
    Sim sim;
    QVERIFY(sim.start({}));
    const Run run = runCli({QStringLiteral("send"), sim.port, QStringLiteral("SW9"), QStringLiteral("--wait"),
                            QStringLiteral("200")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n"));
    QCOMPARE(run.err, QString());
}

void TstCli::failures_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("no such port") << QStringLiteral("none")
                                  << QStringList{QStringLiteral("probe"),
                                                 QStringLiteral("/nonexistent/ttyMERVIK0")}
                                  << 3 << QStringLiteral("no such port");
    QTest::newRow("nobody answers") << QStringLiteral("silent line")
                                    << QStringList{QStringLiteral("probe"), QStringLiteral("PORT"),
                                                   QStringLiteral("--baud"), QStringLiteral("9600")}
                                    << 4 << QStringLiteral("no instrument answered");
    QTest::newRow("older ignores SW9")
        << QStringLiteral("older")
        << QStringList{QStringLiteral("send"), QStringLiteral("PORT"), QStringLiteral("SW9"),
                       QStringLiteral("--wait"), QStringLiteral("200")}
        << 4 << QStringLiteral("no answer");
    // Every answer garbled: the instrument is found, its results do not parse.
    QTest::newRow("unparsable result")
        << QStringLiteral("garbled") << QStringList{QStringLiteral("read"), QStringLiteral("PORT")} << 5
        << QStringLiteral("wrong answer");
}

void TstCli::failures()
{
    QFETCH(QString, instrument);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    Sim sim;
    std::unique_ptr<PtyPair> line;
    if (instrument == QLatin1String("silent line")) {
        line = std::make_unique<PtyPair>();
        QVERIFY(line->isValid());
        args.replaceInStrings(QStringLiteral("PORT"), line->slavePath());
    } else if (instrument != QLatin1String("none")) {
        QVERIFY(sim.start(instrument == QLatin1String("older")
                              ? QStringList{QStringLiteral("--generation"), QStringLiteral("old")}
                              : QStringList{QStringLiteral("--garble"), QStringLiteral("1")}));
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
    QTest::newRow("no port") << QStringList{QStringLiteral("probe")};
    QTest::newRow("unknown command") << QStringList{QStringLiteral("weigh"), port};
    QTest::newRow("send without line") << QStringList{QStringLiteral("send"), port};
    QTest::newRow("extra argument") << QStringList{QStringLiteral("tare"), port, QStringLiteral("now")};
    QTest::newRow("count 0") << QStringList{QStringLiteral("read"), port, QStringLiteral("--count"),
                                            QStringLiteral("0")};
    QTest::newRow("negative interval")
        << QStringList{QStringLiteral("read"), port, QStringLiteral("--interval"), QStringLiteral("-5")};
    QTest::newRow("baud not a number")
        << QStringList{QStringLiteral("probe"), port, QStringLiteral("--baud"), QStringLiteral("fast")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("probe"), port, QStringLiteral("--bogus")};
}

void TstCli::usageErrors()
{
    QFETCH(QStringList, args);

    const Run run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(!run.err.isEmpty(), "a usage error says so on stderr");
    QCOMPARE(run.out, QString());
}

bool TstCli::startCli(QProcess& process, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MERVIK_CLI_PATH), args);
    return process.waitForStarted(StartBoundMs);
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
    QVERIFY(cli.process.waitForFinished(RunBoundMs));
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
    QVERIFY(!cli.waitForLine("", RunBoundMs).isEmpty());
    sim.process.kill();
    QVERIFY(cli.process.waitForFinished(RunBoundMs));
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

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
