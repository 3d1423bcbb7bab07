#include "device/cdevice.h"
#include "interface/ctibbo.h"
#include "platform/queuedcall.h"
#include "support/fakeinterface.h"
#include "support/recordfields.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

namespace {

// Reaches the engine's protected parts; the transport is handed over the way the setters do it.
class TestDevice : public CDevice
{
public:
    using CDevice::adoptInterface;
    using CDevice::canSendNextCommand;
    using CDevice::CDevice;
    using CDevice::checkTimerId;
    using CDevice::readAnswer;
    using CDevice::receiveBuffer;
    using CDevice::sendAndExpect;
    using CDevice::sendAndRead;
};

QString measurementText(const Measurement& m)
{
    return QStringLiteral("%1/%2/%3/%4")
        .arg(double(m.value))
        .arg(m.decimals)
        .arg(m.unit)
        .arg(QChar::fromLatin1(m.stability));
}

QString finishedText(int result, int command, const QVariant& response, const QVariant& p1)
{
    QString text = QStringLiteral("finished %1 %2").arg(result).arg(command);
    if (response.canConvert<Measurement>()) {
        text += QStringLiteral(" m=") + measurementText(response.value<Measurement>());
    }
    if (p1.isValid()) {
        text += QStringLiteral(" p1=%1 %2")
                    .arg(QString::fromLatin1(p1.typeName()), QString::number(p1.toDouble()));
    }
    return text;
}

// A device on a transport that plays the instrument. The journal keeps, in order, the lines written
// to the transport ("> line") and the device's signals, which is what a user of the device can see.
// Every written line takes the next scripted answer; an answer's chunks are handed over one at a
// time, the next only after the device has read the previous one, so that chunk boundaries reach the
// device exactly as scripted.
struct Rig
{
    QStringList journal;
    QList<qint64> writeTimes;
    QElapsedTimer clock;
    // One script per written line: "" is silence, '|' separates chunks, a leading '@' delivers the
    // answer 300 ms after the write.
    QStringList answers;
    QList<QByteArray> chunks;
    bool scheduled = false;
    TestDevice device;
    FakeInterface* fake = new FakeInterface;

    explicit Rig(bool connected = true, bool checkConnection = false)
    {
        clock.start();
        device.adoptInterface(fake);
        fake->setResponder([this](const QString& line) {
            journal << "> " + line;
            writeTimes << clock.elapsed();
            const QString script = answers.isEmpty() ? QString() : answers.takeFirst();
            for (const QString& chunk : script.mid(script.startsWith('@')).split('|', Qt::SkipEmptyParts)) {
                chunks << chunk.toUtf8();
            }
            deliver(script.startsWith('@') ? 300 : 0);
            return QList<QByteArray>();
        });
        QObject::connect(&device, &CDevice::newInLog, &device, [this] { deliver(0); });
        QObject::connect(&device, &CDevice::commandFinished, &device,
                         [this](int r, int c, const QVariant& response, const QVariant& p1) {
                             journal << finishedText(r, c, response, p1);
                         });
        QObject::connect(&device, &CDevice::lineReceived, &device,
                         [this](const QString& line) { journal << "line " + line; });
        QObject::connect(&device, &CDevice::resultReceived, &device,
                         [this](const Measurement& m) { journal << "result m=" + measurementText(m); });
        QObject::connect(&device, &CDevice::stateChanged, &device,
                         [this](int state) { journal << QStringLiteral("state %1").arg(state); });
        QObject::connect(&device, &CDevice::busyChanged, &device,
                         [this](bool busy) { journal << QStringLiteral("busy %1").arg(int(busy)); });
        if (connected) {
            device.connectDevice(checkConnection);
            journal.clear();
        }
    }

