// The simulated instrument at its boundaries: the bytes it answers in-process, and the same through the
// executable on a pseudo-terminal and over loopback TCP.

#include "siminstrument.h"
#include "support/childprocess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <tuple>

Q_DECLARE_METATYPE(SimInstrument::Generation)

namespace {

using Generation = SimInstrument::Generation;

// What the application's result grammar accepts: kept here as a third opinion on the garbled lines.
bool acceptedResult(const QByteArray& line, bool withMark)
{
    const int o = withMark ? 1 : 0;
    if (line.size() != 16 + o || (withMark && line[0] != 'S' && line[0] != 'U')) {
        return false;
    }
    bool ok = false;
    line.mid(o + 1, 9).trimmed().toDouble(&ok);
    return ok && (line[o] == ' ' || line[o] == '-') && line[o + 10] == ' ' && line.endsWith("\r\n");
}

// Steps of a scenario: "load W" puts W on the pan, anything else is sent as a command line.
QByteArray run(SimInstrument& instrument, const QByteArrayList& steps)
{
    QByteArray answers;
    for (const QByteArray& step : steps) {
        if (step.startsWith("load ")) {
            instrument.setWeight(step.mid(5).toDouble());
        } else {
            answers += instrument.respond(step + "\r\n");
        }
    }
    return answers;
}

// The executable, ended when the test ends; --max-seconds bounds it even if the test crashes.
struct SimProcess : ChildProcess
{
    QByteArray firstLine;

    bool start(const QStringList& arguments)
    {
        process.start(QStringLiteral(MERVIK_SIM_PATH), QStringList{"--max-seconds", "30"} + arguments);
        if (!process.waitForStarted(5000)) {
            return false;
        }
        firstLine = waitForLine(QByteArray());
        return !firstLine.isEmpty();
    }
};

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void tareAndZero_data();
    void tareAndZero();
    void thresholds_data();
    void thresholds();
    void framing_data();
    void framing();
    void garbledAnswersAreRejected_data();
    void garbledAnswersAreRejected();
    void faultsAreRepeatable();
    void droppedAnswersStillAct();
    void silentAfter();
    void heldStableResult();
    void delayAndStream();

    void executable_data();
    void executable();
    void ptyClientReopensAndLink();
    void tcpClientDialsOut();
    void badOptions_data();
    void badOptions();
    void exitsAfterMaxSeconds();
};

