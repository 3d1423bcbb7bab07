#include "device/cdevice.h"
#include "support/fakeinterface.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
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
    using CDevice::disconnectReceiver;
    using CDevice::readAnswer;
    using CDevice::receiveBuffer;
    using CDevice::sendAndExpect;
    using CDevice::sendAndRead;
};

// Plays the instrument behind a FakeInterface. Every written line takes the next scripted answer.
// An answer's chunks are handed over one at a time, the next only after the device has read the
// previous one, so that chunk boundaries reach the device exactly as scripted.
class Instrument : public QObject
{
public:
    struct Answer
    {
        QList<QByteArray> chunks;
        int delayMs = 0;
    };

    Instrument(FakeInterface* fake, CDevice* device, std::function<void(const QString&)> onWrite)
        : QObject(device), m_fake(fake), m_onWrite(std::move(onWrite))
    {
        fake->setResponder([this](const QString& line) {
            if (m_onWrite) {
                m_onWrite(line);
            }
            if (!m_answers.isEmpty()) {
                deliver(m_answers.takeFirst());
            }
            return QList<QByteArray>();
        });
        connect(device, &CDevice::newInLog, this, [this] { schedule(0); });
    }

    // "" is silence, '|' separates chunks, a leading '@' delivers the answer lateMs after the write.
    Answer parse(QString script) const
    {
        Answer answer;
        if (script.startsWith(QLatin1Char('@'))) {
            answer.delayMs = lateMs;
            script.remove(0, 1);
        }
        if (!script.isEmpty()) {
            const QStringList chunks = script.split(QLatin1Char('|'));
            for (const QString& chunk : chunks) {
                answer.chunks << chunk.toUtf8();
            }
        }
        return answer;
    }

    void answerInTurn(const QStringList& answers)
    {
        m_answers.clear();
        for (const QString& script : answers) {
            m_answers << parse(script);
        }
    }

    void deliver(const Answer& answer)
    {
        m_queue += answer.chunks;
        schedule(answer.delayMs);
    }

    int lateMs = 300;

private:
    void schedule(int delayMs)
    {
        if (m_scheduled || m_queue.isEmpty()) {
            return;
        }
        m_scheduled = true;
        QTimer::singleShot(delayMs, this, [this] {
            m_scheduled = false;
            if (!m_queue.isEmpty()) {
                m_fake->feed(m_queue.takeFirst());
            }
        });
    }

    FakeInterface* m_fake;
    std::function<void(const QString&)> m_onWrite;
    QList<Answer> m_answers;
    QList<QByteArray> m_queue;
    bool m_scheduled = false;
};

QString measurementText(const Measurement& m)
{
    return QStringLiteral("%1/%2/%3/%4")
        .arg(double(m.value))
        .arg(m.decimals)
        .arg(m.unit)
        .arg(QChar::fromLatin1(m.stability));
}

QString finishedText(int result, int command, const QVariant& response, const QVariant& p1,
                     const QVariant& p2, const QVariant& p3, const QVariant& p4)
{
    QString text = QStringLiteral("finished %1 %2").arg(result).arg(command);
    if (response.userType() == qMetaTypeId<Measurement>()) {
        text += QStringLiteral(" m=") + measurementText(response.value<Measurement>());
    } else if (response.isValid()) {
        text += QStringLiteral(" response=") + response.toString();
    }
    if (p1.isValid()) {
        text += QStringLiteral(" p1=%1 %2")
                    .arg(QString::fromLatin1(p1.typeName()), QString::number(p1.toDouble()));
    }
    if (p2.isValid() || p3.isValid() || p4.isValid()) {
        text += QStringLiteral(" more");
    }
    return text;
}

// A device on a scripted transport. The journal keeps, in order, the lines written to the
// transport ("> line") and the device's signals, which is what a user of the device can see.
struct Rig
{
    QStringList journal;
    QList<qint64> writeTimes;
    QElapsedTimer clock;
    TestDevice device;
    FakeInterface* fake = new FakeInterface;
    Instrument* instrument = nullptr;

    explicit Rig(bool connected = true, bool checkConnection = false)
    {
        clock.start();
        device.adoptInterface(fake);
        instrument = new Instrument(fake, &device, [this](const QString& line) {
            journal << QStringLiteral("> ") + line;
            writeTimes << clock.elapsed();
        });
        QObject::connect(&device, &CDevice::commandFinished, &device,
                         [this](int r, int c, const QVariant& resp, const QVariant& p1, const QVariant& p2,
                                const QVariant& p3,
                                const QVariant& p4) { journal << finishedText(r, c, resp, p1, p2, p3, p4); });
        QObject::connect(&device, &CDevice::lineReceived, &device,
                         [this](const QString& line) { journal << QStringLiteral("line ") + line; });
        QObject::connect(&device, &CDevice::resultReceived, &device, [this](const Measurement& m) {
            journal << QStringLiteral("result m=") + measurementText(m);
        });
        QObject::connect(&device, &CDevice::stateChanged, &device,
                         [this](int state) { journal << QStringLiteral("state %1").arg(state); });
        QObject::connect(&device, &CDevice::busyChanged, &device,
                         [this](bool busy) { journal << QStringLiteral("busy %1").arg(int(busy)); });
        if (connected) {
            device.connectDevice(checkConnection);
            journal.clear();
        }
    }
};

// A device with a scripted transport that works in a thread of its own once started.
struct WorkerRig
{
    QThread worker;
    TestDevice* device = new TestDevice;
    FakeInterface* fake = new FakeInterface;

    WorkerRig()
    {
        device->adoptInterface(fake);
        device->connectDevice(false);
        worker.start();
    }
    void start() { device->moveToThread(&worker); }
    ~WorkerRig()
    {
        device->deleteLater();
        worker.quit();
        worker.wait();
    }
};

// Counts the device's warnings while installed, passing every message on.
struct WarningCounter
{
    static inline int count = 0;
    static inline QtMessageHandler previous = nullptr;

    WarningCounter()
    {
        count = 0;
        previous = qInstallMessageHandler(&WarningCounter::handle);
    }
    ~WarningCounter() { qInstallMessageHandler(previous); }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtWarningMsg && qstrcmp(context.category, "mervik.device") == 0) {
            ++count;
        }
        previous(type, context, message);
    }
};

const QString Crlf = QStringLiteral("\r\n");
// A result line without stability mark: sign, 9-character value, blank, 3-character unit, CR LF.
const QString Plain12345 = QStringLiteral(" ") + "   12.345" + " " + "g  " + "\r\n";
const QString Identity = QStringLiteral("PS 750.X2\r\n123456\r\n2023-05-04\r\n1.04.7\r\n");

QStringList repeated(int count, const QString& text)
{
    QStringList list;
    for (int i = 0; i < count; ++i) {
        list << text;
    }
    return list;
}

