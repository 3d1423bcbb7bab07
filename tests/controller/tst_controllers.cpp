#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "log/datafeedtablemodel.h"
#include "platform/queuedcall.h"
#include "support/scripteddevice.h"
#include "support/testdatabase.h"

#include <QtTest>

namespace {

const QByteArray PlainResult = "    12.345 g  \r\n";

// Calls the balance controller's request of that name; the threshold requests get 1.5, sendString "SX".
bool request(CBalanceController* balance, const QString& name)
{
    bool accepted = false;
    const QByteArray method = name.toLatin1();
    const bool called =
        name.endsWith(QLatin1String("THR"))
            ? QMetaObject::invokeMethod(balance, method, Q_RETURN_ARG(bool, accepted), Q_ARG(float, 1.5f))
        : name == QLatin1String("sendString")
            ? QMetaObject::invokeMethod(balance, method, Q_RETURN_ARG(bool, accepted),
                                        Q_ARG(QString, "SX\r\n"))
            : QMetaObject::invokeMethod(balance, method, Q_RETURN_ARG(bool, accepted));
    return called && accepted;
}

// The balance controller's result, error and finished signals in the order they come.
struct EventLog
{
    explicit EventLog(CBalanceController* balance)
    {
        auto result = [this](const char* kind) {
            return [this, kind](const Measurement& m) {
                events << QStringLiteral("%1 %2 %3 %4")
                              .arg(kind, QString::number(double(m.value), 'f', m.decimals), m.unit)
                              .arg(QChar::fromLatin1(m.stability));
            };
        };
        auto pair = [this](const char* kind) {
            return
                [this, kind](int a, int b) { events << QStringLiteral("%1 %2 %3").arg(kind).arg(a).arg(b); };
        };
        QObject::connect(balance, &CBalanceController::anyResultReceived, &context, result("any"));
        QObject::connect(balance, &CBalanceController::significantResultReceived, &context,
                         result("significant"));
        QObject::connect(balance, &CControllerInterface::raiseError, &context, pair("error"));
        QObject::connect(balance, &CControllerInterface::commandFinished, &context, pair("finished"));
    }

    QObject context;
    QStringList events;
};

// The given argument of every signal a spy caught.
QList<int> arguments(const QSignalSpy& spy, int argument = 0)
{
    QList<int> values;
    for (const QList<QVariant>& args : spy) {
        values << args.at(argument).toInt();
    }
    return values;
}

} // namespace

// The device and balance controllers: refusals, forwarding of requests and signals, results.
class TstControllers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void refusals_data();
    void refusals();
    void requestsReachTheDevice_data();
    void requestsReachTheDevice();
    void balanceSignals_data();
    void balanceSignals();
    void forwardingsAndQuietMode();
    void deviceControllerReportsTheRealStateLast();
    void captureStoresEachResultOnceAsItsSenderStampedIt();

private:
    CDeviceController* deviceController = nullptr;
    CBalanceController* balance = nullptr;
};

void TstControllers::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
    deviceController = CDeviceController::instance();
    balance = CBalanceController::instance();
}

void TstControllers::cleanup()
{
    // The current device is process-wide: no test may leave one behind.
    deviceController->setCurrentDevice(nullptr);
    balance->setCurrentDevice(nullptr);
    deviceController->setQuiet(false);
    balance->setQuiet(false);
}

void TstControllers::refusals_data()
{
    QTest::addColumn<bool>("viaBalance");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("needsModule");
    QTest::addColumn<int>("code");
    // Each row also shows which check comes first when several would refuse; each request's refusal
    // without a device or a connection is in requestsReachTheDevice.
    QTest::newRow("balance, type 2, not connected, busy") << true << 2 << false << true << true << 1006;
    QTest::newRow("device, type 2") << false << 2 << true << false << false << 0;
    QTest::newRow("balance, type 5") << true << 5 << true << false << false << 0;
    QTest::newRow("balance, not connected, busy, module") << true << 1 << false << true << true << 1004;
    QTest::newRow("balance, needs module, busy") << true << 1 << true << true << true << 1003;
    QTest::newRow("balance, busy") << true << 1 << true << true << false << 1002;
    QTest::newRow("device, busy") << false << 2 << true << true << false << 1002;
}

void TstControllers::refusals()
{
    QFETCH(bool, viaBalance);
    QFETCH(int, deviceType);
    QFETCH(bool, connected);
    QFETCH(bool, busy);
    QFETCH(bool, needsModule);
    QFETCH(int, code);

    ScriptedDevice device;
    device.m_deviceType = deviceType;
    balance->setCurrentDevice(&device);
    QVERIFY(!connected || device.connectDevice(false));
    device.setBusyFlag(busy);
    CControllerInterface* controller =
        viaBalance ? static_cast<CControllerInterface*>(balance) : deviceController;
    QSignalSpy errors(controller, &CControllerInterface::raiseError);
    // No kind of device has a network module yet, so only the check itself can ask for one.
    QCOMPARE(controller->checkDevice(needsModule, false), code != 0);
    QCOMPARE(arguments(errors), code == 0 ? QList<int>() : QList<int>{code});
}