void TestSimulator::answers_data()
{
    QTest::addColumn<Generation>("generation");
    QTest::addColumn<double>("weight");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("stable");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    const auto current = Generation::Current;
    const auto old = Generation::Old;
    const QByteArray result = " "
                              "   12.345"
                              " "
                              "g  "
                              "\r\n";
    const QByteArray identity = "PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n";

    QTest::newRow("SI") << current << 12.345 << QByteArray("g") << 3 << true << QByteArray("SI\r\n")
                        << result;
    QTest::newRow("Sx1") << current << 12.345 << QByteArray("g") << 3 << true << QByteArray("Sx1\r\n")
                         << result;
    QTest::newRow("Sx1 negative") << current << -0.5 << QByteArray("kg") << 3 << true << QByteArray("Sx1\r\n")
                                  << QByteArray("-    0.500 kg \r\n");
    QTest::newRow("Sx1 no decimals") << current << 100.0 << QByteArray("g") << 0 << true
                                     << QByteArray("Sx1\r\n") << QByteArray("       100 g  \r\n");
    QTest::newRow("Sx1 rounds") << current << 1.23456 << QByteArray("lb") << 2 << true
                                << QByteArray("Sx1\r\n") << QByteArray("      1.23 lb \r\n");
    QTest::newRow("Sx1 negative rounding to zero has no sign")
        << current << -0.0004 << QByteArray("g") << 3 << true << QByteArray("Sx1\r\n")
        << QByteArray("     0.000 g  \r\n");
    QTest::newRow("Sx1 blank unit") << current << 5.0 << QByteArray() << 1 << true << QByteArray("Sx1\r\n")
                                    << QByteArray("       5.0    \r\n");
    QTest::newRow("Sx1 full field") << current << -1234567.8 << QByteArray("ct") << 1 << true
                                    << QByteArray("Sx1\r\n") << QByteArray("-1234567.8 ct \r\n");
    QTest::newRow("Sx1 overload") << current << 1e9 << QByteArray("g") << 2 << true << QByteArray("Sx1\r\n")
                                  << QByteArray("        OL g  \r\n");
    QTest::newRow("Sx1 unstable has no mark")
        << current << 12.345 << QByteArray("g") << 3 << false << QByteArray("Sx1\r\n") << result;
    QTest::newRow("Sx3 stable") << current << 12.345 << QByteArray("g") << 3 << true << QByteArray("Sx3\r\n")
                                << "S" + result;
    QTest::newRow("Sx3 unstable") << current << 12.345 << QByteArray("g") << 3 << false
                                  << QByteArray("Sx3\r\n") << "U" + result;
    QTest::newRow("SI unstable is held")
        << current << 12.345 << QByteArray("g") << 3 << false << QByteArray("SI\r\n") << QByteArray();
    QTest::newRow("ST") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("ST\r\n")
                        << QByteArray("MT\r\n");
    QTest::newRow("SZ") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SZ\r\n")
                        << QByteArray("MZ\r\n");
    QTest::newRow("SS") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SS\r\n")
                        << QByteArray();
    QTest::newRow("SJ") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SJ\r\n")
                        << QByteArray("MJ\r\n");
    QTest::newRow("SW9") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SW9\r\n")
                         << identity;
    QTest::newRow("SL") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SL12.5\r\n")
                        << QByteArray("ML\r\n");
    QTest::newRow("SH") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SH100\r\n")
                        << QByteArray("MH\r\n");
    QTest::newRow("SM") << current << 1.0 << QByteArray("g") << 3 << true << QByteArray("SM0.1\r\n")
                        << QByteArray("MM\r\n");

    const QByteArray es = "ES\r\n";
    const QByteArray malformed[] = {"XX\r\n",   "si\r\n", "Sx2\r\n",  "SL\r\n", "SLabc\r\n",
                                    "SL 5\r\n", "SJ\n",   "SJ\r\r\n", "\r\n",   "SJ SJ\r\n"};
    for (const QByteArray& line : malformed) {
        QTest::addRow("current %s", line.toPercentEncoding().constData())
            << current << 1.0 << QByteArray("g") << 3 << true << line << es;
        QTest::addRow("old %s", line.toPercentEncoding().constData())
            << old << 1.0 << QByteArray("g") << 3 << true << line << QByteArray();
    }

    QTest::newRow("old SI") << old << 12.345 << QByteArray("g") << 3 << true << QByteArray("SI\r\n")
                            << result;
    QTest::newRow("old Sx1") << old << 12.345 << QByteArray("g") << 3 << true << QByteArray("Sx1\r\n")
                             << result;
    QTest::newRow("old Sx3") << old << 12.345 << QByteArray("g") << 3 << true << QByteArray("Sx3\r\n")
                             << QByteArray();
    QTest::newRow("old SJ") << old << 1.0 << QByteArray("g") << 3 << true << QByteArray("SJ\r\n")
                            << QByteArray();
    QTest::newRow("old SW9") << old << 1.0 << QByteArray("g") << 3 << true << QByteArray("SW9\r\n")
                             << QByteArray();
    QTest::newRow("old ST") << old << 1.0 << QByteArray("g") << 3 << true << QByteArray("ST\r\n")
                            << QByteArray("MT\r\n");
    QTest::newRow("old SZ") << old << 1.0 << QByteArray("g") << 3 << true << QByteArray("SZ\r\n")
                            << QByteArray("MZ\r\n");
    QTest::newRow("old SH") << old << 1.0 << QByteArray("g") << 3 << true << QByteArray("SH5\r\n")
                            << QByteArray("MH\r\n");
}

