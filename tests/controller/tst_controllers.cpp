#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "support/fakeinterface.h"

#include <QHash>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <functional>

namespace {

const QByteArray PlainResult = "    12.345 g  \r\n";
const QByteArray MarkedResult = "S    12.345 g  \r\n";

// What a current instrument answers; a test removes or replaces entries to make it misbehave.
QHash<QString, QByteArray> instrumentAnswers()
{
    return {
        {QStringLiteral("SI\r\n"), PlainResult},
        {QStringLiteral("Sx1\r\n"), PlainResult},
        {QStringLiteral("Sx3\r\n"), MarkedResult},
        {QStringLiteral("ST\r\n"), "MT\r\n"},
        {QStringLiteral("SZ\r\n"), "MZ\r\n"},
        {QStringLiteral("SJ\r\n"), "MJ\r\n"},
        {QStringLiteral("SW9\r\n"), "PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n"},
    };
}

// A device of a chosen type on a scripted transport, with the few internals a test drives.
class TestDevice : public CDevice
{
public:
    explicit TestDevice(int type = 1, QHash<QString, QByteArray> answers = instrumentAnswers())
        : fake(new FakeInterface)
    {
        m_deviceType = type;
        fake->setResponder([answers](const QString& line) -> QList<QByteArray> {
            if (!answers.contains(line)) {
                return {};
            }
            return {answers.value(line)};
        });
        adoptInterface(fake);
    }

    void setBusyFlag(bool busy) { setBusy(busy); }
    void finishFirmware(int result) { emit sendingFirmwareFinished(result); }
    void finishCommand(int result, int command) { emit commandFinished(result, command); }

    FakeInterface* fake;
};

QString measurementText(const Measurement& m)
{
    return QStringLiteral("%1 %2 %3")
        .arg(QString::number(double(m.value), 'f', m.decimals), m.unit,
             QString(QChar::fromLatin1(m.stability)));
}

// Records the balance controller's result, error and finished signals in the order they come.
struct EventLog
{
    explicit EventLog(CBalanceController* balance)
    {
        QObject::connect(
            balance, &CBalanceController::anyResultReceived, &context,
            [this](const Measurement& m) { events << QStringLiteral("any ") + measurementText(m); });
        QObject::connect(
            balance, &CBalanceController::significantResultReceived, &context,
            [this](const Measurement& m) { events << QStringLiteral("significant ") + measurementText(m); });
        QObject::connect(balance, &CControllerInterface::raiseError, &context,
                         [this](int error, int command) {
                             events << QStringLiteral("error %1 %2").arg(error).arg(command);
                         });
        QObject::connect(balance, &CControllerInterface::commandFinished, &context,
                         [this](int result, int command) {
                             events << QStringLiteral("finished %1 %2").arg(result).arg(command);
                         });
    }

