#include "device/cdevicefactory.h"
#include "device/cdeviceold.h"
#include "device/cmervikmanagerfactory.h"
#include "support/fakeinterface.h"

#include "siminstrument.h"
#include "simpty.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString SJ = QStringLiteral("SJ\r\n");
const QString SW9 = QStringLiteral("SW9\r\n");
const QString Sx1 = QStringLiteral("Sx1\r\n");
const QString Sx3 = QStringLiteral("Sx3\r\n");

// CDeviceOld with what a test needs from inside: a scripted transport and a known identity.
class TestDeviceOld : public CDeviceOld
{
public:
    using CDeviceOld::CDeviceOld;

    void useInterface(CInterface* transport) { adoptInterface(transport); }
    void presetIdentity(const QString& text)
    {
        m_model = text;
        m_serialNumber = text;
        m_productionDate = text;
        m_firmware = text;
    }
};

// A simulated instrument on a pseudo-terminal, and a device on the slave side. Everything runs in
// this thread: the device's waits run local event loops that also serve the pty.
struct SimRig
{
    SimInstrument instrument;
    SimPty pty;
    TestDeviceOld device;
    QSignalSpy sent{&device, &CDevice::newOutLog};
    QSignalSpy finished{&device, &CDevice::commandFinished};

    bool start(bool older, bool checkConnection = false)
    {
        instrument.setGeneration(older ? SimInstrument::Generation::Old : SimInstrument::Generation::Current);
        instrument.setWeight(12.5);
        instrument.setDecimals(2);
        instrument.setUnit("kg");
        QString error;
        if (!pty.open(&error)) {
            qWarning() << error;
            return false;
        }
        QObject::connect(&pty, &SimPty::received, &instrument, &SimInstrument::feed);
        QObject::connect(&instrument, &SimInstrument::output, &pty, &SimPty::write);
        device.setRS232(pty.slavePath(), QStringLiteral("sim"), 9600);
        return device.connectDevice(checkConnection);
    }

    // The lines the device wrote since the last call.
    QStringList takeSent()
    {
        QStringList lines;
        for (const QList<QVariant>& args : qAsConst(sent)) {
            lines << args.at(0).value<PelmLogRecord>().message;
        }
        sent.clear();
        return lines;
    }

    // Every commandFinished since the last call as "result/command".
    QStringList takeFinished()
    {
        QStringList ids;
        for (const QList<QVariant>& args : qAsConst(finished)) {
            ids << QStringLiteral("%1/%2").arg(args.at(0).toInt()).arg(args.at(1).toInt());
        }
        finished.clear();
        return ids;
    }
};

QString resultLine(bool withMark)
{
    return QString::fromLatin1(SimInstrument::formatResult(12.5, 2, "kg", withMark ? 'S' : 0));
}

} // namespace

// CDeviceOld against the simulated instrument of both generations, and the device factories.
class TstCDeviceOld : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checkEchoDecidesMode_data();
    void checkEchoDecidesMode();
    void requestLinesPerMode_data();
    void requestLinesPerMode();
    void baudRateChangeProbesAgain_data();
    void baudRateChangeProbesAgain();
    void silentInstrumentFailsCheckEcho();
    void readInfo_data();
    void readInfo();
    void readInfoWithoutResultIsUnknown();
    void resultWithStbAsFirstOperation_data();
    void resultWithStbAsFirstOperation();
    void connectionCheck_data();
    void connectionCheck();
    void silentCurrentInstrumentIsDisconnected();
    void mervikFactoryCreatesOneOlderDevice_data();
    void mervikFactoryCreatesOneOlderDevice();
    void baseFactoryCreatesPlainDevice();
    void factoryBaudRatesAndOptions();
};

void TstCDeviceOld::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
    SimPty probe;
    QString error;
    if (!probe.open(&error)) {
        QSKIP(qPrintable(QStringLiteral("pseudo-terminals are not available here: ") + error));
    }
}

void TstCDeviceOld::checkEchoDecidesMode_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("probeLines");
    QTest::addColumn<QString>("resultRequest");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<char>("stability");

    QTest::newRow("current") << false << 1 << QStringList{SJ} << Sx3 << resultLine(true) << 'S';
    // No echo: the plain result request that follows is answered, so the instrument is an older one.
    QTest::newRow("older") << true << 0 << QStringList{SJ, Sx1} << Sx1 << resultLine(false) << 'X';
}