    void deliver(int delayMs)
    {
        if (scheduled || chunks.isEmpty()) {
            return;
        }
        scheduled = true;
        QTimer::singleShot(delayMs, &device, [this] {
            scheduled = false;
            if (!chunks.isEmpty()) {
                fake->feed(chunks.takeFirst());
            }
        });
    }
};

// A result line without stability mark: sign, 9-character value, blank, 3-character unit, CR LF.
const QString Plain12345 = QStringLiteral("    12.345 g  \r\n");
const QString Identity = QStringLiteral("PS 750.X2\r\n123456\r\n2023-05-04\r\n1.04.7\r\n");

QStringList repeated(int count, const QString& text)
{
    return QVector<QString>(count, text).toList();
}

// Calls the device's slot by name: "check N" is checkCommunication(N), "minTHR 0.1" passes a float.
QVariant invoke(CDevice& device, const QString& call)
{
    const QString name = call.section(QLatin1Char(' '), 0, 0);
    const QString argument = call.section(QLatin1Char(' '), 1);
    if (name == QLatin1String("check")) {
        return device.checkCommunication(argument.toInt());
    }
    const QMetaObject* meta = device.metaObject();
    int i = meta->methodCount();
    while (--i >= 0 && meta->method(i).name() != name.toLatin1()) {
    }
    const QMetaMethod method = meta->method(i);
    const float number = argument.toFloat();
    const QGenericArgument arg =
        method.parameterCount() == 1 ? QGenericArgument(Q_ARG(float, number)) : QGenericArgument();
    if (method.returnType() == QMetaType::Void) {
        method.invoke(&device, Qt::DirectConnection, arg);
        return QVariant();
    }
    QVariant returned(method.returnType(), nullptr);
    method.invoke(&device, Qt::DirectConnection, QGenericReturnArgument(method.typeName(), returned.data()),
                  arg);
    return returned;
}

// Reachability (moduleWith): the computer at 192.168.1.20/24; by default a static server at
// 192.168.1.50/24 over TCP.
const QHostAddress Computer(QStringLiteral("192.168.1.20"));

} // namespace