void TestSimulator::answers()
{
    QFETCH(Generation, generation);
    QFETCH(double, weight);
    QFETCH(QByteArray, unit);
    QFETCH(int, decimals);
    QFETCH(bool, stable);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);

    SimInstrument instrument;
    instrument.setGeneration(generation);
    instrument.setWeight(weight);
    instrument.setUnit(unit);
    instrument.setDecimals(decimals);
    instrument.setStable(stable);
    QSignalSpy output(&instrument, &SimInstrument::output);

    QCOMPARE(instrument.respond(input), expected);
    QCOMPARE(output.count(), 0);
}

void TestSimulator::tareAndZero_data()
{
    QTest::addColumn<QByteArrayList>("steps");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("tare shows the net") << QByteArrayList{"load 12.345", "ST", "Sx1", "load 20", "Sx1"}
                                        << QByteArray("MT\r\n     0.000 g  \r\n     7.655 g  \r\n");
    QTest::newRow("net below the tare is negative")
        << QByteArrayList{"load 10", "ST", "load 4", "Sx3"} << QByteArray("MT\r\nS-    6.000 g  \r\n");
    QTest::newRow("zero then load") << QByteArrayList{"load 2", "SZ", "load 12.5", "SI"}
                                    << QByteArray("MZ\r\n    10.500 g  \r\n");
    QTest::newRow("zero clears the tare") << QByteArrayList{"load 5", "ST", "load 8", "SZ", "load 9", "Sx1"}
                                          << QByteArray("MT\r\nMZ\r\n     1.000 g  \r\n");
    QTest::newRow("tare after zero") << QByteArrayList{"load 1", "SZ", "load 3", "ST", "load 3.25", "Sx1"}
                                     << QByteArray("MZ\r\nMT\r\n     0.250 g  \r\n");
}

void TestSimulator::tareAndZero()
{
    QFETCH(QByteArrayList, steps);
    QFETCH(QByteArray, expected);

    SimInstrument instrument;
    QCOMPARE(run(instrument, steps), expected);
}

void TestSimulator::thresholds_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("zero");

    QTest::newRow("minimum") << QByteArray("SL12.5") << 12.5 << 0.0 << 0.0;
    QTest::newRow("maximum") << QByteArray("SH100") << 0.0 << 100.0 << 0.0;
    QTest::newRow("zero") << QByteArray("SM0.1") << 0.0 << 0.0 << 0.1;
    QTest::newRow("exponent form") << QByteArray("SH1e+07") << 0.0 << 1e7 << 0.0;
    QTest::newRow("negative") << QByteArray("SL-3") << -3.0 << 0.0 << 0.0;
    QTest::newRow("not a number is refused") << QByteArray("SLnan") << 0.0 << 0.0 << 0.0;
}

void TestSimulator::thresholds()
{
    QFETCH(QByteArray, command);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, zero);

    SimInstrument instrument;
    instrument.respond(command + "\r\n");
    QCOMPARE(instrument.minThreshold(), minimum);
    QCOMPARE(instrument.maxThreshold(), maximum);
    QCOMPARE(instrument.zeroThreshold(), zero);
}

void TestSimulator::framing_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("split") << QByteArrayList{"S", "J\r", "\n"} << QByteArrayList{"", "", "MJ\r\n"};
    QTest::newRow("merged") << QByteArrayList{"SJ\r\nST\r\nSx1\r\n"}
                            << QByteArrayList{"MJ\r\nMT\r\n     0.000 g  \r\n"};
    QTest::newRow("merged and split")
        << QByteArrayList{"SJ\r\nS", "T\r\nSZ", "\r\n"} << QByteArrayList{"MJ\r\n", "MT\r\n", "MZ\r\n"};
    QTest::newRow("long line still answered")
        << QByteArrayList{QByteArray(4000, 'x'), "\r\n", "SJ\r\n"} << QByteArrayList{"", "ES\r\n", "MJ\r\n"};
    QTest::newRow("overlong line dropped up to its line feed")
        << QByteArrayList{QByteArray(5000, 'x'), "SJ\r\n", "SJ\r\n"} << QByteArrayList{"", "", "MJ\r\n"};
}

void TestSimulator::framing()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, expected);

    SimInstrument instrument;
    instrument.setWeight(3.0);
    QByteArrayList answers;
    for (const QByteArray& chunk : chunks) {
        answers << instrument.respond(chunk);
    }
    QCOMPARE(answers, expected);
}