QVariant invoke(CDevice& device, const QString& call)
{
    const QStringList parts = call.split(QLatin1Char(' '));
    const QString name = parts.first();
    const float masa = parts.size() > 1 ? parts.at(1).toFloat() : 0.0f;
    if (name == QLatin1String("result")) {
        return device.result();
    }
    if (name == QLatin1String("stableResult")) {
        return device.stableResult();
    }
    if (name == QLatin1String("resultWithStb")) {
        return device.resultWithStb();
    }
    if (name == QLatin1String("tare")) {
        return device.tare();
    }
    if (name == QLatin1String("zero")) {
        return device.zero();
    }
    if (name == QLatin1String("checkEcho")) {
        return device.checkEcho();
    }
    if (name == QLatin1String("minTHR")) {
        return device.minTHR(masa);
    }
    if (name == QLatin1String("maxTHR")) {
        return device.maxTHR(masa);
    }
    if (name == QLatin1String("zeroTHR")) {
        return device.zeroTHR(masa);
    }
    return QStringLiteral("no such call");
}

} // namespace

class TstCDevice : public QObject
{
    Q_OBJECT

private slots:
    void newDevice();
    void names_data();
    void names();
    void parseResult_data();
    void parseResult();
    void lineFraming_data();
    void lineFraming();
    void receiveBufferIsCapped();
    void logRecords();
    void stateChanges();
    void transportThatFailsToOpen();
    void withoutTransport();
    void sendAndExpect_data();
    void sendAndExpect();
    void sendAndRead_data();
    void sendAndRead();
    void readAnswer_data();
    void readAnswer();
    void receiverOffDuringExchanges();
    void commandDuringWaitIsDelayedOnce();
    void refusalsWhileWaiting();
    void callsFromOtherThreadsAreReposted();
    void valueTypesCrossThreads();
    void checkCommunicationWithoutTimeout_data();
    void checkCommunicationWithoutTimeout();
    void checkDoesNotStartDuringWait();
    void periodicCheckDisconnectsSilentInstrument();
    void oneLineCommands_data();
    void oneLineCommands();
    void weighingCommands_data();
    void weighingCommands();
    void readInfo_data();
    void readInfo();
    void cloneCopiesIdentityAndTransport();
    void disconnectionEndsExchange_data();
    void disconnectionEndsExchange();
    void nonPositiveTimeoutEndsWaitAtOnce_data();
    void nonPositiveTimeoutEndsWaitAtOnce();
};

void TstCDevice::newDevice()
{
    CDevice bare;
    QCOMPARE(bare.state(), 2);
    QCOMPARE(bare.previousState(), 2);
    QVERIFY(!bare.busy());
    QCOMPARE(bare.deviceType(), 1);
    QCOMPARE(bare.interfaceDescription(), QStringLiteral("NO INTERFACE"));
    QCOMPARE(bare.baudRate(), -1);
    QCOMPARE(bare.reasonText(), QStringLiteral("Everything good"));
    QVERIFY(bare.isReachable());

    // A new device counts as recently active until its activity window runs out; every received
    // chunk opens the window again.
    Rig rig(false);
    QCOMPARE(rig.device.baudRate(), -1);
    QVERIFY(rig.device.isBusy());
    QVERIFY(!rig.device.busy());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.device.isBusy(), 3000);
    rig.fake->feed("X");
    QVERIFY(rig.device.isBusy());
}

void TstCDevice::names_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("state 0") << "state" << 0 << "Unknown";
    QTest::newRow("state 1") << "state" << 1 << "Connected";
    QTest::newRow("state 3") << "state" << 3 << "Listenning";
    QTest::newRow("state 4") << "state" << 4 << "Connecting..";
    QTest::newRow("state 6") << "state" << 6 << "Unknown";
    QTest::newRow("result 0") << "result" << 0 << "COMMAND UNKNOWN";
    QTest::newRow("result 3") << "result" << 3 << "COMMAND_TIMEOUT";
    QTest::newRow("result 4") << "result" << 4 << "COMMAND UNKNOWN";
    QTest::newRow("command 0") << "command" << 0 << "COMMAND_UNKNOWN";
    QTest::newRow("command 24") << "command" << 24 << "COMMAND_GET_DATE_TIME";
    QTest::newRow("command 25") << "command" << 25 << "COMMAND_UNKNOWN_UNKNOWN";
    QTest::newRow("command 29") << "command" << 29 << "COMMAND_UNKNOWN_UNKNOWN";
    QTest::newRow("command 290") << "command" << 290 << "COMMAND_UNKNOWN_UNKNOWN";
    QTest::newRow("command 30") << "command" << 30 << "COMMAND_SEND_SI";
    QTest::newRow("command 37") << "command" << 37 << "COMMAND_UNKNOWN_UNKNOWN";
}

void TstCDevice::names()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, text);
    CDevice device;
    if (kind == QLatin1String("state")) {
        QCOMPARE(CDevice::stateName(code), text);
    } else if (kind == QLatin1String("result")) {
        QCOMPARE(CDevice::resultName(code), text);
    } else {
        QCOMPARE(device.commandName(code), text);
    }
}