    QObject context;
    QStringList events;
};

int forwardedCount(const QSignalSpy& spy, int command)
{
    int count = 0;
    for (const QList<QVariant>& args : spy) {
        count += args.at(1).toInt() == command ? 1 : 0;
    }
    return count;
}

QList<int> stateList(const QSignalSpy& spy)
{
    QList<int> states;
    for (const QList<QVariant>& args : spy) {
        states << args.at(0).toInt();
    }
    return states;
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
    void everyRequestRefusedWithoutDevice_data();
    void everyRequestRefusedWithoutDevice();
    void resultSignalOrder_data();
    void resultSignalOrder();
    void failedCommandRaisesError_data();
    void failedCommandRaisesError();
    void forwardingsConnectedOnce();
    void quietMode_data();
    void quietMode();
    void deviceControllerReadsIdentityOnConnect();
    void deviceControllerReportsTheRealStateLast();
    void balanceFollowsDeviceControllerChoice();

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
    QVERIFY(deviceController);
    QVERIFY(balance);
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
    QTest::addColumn<bool>("hasDevice");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("needsModule");
    QTest::addColumn<int>("code");

    // Each row also shows which check comes first when several would refuse.
    QTest::newRow("balance, no device") << true << false << 1 << false << false << false << 1001;
    QTest::newRow("device, no device") << false << false << 1 << false << false << false << 1001;
    QTest::newRow("balance, type 2") << true << true << 2 << true << false << false << 1006;
    QTest::newRow("balance, type 2, not connected, busy")
        << true << true << 2 << false << true << true << 1006;
    QTest::newRow("device, type 2") << false << true << 2 << true << false << false << 0;
    QTest::newRow("balance, type 5") << true << true << 5 << true << false << false << 0;
    QTest::newRow("balance, not connected") << true << true << 1 << false << false << false << 1004;
    QTest::newRow("balance, not connected, busy, module")
        << true << true << 1 << false << true << true << 1004;
    QTest::newRow("device, not connected") << false << true << 2 << false << false << false << 1004;
    QTest::newRow("balance, needs module") << true << true << 1 << true << false << true << 1003;
    QTest::newRow("balance, needs module, busy") << true << true << 1 << true << true << true << 1003;
    QTest::newRow("balance, busy") << true << true << 1 << true << true << false << 1002;
    QTest::newRow("device, busy") << false << true << 2 << true << true << false << 1002;
    QTest::newRow("balance, accepted") << true << true << 1 << true << false << false << 0;
}

void TstControllers::refusals()
{
    QFETCH(bool, viaBalance);
    QFETCH(bool, hasDevice);
    QFETCH(int, deviceType);
    QFETCH(bool, connected);
    QFETCH(bool, busy);
    QFETCH(bool, needsModule);
    QFETCH(int, code);

    TestDevice device(deviceType);
    if (hasDevice) {
        balance->setCurrentDevice(&device);
    }
    if (connected) {
        QVERIFY(device.connectDevice(false));
    }
    device.setBusyFlag(busy);
    CControllerInterface* controller =
        viaBalance ? static_cast<CControllerInterface*>(balance) : deviceController;
    QSignalSpy errors(controller, &CControllerInterface::raiseError);

    if (needsModule) {
        // No kind of device has a network module yet, so only the check itself can ask for one.
        QCOMPARE(controller->checkDevice(true, false), code != 0);
    } else if (viaBalance) {
        QCOMPARE(balance->sendSI(), code == 0);
    } else {
        QCOMPARE(deviceController->sendString(QStringLiteral("SI\r\n")), code == 0);
    }

    if (code == 0) {
        QCOMPARE(errors.count(), 0);
        QCOMPARE(device.fake->writtenLines(), QStringList{QStringLiteral("SI\r\n")});
    } else {
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), code);
        QCOMPARE(errors.at(0).at(1).toInt(), -1);
        QVERIFY(device.fake->writtenLines().isEmpty());
    }
}

void TstControllers::everyRequestRefusedWithoutDevice_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("silent");

    for (const char* name :
         {"sendSI", "sendSJ", "sendST", "sendSW9", "sendSZ", "sendSS", "result", "stableResult",
          "resultWithStb", "zeroTHR", "minTHR", "maxTHR", "sendString", "device sendString"}) {
        QTest::newRow(name) << QString::fromLatin1(name) << false;
    }
    QTest::newRow("sendSilentSx1") << QStringLiteral("sendSilentSx1") << true;
}