void TestSimulator::garbledAnswersAreRejected_data()
{
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("SI") << QByteArray("SI");
    QTest::newRow("Sx1") << QByteArray("Sx1");
    QTest::newRow("Sx3") << QByteArray("Sx3");
    QTest::newRow("ST") << QByteArray("ST");
    QTest::newRow("SZ") << QByteArray("SZ");
    QTest::newRow("SL") << QByteArray("SL1.5");
    QTest::newRow("SJ") << QByteArray("SJ");
    QTest::newRow("SW9") << QByteArray("SW9");
}

void TestSimulator::garbledAnswersAreRejected()
{
    QFETCH(QByteArray, command);

    // Full field, so the value itself has no blank to spare.
    const double weights[] = {0.0, 12.345, -12.345, 12345.678};
    for (const double weight : weights) {
        SimInstrument clean;
        SimInstrument garbling;
        clean.setWeight(weight);
        garbling.setWeight(weight);
        garbling.setGarbleProbability(1.0);
        const QByteArray good = clean.respond(command + "\r\n");
        const QByteArray bad = garbling.respond(command + "\r\n");

        QCOMPARE(garbling.garbledAnswers(), 1);
        QCOMPARE(bad.size(), good.size());
        if (command == "SW9") {
            QCOMPARE(good.count('\n'), 4);
            QVERIFY(bad.count('\n') < 4);
        } else if (command.startsWith("SI") || command.startsWith("Sx")) {
            const bool withMark = command == "Sx3";
            QVERIFY(acceptedResult(good, withMark));
            QVERIFY2(!acceptedResult(bad, withMark), bad.constData());
            QVERIFY(bad.endsWith("\r\n"));
        } else {
            QVERIFY(!bad.contains(good.trimmed()));
            QVERIFY(bad.endsWith("\r\n"));
        }
    }
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

    const QByteArray answers = std::get<0>(first);
    const int dropped = std::get<1>(first);
    const int garbled = std::get<2>(first);
    QVERIFY2(dropped > 30 && dropped < 90, QByteArray::number(dropped).constData());
    QVERIFY2(garbled > 20 && garbled < 80, QByteArray::number(garbled).constData());
    QCOMPARE(answers.count("MJ\r\n"), 200 - dropped - garbled);
    QCOMPARE(answers.count("\r\n"), 200 - dropped);
}

void TestSimulator::droppedAnswersStillAct()
{
    SimInstrument instrument;
    instrument.setWeight(7.0);
    instrument.setDropProbability(1.0);
    QCOMPARE(instrument.respond("ST\r\nSJ\r\nSx1\r\n"), QByteArray());
    QCOMPARE(instrument.droppedAnswers(), 3);
    QCOMPARE(instrument.commandCount("ST"), 1);

    instrument.setDropProbability(0.0);
    QCOMPARE(instrument.respond("Sx1\r\n"), QByteArray("     0.000 g  \r\n"));
}

void TestSimulator::silentAfter()
{
    SimInstrument instrument;
    instrument.setWeight(4.0);
    instrument.setSilentAfter(2);
    QCOMPARE(instrument.respond("SJ\r\nSJ\r\nSJ\r\n"), QByteArray("MJ\r\nMJ\r\n"));
    QVERIFY(instrument.isSilent());
    // Quiet, and deaf too: the tare is not taken.
    QCOMPARE(instrument.respond("ST\r\n"), QByteArray());
    instrument.setSilentAfter(-1);
    QCOMPARE(instrument.respond("Sx1\r\n"), QByteArray("     4.000 g  \r\n"));
    QCOMPARE(instrument.linesReceived(), 5);
}

void TestSimulator::heldStableResult()
{
    SimInstrument instrument;
    instrument.setWeight(2.5);
    instrument.setStable(false);
    QSignalSpy output(&instrument, &SimInstrument::output);

    QCOMPARE(instrument.respond("SI\r\nSI\r\n"), QByteArray());
    instrument.setWeight(2.75);
    instrument.setStable(true);
    QCOMPARE(output.count(), 1);
    QCOMPARE(output.at(0).at(0).toByteArray(), QByteArray("     2.750 g  \r\n"));

    instrument.setStable(true);
    QCOMPARE(output.count(), 1);
}