void TstCDevice::parseResult_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("withStability");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("stability");

    const QString marked = QStringLiteral("U") + Plain12345;
    QTest::newRow("plain") << Plain12345 << false << true << 12.345 << 3 << "g"
                           << "X";
    QTest::newRow("marked U") << marked << true << true << 12.345 << 3 << "g"
                              << "U";
    QTest::newRow("marked S") << QString(QStringLiteral("S") + Plain12345) << true << true << 12.345 << 3
                              << "g"
                              << "S";
    QTest::newRow("integer") << QString(QStringLiteral(" ") + "      100" + " " + "kg " + Crlf) << false
                             << true << 100.0 << 0 << "kg"
                             << "X";
    QTest::newRow("negative") << QString(QStringLiteral("-") + "    0.500" + " " + "g  " + Crlf) << false
                              << true << -0.5 << 3 << "g"
                              << "X";
    QTest::newRow("negative marked") << QString(QStringLiteral("S-") + "    1.250" + " " + " lb" + Crlf)
                                     << true << true << -1.25 << 3 << "lb"
                                     << "S";
    QTest::newRow("blank unit") << QString(QStringLiteral(" ") + "   12.345" + " " + "   " + Crlf) << false
                                << true << 12.345 << 3 << ""
                                << "X";
    QTest::newRow("point last") << QString(QStringLiteral(" ") + "      12." + " " + "g  " + Crlf) << false
                                << true << 12.0 << 0 << "g"
                                << "X";
    QTest::newRow("point first") << QString(QStringLiteral(" ") + ".12345678" + " " + "g  " + Crlf) << false
                                 << true << 0.12345678 << 8 << "g"
                                 << "X";

    // Analytical balances send eight and more significant digits: every one must arrive.
    const auto exact = [](const char* name, const char* field, double value, int decimals) {
        QTest::newRow(name) << QString(QStringLiteral(" ") + field + " g  " + Crlf) << false << true << value
                            << decimals << "g"
                            << "X";
    };
    exact("eight digits", "1234.5678", 1234.5678, 4);
    exact("five nines", "99999.999", 99999.999, 3);
    exact("five decimals", "220.00001", 220.00001, 5);

    const auto bad = [](const char* name, const QString& line, bool withStability) {
        QTest::newRow(name) << line << withStability << false << 0.0 << 0 << ""
                            << "";
    };
    bad("marked without mark expected", marked, false);
    bad("length 15", QStringLiteral(" ") + "  12.345" + " " + "g  " + Crlf, false);
    bad("length 17", QStringLiteral(" ") + "    12.345" + " " + "g  " + Crlf, false);
    bad("length 18 marked", QStringLiteral("S ") + "    12.345" + " " + "g  " + Crlf, true);
    bad("length 16 marked", Plain12345, true);
    bad("plus sign", QStringLiteral("+") + "   12.345" + " " + "g  " + Crlf, false);
    bad("mark X", QStringLiteral("X") + Plain12345, true);
    bad("mark lower s", QStringLiteral("s") + Plain12345, true);
    bad("separator", QStringLiteral(" ") + "   12.345" + "_" + "g  " + Crlf, false);
    bad("separator marked", QStringLiteral("S ") + "   12.345" + "g" + "g  " + Crlf, true);
    bad("no CR", QStringLiteral(" ") + "   12.345" + " " + "g  " + " \n", false);
    bad("no LF", QStringLiteral(" ") + "   12.345" + " " + "g  " + "\r ", false);
    bad("comma", QStringLiteral(" ") + "   12,345" + " " + "g  " + Crlf, false);
    bad("inner blank", QStringLiteral(" ") + "  12 345." + " " + "g  " + Crlf, false);
    bad("letters", QStringLiteral(" ") + "   12.3a5" + " " + "g  " + Crlf, false);
    bad("empty value", QStringLiteral(" ") + "         " + " " + "g  " + Crlf, false);
    bad("nan", QStringLiteral(" ") + "      nan" + " " + "g  " + Crlf, false);
    bad("inf", QStringLiteral(" ") + "      inf" + " " + "g  " + Crlf, false);
    bad("minus inf", QStringLiteral("-") + "      inf" + " " + "g  " + Crlf, false);
    bad("beyond float", QStringLiteral(" ") + "     1e39" + " " + "g  " + Crlf, false);
    bad("exponent", QStringLiteral(" ") + "     1e38" + " " + "g  " + Crlf, false);
    bad("tiny exponent", QStringLiteral(" ") + " 1.23e-45" + " " + "g  " + Crlf, false);
    bad("hexadecimal", QStringLiteral(" ") + "     0x1F" + " " + "g  " + Crlf, false);
}

void TstCDevice::parseResult()
{
    QFETCH(QString, line);
    QFETCH(bool, withStability);
    QFETCH(bool, ok);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, unit);
    QFETCH(QString, stability);

    CDevice device;
    Measurement m;
    m.value = 7.0;
    m.unit = QStringLiteral("zz");
    m.decimals = 5;
    m.stability = 'Q';
    QCOMPARE(device.parseResult(line, m, withStability), ok);
    if (ok) {
        QCOMPARE(m.value, value);
        QCOMPARE(m.decimals, decimals);
        QCOMPARE(m.unit, unit);
        QCOMPARE(QString(QChar::fromLatin1(m.stability)), stability);
    } else {
        QCOMPARE(measurementText(m), QStringLiteral("7/5/zz/Q"));
    }
}

void TstCDevice::lineFraming_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QString>("rest");

    // "|" in the journal marks the end of a chunk.
    QTest::newRow("line split over chunks")
        << QStringList{"0.5\r\nAB", "C\r\n"} << QStringList{"line 0.5\r\n", "|", "line ABC\r\n", "|"} << "";
    QTest::newRow("no line feed") << QStringList{"ABC\r"} << QStringList{"|"} << "ABC\r";
    QTest::newRow("bare line feed") << QStringList{"X\nY"} << QStringList{"line X\n", "|"} << "Y";
    QTest::newRow("result line") << QStringList{Plain12345} << QStringList{"result m=12.345/3/g/X", "|"}
                                 << "";
    QTest::newRow("marked result is a line")
        << QStringList{"S" + Plain12345} << QStringList{"line S" + Plain12345, "|"} << "";
    QTest::newRow("result split, then a line")
        << QStringList{"-    0.5", "00 kg \r\nOK\r\n"}
        << QStringList{"|", "result m=-0.5/3/kg/X", "line OK\r\n", "|"} << "";
    QTest::newRow("several lines in one chunk")
        << QStringList{"A\r\nB\r\n\r\nC"} << QStringList{"line A\r\n", "line B\r\n", "line \r\n", "|"} << "C";
}

void TstCDevice::lineFraming()
{
    QFETCH(QStringList, chunks);
    QFETCH(QStringList, journal);
    QFETCH(QString, rest);

    Rig rig;
    QSignalSpy in(&rig.device, &CDevice::newInLog);
    for (const QString& chunk : chunks) {
        rig.fake->feed(chunk.toUtf8());
        rig.journal << QStringLiteral("|");
    }
    QCOMPARE(rig.journal, journal);
    QCOMPARE(rig.device.receiveBuffer, rest);
    QCOMPARE(in.count(), chunks.size());
}

void TstCDevice::receiveBufferIsCapped()
{
    Rig rig;
    WarningCounter warnings;
    QString stream;
    for (const char letter : {'a', 'b', 'c', 'd', 'e'}) {
        const QByteArray chunk(30000, letter);
        rig.fake->feed(chunk);
        stream += QString::fromLatin1(chunk);
        QVERIFY(rig.device.receiveBuffer.size() <= CDevice::MaxReceiveBuffer);
    }
    // The oldest characters went; one warning for the whole episode.
    QCOMPARE(rig.device.receiveBuffer, stream.right(CDevice::MaxReceiveBuffer));
    QCOMPARE(WarningCounter::count, 1);
    QVERIFY(rig.journal.isEmpty());

    rig.fake->feed("Z\r\n" + Plain12345.toLatin1() + "OK\r\n");
    QCOMPARE(rig.journal, QStringList({"line " + stream.right(CDevice::MaxReceiveBuffer) + "Z\r\n",
                                       "result m=12.345/3/g/X", "line OK\r\n"}));
    QVERIFY(rig.device.receiveBuffer.isEmpty());

    // A line feed ends the episode: the next overflow is reported again.
    rig.fake->feed(QByteArray(CDevice::MaxReceiveBuffer + 10, 'f'));
    QCOMPARE(rig.device.receiveBuffer.size(), CDevice::MaxReceiveBuffer);
    QCOMPARE(WarningCounter::count, 2);
}