void TstControllers::everyRequestRefusedWithoutDevice()
{
    QFETCH(QString, request);
    QFETCH(bool, silent);

    CBalanceController* b = balance;
    const QHash<QString, std::function<bool()>> requests = {
        {QStringLiteral("sendSI"), [b] { return b->sendSI(); }},
        {QStringLiteral("sendSJ"), [b] { return b->sendSJ(); }},
        {QStringLiteral("sendST"), [b] { return b->sendST(); }},
        {QStringLiteral("sendSW9"), [b] { return b->sendSW9(); }},
        {QStringLiteral("sendSZ"), [b] { return b->sendSZ(); }},
        {QStringLiteral("sendSS"), [b] { return b->sendSS(); }},
        {QStringLiteral("result"), [b] { return b->result(); }},
        {QStringLiteral("stableResult"), [b] { return b->stableResult(); }},
        {QStringLiteral("resultWithStb"), [b] { return b->resultWithStb(); }},
        {QStringLiteral("zeroTHR"), [b] { return b->zeroTHR(1.5f); }},
        {QStringLiteral("minTHR"), [b] { return b->minTHR(1.5f); }},
        {QStringLiteral("maxTHR"), [b] { return b->maxTHR(1.5f); }},
        {QStringLiteral("sendString"), [b] { return b->sendString(QStringLiteral("SI\r\n")); }},
        {QStringLiteral("sendSilentSx1"), [b] { return b->sendSilentSx1(); }},
    };
    const bool viaDevice = request == QLatin1String("device sendString");
    QVERIFY(viaDevice || requests.contains(request));
    CControllerInterface* controller =
        viaDevice ? static_cast<CControllerInterface*>(deviceController) : balance;
    QSignalSpy errors(controller, &CControllerInterface::raiseError);

    const bool accepted =
        viaDevice ? deviceController->sendString(QStringLiteral("SI\r\n")) : requests.value(request)();
    QVERIFY(!accepted);
    if (silent) {
        QCOMPARE(errors.count(), 0);
    } else {
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), 1001);
        QCOMPARE(errors.at(0).at(1).toInt(), -1);
    }

    if (silent) {
        // Silent for the other refusals as well.
        TestDevice device;
        balance->setCurrentDevice(&device);
        QVERIFY(!balance->sendSilentSx1());
        QCOMPARE(errors.count(), 0);
        QVERIFY(device.fake->writtenLines().isEmpty());
    }
}

void TstControllers::resultSignalOrder_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("stableResult") << QStringLiteral("stableResult")
                                  << QStringList{QStringLiteral("any 12.345 g S"),
                                                 QStringLiteral("significant 12.345 g S"),
                                                 QStringLiteral("finished 1 10")};
    QTest::newRow("result") << QStringLiteral("result")
                            << QStringList{QStringLiteral("any 12.345 g X"),
                                           QStringLiteral("significant 12.345 g X"),
                                           QStringLiteral("finished 1 11")};
    // Results with stability feed the live display only.
    QTest::newRow("resultWithStb") << QStringLiteral("resultWithStb")
                                   << QStringList{QStringLiteral("any 12.345 g S"),
                                                  QStringLiteral("finished 1 12")};
    // The instrument sends a result by itself (its print key).
    QTest::newRow("unsolicited") << QStringLiteral("unsolicited")
                                 << QStringList{QStringLiteral("significant 12.345 g X"),
                                                QStringLiteral("any 12.345 g X")};
}

void TstControllers::resultSignalOrder()
{
    QFETCH(QString, request);
    QFETCH(QStringList, events);

    TestDevice device;
    balance->setCurrentDevice(&device);
    QVERIFY(device.connectDevice(false));
    EventLog log(balance);

    if (request == QLatin1String("stableResult")) {
        QVERIFY(balance->stableResult());
    } else if (request == QLatin1String("result")) {
        QVERIFY(balance->result());
    } else if (request == QLatin1String("resultWithStb")) {
        QVERIFY(balance->resultWithStb());
    } else {
        device.fake->feed(PlainResult);
    }
    // The device runs in this thread, so everything has happened once the request returns.
    QCOMPARE(log.events, events);
}

void TstControllers::failedCommandRaisesError_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("tare, wrong answer")
        << QStringLiteral("sendST") << QStringLiteral("ST\r\n") << QByteArray("ES\r\n")
        << QStringList{QStringLiteral("error 2 13"), QStringLiteral("finished 2 13")};
    // The one slow case here: two attempts of 1.5 s.
    QTest::newRow("tare, no answer") << QStringLiteral("sendST") << QStringLiteral("ST\r\n") << QByteArray()
                                     << QStringList{QStringLiteral("error 3 13"),
                                                    QStringLiteral("finished 3 13")};
    QTest::newRow("zero, wrong answer")
        << QStringLiteral("sendSZ") << QStringLiteral("SZ\r\n") << QByteArray("ES\r\n")
        << QStringList{QStringLiteral("error 2 14"), QStringLiteral("finished 2 14")};
    // No result signal for an answer that is not a result.
    QTest::newRow("result, not a result")
        << QStringLiteral("result") << QStringLiteral("Sx1\r\n") << QByteArray("ES\r\n")
        << QStringList{QStringLiteral("error 2 11"), QStringLiteral("finished 2 11")};
}