void TstControllers::requestsReachTheDevice_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("line");
    const char* const rows[][2] = {
        {"sendSI", "SI\r\n"},     {"sendSJ", "SJ\r\n"},         {"sendST", "ST\r\n"},
        {"sendSW9", "SW9\r\n"},   {"sendSZ", "SZ\r\n"},         {"sendSS", "SS\r\n"},
        {"result", "Sx1\r\n"},    {"stableResult", "SI\r\n"},   {"resultWithStb", "Sx3\r\n"},
        {"zeroTHR", "SM1.5\r\n"}, {"minTHR", "SL1.5\r\n"},      {"maxTHR", "SH1.5\r\n"},
        {"sendString", "SX\r\n"}, {"sendSilentSx1", "Sx1\r\n"},
    };
    for (const auto& row : rows) {
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }
}

void TstControllers::requestsReachTheDevice()
{
    QFETCH(QString, request);
    QFETCH(QString, line);
    const bool silent = request == QLatin1String("sendSilentSx1");
    QSignalSpy errors(balance, &CControllerInterface::raiseError);

    // Refused without a device, and without a connected one; the silent request says nothing.
    QVERIFY(!::request(balance, request));
    ScriptedDevice device;
    balance->setCurrentDevice(&device);
    QVERIFY(!::request(balance, request));
    QCOMPARE(arguments(errors), silent ? QList<int>() : (QList<int>{1001, 1004}));
    QCOMPARE(arguments(errors, 1), silent ? QList<int>() : (QList<int>{-1, -1}));

    QVERIFY(device.connectDevice(false));
    QVERIFY(::request(balance, request));
    QCOMPARE(device.fake->writtenLines().value(0), line);
}

void TstControllers::balanceSignals_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("events");
    const auto row = [](const char* name, const QString& request, const QString& line,
                        const QByteArray& answer, const QStringList& events) {
        QTest::newRow(name) << request << line << answer << events;
    };
    row("stableResult", "stableResult", {}, {},
        {"any 12.345 g S", "significant 12.345 g S", "finished 1 10"});
    row("result", "result", {}, {}, {"any 12.345 g X", "significant 12.345 g X", "finished 1 11"});
    // Results with stability feed the live display only.
    row("resultWithStb", "resultWithStb", {}, {}, {"any 12.345 g S", "finished 1 12"});
    // The instrument sends a result by itself (its print key).
    row("unsolicited", {}, {}, {}, {"significant 12.345 g X", "any 12.345 g X"});
    row("tare, wrong answer", "sendST", "ST\r\n", "ES\r\n", {"error 2 13", "finished 2 13"});
    // No result signal for an answer that is not a result.
    row("result, not a result", "result", "Sx1\r\n", "ES\r\n", {"error 2 11", "finished 2 11"});
}

void TstControllers::balanceSignals()
{
    QFETCH(QString, request);
    QFETCH(QString, line);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, events);

    QHash<QString, QByteArray> answers = ScriptedDevice::instrumentAnswers();
    answers.remove(line);
    if (!answer.isEmpty()) {
        answers.insert(line, answer);
    }
    ScriptedDevice device(answers);
    balance->setCurrentDevice(&device);
    QVERIFY(device.connectDevice(false));
    EventLog log(balance);
    // A failed command is still a request handed to the device, so it is accepted.
    QVERIFY(request.isEmpty() ? (device.fake->feed(PlainResult), true) : ::request(balance, request));
    // The device runs in this thread, so everything has happened once the request returns.
    QCOMPARE(log.events, events);
}

void TstControllers::forwardingsAndQuietMode()
{
    ScriptedDevice device;
    deviceController->setCurrentDevice(&device);
    QSignalSpy firmware(balance, &CBalanceController::sendingFirmwareFinished);
    QSignalSpy significant(balance, &CBalanceController::significantResultReceived);
    QSignalSpy balanceStates(balance, &CControllerInterface::deviceStateChanged);
    QSignalSpy deviceStates(deviceController, &CControllerInterface::deviceStateChanged);
    QSignalSpy balanceFinished(balance, &CControllerInterface::commandFinished);
    QSignalSpy deviceFinished(deviceController, &CControllerInterface::commandFinished);
    QSignalSpy balanceLines(balance, &CControllerInterface::lineReceived);
    QSignalSpy deviceLines(deviceController, &CControllerInterface::lineReceived);
    auto emitAll = [&device] {
        device.finishFirmware(1);
        device.finishCommand(1, 13);
        device.fake->feed("MT\r\n");
        device.fake->feed(PlainResult);
    };

    // Quiet, a controller tells no state changes, though command results still come while connected.
    // Connected, disconnected, connected again: nothing while disconnected, then each signal once.
    balance->setQuiet(true);
    QVERIFY(device.connectDevice(false));
    QTRY_COMPARE(device.fake->writtenLines(), QStringList{QStringLiteral("SW9\r\n")});
    device.finishCommand(1, 13);
    device.disconnectDevice();
    emitAll();
    balance->setQuiet(false);
    deviceController->setQuiet(true);
    QVERIFY(device.connectDevice(false));
    emitAll();
    QCOMPARE(arguments(balanceStates), (QList<int>{STATE_CONNECTING, STATE_CONNECTED}));
    QCOMPARE(arguments(deviceStates),
             (QList<int>{STATE_CONNECTING, STATE_CONNECTED, STATE_DISCONNECTING, STATE_DISCONNECTED}));
    QCOMPARE(arguments(firmware), QList<int>{1});
    QCOMPARE(arguments(balanceFinished, 1).count(13), 2);
    QCOMPARE(arguments(deviceFinished, 1).count(13), 2);
    QCOMPARE(balanceLines.count(), 1);
    QCOMPARE(balanceLines.at(0).at(0).toString(), QStringLiteral("MT\r\n"));
    QCOMPARE(deviceLines.count(), 1);
    QCOMPARE(significant.count(), 1);
}