void TstCDevice::logRecords()
{
    Rig rig;
    rig.fake->name = QStringLiteral("/dev/pts/9 (bench)");
    QSignalSpy out(&rig.device, &CDevice::newOutLog);
    QSignalSpy in(&rig.device, &CDevice::newInLog);

    rig.device.sendString(QStringLiteral("ABC\r\n"));
    rig.device.sendSI();
    rig.fake->feed("0.5\r\nAB");
    rig.fake->feed("C\r\n");
    rig.instrument->answerInTurn({"M|T\r\n"});
    QCOMPARE(rig.device.sendAndExpect(QStringLiteral("ST\r\n"), QStringLiteral("MT\r\n"), 1, 1000, 1), 1);

    QStringList sent;
    for (const QList<QVariant>& args : qAsConst(out)) {
        const auto record = args.at(0).value<PelmLogRecord>();
        QCOMPARE(record.interface, QStringLiteral("/dev/pts/9 (bench)"));
        QVERIFY(record.date.isValid());
        QVERIFY(record.time.isValid());
        sent << record.message;
    }
    QCOMPARE(sent, QStringList({"ABC\r\n", "SI\r\n", "ST\r\n"}));

    QStringList received;
    for (const QList<QVariant>& args : qAsConst(in)) {
        const auto record = args.at(0).value<PelmLogRecord>();
        QCOMPARE(record.interface, QStringLiteral("/dev/pts/9 (bench)"));
        received << record.message;
    }
    QCOMPARE(received, QStringList({"0.5\r\nAB", "C\r\n", "M", "T\r\n"}));
}

void TstCDevice::stateChanges()
{
    Rig rig(false);
    QCOMPARE(rig.device.state(), 2);

    QVERIFY(rig.device.connectDevice(false));
    QCOMPARE(rig.journal, QStringList({"state 4", "state 1"}));
    QCOMPARE(rig.device.previousState(), 4);
    QCOMPARE(rig.device.lastSent(), QStringLiteral("NOTHING"));
    QCOMPARE(rig.device.currentCommand(), 1);
    QVERIFY(rig.fake->isOpen());

    // The transport's own reports: an unchanged state and unknown values emit nothing.
    rig.journal.clear();
    rig.fake->emitState(1);
    rig.fake->emitState(0);
    rig.fake->emitState(7);
    QVERIFY(rig.journal.isEmpty());
    QCOMPARE(rig.device.state(), 1);
    rig.fake->emitState(3);
    QCOMPARE(rig.journal, QStringList({"state 3"}));
    QCOMPARE(rig.device.previousState(), 1);

    rig.journal.clear();
    rig.device.sendSI();
    rig.device.disconnectDevice();
    QCOMPARE(rig.journal, QStringList({"> SI\r\n", "state 5", "state 2"}));
    QCOMPARE(rig.device.previousState(), 5);
    QCOMPARE(rig.device.lastSent(), QStringLiteral("NOTHING"));
    QCOMPARE(rig.device.currentCommand(), 2);
    QVERIFY(!rig.fake->isOpen());

    rig.device.setPreviousState(1);
    QCOMPARE(rig.device.previousState(), 1);
    QCOMPARE(rig.device.state(), 2);
}

void TstCDevice::transportThatFailsToOpen()
{
    Rig rig(false);
    rig.fake->setOpenResult(false);
    QVERIFY(!rig.device.connectDevice(false));
    QCOMPARE(rig.journal, QStringList({"state 4", "state 2"}));
    QCOMPARE(rig.device.state(), 2);
}

void TstCDevice::withoutTransport()
{
    TestDevice device;
    QSignalSpy states(&device, &CDevice::stateChanged);
    QSignalSpy out(&device, &CDevice::newOutLog);
    QVERIFY(!device.connectDevice(false));
    device.sendString(QStringLiteral("SI\r\n"));
    device.sendSI();
    device.disconnectDevice();
    QCOMPARE(states.count(), 0);
    QCOMPARE(out.count(), 0);
    QCOMPARE(device.state(), 2);
    QVERIFY(device.lastSent().isEmpty());
}

void TstCDevice::sendAndExpect_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("sends");

    // One answer per attempt: "" none, '|' between chunks, '@' late (after this attempt's time-out).
    QTest::newRow("right") << QStringList{"MT\r\n"} << 3 << 1 << 1;
    QTest::newRow("right after time-out") << QStringList{"", "MT\r\n"} << 3 << 1 << 2;
    QTest::newRow("right after wrong") << QStringList{"ES\r\n", "MT\r\n"} << 3 << 1 << 2;
    QTest::newRow("wrong after time-out") << QStringList{"", "ES\r\n"} << 2 << 2 << 2;
    QTest::newRow("time-out after wrong") << QStringList{"ES\r\n", ""} << 2 << 3 << 2;
    QTest::newRow("all wrong") << QStringList{"ES\r\n", "ES\r\n", "ES\r\n"} << 3 << 2 << 3;
    QTest::newRow("all silent") << QStringList{"", "", ""} << 3 << 3 << 3;
    QTest::newRow("no attempts") << QStringList{"MT\r\n"} << 0 << 3 << 0;
    QTest::newRow("split over chunks") << QStringList{"M|T\r\n"} << 1 << 1 << 1;
    QTest::newRow("two lines in one chunk") << QStringList{"MT\r\nMT\r\n"} << 1 << 2 << 1;
    QTest::newRow("case differs") << QStringList{"mt\r\n"} << 1 << 2 << 1;
    QTest::newRow("late answer taken by the next attempt") << QStringList{"@MT\r\n", ""} << 2 << 1 << 2;
}

void TstCDevice::sendAndExpect()
{
    QFETCH(QStringList, answers);
    QFETCH(int, attempts);
    QFETCH(int, result);
    QFETCH(int, sends);

    Rig rig;
    rig.instrument->answerInTurn(answers);
    QCOMPARE(rig.device.sendAndExpect(QStringLiteral("ST\r\n"), QStringLiteral("MT\r\n"), 1, 200, attempts),
             result);
    QCOMPARE(rig.fake->writtenLines(), repeated(sends, QStringLiteral("ST\r\n")));
    QCOMPARE(rig.fake->clearCount(), sends);
    // Nothing of the exchange leaks out as received lines.
    QCOMPARE(rig.journal, repeated(sends, QStringLiteral("> ST\r\n")));
}

void TstCDevice::sendAndRead_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("nullAnswer");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("sends");
    QTest::addColumn<QString>("answer");

    QTest::newRow("answered") << QStringList{"ANY\r\n"} << 3 << 1 << false << 1 << 1 << "ANY\r\n";
    QTest::newRow("content not judged") << QStringList{"ES\r\n"} << 3 << 1 << false << 1 << 1 << "ES\r\n";
    QTest::newRow("answered on third")
        << QStringList{"", "", "OK\r\n"} << 3 << 1 << false << 1 << 3 << "OK\r\n";
    QTest::newRow("all silent") << QStringList{"", "", ""} << 3 << 1 << false << 3 << 3 << "";
    QTest::newRow("no attempts") << QStringList{"OK\r\n"} << 0 << 1 << false << 3 << 0 << "";
    QTest::newRow("partial answer") << QStringList{"A\r\n"} << 1 << 2 << false << 3 << 1 << "A\r\n";
    QTest::newRow("two lines, one expected")
        << QStringList{"A\r\nB\r\n"} << 1 << 1 << false << 1 << 1 << "A\r\nB\r\n";
    QTest::newRow("lines 0 reads until time-out")
        << QStringList{"A\r\n|B\r\n"} << 1 << 0 << false << 3 << 1 << "A\r\nB\r\n";
    QTest::newRow("no answer text wanted") << QStringList{"A\r\n"} << 3 << 1 << true << 1 << 1 << "";
}