void TstControllers::failedCommandRaisesError()
{
    QFETCH(QString, request);
    QFETCH(QString, line);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, events);

    QHash<QString, QByteArray> answers = instrumentAnswers();
    answers.remove(line);
    if (!answer.isEmpty()) {
        answers.insert(line, answer);
    }
    TestDevice device(1, answers);
    balance->setCurrentDevice(&device);
    QVERIFY(device.connectDevice(false));
    EventLog log(balance);

    // A refusal would be false; a failed command is still a request handed to the device.
    if (request == QLatin1String("sendST")) {
        QVERIFY(balance->sendST());
    } else if (request == QLatin1String("sendSZ")) {
        QVERIFY(balance->sendSZ());
    } else {
        QVERIFY(balance->result());
    }
    QCOMPARE(log.events, events);
}

void TstControllers::forwardingsConnectedOnce()
{
    TestDevice device;
    deviceController->setCurrentDevice(&device);
    QSignalSpy firmware(balance, &CBalanceController::sendingFirmwareFinished);
    QSignalSpy balanceFinished(balance, &CControllerInterface::commandFinished);
    QSignalSpy deviceFinished(deviceController, &CControllerInterface::commandFinished);
    QSignalSpy balanceLines(balance, &CControllerInterface::lineReceived);
    QSignalSpy deviceLines(deviceController, &CControllerInterface::lineReceived);
    QSignalSpy significant(balance, &CBalanceController::significantResultReceived);
    auto emitAll = [&device] {
        device.finishFirmware(1);
        device.finishCommand(1, 13);
        device.fake->feed("MT\r\n");
        device.fake->feed(PlainResult);
    };

    QVERIFY(device.connectDevice(false));
    device.disconnectDevice();
    QCOMPARE(device.state(), 2);
    emitAll();
    QCOMPARE(firmware.count(), 0);
    QCOMPARE(forwardedCount(balanceFinished, 13), 0);
    QCOMPARE(forwardedCount(deviceFinished, 13), 0);
    QCOMPARE(balanceLines.count(), 0);
    QCOMPARE(deviceLines.count(), 0);
    QCOMPARE(significant.count(), 0);

    QVERIFY(device.connectDevice(false));
    emitAll();
    QCOMPARE(firmware.count(), 1);
    QCOMPARE(firmware.at(0).at(0).toInt(), 1);
    QCOMPARE(forwardedCount(balanceFinished, 13), 1);
    QCOMPARE(forwardedCount(deviceFinished, 13), 1);
    QCOMPARE(balanceLines.count(), 1);
    QCOMPARE(balanceLines.at(0).at(0).toString(), QStringLiteral("MT\r\n"));
    QCOMPARE(deviceLines.count(), 1);
    QCOMPARE(significant.count(), 1);
}

void TstControllers::quietMode_data()
{
    QTest::addColumn<bool>("viaBalance");

    QTest::newRow("balance") << true;
    QTest::newRow("device") << false;
}

void TstControllers::quietMode()
{
    QFETCH(bool, viaBalance);

    CControllerInterface* controller =
        viaBalance ? static_cast<CControllerInterface*>(balance) : deviceController;
    TestDevice device;
    controller->setCurrentDevice(&device);
    controller->setQuiet(true);
    QSignalSpy states(controller, &CControllerInterface::deviceStateChanged);
    QSignalSpy finished(controller, &CControllerInterface::commandFinished);

    QVERIFY(device.connectDevice(false));
    device.finishCommand(1, 13);
    QCOMPARE(forwardedCount(finished, 13), 1);
    device.disconnectDevice();
    device.finishCommand(1, 13);
    QCOMPARE(forwardedCount(finished, 13), 1);
    QCOMPARE(states.count(), 0);

    controller->setQuiet(false);
    QVERIFY(device.connectDevice(false));
    QCOMPARE(stateList(states), (QList<int>{STATE_CONNECTING, STATE_CONNECTED}));
    device.finishCommand(1, 13);
    QCOMPARE(forwardedCount(finished, 13), 2);
}