void TestSimulator::delayAndStream()
{
    SimInstrument instrument;
    instrument.setWeight(1.5);
    QSignalSpy output(&instrument, &SimInstrument::output);

    instrument.feed("SJ\r\n");
    QCOMPARE(output.count(), 1);
    QCOMPARE(output.takeFirst().at(0).toByteArray(), QByteArray("MJ\r\n"));

    instrument.setAnswerDelay(80);
    QElapsedTimer elapsed;
    elapsed.start();
    instrument.feed("SJ\r\nST\r\n");
    QCOMPARE(output.count(), 0);
    QVERIFY(output.wait(2000));
    QVERIFY(elapsed.elapsed() >= 70);
    QCOMPARE(output.takeFirst().at(0).toByteArray(), QByteArray("MJ\r\nMT\r\n"));

    instrument.setWeight(3.0);
    instrument.setStreaming(10);
    QVERIFY(output.wait(2000));
    QCOMPARE(output.takeFirst().at(0).toByteArray(), QByteArray("     1.500 g  \r\n"));

    // A silent instrument streams nothing either.
    instrument.setSilentAfter(0);
    output.clear();
    QVERIFY(!output.wait(100));
}

void TestSimulator::executable_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");

    const QStringList pty{"--pty"};
    const QStringList tcp{"--tcp-server", "127.0.0.1:0"};

    QTest::newRow("pty echo") << pty << QByteArray("SJ\r\n") << QByteArray("MJ\r\n");
    QTest::newRow("tcp echo") << tcp << QByteArray("SJ\r\n") << QByteArray("MJ\r\n");
    QTest::newRow("default transport") << QStringList() << QByteArray("ST\r\n") << QByteArray("MT\r\n");
    QTest::newRow("result options") << pty + QStringList{"--weight", "5", "--decimals", "1", "--unit", "kg"}
                                    << QByteArray("Sx1\r\n") << QByteArray("       5.0 kg \r\n");
    QTest::newRow("unstable") << tcp + QStringList{"--unstable", "--weight=-2"} << QByteArray("Sx3\r\n")
                              << QByteArray("U-    2.000 g  \r\n");
    QTest::newRow("identity options")
        << tcp + QStringList{"--model",           "M 1",        "--serial",   "42",
                             "--production-date", "2020-01-02", "--firmware", "2.0.1"}
        << QByteArray("SW9\r\n") << QByteArray("M 1\r\n42\r\n2020-01-02\r\n2.0.1\r\n");
    QTest::newRow("old generation ignores SJ")
        << pty + QStringList{"--generation", "old"} << QByteArray("SJ\r\nSx1\r\n")
        << QByteArray("     0.000 g  \r\n");
    QTest::newRow("stream") << pty + QStringList{"--stream", "20", "--weight", "3"} << QByteArray()
                            << QByteArray("     3.000 g  \r\n");
    QTest::newRow("garble") << tcp + QStringList{"--garble", "1"} << QByteArray("ST\r\n")
                            << QByteArray("M?\r\n");
    QTest::newRow("delay") << pty + QStringList{"--delay", "50"} << QByteArray("SZ\r\n")
                           << QByteArray("MZ\r\n");
    QTest::newRow("verbose keeps stdout clean")
        << tcp + QStringList{"--verbose"} << QByteArray("SJ\r\n") << QByteArray("MJ\r\n");
}

