// The simulated instrument at its boundaries: the bytes it answers in-process, the executable's exits
// (its serving is what every end-to-end test stands on), and the Tibbo module's reboot. The modules'
// dialects and the dialling-out mode are driven by the application's module and search tests in network
// namespaces.

#include "siminstrument.h"
#include "simtibbomodule.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <tuple>

namespace {

// The answer to a result request at 12.345 g.
const QByteArray Result = "    12.345 g  \r\n";

// Steps of a scenario: "load W" puts W on the pan; "older" makes it an instrument of the older
// generation; "decimals", "unit", "stable", "drop" and "silent-after" set what their names say;
// anything else is sent as it is. What the instrument sends
// by itself (a held answer) joins the answers.
QByteArray run(SimInstrument& instrument, const QByteArrayList& steps)
{
    QByteArray answers;
    QObject context;
    QObject::connect(&instrument, &SimInstrument::output, &context,
                     [&answers](const QByteArray& bytes) { answers += bytes; });
    for (const QByteArray& step : steps) {
        const QByteArray value = step.mid(step.indexOf(' ') + 1);
        const double number = value.toDouble();
        if (step.startsWith("load ")) {
            instrument.setWeight(number);
        } else if (step == "older") {
            instrument.setGeneration(SimInstrument::Generation::Old);
        } else if (step.startsWith("decimals ")) {
            instrument.setDecimals(int(number));
        } else if (step.startsWith("unit ")) {
            instrument.setUnit(value);
        } else if (step.startsWith("stable ")) {
            instrument.setStable(number != 0);
        } else if (step.startsWith("drop ")) {
            instrument.setDropProbability(number);
        } else if (step.startsWith("silent-after ")) {
            instrument.setSilentAfter(int(number));
        } else {
            answers += instrument.respond(step);
        }
    }
    return answers;
}

SimModuleSettings settings()
{
    SimModuleSettings s;
    s.ownAddress = QHostAddress(QStringLiteral("10.0.0.2"));
    s.ip = s.ownAddress;
    s.port = 4001;
    s.remotePort = 4001;
    return s;
}

// Each step is "datagram=>expected reply" (the reply may be empty).
QByteArray run(SimModule& module, const QByteArrayList& steps)
{
    QByteArray mismatches;
    for (const QByteArray& step : steps) {
        const int arrow = step.indexOf("=>");
        const QByteArray reply = module.respond(step.left(arrow));
        if (reply != step.mid(arrow + 2)) {
            mismatches += step + " gave " + reply + "\n";
        }
    }
    return mismatches;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void scenarios_data();
    void scenarios();
    void faultsAreRepeatable();

    void exits_data();
    void exits();
    void tibboModule();
};

void TestSimulator::scenarios_data()
{
    QTest::addColumn<QByteArrayList>("steps");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char* name, const QByteArrayList& steps, const QByteArray& expected) {
        QTest::newRow(name) << steps << expected;
    };

    const QByteArrayList commands{"load 12.345", "SI\r\n", "Sx1\r\n", "Sx3\r\n", "SS\r\n", "SJ\r\n",
                                  "SW9\r\n", "SL12.5\r\n", "SM-0.1\r\n",
                                  // The application writes large thresholds in exponent form.
                                  "SH1.23457e+06\r\n", "ST\r\n", "SZ\r\n"};
    row("every command", commands,
        Result + Result + "S" + Result +
            "MJ\r\nPS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\nML\r\nMM\r\nMH\r\nMT\r\nMZ\r\n");
    // The older generation has no SJ, SW9 or Sx3 and ignores what it does not know.
    row("older, every command", QByteArrayList{"older"} + commands,
        Result + Result + "ML\r\nMM\r\nMH\r\nMT\r\nMZ\r\n");
    for (const char* line : {"si\r\n", "Sx2\r\n", "SLnan\r\n", "SJ\n", "SJ\r\r\n", "SJ SJ\r\n"}) {
        const QByteArray name = QByteArray(line).toPercentEncoding();
        QTest::newRow(name.constData()) << QByteArrayList{line} << QByteArray("ES\r\n");
        QTest::newRow(("older, " + name).constData()) << QByteArrayList{"older", line} << QByteArray();
    }
    row("tare shows the net", {"load 12.345", "ST\r\n", "Sx1\r\n", "load 10", "Sx3\r\n"},
        "MT\r\n     0.000 g  \r\nS-    2.345 g  \r\n");
    row("zero clears the tare", {"load 5", "ST\r\n", "load 8", "SZ\r\n", "load 9", "Sx1\r\n"},
        "MT\r\nMZ\r\n     1.000 g  \r\n");
    row("tare after zero", {"load 1", "SZ\r\n", "load 3", "ST\r\n", "load 3.25", "SI\r\n"},
        "MZ\r\nMT\r\n     0.250 g  \r\n");
    row("negative rounding to zero has no sign", {"load -0.0004", "Sx1\r\n"}, "     0.000 g  \r\n");
    row("full field", {"decimals 1", "unit ct", "load -1234567.8", "Sx1\r\n"}, "-1234567.8 ct \r\n");
    row("overload", {"decimals 2", "load 1e9", "Sx1\r\n"}, "        OL g  \r\n");