void TstControllers::deviceControllerReportsTheRealStateLast()
{
    // The port goes away while the identity is read: the device ends Disconnected, and so must the
    // state the controller reported last.
    TestDevice device;
    device.fake->setResponder([&device](const QString&) {
        device.fake->close();
        return QList<QByteArray>();
    });
    deviceController->setCurrentDevice(&device);
    QSignalSpy states(deviceController, &CControllerInterface::deviceStateChanged);
    QVERIFY(device.connectDevice(false));
    QTRY_COMPARE(stateList(states), (QList<int>{STATE_CONNECTING, STATE_CONNECTED, STATE_DISCONNECTED}));
    QCOMPARE(device.state(), int(STATE_DISCONNECTED));
}

void TstControllers::deviceControllerReadsIdentityOnConnect()
{
    TestDevice device;
    deviceController->setCurrentDevice(&device);
    QSignalSpy states(deviceController, &CControllerInterface::deviceStateChanged);
    QSignalSpy finished(deviceController, &CControllerInterface::commandFinished);

    QVERIFY(device.connectDevice(false));
    QTRY_COMPARE(device.fake->writtenLines(), QStringList{QStringLiteral("SW9\r\n")});
    QCOMPARE(device.model(), QStringLiteral("PS 750.X2"));
    QCOMPARE(device.serialNumber(), QStringLiteral("123456"));
    QCOMPARE(device.productionDate(), QStringLiteral("2021-03-04"));
    QCOMPARE(device.firmware(), QStringLiteral("1.04.7"));
    QCOMPARE(forwardedCount(finished, 15), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 1);
    QCOMPARE(stateList(states), (QList<int>{STATE_CONNECTING, STATE_CONNECTED}));
}

void TstControllers::balanceFollowsDeviceControllerChoice()
{
    TestDevice first;
    TestDevice second;
    QSignalSpy chosen(balance, &CControllerInterface::currentDeviceChanged);
    QSignalSpy states(balance, &CControllerInterface::deviceStateChanged);
    QSignalSpy firmware(balance, &CBalanceController::sendingFirmwareFinished);

    deviceController->setCurrentDevice(&first);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toBool(), true);
    QVERIFY(first.connectDevice(false));
    QCOMPARE(stateList(states), (QList<int>{STATE_CONNECTING, STATE_CONNECTED}));
    first.finishFirmware(1);
    QCOMPARE(firmware.count(), 1);
    QVERIFY(balance->sendSI());
    QVERIFY(first.fake->writtenLines().contains(QStringLiteral("SI\r\n")));

    // Once another device is chosen, the first one no longer reaches the balance controller.
    deviceController->setCurrentDevice(&second);
    QCOMPARE(chosen.count(), 2);
    first.finishFirmware(1);
    first.disconnectDevice();
    QCOMPARE(firmware.count(), 1);
    QCOMPARE(stateList(states), (QList<int>{STATE_CONNECTING, STATE_CONNECTED}));
    QSignalSpy errors(balance, &CControllerInterface::raiseError);
    QVERIFY(!balance->sendSI());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), 1004);
    QVERIFY(second.connectDevice(false));
    QCOMPARE(states.last().at(0).toInt(), 1);
    QVERIFY(balance->sendSI());
    QVERIFY(second.fake->writtenLines().contains(QStringLiteral("SI\r\n")));

    deviceController->setCurrentDevice(nullptr);
    QCOMPARE(chosen.last().at(0).toBool(), false);
}

QTEST_GUILESS_MAIN(TstControllers)
#include "tst_controllers.moc"