void TstCDevice::sendAndRead()
{
    QFETCH(QStringList, answers);
    QFETCH(int, attempts);
    QFETCH(int, lines);
    QFETCH(bool, nullAnswer);
    QFETCH(int, result);
    QFETCH(int, sends);
    QFETCH(QString, answer);

    Rig rig;
    rig.instrument->answerInTurn(answers);
    QString text;
    QCOMPARE(
        rig.device.sendAndRead(QStringLiteral("Q\r\n"), nullAnswer ? nullptr : &text, lines, 200, attempts),
        result);
    QCOMPARE(text, answer);
    QCOMPARE(rig.fake->writtenLines(), repeated(sends, QStringLiteral("Q\r\n")));
    QCOMPARE(rig.journal, repeated(sends, QStringLiteral("> Q\r\n")));
}

void TstCDevice::readAnswer_data()
{
    QTest::addColumn<QString>("chunks");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("chunksRead");

    const QString hundred = repeated(100, QStringLiteral("x")).join(QLatin1Char('|'));
    QTest::newRow("two lines in a chunk, one wanted") << "A\r\nB\r\n" << 1 << true << "A\r\nB\r\n" << 1;
    QTest::newRow("four lines over chunks") << "A\r\n|B\r\nC|\r\nD\r\n|E\r\n"
                                            << 4 << true << "A\r\nB\r\nC\r\nD\r\n"
                                            << 3;
    QTest::newRow("lines 4 stop after 68 chunks")
        << hundred << 4 << true << QString(68, QLatin1Char('x')) << 68;
    QTest::newRow("lines 1 stop after 17 chunks")
        << hundred << 1 << true << QString(17, QLatin1Char('x')) << 17;
    QTest::newRow("time-out keeps what came") << "A\r\n|B" << 2 << false << "A\r\nB" << 2;
}

void TstCDevice::readAnswer()
{
    QFETCH(QString, chunks);
    QFETCH(int, lines);
    QFETCH(bool, ok);
    QFETCH(QString, answer);
    QFETCH(int, chunksRead);

    Rig rig;
    // Read as an exchange does, with the device's own receiver out of the way.
    rig.device.disconnectReceiver();
    QSignalSpy in(&rig.device, &CDevice::newInLog);
    rig.instrument->deliver(rig.instrument->parse(chunks));
    QString text = QStringLiteral("stale");
    QCOMPARE(rig.device.readAnswer(text, lines, 300), ok);
    QCOMPARE(text, answer);
    QCOMPARE(in.count(), chunksRead);
}

void TstCDevice::receiverOffDuringExchanges()
{
    Rig rig;
    rig.instrument->answerInTurn({"A\r\n", "MT\r\n", "ES\r\n", "ES\r\n", ""});
    QString answer;
    QCOMPARE(rig.device.sendAndRead(QStringLiteral("Q\r\n"), &answer, 1, 300, 1), 1);
    QCOMPARE(rig.device.sendAndExpect(QStringLiteral("ST\r\n"), QStringLiteral("MT\r\n"), 1, 300, 1), 1);
    QCOMPARE(rig.device.sendAndExpect(QStringLiteral("ST\r\n"), QStringLiteral("MT\r\n"), 1, 300, 2), 2);
    QCOMPARE(rig.device.sendAndRead(QStringLiteral("Q\r\n"), &answer, 1, 100, 1), 3);

    // The answers were not also dispatched as received lines.
    QCOMPARE(rig.journal, QStringList({"> Q\r\n", "> ST\r\n", "> ST\r\n", "> ST\r\n", "> Q\r\n"}));
    QVERIFY(rig.device.receiveBuffer.isEmpty());

    // Listening again afterwards, once.
    rig.journal.clear();
    QSignalSpy in(&rig.device, &CDevice::newInLog);
    rig.fake->feed("X\r\nY\r\n");
    QCOMPARE(rig.journal, QStringList({"line X\r\n", "line Y\r\n"}));
    QCOMPARE(in.count(), 1);
}

void TstCDevice::commandDuringWaitIsDelayedOnce()
{
    Rig rig;
    rig.instrument->lateMs = 150;
    rig.instrument->answerInTurn({"@A\r\n", "ML\r\n"});
    // Delivered by the wait's event loop: the first is held, the others are refused.
    QMetaObject::invokeMethod(&rig.device, "minTHR", Qt::QueuedConnection, Q_ARG(float, 2.5f));
    QMetaObject::invokeMethod(&rig.device, "tare", Qt::QueuedConnection);
    QMetaObject::invokeMethod(&rig.device, "zero", Qt::QueuedConnection);

    QString answer;
    QCOMPARE(rig.device.sendAndRead(QStringLiteral("Q\r\n"), &answer, 1, 1000, 1), 1);
    const qint64 waitEnded = rig.clock.elapsed();
    QCOMPARE(rig.journal, QStringList({"> Q\r\n", "finished 2 13", "finished 2 14"}));

    QTRY_COMPARE(rig.journal.size(), 5);
    QCOMPARE(rig.journal, QStringList({"> Q\r\n", "finished 2 13", "finished 2 14", "> SL2.5\r\n",
                                       "finished 1 17 p1=float 2.5"}));
    QVERIFY2(rig.writeTimes.at(1) - waitEnded >= CDevice::DelayedCommandMs - 5,
             qPrintable(QString::number(rig.writeTimes.at(1) - waitEnded)));
}

void TstCDevice::refusalsWhileWaiting()
{
    Rig rig;
    QSignalSpy alibi(&rig.device, &CDevice::readingAlibiFinished);
    QSignalSpy firmware(&rig.device, &CDevice::sendingFirmwareFinished);

    // Outside a wait every command may run.
    QVERIFY(rig.device.canSendNextCommand(COMMAND_RESULT, "result"));
    QVERIFY(rig.journal.isEmpty());

    QList<bool> accepted;
    QTimer::singleShot(0, &rig.device, [&] {
        const QString text = QStringLiteral("HELLO\r\n");
        const QString path = QStringLiteral("fw.bin");
        accepted << rig.device.canSendNextCommand(COMMAND_SEND_STRING, "sendString", Q_ARG(QString, text));
        accepted << rig.device.canSendNextCommand(COMMAND_READ_ALIBI, "readAlibiMemory");
        accepted << rig.device.canSendNextCommand(COMMAND_SEND_FIRMWARE, "sendNewFirmware",
                                                  Q_ARG(QString, path));
        accepted << rig.device.canSendNextCommand(COMMAND_RESULT, "result");
    });
    rig.instrument->lateMs = 150;
    rig.instrument->answerInTurn({"@A\r\n"});
    QString answer;
    QCOMPARE(rig.device.sendAndRead(QStringLiteral("Q\r\n"), &answer, 1, 1000, 1), 1);

    QCOMPARE(accepted, QList<bool>({false, false, false, false}));
    QCOMPARE(alibi.count(), 1);
    QCOMPARE(alibi.at(0).at(0).toInt(), 0);
    QCOMPARE(firmware.count(), 1);
    QCOMPARE(firmware.at(0).at(0).toInt(), 0);
    QCOMPARE(rig.journal, QStringList({"> Q\r\n", "finished 2 11"}));

    // The held command kept its own copy of the argument.
    QTRY_COMPARE(rig.fake->writtenLines(), QStringList({"Q\r\n", "HELLO\r\n"}));
    QCOMPARE(rig.device.currentCommand(), 37);
}