void TstControllers::deviceControllerReportsTheRealStateLast()
{
    // The port goes away while the identity is read: the device ends Disconnected, and so must the
    // state the controller reported last.
    ScriptedDevice device;
    device.fake->setResponder([&device](const QString&) {
        device.fake->close();
        return QList<QByteArray>();
    });
    deviceController->setCurrentDevice(&device);
    QSignalSpy states(deviceController, &CControllerInterface::deviceStateChanged);
    QVERIFY(device.connectDevice(false));
    QTRY_COMPARE(arguments(states), (QList<int>{STATE_CONNECTING, STATE_CONNECTED, STATE_DISCONNECTED}));
    QCOMPARE(device.state(), int(STATE_DISCONNECTED));
}

void TstControllers::captureStoresEachResultOnceAsItsSenderStampedIt()
{
    // No window: the capture alone stores what the balance controller calls significant.
    TestDatabase db;
    CaptureCore capture;
    capture.follow(balance);
    QSignalSpy captured(&capture, &CaptureCore::resultCaptured);
    // Whatever is shown, typed or exported is stored: rows appear and results are announced only
    // once committed, as a second connection sees them.
    QList<qint64> uncommitted;
    const auto committed = [&db, &uncommitted](qint64 count) {
        if (db.committedRows(QStringLiteral("SELECT 1 FROM DATAFEED WHERE COUNT = %1").arg(count))
                .isEmpty()) {
            uncommitted << count;
        }
    };
    connect(capture.model(), &QAbstractItemModel::rowsInserted, &capture,
            [&](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row) {
                    committed(
                        capture.model()->index(row, DataFeedTableModel::CountColumn).data().toLongLong());
                }
            });
    connect(&capture, &CaptureCore::resultCaptured, [&committed](qint64 count) { committed(count); });
    ScriptedDevice sender;
    balance->setCurrentDevice(&sender);
    QVERIFY(sender.connectDevice(false));
    sender.m_serialNumber = QStringLiteral(" A  17 ");

    sender.fake->feed(PlainResult);
    QVERIFY(request(balance, QStringLiteral("stableResult")));
    // The display's results are not captured.
    QVERIFY(request(balance, QStringLiteral("resultWithStb")));
    // In its own thread, as in the program, the instrument sends a result; before it arrives the device
    // page chooses another instrument. The result is still the sender's.
    QThread worker;
    worker.start();
    sender.moveToThread(&worker);
    QVERIFY(waitForCall(&sender, [&sender] { sender.fake->feed(PlainResult); }));
    ScriptedDevice other;
    other.m_serialNumber = QStringLiteral("B 2");
    deviceController->setCurrentDevice(&other);
    QTRY_COMPARE(captured.count(), 3);
    QVERIFY(waitForCall(&sender, [&sender] { sender.moveToThread(QCoreApplication::instance()->thread()); }));
    // Its and its children's timers are registered here again by events that must reach them before
    // they go.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    worker.quit();
    worker.wait();
    // A result that no instrument stamped.
    Measurement unstamped;
    unstamped.value = -1.5;
    unstamped.decimals = 1;
    unstamped.unit = QStringLiteral("kg");
    capture.capture(unstamped);
    QCOMPARE(TestDatabase::rows(QStringLiteral("SELECT COUNT(*) FROM DATAFEED")), QStringList{"3"});
    capture.flush();

    QCOMPARE(
        TestDatabase::rows(QStringLiteral("SELECT COUNT, SN, VAL, UNIT, NOTE FROM DATAFEED ORDER BY COUNT")),
        (QStringList{"1|A 17|12.345|g|", "2|A 17|12.345|g|", "3|A 17|12.345|g|", "4|N/A|-1.5|kg|"}));
    const QRegularExpression stamp(QStringLiteral("^\\d\\d-\\d\\d-\\d{4}\\|\\d\\d:\\d\\d:\\d\\d$"));
    for (const QString& row : TestDatabase::rows(QStringLiteral("SELECT DATE, TIME FROM DATAFEED"))) {
        QVERIFY2(stamp.match(row).hasMatch(), qPrintable(row));
    }
    QCOMPARE(arguments(captured), (QList<int>{1, 2, 3, 4}));
    QCOMPARE(uncommitted, QList<qint64>());
}

QTEST_GUILESS_MAIN(TstControllers)
#include "tst_controllers.moc"