void TstCDeviceOld::checkEchoDecidesMode()
{
    QFETCH(bool, older);
    QFETCH(int, mode);
    QFETCH(QStringList, probeLines);
    QFETCH(QString, resultRequest);
    QFETCH(QString, answer);
    QFETCH(char, stability);

    SimRig rig;
    QVERIFY(rig.start(older));
    QCOMPARE(rig.device.protocolMode(), -1);

    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.device.protocolMode(), mode);
    QCOMPARE(rig.takeSent(), probeLines);
    const QStringList probeFinished = rig.takeFinished();
    QCOMPARE(probeFinished.filter(QStringLiteral("/16")), QStringList{QStringLiteral("1/16")});
    QCOMPARE(probeFinished.last(), QStringLiteral("1/16"));

    QCOMPARE(rig.device.resultWithStb(), answer);
    QCOMPARE(rig.takeSent(), QStringList{resultRequest});
    QCOMPARE(rig.finished.count(), 1);
    const QList<QVariant> args = rig.finished.takeFirst();
    QCOMPARE(args.at(0).toInt(), 1);
    QCOMPARE(args.at(1).toInt(), 12);
    const Measurement m = args.at(2).value<Measurement>();
    QCOMPARE(m.value, 12.5f);
    QCOMPARE(m.decimals, 2);
    QCOMPARE(m.unit, QStringLiteral("kg"));
    QCOMPARE(m.stability, stability);
}

void TstCDeviceOld::requestLinesPerMode_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("lines");

    const QString SI = QStringLiteral("SI\r\n");
    const QString ST = QStringLiteral("ST\r\n");
    const QString SZ = QStringLiteral("SZ\r\n");
    QTest::newRow("current checkEcho") << false << "checkEcho" << QStringList{SJ};
    QTest::newRow("current resultWithStb") << false << "resultWithStb" << QStringList{Sx3};
    QTest::newRow("current result") << false << "result" << QStringList{Sx1};
    QTest::newRow("current stableResult") << false << "stableResult" << QStringList{SI};
    QTest::newRow("current readInfo") << false << "readInfo" << QStringList{SW9, Sx1};
    QTest::newRow("current tare") << false << "tare" << QStringList{ST};
    QTest::newRow("current zero") << false << "zero" << QStringList{SZ};
    QTest::newRow("older checkEcho") << true << "checkEcho" << QStringList{Sx1};
    QTest::newRow("older resultWithStb") << true << "resultWithStb" << QStringList{Sx1};
    QTest::newRow("older result") << true << "result" << QStringList{Sx1};
    QTest::newRow("older stableResult") << true << "stableResult" << QStringList{SI};
    // The identity request goes unanswered twice before the result request.
    QTest::newRow("older readInfo") << true << "readInfo" << QStringList{SW9, SW9, Sx1};
    QTest::newRow("older tare") << true << "tare" << QStringList{ST};
    QTest::newRow("older zero") << true << "zero" << QStringList{SZ};
}

void TstCDeviceOld::requestLinesPerMode()
{
    QFETCH(bool, older);
    QFETCH(QString, operation);
    QFETCH(QStringList, lines);

    SimRig rig;
    QVERIFY(rig.start(older));
    QVERIFY(rig.device.checkEcho());
    rig.takeSent();

    const QHash<QString, std::function<bool(CDevice&)>> operations = {
        {QStringLiteral("checkEcho"), [](CDevice& d) { return d.checkEcho(); }},
        {QStringLiteral("resultWithStb"), [](CDevice& d) { return !d.resultWithStb().isEmpty(); }},
        {QStringLiteral("result"), [](CDevice& d) { return !d.result().isEmpty(); }},
        {QStringLiteral("stableResult"), [](CDevice& d) { return !d.stableResult().isEmpty(); }},
        {QStringLiteral("readInfo"), [](CDevice& d) { return d.readInfo(); }},
        {QStringLiteral("tare"), [](CDevice& d) { return d.tare(); }},
        {QStringLiteral("zero"), [](CDevice& d) { return d.zero(); }},
    };
    QVERIFY(operations.contains(operation));
    QVERIFY(operations.value(operation)(rig.device));
    QCOMPARE(rig.takeSent(), lines);
    QCOMPARE(rig.device.protocolMode(), older ? 0 : 1);
}

void TstCDeviceOld::baudRateChangeProbesAgain_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<int>("mode");

    QTest::newRow("current") << false << 1;
    QTest::newRow("older") << true << 0;
}

void TstCDeviceOld::baudRateChangeProbesAgain()
{
    QFETCH(bool, older);
    QFETCH(int, mode);

    SimRig rig;
    QVERIFY(rig.start(older));
    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.device.protocolMode(), mode);
    const int probes = rig.instrument.commandCount("SJ");
    QCOMPARE(probes, 1);

    QVERIFY(rig.device.setBaudRate(115200));
    QCOMPARE(rig.device.protocolMode(), -1);
    rig.takeSent();

    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.takeSent().value(0), SJ);
    QCOMPARE(rig.instrument.commandCount("SJ"), 2);
    QCOMPARE(rig.device.protocolMode(), mode);
}