    row("unstable: marked, and the stable result held until it settles",
        {"load 2.5", "stable 0", "Sx3\r\nSx1\r\nSI\r\nSI\r\n", "load 2.75", "stable 1", "stable 1"},
        "U     2.500 g  \r\n     2.500 g  \r\n     2.750 g  \r\n");
    row("dropped answers still act", {"load 7", "drop 1", "ST\r\nSJ\r\nSx1\r\n", "drop 0", "Sx1\r\n"},
        "     0.000 g  \r\n");
    row("silent after so many lines, and deaf",
        {"load 7", "ST\r\n", "load 9", "silent-after 3", "SJ\r\nSJ\r\nSZ\r\n", "silent-after -1", "Sx1\r\n"},
        "MT\r\nMJ\r\nMJ\r\n     2.000 g  \r\n");

    row("lines merged and split", {"SJ\r\nS", "T\r\nSZ\r\nSx1", "\r\n"},
        "MJ\r\nMT\r\nMZ\r\n     0.000 g  \r\n");
    row("long line still answered", {QByteArray(4000, 'x'), "\r\n", "SJ\r\n"}, "ES\r\nMJ\r\n");
    row("overlong line dropped up to its line feed", {QByteArray(5000, 'x'), "SJ\r\n", "SJ\r\n"}, "MJ\r\n");
}

void TestSimulator::scenarios()
{
    QFETCH(QByteArrayList, steps);
    QFETCH(QByteArray, expected);

    SimInstrument instrument;
    QCOMPARE(run(instrument, steps), expected);
}

void TestSimulator::faultsAreRepeatable()
{
    auto session = [](quint32 seed) {
        SimInstrument instrument;
        instrument.setDropProbability(0.3);
        instrument.setGarbleProbability(0.3);
        instrument.setSeed(seed);
        QByteArray answers;
        for (int i = 0; i < 200; ++i) {
            answers += instrument.respond("SJ\r\n");
        }
        return std::make_tuple(answers, instrument.droppedAnswers(), instrument.garbledAnswers());
    };

    const auto first = session(7);
    QCOMPARE(session(7), first);
    QVERIFY(session(8) != first);

    const auto [answers, dropped, garbled] = first;
    QVERIFY2(dropped > 30 && dropped < 90, QByteArray::number(dropped).constData());
    QVERIFY2(garbled > 20 && garbled < 80, QByteArray::number(garbled).constData());
    QCOMPARE(answers.count("MJ\r\n"), 200 - dropped - garbled);
    QCOMPARE(answers.count("\r\n"), 200 - dropped);
}

void TestSimulator::exits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");

    QTest::newRow("after --max-seconds") << QStringList{"--max-seconds", "0.3", "--stream", "5"} << 0;
    QTest::newRow("identity line break") << QStringList{"--model", "A\nB"} << 2;
    for (const char* refused :
         {"--generation new", "--weight 1e9 --decimals 2", "--pty --tcp-server 0", "--tcp-client 5000",
          "--module wifi --module-mac 02:00:4d:56:00", "--module tibbo --module-baud 14400"}) {
        QTest::newRow(refused) << QString::fromLatin1(refused).split(QLatin1Char(' ')) << 2;
    }
}

void TestSimulator::exits()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);

    QElapsedTimer elapsed;
    elapsed.start();
    SimProcess sim;
    QVERIFY(sim.start(arguments, false));
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), code);
    // A bad option is refused before anything is served.
    const QByteArray out = sim.process.readAllStandardOutput();
    QVERIFY2(code == 0 ? out.startsWith("PTY /dev/pts/") && elapsed.elapsed() >= 250 : out.isEmpty(),
             out.constData());
    QVERIFY(code == 0 || sim.errors().startsWith("mervik-sim: "));
}

void TestSimulator::tibboModule()
{
    SimTibboModule module(settings());
    module.setRebootTime(100);
    // A new role is stored at once but starts only with the next boot, during which the module is deaf.
    QSignalSpy started(&module, &SimModule::roleApplied);
    QCOMPARE(run(module, {"W2.0.77.86.0.1=>A", "L=>A", "SRM2=>A", "E=>", "X=>"}), QByteArray());
    QVERIFY(module.isRebooting());
    QCOMPARE(started.count(), 0);
    QVERIFY(started.wait(3000));
    QVERIFY(module.settings().client);
    QCOMPARE(run(module, {"L=>A"}), QByteArray());
    QCOMPARE(module.reboots(), 1);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