class TstCDevice : public QObject
{
    Q_OBJECT

private slots:
    // The reachability modules cannot bind to the made-up computer address, which is the point:
    // nothing is ever sent from them. Quiet about it.
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("mervik.interface.warning=false"));
    }

    void parseResult_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("withStability");
        // value/decimals/unit/stability, empty when the line is refused.
        QTest::addColumn<QString>("parsed");

        QTest::newRow("plain") << Plain12345 << false << "12.345/3/g/X";
        QTest::newRow("marked U") << "U" + Plain12345 << true << "12.345/3/g/U";
        QTest::newRow("marked S, negative") << "S-    1.250  lb\r\n" << true << "-1.250/3/lb/S";
        QTest::newRow("integer") << "       100 kg \r\n" << false << "100/0/kg/X";
        QTest::newRow("point first") << " .12345678 g  \r\n" << false << "0.12345678/8/g/X";
        // Analytical balances send eight and more significant digits: every one must arrive.
        QTest::newRow("eight digits") << " 1234.5678 g  \r\n" << false << "1234.5678/4/g/X";

        QTest::newRow("marked, no mark expected") << "U" + Plain12345 << false << "";
        QTest::newRow("unmarked, mark expected") << Plain12345 << true << "";
        QTest::newRow("length 15") << "   12.345 g  \r\n" << false << "";
        QTest::newRow("plus sign") << "+   12.345 g  \r\n" << false << "";
        QTest::newRow("two signs") << "-    -5.0 g  \r\n" << false << "";
        QTest::newRow("mark X") << "X" + Plain12345 << true << "";
        QTest::newRow("separator") << "    12.345_g  \r\n" << false << "";
        QTest::newRow("no CR") << "    12.345 g   \n" << false << "";
        QTest::newRow("comma") << "    12,345 g  \r\n" << false << "";
        QTest::newRow("empty value") << "           g  \r\n" << false << "";
        // A value is a plain decimal number: no exponents, however small or large.
        QTest::newRow("exponent") << "  1.23e-45 g  \r\n" << false << "";
    }

    void parseResult()
    {
        QFETCH(QString, line);
        QFETCH(bool, withStability);
        QFETCH(QString, parsed);

        CDevice device;
        Measurement m{7.0, QStringLiteral("zz"), 5, 'Q', QString()};
        QCOMPARE(device.parseResult(line, m, withStability), !parsed.isEmpty());
        // The value as every output writes it; a refused line leaves the measurement alone.
        const QString text =
            QStringLiteral("%1/%2/%3/%4").arg(m.valueText()).arg(m.decimals).arg(m.unit).arg(m.stability);
        QCOMPARE(text, parsed.isEmpty() ? QStringLiteral("7.00000/5/zz/Q") : parsed);
    }

    void receiveBufferIsCapped()
    {
        Rig rig;
        // Counts the device's warnings, passing every message on.
        static int warnings = 0;
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                warnings += type == QtWarningMsg && qstrcmp(context.category, "mervik.device") == 0;
                previous(type, context, text);
            });
        QString stream;
        for (const char letter : {'a', 'b', 'c', 'd', 'e'}) {
            const QByteArray chunk(30000, letter);
            rig.fake->feed(chunk);
            stream += QString::fromLatin1(chunk);
            QVERIFY(rig.device.receiveBuffer.size() <= CDevice::MaxReceiveBuffer);
        }
        // The oldest characters went; one warning for the whole episode.
        QCOMPARE(rig.device.receiveBuffer, stream.right(CDevice::MaxReceiveBuffer));
        QCOMPARE(warnings, 1);
        QVERIFY(rig.journal.isEmpty());

        rig.fake->feed("Z\r\n" + Plain12345.toLatin1() + "OK\r\n");
        QCOMPARE(rig.journal, QStringList({"line " + stream.right(CDevice::MaxReceiveBuffer) + "Z\r\n",
                                           "result m=12.345/3/g/X", "line OK\r\n"}));

        // A line feed ends the episode: the next overflow is reported again.
        rig.fake->feed(QByteArray(CDevice::MaxReceiveBuffer + 10, 'f'));
        QCOMPARE(rig.device.receiveBuffer.size(), CDevice::MaxReceiveBuffer);
        QCOMPARE(warnings, 2);
        qInstallMessageHandler(previous);
    }

    void connectionStates()
    {
        Rig rig(false);
        QCOMPARE(rig.device.state(), 2);
        QVERIFY(!rig.device.busy());

        rig.fake->setOpenResult(false);
        QVERIFY(!rig.device.connectDevice(false));
        rig.fake->setOpenResult(true);
        QVERIFY(rig.device.connectDevice(false));
        QCOMPARE(rig.journal, QStringList({"state 4", "state 2", "state 4", "state 1"}));
        QCOMPARE(rig.device.previousState(), 4);
        QVERIFY(rig.fake->isOpen());

        // The transport's own reports: an unchanged state and unknown values emit nothing.
        rig.journal.clear();
        for (const int state : {1, 0, 7, 3}) {
            rig.fake->emitState(state);
        }
        QCOMPARE(rig.journal, QStringList({"state 3"}));
        QCOMPARE(rig.device.previousState(), 1);

        rig.journal.clear();
        rig.device.sendSI();
        rig.device.disconnectDevice();
        QCOMPARE(rig.journal, QStringList({"> SI\r\n", "state 5", "state 2"}));
        QCOMPARE(rig.device.previousState(), 5);
        QVERIFY(!rig.fake->isOpen());
    }

    void exchanges_data()
    {
        // An empty expected answer means sendAndRead ("Q"), otherwise sendAndExpect ("ST").
        QTest::addColumn<QString>("expected");
        // One answer per attempt: "" none, '|' between chunks, '@' late (after this attempt's time-out).
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("timeoutMs");
        const auto row = [](const char* name, const QString& expected, const QStringList& answers, int lines,
                            int attempts, int result, int sends, const QString& answer = QString(),
                            int timeoutMs = 200) {
            QTest::newRow(name) << expected << answers << lines << attempts << result << sends << answer
                                << timeoutMs;
        };

        const QString mt = QStringLiteral("MT\r\n");
        row("right after time-out", mt, {"", mt}, 1, 3, 1, 2);
        row("wrong after time-out", mt, {"", "ES\r\n"}, 1, 2, 2, 2);
        row("time-out after wrong", mt, {"ES\r\n", ""}, 1, 2, 3, 2);
        row("no attempts", mt, {mt}, 1, 0, 3, 0);
        row("split over chunks", mt, {"M|T\r\n"}, 1, 1, 1, 1);
        row("two lines in one chunk", mt, {"MT\r\nMT\r\n"}, 1, 1, 2, 1);
        row("late answer taken by the next attempt", mt, {"@MT\r\n", ""}, 1, 2, 1, 2);

        row("answered on third, content not judged", "", {"", "", "ES\r\n"}, 1, 3, 1, 3, "ES\r\n");
        row("time-out keeps what came", "", {"A\r\n|B"}, 2, 1, 3, 1, "A\r\nB");
        row("four lines over chunks", "", {"A\r\n|B\r\nC|\r\nD\r\n|E\r\n"}, 4, 1, 1, 1,
            "A\r\nB\r\nC\r\nD\r\n");
        row("four lines end after 68 chunks", "", {repeated(100, "x").join('|')}, 4, 1, 1, 1,
            QString(68, 'x'));
        row("lines 0 reads until time-out", "", {"A\r\n|B\r\n"}, 0, 1, 3, 1, "A\r\nB\r\n");
        // The late answer would end a wait that never times out; the wait must have ended before.
        row("zero time-out ends the wait at once", "", {"@ 1.5 g\r\n"}, 1, 1, 3, 1, "", 0);
    }

    void exchanges()
    {
        QFETCH(QString, expected);
        QFETCH(QStringList, answers);
        QFETCH(int, lines);
        QFETCH(int, attempts);
        QFETCH(int, result);
        QFETCH(int, sends);
        QFETCH(QString, answer);
        QFETCH(int, timeoutMs);

        Rig rig;
        rig.answers = answers;
        QSignalSpy out(&rig.device, &CDevice::newOutLog);
        const QString command = expected.isEmpty() ? QStringLiteral("Q\r\n") : QStringLiteral("ST\r\n");
        QString text = QStringLiteral("stale");
        QCOMPARE(expected.isEmpty() ? rig.device.sendAndRead(command, &text, lines, timeoutMs, attempts)
                                    : rig.device.sendAndExpect(command, expected, lines, timeoutMs, attempts),
                 result);
        QCOMPARE(text, expected.isEmpty() ? answer : QStringLiteral("stale"));
        // Nothing received is thrown away unlogged, and every line sent is logged with its time.
        QCOMPARE(rig.fake->clearCount(), 0);
        QCOMPARE(out.size(), sends);
        for (const QList<QVariant>& args : out) {
            const auto r = args.at(0).value<PelmLogRecord>();
            QVERIFY(r.date.isValid() && r.time.isValid());
            QCOMPARE(r.interface + " " + r.message, "FAKE " + command);
        }
        // Nothing of the exchange leaks out as received lines, and the receiver is on again afterwards.
        rig.fake->feed("X\r\n");
        QCOMPARE(rig.journal, repeated(sends, "> " + command) << "line X\r\n");
    }

    void commandsDuringAWait()
    {
        Rig rig;
        QSignalSpy alibi(&rig.device, &CDevice::readingAlibiFinished);
        QSignalSpy firmware(&rig.device, &CDevice::sendingFirmwareFinished);
        rig.answers = QStringList{"A\r\n"};
        // Delivered by the wait's event loop: the first is held, the others are refused.
        queueCall(&rig.device, [&rig] { rig.device.sendString(QStringLiteral("HELLO\r\n")); });
        queueCall(&rig.device, [&rig] { rig.device.zero(); });
        queueCall(&rig.device, [&rig] { rig.device.minTHR(2.5f); });
        QTimer::singleShot(0, &rig.device, [&rig] {
            QVERIFY(!rig.device.canSendNextCommand(COMMAND_READ_ALIBI, "readAlibiMemory"));
            QVERIFY(!rig.device.canSendNextCommand(COMMAND_SEND_FIRMWARE, "sendNewFirmware",
                                                   Q_ARG(QString, QStringLiteral("fw.bin"))));
        });

        QString answer;
        QCOMPARE(rig.device.sendAndRead(QStringLiteral("Q\r\n"), &answer, 1, 1000, 1), 1);
        const qint64 waitEnded = rig.clock.elapsed();
        QCOMPARE(rig.journal, QStringList({"> Q\r\n", "finished 2 14", "finished 2 17"}));
        QCOMPARE(QList<QVariantList>(alibi), QList<QVariantList>{{0}});
        QCOMPARE(QList<QVariantList>(firmware), QList<QVariantList>{{0}});

        // The held command kept its own copy of the argument and runs a moment after the wait.
        QTRY_COMPARE(rig.journal, QStringList({"> Q\r\n", "finished 2 14", "finished 2 17", "> HELLO\r\n"}));
        QVERIFY2(rig.writeTimes.at(1) - waitEnded >= CDevice::DelayedCommandMs - 5,
                 qPrintable(QString::number(rig.writeTimes.at(1) - waitEnded)));
    }

    void callsFromOtherThreads()
    {
        QThread worker;
        auto* device = new TestDevice;
        const auto stop = qScopeGuard([&] {
            device->deleteLater();
            worker.quit();
            worker.wait();
        });
        auto* fake = new FakeInterface;
        device->adoptInterface(fake);
        device->connectDevice(false);
        std::atomic<QThread*> writer{nullptr};
        fake->setResponder([&writer](const QString& line) {
            writer = QThread::currentThread();
            return QList<QByteArray>{line == QLatin1String("ST\r\n") ? "MT\r\n" : "-    0.500 kg \r\n"};
        });
        // Every value type crosses into this thread.
        QObject sink;
        QStringList seen;
        QObject::connect(device, &CDevice::resultReceived, &sink,
                         [&seen](const Measurement& m) { seen << "result " + measurementText(m); });
        QObject::connect(device, &CDevice::newInLog, &sink,
                         [&seen](const PelmLogRecord& r) { seen << "in " + r.interface + " " + r.message; });
        QObject::connect(device, &CDevice::commandFinished, &sink,
                         [&seen](int r, int c, const QVariant& response, const QVariant& p1) {
                             seen << finishedText(r, c, response, p1);
                         });
        worker.start();
        device->moveToThread(&worker);
        // Waits for the worker's event loop: a call posted before the loop runs is handed over without a
        // wake-up, an order that ThreadSanitizer cannot see.
        waitForCall(device, [] {});

        queueCall(fake, [fake] { fake->feed(Plain12345.toLatin1()); });
        // Both return at once and run in the device's thread; the result request, should it arrive
        // during the tare's wait, is held until the wait is over.
        QVERIFY(!device->tare());
        QVERIFY(device->result().isEmpty());
        QTRY_COMPARE(seen, QStringList({"in FAKE " + Plain12345, "result 12.345/3/g/X", "in FAKE MT\r\n",
                                        "finished 1 13", "in FAKE -    0.500 kg \r\n",
                                        "finished 1 11 m=-0.5/3/kg/X"}));
        QCOMPARE(fake->writtenLines(), QStringList({"ST\r\n", "Sx1\r\n"}));
        QCOMPARE(writer.load(), &worker);
    }

    void periodicCheck()
    {
        Rig rig(false);
        QVERIFY(rig.device.connectDevice(false));
        // As the terminal's switch turns it on.
        rig.device.setCheckConnection(true);
        rig.device.sendSI();
        // The check comes due inside this wait: it must not probe meanwhile.
        QString answer;
        QVERIFY(!rig.device.readAnswer(answer, 1, CDevice::CheckPeriodMs + 1000));
        QCOMPARE(rig.journal, QStringList({"state 4", "state 1", "> SI\r\n"}));

        // The next period probes; the device gives up after three probe time-outs.
        QTRY_COMPARE_WITH_TIMEOUT(rig.device.state(), 2, 3 * CDevice::CheckPeriodMs);
        QCOMPARE(rig.journal, QStringList({"state 4", "state 1", "> SI\r\n", "> SJ\r\n", "> SJ\r\n",
                                           "> SJ\r\n", "state 5", "state 2"}));
        const auto& t = rig.writeTimes;
        QVERIFY2(t.at(1) - t.at(0) >= 2 * CDevice::CheckPeriodMs * 9 / 10,
                 qPrintable(QString::number(t.at(1) - t.at(0))));
        QVERIFY2(t.at(3) - t.at(1) >= 2 * CDevice::CheckTimeoutMs - 50,
                 qPrintable(QString::number(t.at(3) - t.at(1))));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("journal");
        QTest::addColumn<QVariant>("returned");
        // What stays in the receive buffer.
        QTest::addColumn<QString>("rest");
        QTest::addColumn<bool>("checkConnection");
        // Received before the call: the start of a line the instrument sends by itself.
        QTest::addColumn<QByteArray>("before");
        const auto row = [](const char* name, const QString& call, const QStringList& answers,
                            const QStringList& journal, const QVariant& returned,
                            const QString& rest = QString(), bool checkConnection = false,
                            const QByteArray& before = QByteArray()) {
            QTest::newRow(name) << call << answers << journal << returned << rest << checkConnection
                                << before;
        };

        const QString marked = "U" + Plain12345;
        const QString ok = QStringLiteral("finished 1 %1 m=12.345/3/g/%2");
        const QString none = QStringLiteral(" m=0/0//X");
        row("result", "result", {Plain12345}, {"> Sx1\r\n", ok.arg(11).arg('X')}, Plain12345);
        row("stableResult", "stableResult", {Plain12345}, {"> SI\r\n", ok.arg(10).arg('S')}, Plain12345);
        row("result garbled", "result", {"12.345 g\r\n"}, {"> Sx1\r\n", "finished 2 11" + none},
            "12.345 g\r\n");
        // An instrument that streams by itself: the answer is the first line, what follows is streamed.
        row("result with streamed lines in its chunk", "result", {Plain12345 + "     0.500 g  \r\n    1"},
            {"> Sx1\r\n", ok.arg(11).arg('X'), "result m=0.5/3/g/X"}, Plain12345, "    1");
        // One slow row: three silent attempts, then the connection check, whose probe is answered.
        row("result silent", "result", {"", "", "", "MJ\r\n"},
            {"> Sx1\r\n", "> Sx1\r\n", "> Sx1\r\n", "finished 3 11" + none, "> SJ\r\n"}, "", "", true);

        row("resultWithStb", "resultWithStb", {marked}, {"> Sx3\r\n", ok.arg(12).arg('U')}, marked);
        const QStringList plainly{"> Sx3\r\n", ok.arg(11).arg('X'), "finished 2 12 m=12.345/3/g/X"};
        row("resultWithStb answered plainly", "resultWithStb", {Plain12345}, plainly, Plain12345);
        row("resultWithStb answered plainly with an unfinished tail", "resultWithStb",
            {Plain12345 + "OK\r\nPAR"}, plainly, Plain12345, "OK\r\nPAR");
        row("resultWithStb garbled", "resultWithStb", {"ES\r\n"}, {"> Sx3\r\n", "finished 2 12" + none},
            "ES\r\n");

        row("tare on second attempt", "tare", {"", "MT\r\n"},
            {"busy 1", "> ST\r\n", "> ST\r\n", "busy 0", "finished 1 13"}, true);

        row("minTHR", "minTHR 0.1", {"ML\r\n"}, {"> SL0.1\r\n", "finished 1 17 p1=float 0.1"}, true);
        row("minTHR wrong acknowledgement", "minTHR 0.1", {"MH\r\n", "MH\r\n"},
            {"> SL0.1\r\n", "> SL0.1\r\n", "finished 2 17 p1=float 0.1"}, false);

        row("checkEcho inside text", "checkEcho", {"xxMJxx\r\n"}, {"> SJ\r\n", "finished 1 16"}, true);
        row("checkEcho without MJ", "checkEcho", {"ES\r\n"}, {"> SJ\r\n", "finished 2 16"}, false);
        row("checkEcho silent", "checkEcho", {"", "", ""},
            {"> SJ\r\n", "> SJ\r\n", "> SJ\r\n", "finished 3 16"}, false);

        // The connection check probes only after a time-out, and then takes any answer.
        row("check after success", "check 1", {}, {}, true, "", true);
        row("check off", "check 3", {}, {}, true, "", false);
        row("check after time-out", "check 3", {"ES\r\n"}, {"> SJ\r\n"}, true, "", true);

        // The identity is read over a known one, which a failed read leaves alone.
        const QStringList read{"busy 1", "> SW9\r\n", "busy 0", "finished 1 15"};
        const QString identity = QStringLiteral("identity PS 750.X2/123456/2023-05-04/1.04.7");
        const QStringList refused{"busy 1", "> SW9\r\n", "busy 0", "finished 2 15",
                                  "identity OLD/1/2000-01-01/v1"};
        // Results the instrument streams meanwhile are dispatched as they come, not counted.
        const QString streamed = QStringLiteral("result m=12.345/3/g/X");
        row("readInfo, results streamed in between", "readInfo",
            {Plain12345 + "PS 750.X2\r\n|123456\r\nS" + Plain12345 + "|2023-05-04\r\n    12.3|47 g  \r\n" +
             "1.04.7\r\n"},
            {"busy 1", "> SW9\r\n", streamed, "line S" + Plain12345, "result m=12.347/3/g/X", "busy 0",
             "finished 1 15", identity},
            true);
        row("readInfo, result split before the identity", "readInfo", {"U    1|2.345 g  \r\n" + Identity},
            {"busy 1", "> SW9\r\n", "line U" + Plain12345, "busy 0", "finished 1 15", identity}, true);
        row("tare, a result streamed before the acknowledgement", "tare", {Plain12345 + "|MT\r\n"},
            {"busy 1", "> ST\r\n", streamed, "busy 0", "finished 1 13"}, true);
        row("checkEcho, results streamed around the echo", "checkEcho",
            {"    12.3|45 g  \r\nMJ\r\n" + Plain12345 + "  "},
            {"> SJ\r\n", streamed, streamed, "finished 1 16"}, true, "  ");
        row("checkEcho, a streamed line begun before the request", "checkEcho", {"2.345 g  \r\nMJ\r\n"},
            {"> SJ\r\n", streamed, "finished 1 16"}, true, "", false, "    1");
        row("checkEcho, text before the request is no part of the echo", "checkEcho", {"MJ\r\n"},
            {"> SJ\r\n", "finished 1 16"}, true, "ES", false, "ES");
        row("readInfo, result-like numbers in identity", "readInfo",
            {"WLC 12.5/C2\r\n12.345\r\n2023.05.04\r\n1.04.7 (2.1)\r\n"},
            read + QStringList{"identity WLC 12.5/C2/12.345/2023.05.04/1.04.7 (2.1)"}, true);
        row("readInfo, two lines without CR", "readInfo", {"A\r\nB\r\nC\nD\n"}, refused, false);
        row("readInfo, three lines time out", "readInfo", repeated(3, "A\r\nB\r\nC\r\n"),
            {"busy 1", "> SW9\r\n", "> SW9\r\n", "> SW9\r\n", "busy 0", "finished 3 15",
             "identity OLD/1/2000-01-01/v1"},
            false);
    }

    void commands()
    {
        QFETCH(QString, call);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, journal);
        QFETCH(QVariant, returned);
        QFETCH(QString, rest);
        QFETCH(bool, checkConnection);
        QFETCH(QByteArray, before);

        Rig rig(true, checkConnection);
        rig.fake->feed(before);
        const bool identity = call == QLatin1String("readInfo");
        if (identity) {
            rig.answers = QStringList{"OLD\r\n1\r\n2000-01-01\r\nv1\r\n"};
            QVERIFY(rig.device.readInfo());
            rig.journal.clear();
        }
        rig.answers = answers;
        QCOMPARE(invoke(rig.device, call), returned);
        if (identity) {
            QString model, serial, date, firmware;
            rig.device.info(model, serial, date, firmware);
            rig.journal << "identity " + QStringList({model, serial, date, firmware}).join('/');
        }
        QTRY_COMPARE(rig.journal, journal);
        QCOMPARE(rig.device.receiveBuffer, rest);
        QCOMPARE(rig.device.state(), 1);
        if (returned.userType() == QMetaType::QString) {
            QCOMPARE(rig.device.lastAnswer(), returned.toString());
        }
    }

    void resultsSentAhead_data()
    {
        QTest::addColumn<int>("ahead");
        QTest::addColumn<QStringList>("answers");
        // The caller's steps: "result", "tare", "finish" (finishResultsAhead), "reconnect", or "idle"
        // (the event loop runs until the journal is complete).
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("journal");
        const auto row = [](const char* name, int ahead, const QStringList& answers, const QStringList& steps,
                            const QStringList& journal) {
            QTest::newRow(name) << ahead << answers << steps << journal;
        };
        const QString sx1 = QStringLiteral("> Sx1\r\n");
        const QString ok = QStringLiteral("finished 1 11 m=12.345/3/g/X");
        const QString received = QStringLiteral("result m=12.345/3/g/X");
        const QStringList three = repeated(3, Plain12345);
        // Each request goes out once the answer before it is complete, before that answer is handled:
        // never two in flight, and no more than asked for.
        row("as many as asked", 2, three, {"result", "result", "result"}, {sx1, sx1, ok, sx1, ok, ok});
        row("fewer than the caller asks", 1, three, {"result", "result", "result"},
            {sx1, sx1, ok, ok, sx1, ok});
        row("streamed line after the answer", 1, {Plain12345 + "     0.500 g  \r\n", Plain12345},
            {"result", "result"}, {sx1, sx1, ok, "result m=0.5/3/g/X", ok});
        // The answer nobody asks for is still the instrument's: dispatched as a result it sent.
        row("another command next", 1, {Plain12345, Plain12345, "MT\r\n"}, {"result", "tare"},
            {sx1, sx1, ok, "busy 1", received, "> ST\r\n", "busy 0", "finished 1 13"});
        row("the caller stops", 5, three, {"result", "finish"}, {sx1, sx1, ok, received});
        row("the caller does not come back", 1, three, {"result", "idle"}, {sx1, sx1, ok, received});
        // A new connection owes nothing: its first request is sent, not taken for sent.
        row("reconnected with an answer owed", 1, {Plain12345, "", Plain12345},
            {"result", "reconnect", "result"},
            {sx1, sx1, ok, "state 5", "state 2", "state 4", "state 1", sx1, ok});
    }

    void resultsSentAhead()
    {
        QFETCH(int, ahead);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, journal);

        Rig rig;
        rig.answers = answers;
        rig.device.setResultsAhead(ahead);
        for (const QString& step : steps) {
            if (step == QLatin1String("result")) {
                rig.device.result();
            } else if (step == QLatin1String("tare")) {
                rig.device.tare();
            } else if (step == QLatin1String("finish")) {
                rig.device.finishResultsAhead();
            } else if (step == QLatin1String("reconnect")) {
                rig.device.disconnectDevice();
                rig.device.connectDevice(false);
            }
        }
        QTRY_COMPARE(rig.journal, journal);
        // The receive path is on again: what comes now is dispatched.
        rig.fake->feed("X\r\n");
        QCOMPARE(rig.journal, journal << "line X\r\n");
    }

    void disconnectionEndsExchange_data()
    {
        QTest::addColumn<bool>("byTransport");
        QTest::addColumn<QStringList>("journal");
        QTest::newRow("user disconnects")
            << false << QStringList({"> Sx1\r\n", "state 5", "state 2", "finished 2 11 m=0/0//X"});
        QTest::newRow("transport goes away")
            << true << QStringList({"> Sx1\r\n", "state 2", "finished 2 11 m=0/0//X"});
    }

    void disconnectionEndsExchange()
    {
        QFETCH(bool, byTransport);
        QFETCH(QStringList, journal);

        // A silent instrument with the connection check on: the request would wait 3 x 2 s, then probe.
        Rig rig(true, true);
        QTimer::singleShot(50, &rig.device,
                           [&] { byTransport ? void(rig.fake->close()) : rig.device.disconnectDevice(); });
        rig.device.result();
        QCOMPARE(rig.journal, journal);
        // No probe is due or possible on the closed transport: nothing more is sent, no second cycle.
        QCOMPARE(rig.device.checkTimerId, 0);
        rig.device.checkCommunication(COMMAND_TIMEOUT);
        rig.device.sendSI();
        QCOMPARE(rig.journal, journal);
    }

    void reasons_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QList<int>>("expected");

        const auto row = [](const char* name, const QString& settings, const QList<int>& reasons) {
            QTest::newRow(name) << settings << reasons;
        };
        row("server in the subnet", "", {});
        // Without an address nothing else of the IP layer is looked at, only the protocol.
        row("no DHCP address, UDP", "dhcp=1 obtained=0 address=10.0.0.9 routing=2 protocol=2",
            {REASON_NO_DHCP_ADDRESS, REASON_WRONG_PROTOCOL});
        row("static server elsewhere", "address=10.0.0.9", {REASON_ADDRESS_NOT_LOCAL});
        row("leased server elsewhere, UDP", "dhcp=1 address=10.0.0.9 protocol=2",
            {REASON_DHCP_ADDRESS_NOT_LOCAL, REASON_WRONG_PROTOCOL});
        // A server is not judged by its remote address.
        row("server with another remote", "remote=192.168.1.99", {});
        row("client in the subnet", "routing=2", {});
        row("client whose netmask hides the computer",
            "routing=2 address=192.168.1.130 netmask=255.255.255.192", {REASON_CANNOT_REACH_COMPUTER});
        row("leased client whose netmask hides the computer",
            "dhcp=1 routing=2 address=192.168.1.130 netmask=255.255.255.192",
            {REASON_DHCP_CANNOT_REACH_COMPUTER});
        row("client outside the computer's subnet", "routing=2 address=192.168.2.5 netmask=255.255.0.0",
            {REASON_CANNOT_REACH_COMPUTER});
        row("client dialling another computer", "routing=2 remote=192.168.1.21", {REASON_WRONG_REMOTE_IP});
        row("client elsewhere, wrong remote, UDP",
            "routing=2 address=10.0.0.9 remote=192.168.1.21 protocol=2",
            {REASON_CANNOT_REACH_COMPUTER, REASON_WRONG_REMOTE_IP, REASON_WRONG_PROTOCOL});
        row("UDP only", "protocol=2", {REASON_WRONG_PROTOCOL});
        row("unknown routing judged as client", "routing=0 remote=", {REASON_WRONG_REMOTE_IP});
    }

    void reasons()
    {
        QFETCH(QString, settings);
        QFETCH(QList<int>, expected);

        CDevice device;
        device.setLAN(Computer, 4001);
        device.setModule(moduleWith(settings));
        QCOMPARE(device.isReachable(), expected.isEmpty());
        QCOMPARE(device.unreachableReasons(), expected);
        QCOMPARE(device.reasonText(), expected.isEmpty() ? QStringLiteral("Everything good")
                                                         : CDevice::reasonText(expected.first()));
        // Planned settings in another module are judged in its place.
        const std::unique_ptr<CTibbo> planned(moduleWith());
        QVERIFY(device.isReachable(planned.get()));
        QCOMPARE(device.unreachableReasons(), QList<int>{});
    }

    void moduleAndTransport()
    {
        // Without a transport nothing happens at all; with a module it is unreachable, at the module's rate.
        auto* device = new CDevice;
        QSignalSpy states(device, &CDevice::stateChanged);
        QVERIFY(!device->connectDevice(false));
        device->sendSI();
        device->disconnectDevice();
        QCOMPARE(states.count(), 0);
        CTibbo* module = moduleWith();
        device->setModule(module);
        QCOMPARE(module->parent(), device);
        QVERIFY(!device->isReachable());
        QVERIFY(device->isReachable(nullptr));
        QCOMPARE(device->baudRate(), 115200);

        // A clone has a module of its own.
        device->setLAN(Computer, 4001);
        std::unique_ptr<CDevice> copy(device->clone(nullptr));
        QVERIFY(copy->module() && copy->module() != module);
        QCOMPARE(copy->module()->parent(), copy.get());
        QCOMPARE(copy->module()->moduleAddress(), module->moduleAddress());

        // Moved to another thread, the device takes its module and transport along.
        QThread worker;
        worker.start();
        device->moveToThread(&worker);
        QCOMPARE(module->thread(), &worker);
        QCOMPARE(device->interface()->thread(), &worker);
        waitForCall(device, [device] { delete device; });
        worker.quit();
        QVERIFY(worker.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TstCDevice)
#include "tst_cdevice.moc"