void TstCDevice::callsFromOtherThreadsAreReposted()
{
    QObject sink;
    QStringList finished;
    std::atomic<QThread*> writer{nullptr};
    WorkerRig w;
    w.fake->setResponder([&writer](const QString& line) {
        writer = QThread::currentThread();
        if (line == QLatin1String("ST\r\n")) {
            return QList<QByteArray>{"MT\r\n"};
        }
        if (line == QLatin1String("SL2.5\r\n")) {
            return QList<QByteArray>{"ML\r\n"};
        }
        return QList<QByteArray>();
    });
    QObject::connect(w.device, &CDevice::commandFinished, &sink,
                     [&finished](int r, int c, const QVariant& resp, const QVariant& p1, const QVariant& p2,
                                 const QVariant& p3, const QVariant& p4) {
                         finished << finishedText(r, c, resp, p1, p2, p3, p4) + " in " +
                                         (QThread::currentThread() == qApp->thread() ? "test" : "other");
                     });
    w.start();

    // Both return at once and run in the device's thread; the threshold, if it arrives during the
    // tare's wait, is held until the wait is over.
    QVERIFY(!w.device->tare());
    QVERIFY(!w.device->minTHR(2.5f));
    QTRY_COMPARE(finished.size(), 2);
    QCOMPARE(finished, QStringList({"finished 1 13 in test", "finished 1 17 p1=float 2.5 in test"}));
    QCOMPARE(writer.load(), &w.worker);
    QCOMPARE(w.fake->writtenLines(), QStringList({"ST\r\n", "SL2.5\r\n"}));
}

void TstCDevice::valueTypesCrossThreads()
{
    QObject sink;
    QStringList seen;
    WorkerRig w;
    w.fake->setResponder([](const QString& line) {
        return line == QLatin1String("Sx1\r\n") ? QList<QByteArray>{"-    0.500 kg \r\n"}
                                                : QList<QByteArray>();
    });
    QObject::connect(w.device, &CDevice::resultReceived, &sink,
                     [&seen](const Measurement& m) { seen << "result " + measurementText(m); });
    QObject::connect(w.device, &CDevice::newInLog, &sink, [&seen](const PelmLogRecord& r) {
        seen << QStringLiteral("in %1 %2").arg(r.interface, r.message);
    });
    QObject::connect(w.device, &CDevice::newOutLog, &sink, [&seen](const PelmLogRecord& r) {
        seen << QStringLiteral("out %1 %2").arg(r.interface, r.message);
    });
    QObject::connect(w.device, &CDevice::commandFinished, &sink, [&seen](int r, int c, const QVariant& resp) {
        seen << finishedText(r, c, resp, {}, {}, {}, {});
    });
    w.start();

    FakeInterface* fake = w.fake;
    QMetaObject::invokeMethod(
        fake, [fake] { fake->feed(Plain12345.toLatin1()); }, Qt::QueuedConnection);
    QVERIFY(w.device->result().isEmpty());
    QTRY_COMPARE(seen.size(), 5);
    QCOMPARE(seen, QStringList({"in FAKE " + Plain12345, "result 12.345/3/g/X", "out FAKE Sx1\r\n",
                                "in FAKE -    0.500 kg \r\n", "finished 1 11 m=-0.5/3/kg/X"}));
}

void TstCDevice::checkCommunicationWithoutTimeout_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("checkConnection");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("written");

    QTest::newRow("ok") << 1 << true << QStringList() << QStringList();
    QTest::newRow("failed") << 2 << true << QStringList() << QStringList();
    QTest::newRow("time-out, check off") << 3 << false << QStringList() << QStringList();
    QTest::newRow("time-out, echo answered") << 3 << true << QStringList{"MJ\r\n"} << QStringList{"SJ\r\n"};
    QTest::newRow("time-out, any answer") << 3 << true << QStringList{"ES\r\n"} << QStringList{"SJ\r\n"};
}

void TstCDevice::checkCommunicationWithoutTimeout()
{
    QFETCH(int, result);
    QFETCH(bool, checkConnection);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, written);

    Rig rig(true, checkConnection);
    rig.instrument->answerInTurn(answers);
    QVERIFY(rig.device.checkCommunication(result));
    QCOMPARE(rig.fake->writtenLines(), written);
    QCOMPARE(rig.device.state(), 1);
}

void TstCDevice::checkDoesNotStartDuringWait()
{
    Rig rig(true, true);
    rig.device.sendSI();
    // The check comes due 5500 ms after the line, inside this wait: it must not probe meanwhile.
    QString answer;
    QVERIFY(!rig.device.readAnswer(answer, 1, CDevice::CheckPeriodMs + 1000));
    QCOMPARE(rig.journal, QStringList({"> SI\r\n"}));
    rig.device.setCheckConnection(false);
}

void TstCDevice::periodicCheckDisconnectsSilentInstrument()
{
    Rig rig(false);
    QVERIFY(rig.device.connectDevice());
    rig.device.sendSI();
    QTRY_COMPARE_WITH_TIMEOUT(rig.device.state(), 2, 20000);
    QCOMPARE(rig.journal, QStringList({"state 4", "state 1", "> SI\r\n", "> SJ\r\n", "> SJ\r\n", "> SJ\r\n",
                                       "state 5", "state 2"}));
    // The first probe waits for the check period, the device gives up after three probe time-outs.
    const auto& t = rig.writeTimes;
    QVERIFY2(t.at(1) - t.at(0) >= CDevice::CheckPeriodMs * 9 / 10,
             qPrintable(QString::number(t.at(1) - t.at(0))));
    QVERIFY2(t.at(3) - t.at(1) >= 2 * CDevice::CheckTimeoutMs - 50,
             qPrintable(QString::number(t.at(3) - t.at(1))));
}

void TstCDevice::oneLineCommands_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("command");

    QTest::newRow("sendSI") << QByteArray("sendSI") << "SI\r\n" << 30;
    QTest::newRow("sendSx1") << QByteArray("sendSx1") << "Sx1\r\n" << 31;
    QTest::newRow("sendSx3") << QByteArray("sendSx3") << "Sx3\r\n" << 32;
    QTest::newRow("sendSZ") << QByteArray("sendSZ") << "SZ\r\n" << 33;
    QTest::newRow("sendST") << QByteArray("sendST") << "ST\r\n" << 34;
    QTest::newRow("sendSJ") << QByteArray("sendSJ") << "SJ\r\n" << 35;
    QTest::newRow("sendSW9") << QByteArray("sendSW9") << "SW9\r\n" << 36;
    QTest::newRow("sendSS") << QByteArray("sendSS") << "SS\r\n" << 38;
    QTest::newRow("sendString as given") << QByteArray("sendString") << "P1 x;\n" << 37;
}