void TestSimulator::executable()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);

    SimProcess sim;
    QVERIFY2(sim.start(arguments), sim.process.readAllStandardError().constData());

    std::unique_ptr<QIODevice> io;
    if (arguments.contains("--tcp-server")) {
        const QRegularExpressionMatch match =
            QRegularExpression("^TCP 127\\.0\\.0\\.1:(\\d+)$").match(QString::fromUtf8(sim.firstLine));
        QVERIFY2(match.hasMatch(), sim.firstLine.constData());
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, quint16(match.captured(1).toUInt()));
        QVERIFY(socket->waitForConnected(5000));
        io = std::move(socket);
    } else {
        QVERIFY2(sim.firstLine.startsWith("PTY /dev/pts/"), sim.firstLine.constData());
        auto port = std::make_unique<QSerialPort>(QString::fromUtf8(sim.firstLine.mid(4)));
        QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
        io = std::move(port);
    }

    QByteArray received;
    connect(io.get(), &QIODevice::readyRead, this, [&] { received += io->readAll(); });
    if (!sent.isEmpty()) {
        io->write(sent);
    }
    QTRY_VERIFY_WITH_TIMEOUT(received.size() >= expected.size(), 5000);
    QCOMPARE(received.left(expected.size()), expected);
    io->close();

    // Nothing after the announcement on stdout, whatever --verbose writes to stderr.
    QCOMPARE(sim.process.readAllStandardOutput(), QByteArray());
    if (arguments.contains("--verbose")) {
        QByteArray traffic;
        QTRY_VERIFY_WITH_TIMEOUT((traffic += sim.process.readAllStandardError()).contains("-> MJ\\r\\n"),
                                 5000);
        QVERIFY(traffic.contains("<- SJ\\r\\n"));
    }
}

void TestSimulator::ptyClientReopensAndLink()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("scale");

    SimProcess sim;
    QVERIFY(sim.start({"--link", link}));
    const QString slave = QString::fromUtf8(sim.firstLine.mid(4));
    QCOMPARE(QFileInfo(link).symLinkTarget(), slave);

    // The sim keeps the slave open itself, so closing the port must not cut it off.
    for (int round = 0; round < 3; ++round) {
        QSerialPort port(link);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QByteArray received;
        connect(&port, &QSerialPort::readyRead, this, [&] { received += port.readAll(); });
        port.write("SJ\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("MJ\r\n"), 5000);
        port.close();
    }

    sim.process.terminate();
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimulator::tcpClientDialsOut()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    SimProcess sim;
    sim.process.start(QStringLiteral(MERVIK_SIM_PATH),
                      {"--max-seconds", "30", "--tcp-client",
                       QStringLiteral("127.0.0.1:%1").arg(server.serverPort()), "--weight", "1.25",
                       "--decimals", "2"});
    QVERIFY(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
    QByteArray received;
    connect(socket.get(), &QTcpSocket::readyRead, this, [&] { received += socket->readAll(); });
    socket->write("Sx3\r\nSJ\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("S      1.25 g  \r\nMJ\r\n"), 5000);
}

void TestSimulator::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("generation") << QStringList{"--generation", "new"};
    QTest::newRow("unit too long") << QStringList{"--unit", "kgxx"};
    QTest::newRow("decimals") << QStringList{"--decimals", "8"};
    QTest::newRow("weight does not fit") << QStringList{"--weight", "1e9", "--decimals", "2"};
    QTest::newRow("probability") << QStringList{"--drop", "1.5"};
    QTest::newRow("two transports") << QStringList{"--pty", "--tcp-server", "0"};
    QTest::newRow("client without host") << QStringList{"--tcp-client", "5000"};
    QTest::newRow("server address") << QStringList{"--tcp-server", "nowhere:0"};
    QTest::newRow("identity line break") << QStringList{"--model", "A\nB"};
}

void TestSimulator::badOptions()
{
    QFETCH(QStringList, arguments);

    QProcess process;
    process.start(QStringLiteral(MERVIK_SIM_PATH), QStringList{"--max-seconds", "10"} + arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QVERIFY(process.readAllStandardError().startsWith("mervik-sim: "));
}

void TestSimulator::exitsAfterMaxSeconds()
{
    QProcess process;
    QElapsedTimer elapsed;
    elapsed.start();
    process.start(QStringLiteral(MERVIK_SIM_PATH), {"--max-seconds", "0.3", "--stream", "5"});
    QVERIFY(process.waitForFinished(10000));
    QVERIFY(elapsed.elapsed() >= 250);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().startsWith("PTY /dev/pts/"));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