void TstCDeviceOld::silentInstrumentFailsCheckEcho()
{
    SimRig rig;
    QVERIFY(rig.start(false));
    rig.instrument.setSilentAfter(0);

    QVERIFY(!rig.device.checkEcho());
    // The echo probe once, then the plain result request with its two attempts.
    QCOMPARE(rig.takeSent(), (QStringList{SJ, Sx1, Sx1}));
    const QStringList finished = rig.takeFinished();
    QCOMPARE(finished.filter(QStringLiteral("/16")), QStringList{QStringLiteral("3/16")});
    QCOMPARE(finished.last(), QStringLiteral("3/16"));
    QCOMPARE(rig.device.state(), 1);
}

void TstCDeviceOld::readInfo_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("identity");

    QTest::newRow("current") << false << QStringList{SW9, Sx1}
                             << QStringList{QStringLiteral("PS 750.X2"), QStringLiteral("123456"),
                                            QStringLiteral("2021-03-04"), QStringLiteral("1.04.7")};
    // No identity command: still true, the identity stays what it was.
    QTest::newRow("older without SW9") << true << QStringList{SW9, SW9, Sx1}
                                       << QStringList{QStringLiteral("before"), QStringLiteral("before"),
                                                      QStringLiteral("before"), QStringLiteral("before")};
}

void TstCDeviceOld::readInfo()
{
    QFETCH(bool, older);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, identity);

    SimRig rig;
    QVERIFY(rig.start(older));
    rig.device.presetIdentity(QStringLiteral("before"));

    QVERIFY(rig.device.readInfo());
    QCOMPARE(rig.takeSent(), lines);
    QCOMPARE(rig.takeFinished(), QStringList{QStringLiteral("1/15")});
    QCOMPARE((QStringList{rig.device.model(), rig.device.serialNumber(), rig.device.productionDate(),
                          rig.device.firmware()}),
             identity);
    QCOMPARE(rig.device.lastAnswer(), resultLine(false));
    QVERIFY(!rig.device.busy());
}

void TstCDeviceOld::readInfoWithoutResultIsUnknown()
{
    TestDeviceOld device;
    auto* fake = new FakeInterface;
    fake->setResponder([](const QString& line) -> QList<QByteArray> {
        if (line == SW9) {
            return {"M1\r\nS2\r\nD3\r\nF4\r\n"};
        }
        if (line == Sx1) {
            return {"ES\r\n"};
        }
        return {};
    });
    device.useInterface(fake);
    QVERIFY(device.connectDevice(false));
    QSignalSpy finished(&device, &CDevice::commandFinished);

    QVERIFY(!device.readInfo());
    QCOMPARE(fake->writtenLines(), (QStringList{SW9, Sx1}));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 2);
    QCOMPARE(finished.at(0).at(1).toInt(), 15);
    const QString unknown = QStringLiteral("Unknown");
    QCOMPARE(device.model(), unknown);
    QCOMPARE(device.serialNumber(), unknown);
    QCOMPARE(device.productionDate(), unknown);
    QCOMPARE(device.firmware(), unknown);
    QCOMPARE(device.lastAnswer(), QStringLiteral("ES\r\n"));
}

void TstCDeviceOld::resultWithStbAsFirstOperation_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QStringList>("firstLines");
    QTest::addColumn<QStringList>("firstFinished");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("secondLines");

    // Any answer means the current dialect; the unmarked answer itself counts as a plain result.
    const QStringList answered{QStringLiteral("1/11"), QStringLiteral("2/12")};
    QTest::newRow("current answers") << false << false << QStringList{Sx1} << answered << 1
                                     << QStringList{Sx3};
    // An older instrument is taken for a current one as well, and then leaves "Sx3" unanswered.
    QTest::newRow("older answers") << true << false << QStringList{Sx1} << answered << 1
                                   << QStringList{Sx3, Sx3};
    QTest::newRow("no answer") << false << true << QStringList{Sx1, Sx1}
                               << QStringList{QStringLiteral("3/12")} << 0 << QStringList{Sx1, Sx1};
}

void TstCDeviceOld::resultWithStbAsFirstOperation()
{
    QFETCH(bool, older);
    QFETCH(bool, silent);
    QFETCH(QStringList, firstLines);
    QFETCH(QStringList, firstFinished);
    QFETCH(int, mode);
    QFETCH(QStringList, secondLines);

    SimRig rig;
    QVERIFY(rig.start(older));
    if (silent) {
        rig.instrument.setSilentAfter(0);
    }

    const QString answer = rig.device.resultWithStb();
    QCOMPARE(answer, silent ? QString() : resultLine(false));
    QCOMPARE(rig.takeSent(), firstLines);
    QCOMPARE(rig.takeFinished(), firstFinished);
    QCOMPARE(rig.device.protocolMode(), mode);

    rig.device.resultWithStb();
    QCOMPARE(rig.takeSent(), secondLines);
}