void TstCDevice::oneLineCommands()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, line);
    QFETCH(int, command);

    Rig rig;
    // The instrument's answer comes through the receive path, not through the command.
    rig.instrument->answerInTurn({Plain12345});
    if (slot == "sendString") {
        QVERIFY(QMetaObject::invokeMethod(&rig.device, slot.constData(), Q_ARG(QString, line)));
    } else {
        QVERIFY(QMetaObject::invokeMethod(&rig.device, slot.constData()));
    }
    QCOMPARE(rig.fake->writtenLines(), QStringList({line}));
    QCOMPARE(rig.device.currentCommand(), command);
    QCOMPARE(rig.device.lastSent(), line);
    QCOMPARE(rig.journal, QStringList({"> " + line}));
    QTRY_COMPARE(rig.journal, QStringList({"> " + line, "result m=12.345/3/g/X"}));
}

void TstCDevice::weighingCommands_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("checkConnection");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QVariant>("returned");
    QTest::addColumn<QString>("rest");

    const QString marked = "U" + Plain12345;
    const QString result = QStringLiteral("finished %1 %2 m=12.345/3/g/%3");
    const QString none = QStringLiteral("m=0/0//X");

    QTest::newRow("result") << "result" << false << QStringList{Plain12345}
                            << QStringList{"> Sx1\r\n", result.arg(1).arg(11).arg('X')}
                            << QVariant(Plain12345) << "";
    QTest::newRow("stableResult") << "stableResult" << false << QStringList{Plain12345}
                                  << QStringList{"> SI\r\n", result.arg(1).arg(10).arg('S')}
                                  << QVariant(Plain12345) << "";
    QTest::newRow("result garbled") << "result" << false << QStringList{"12.345 g\r\n"}
                                    << QStringList{"> Sx1\r\n", "finished 2 11 " + none}
                                    << QVariant("12.345 g\r\n") << "";
    QTest::newRow("stableResult garbled")
        << "stableResult" << false << QStringList{marked} << QStringList{"> SI\r\n", "finished 2 10 m=0/0//S"}
        << QVariant(marked) << "";
    // One slow row: three silent attempts, then the connection check, whose probe is answered.
    QTest::newRow("result silent") << "result" << true << QStringList{"", "", "", "MJ\r\n"}
                                   << QStringList{"> Sx1\r\n", "> Sx1\r\n", "> Sx1\r\n",
                                                  "finished 3 11 " + none, "> SJ\r\n"}
                                   << QVariant("") << "";

    QTest::newRow("resultWithStb") << "resultWithStb" << false << QStringList{marked}
                                   << QStringList{"> Sx3\r\n", result.arg(1).arg(12).arg('U')}
                                   << QVariant(marked) << "";
    QTest::newRow("resultWithStb answered plainly")
        << "resultWithStb" << false << QStringList{Plain12345}
        << QStringList{"> Sx3\r\n", result.arg(1).arg(11).arg('X'), result.arg(2).arg(12).arg('X')}
        << QVariant(Plain12345) << "";
    QTest::newRow("resultWithStb answered plainly with more")
        << "resultWithStb" << false << QStringList{Plain12345 + "OK\r\n"}
        << QStringList{"> Sx3\r\n", result.arg(1).arg(11).arg('X'), result.arg(2).arg(12).arg('X')}
        << QVariant(Plain12345) << "OK\r\n";
    QTest::newRow("resultWithStb answered plainly with an unfinished tail")
        << "resultWithStb" << false << QStringList{Plain12345 + "OK\r\nPAR"}
        << QStringList{"> Sx3\r\n", result.arg(1).arg(11).arg('X'), result.arg(2).arg(12).arg('X')}
        << QVariant(Plain12345) << "OK\r\nPAR";
    QTest::newRow("resultWithStb garbled")
        << "resultWithStb" << false << QStringList{"ES\r\n"}
        << QStringList{"> Sx3\r\n", "finished 2 12 " + none} << QVariant("ES\r\n") << "";

    QTest::newRow("tare on second attempt")
        << "tare" << false << QStringList{"", "MT\r\n"}
        << QStringList{"busy 1", "> ST\r\n", "> ST\r\n", "busy 0", "finished 1 13"} << QVariant(true) << "";
    QTest::newRow("tare refused") << "tare" << false << QStringList{"ES\r\n", "MZ\r\n"}
                                  << QStringList{"busy 1", "> ST\r\n", "> ST\r\n", "busy 0", "finished 2 13"}
                                  << QVariant(false) << "";
    QTest::newRow("zero") << "zero" << false << QStringList{"MZ\r\n"}
                          << QStringList{"busy 1", "> SZ\r\n", "busy 0", "finished 1 14"} << QVariant(true)
                          << "";
    QTest::newRow("zero answered as tare")
        << "zero" << false << QStringList{"MT\r\n", "MT\r\n"}
        << QStringList{"busy 1", "> SZ\r\n", "> SZ\r\n", "busy 0", "finished 2 14"} << QVariant(false) << "";

    QTest::newRow("minTHR 0.1") << "minTHR 0.1" << false << QStringList{"ML\r\n"}
                                << QStringList{"> SL0.1\r\n", "finished 1 17 p1=float 0.1"} << QVariant(true)
                                << "";
    QTest::newRow("maxTHR 100") << "maxTHR 100" << false << QStringList{"MH\r\n"}
                                << QStringList{"> SH100\r\n", "finished 1 18 p1=float 100"} << QVariant(true)
                                << "";
    QTest::newRow("zeroTHR 12.5") << "zeroTHR 12.5" << false << QStringList{"MM\r\n"}
                                  << QStringList{"> SM12.5\r\n", "finished 1 19 p1=float 12.5"}
                                  << QVariant(true) << "";
    QTest::newRow("maxTHR seven digits")
        << "maxTHR 1234567" << false << QStringList{"MH\r\n"}
        << QStringList{"> SH1.23457e+06\r\n", "finished 1 18 p1=float 1.23457e+06"} << QVariant(true) << "";
    QTest::newRow("minTHR negative") << "minTHR -0.5" << false << QStringList{"ML\r\n"}
                                     << QStringList{"> SL-0.5\r\n", "finished 1 17 p1=float -0.5"}
                                     << QVariant(true) << "";
    QTest::newRow("minTHR wrong acknowledgement")
        << "minTHR 0.1" << false << QStringList{"MH\r\n", "MH\r\n"}
        << QStringList{"> SL0.1\r\n", "> SL0.1\r\n", "finished 2 17 p1=float 0.1"} << QVariant(false) << "";

    QTest::newRow("checkEcho") << "checkEcho" << false << QStringList{"MJ\r\n"}
                               << QStringList{"> SJ\r\n", "finished 1 16"} << QVariant(true) << "";
    QTest::newRow("checkEcho inside text")
        << "checkEcho" << false << QStringList{"xxMJxx\r\n"} << QStringList{"> SJ\r\n", "finished 1 16"}
        << QVariant(true) << "";
    QTest::newRow("checkEcho without MJ")
        << "checkEcho" << false << QStringList{"ES\r\n"} << QStringList{"> SJ\r\n", "finished 2 16"}
        << QVariant(false) << "";
    QTest::newRow("checkEcho lower case")
        << "checkEcho" << false << QStringList{"mj\r\n"} << QStringList{"> SJ\r\n", "finished 2 16"}
        << QVariant(false) << "";
    QTest::newRow("checkEcho silent")
        << "checkEcho" << false << QStringList{"", "", ""}
        << QStringList{"> SJ\r\n", "> SJ\r\n", "> SJ\r\n", "finished 3 16"} << QVariant(false) << "";
}

void TstCDevice::weighingCommands()
{
    QFETCH(QString, call);
    QFETCH(bool, checkConnection);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, journal);
    QFETCH(QVariant, returned);
    QFETCH(QString, rest);

    Rig rig(true, checkConnection);
    rig.instrument->answerInTurn(answers);
    const QVariant actual = invoke(rig.device, call);
    QCOMPARE(rig.journal, journal);
    QCOMPARE(actual, returned);
    QCOMPARE(rig.device.receiveBuffer, rest);
    QCOMPARE(rig.device.state(), 1);
    if (returned.userType() == QMetaType::QString) {
        QCOMPARE(rig.device.lastAnswer(), returned.toString());
    }
}

void TstCDevice::readInfo_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QStringList>("identity");

    const QStringList identity{"PS 750.X2", "123456", "2023-05-04", "1.04.7"};
    const QStringList previous{"OLD", "1", "2000-01-01", "v1"};
    const QStringList read{"busy 1", "> SW9\r\n", "busy 0", "finished 1 15"};
    const QStringList refused{"busy 1", "> SW9\r\n", "busy 0", "finished 2 15"};

    QTest::newRow("one chunk") << QStringList{Identity} << true << read << identity;
    QTest::newRow("one line per chunk")
        << QStringList{"PS 750.X2\r\n|123456\r\n|2023-05-04\r\n|1.04.7\r\n"} << true << read << identity;
    QTest::newRow("results streamed in between")
        << QStringList{Plain12345 + "PS 750.X2\r\n|123456\r\nS" + Plain12345 +
                       "|2023-05-04\r\n    12.3|47 g  \r\n" + "1.04.7\r\n"}
        << true << read << identity;
    QTest::newRow("result split before the identity")
        << QStringList{"U    1|2.345 g  \r\n" + Identity} << true << read << identity;
    QTest::newRow("result-like numbers in identity")
        << QStringList{"WLC 12.5/C2\r\n12.345\r\n2023.05.04\r\n1.04.7 (2.1)\r\n"} << true << read
        << QStringList{"WLC 12.5/C2", "12.345", "2023.05.04", "1.04.7 (2.1)"};
    QTest::newRow("lines without CR") << QStringList{"A\nB\nC\nD\n"} << false << refused << previous;
    QTest::newRow("68 chunks without line")
        << QStringList{repeated(70, QStringLiteral("x")).join(QLatin1Char('|'))} << false << refused
        << previous;
    QTest::newRow("three lines time out")
        << QStringList{"A\r\nB\r\nC\r\n", "A\r\nB\r\nC\r\n", "A\r\nB\r\nC\r\n"} << false
        << QStringList{"busy 1", "> SW9\r\n", "> SW9\r\n", "> SW9\r\n", "busy 0", "finished 3 15"}
        << previous;
}

void TstCDevice::readInfo()
{
    QFETCH(QStringList, answers);
    QFETCH(bool, ok);
    QFETCH(QStringList, journal);
    QFETCH(QStringList, identity);

    Rig rig;
    rig.instrument->answerInTurn({"OLD\r\n1\r\n2000-01-01\r\nv1\r\n"});
    QVERIFY(rig.device.readInfo());
    rig.journal.clear();

    rig.instrument->answerInTurn(answers);
    QCOMPARE(rig.device.readInfo(), ok);
    QCOMPARE(rig.journal, journal);
    QString model, serialNumber, productionDate, firmware;
    rig.device.info(model, serialNumber, productionDate, firmware);
    QCOMPARE(QStringList({model, serialNumber, productionDate, firmware}), identity);
    if (ok) {
        QCOMPARE(rig.device.lastAnswer(), identity.join(Crlf) + Crlf);
    }
}

void TstCDevice::cloneCopiesIdentityAndTransport()
{
    Rig rig;
    rig.fake->name = QStringLiteral("pty-7");
    rig.instrument->answerInTurn({Identity});
    QVERIFY(rig.device.readInfo());

    std::unique_ptr<CDevice> copy(rig.device.clone(nullptr));
    QCOMPARE(copy->model(), QStringLiteral("PS 750.X2"));
    QCOMPARE(copy->serialNumber(), QStringLiteral("123456"));
    QCOMPARE(copy->productionDate(), QStringLiteral("2023-05-04"));
    QCOMPARE(copy->firmware(), QStringLiteral("1.04.7"));
    auto* transport = qobject_cast<FakeInterface*>(copy->interface());
    QVERIFY(transport);
    QVERIFY(transport != rig.fake);
    QCOMPARE(transport->parent(), copy.get());
    QCOMPARE(copy->interfaceDescription(), QStringLiteral("pty-7"));
    QCOMPARE(copy->state(), 2);

    // The copy listens to its own transport.
    QSignalSpy lines(copy.get(), &CDevice::lineReceived);
    transport->feed("MT\r\n");
    QCOMPARE(lines.count(), 1);
}

void TstCDevice::disconnectionEndsExchange_data()
{
    QTest::addColumn<bool>("byTransport");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("user disconnects")
        << false << QStringList({"> Sx1\r\n", "state 5", "state 2", "finished 2 11 m=0/0//X"});
    QTest::newRow("transport goes away")
        << true << QStringList({"> Sx1\r\n", "state 2", "finished 2 11 m=0/0//X"});
}

void TstCDevice::disconnectionEndsExchange()
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

void TstCDevice::nonPositiveTimeoutEndsWaitAtOnce_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
}

void TstCDevice::nonPositiveTimeoutEndsWaitAtOnce()
{
    QFETCH(int, timeoutMs);
    Rig rig;
    // A late answer would end a wait that never times out; the wait must have ended long before.
    rig.instrument->lateMs = 3000;
    rig.instrument->answerInTurn({"@ 1.5 g\r\n"});
    QString answer;
    QCOMPARE(rig.device.sendAndRead(QStringLiteral("SI\r\n"), &answer, 1, timeoutMs, 1),
             int(COMMAND_TIMEOUT));
    QCOMPARE(answer, QString());
}

QTEST_GUILESS_MAIN(TstCDevice)
#include "tst_cdevice.moc"