void TstCDeviceOld::connectionCheck_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<bool>("decideFirst");
    QTest::addColumn<bool>("checkConnection");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("modeAfter");

    // An older instrument has no echo to probe with and is never dropped.
    QTest::newRow("older, time-out") << true << true << true << 3 << QStringList() << 0;
    QTest::newRow("current, time-out") << false << true << true << 3 << QStringList{SJ} << 1;
    // Not yet known: the echo probe decides it.
    QTest::newRow("unknown, time-out") << false << false << true << 3 << QStringList{SJ} << 1;
    QTest::newRow("unknown, failed") << false << false << true << 2 << QStringList() << -1;
    QTest::newRow("unknown, check off") << false << false << false << 3 << QStringList() << -1;
}

void TstCDeviceOld::connectionCheck()
{
    QFETCH(bool, older);
    QFETCH(bool, decideFirst);
    QFETCH(bool, checkConnection);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    QFETCH(int, modeAfter);

    SimRig rig;
    QVERIFY(rig.start(older, checkConnection));
    if (decideFirst) {
        QVERIFY(rig.device.checkEcho());
    }
    rig.takeSent();
    const int received = rig.instrument.linesReceived();

    QVERIFY(rig.device.checkCommunication(result));
    QCOMPARE(rig.takeSent(), lines);
    QCOMPARE(rig.instrument.linesReceived() - received, lines.size());
    QCOMPARE(rig.device.protocolMode(), modeAfter);
    QCOMPARE(rig.device.state(), 1);
}

void TstCDeviceOld::silentCurrentInstrumentIsDisconnected()
{
    SimRig rig;
    QVERIFY(rig.start(false, true));
    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.device.protocolMode(), 1);
    rig.takeSent();
    QSignalSpy states(&rig.device, &CDevice::stateChanged);

    rig.instrument.setSilentAfter(rig.instrument.linesReceived());
    // The periodic check starts after a quiet period and probes three times before it gives up.
    const int bound = CDevice::CheckPeriodMs + CDevice::CheckAttempts * CDevice::CheckTimeoutMs + 4000;
    QTRY_COMPARE_WITH_TIMEOUT(rig.device.state(), 2, bound);
    QCOMPARE(rig.takeSent(), (QStringList{SJ, SJ, SJ}));
    QCOMPARE(states.count(), 2);
    QCOMPARE(states.at(0).at(0).toInt(), 5);
    QCOMPARE(states.at(1).at(0).toInt(), 2);
}

void TstCDeviceOld::mervikFactoryCreatesOneOlderDevice_data()
{
    QTest::addColumn<bool>("forSerialPort");

    QTest::newRow("serial port") << true;
    QTest::newRow("network address") << false;
}

void TstCDeviceOld::mervikFactoryCreatesOneOlderDevice()
{
    QFETCH(bool, forSerialPort);

    QObject parent;
    CMervikManagerFactory factory;
    const QList<CDevice*> devices = factory.createDevices(&parent, forSerialPort);
    QCOMPARE(devices.size(), 1);
    auto* device = dynamic_cast<CDeviceOld*>(devices.first());
    QVERIFY(device);
    QCOMPARE(device->parent(), &parent);
    QCOMPARE(device->deviceType(), 1);
    QCOMPARE(device->protocolMode(), -1);

    // Unparented candidates are for a worker thread.
    const QList<CDevice*> loose = factory.createDevices(nullptr, forSerialPort);
    QCOMPARE(loose.size(), 1);
    QVERIFY(!loose.first()->parent());
    qDeleteAll(loose);
}

void TstCDeviceOld::baseFactoryCreatesPlainDevice()
{
    QObject parent;
    CDeviceFactory factory;
    const QList<CDevice*> devices = factory.createDevices(&parent, true);
    QCOMPARE(devices.size(), 1);
    QVERIFY(!dynamic_cast<CDeviceOld*>(devices.first()));
    QCOMPARE(devices.first()->parent(), &parent);
}

void TstCDeviceOld::factoryBaudRatesAndOptions()
{
    QCOMPARE(CDeviceFactory().baudRates(), (QVector<int>{9600, 57200, 115200}));
    CMervikManagerFactory factory;
    QCOMPARE(factory.baudRates(), (QVector<int>{9600, 115200}));

    const SearchOptions& options = factory.options();
    QVERIFY(options.searchSerial);
    QVERIFY(options.searchNetwork);
    QVERIFY(!options.includeBluetooth);
    QVERIFY(options.includeFtdi);
    QVERIFY(options.includeTibbo);
    QVERIFY(options.includeOtherPorts);
}

QTEST_GUILESS_MAIN(TstCDeviceOld)
#include "tst_cdeviceold.moc"
