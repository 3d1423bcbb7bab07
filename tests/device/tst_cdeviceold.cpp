#include "device/cdevicefactory.h"
#include "device/cdeviceold.h"
#include "device/cmervikmanagerfactory.h"
#include "support/fakeinterface.h"
#include "support/simprocess.h"

#include <QStandardPaths>
#include <QtTest>

#include <utility>

namespace {

const QString SJ = QStringLiteral("SJ\r\n");
const QString SW9 = QStringLiteral("SW9\r\n");
const QString Sx3 = QStringLiteral("Sx3\r\n");
// What the sim answers to Sx1 with the rig's weight.
const QString Result = QStringLiteral("     12.50 kg \r\n");

class TestDeviceOld : public CDeviceOld
{
public:
    using CDeviceOld::adoptInterface;
    using CDeviceOld::CDeviceOld;
    using CDeviceOld::m_firmware;
    using CDeviceOld::m_model;
    using CDeviceOld::m_productionDate;
    using CDeviceOld::m_serialNumber;

    QString identity() const
    {
        return QStringList({m_model, m_serialNumber, m_productionDate, m_firmware}).join('/');
    }
};

// mervik-sim of either generation on a pseudo-terminal, and the device on its slave side. The journal
// keeps, in order, the lines the device wrote ("> line") and its commandFinished ("result/command",
// with the measurement if any).
struct SimRig
{
    SimProcess sim;
    TestDeviceOld device;
    QStringList journal;

    SimRig()
    {
        QObject::connect(&device, &CDevice::newOutLog, &device,
                         [this](const PelmLogRecord& r) { journal << "> " + r.message; });
        QObject::connect(
            &device, &CDevice::commandFinished, &device, [this](int r, int c, const QVariant& v) {
                QString text = QStringLiteral("%1/%2").arg(r).arg(c);
                if (v.isValid()) {
                    const auto m = v.value<Measurement>();
                    text += QStringLiteral(" %1/%2/%3/").arg(double(m.value)).arg(m.decimals).arg(m.unit);
                    text += QChar::fromLatin1(m.stability);
                }
                journal << text;
            });
    }

    bool start(const QStringList& options, bool checkConnection = false)
    {
        const QString port =
            sim.startPty(QStringList{"--weight", "12.5", "--decimals", "2", "--unit", "kg"} + options);
        if (port.isEmpty()) {
            qWarning() << sim.errors();
            return false;
        }
        device.setRS232(port, QStringLiteral("sim"), 9600);
        return device.connectDevice(checkConnection);
    }

    QStringList take() { return std::exchange(journal, QStringList()); }
};

const QStringList Older{"--generation", "old"};

} // namespace

// CDeviceOld against mervik-sim of both generations, and the device factories.
class TstCDeviceOld : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modeFollowsTheInstrument_data();
    void modeFollowsTheInstrument();
    void resultWithStbFirstDecidesMode();
    void silentInstrument();
    void readInfo_data();
    void readInfo();
    void connectionCheck_data();
    void connectionCheck();
    void factories();
};

void TstCDeviceOld::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
    SimProcess probe;
    if (probe.startPty().isEmpty()) {
        QSKIP(("mervik-sim does not serve a pseudo-terminal here: " + probe.errors()).constData());
    }
}

void TstCDeviceOld::modeFollowsTheInstrument_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("probe");
    QTest::addColumn<QStringList>("echoAgain");
    QTest::addColumn<QStringList>("resultWithStb");

    QTest::newRow("current") << QStringList() << 1 << QStringList{"> SJ\r\n", "1/16"}
                             << QStringList{"> SJ\r\n", "1/16"}
                             << QStringList{"> Sx3\r\n", "1/12 12.5/2/kg/S"};
    // No echo: the plain result request that follows is answered, so the instrument is an older one,
    // which is asked for plain results from then on.
    QTest::newRow("older") << Older << 0
                           << QStringList{"> SJ\r\n", "> Sx1\r\n", "1/11 12.5/2/kg/X", "2/12 12.5/2/kg/X",
                                          "1/16"}
                           << QStringList{"1/16", "> Sx1\r\n", "1/12 12.5/2/kg/X"}
                           << QStringList{"> Sx1\r\n", "1/12 12.5/2/kg/X"};
}

void TstCDeviceOld::modeFollowsTheInstrument()
{
    QFETCH(QStringList, options);
    QFETCH(int, mode);
    QFETCH(QStringList, probe);
    QFETCH(QStringList, echoAgain);
    QFETCH(QStringList, resultWithStb);

    SimRig rig;
    QVERIFY(rig.start(options));
    QCOMPARE(rig.device.protocolMode(), -1);
    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.device.protocolMode(), mode);
    QCOMPARE(rig.take(), probe);
    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.take(), echoAgain);
    QCOMPARE(rig.device.resultWithStb(), mode == 1 ? "S" + Result : Result);
    QCOMPARE(rig.take(), resultWithStb);

    // Another speed may mean another instrument: the echo probe decides again.
    QVERIFY(rig.device.setBaudRate(115200));
    QCOMPARE(rig.device.protocolMode(), -1);
    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.take().value(0), "> " + SJ);
    QCOMPARE(rig.device.protocolMode(), mode);
}

void TstCDeviceOld::resultWithStbFirstDecidesMode()
{
    SimRig rig;
    QVERIFY(rig.start({}));
    // Any answer means the current dialect; the unmarked answer itself counts as a plain result.
    QCOMPARE(rig.device.resultWithStb(), Result);
    QCOMPARE(rig.take(), (QStringList{"> Sx1\r\n", "1/11 12.5/2/kg/X", "2/12 12.5/2/kg/X"}));
    QCOMPARE(rig.device.protocolMode(), 1);
    rig.device.resultWithStb();
    QCOMPARE(rig.take().value(0), "> " + Sx3);
}

void TstCDeviceOld::silentInstrument()
{
    SimRig rig;
    QVERIFY(rig.start({"--silent-after", "0"}));
    QVERIFY(!rig.device.checkEcho());
    // The echo probe once, then the plain result request with its two attempts; the silence marks
    // the instrument as an older one.
    QCOMPARE(rig.take(), (QStringList{"> SJ\r\n", "> Sx1\r\n", "> Sx1\r\n", "3/12 0/0//X", "3/16"}));
    QCOMPARE(rig.device.protocolMode(), 0);
    QCOMPARE(rig.device.state(), 1);
}

void TstCDeviceOld::readInfo_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QString>("identity");

    QTest::newRow("current") << QStringList() << QStringList{"> SW9\r\n", "> Sx1\r\n", "1/15"}
                             << "PS 750.X2/123456/2021-03-04/1.04.7";
    // No identity command: still true, the identity stays what it was.
    QTest::newRow("older without SW9") << Older << QStringList{"> SW9\r\n", "> SW9\r\n", "> Sx1\r\n", "1/15"}
                                       << "before/before/before/before";
}

void TstCDeviceOld::readInfo()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, journal);
    QFETCH(QString, identity);

    SimRig rig;
    QVERIFY(rig.start(options));
    rig.device.m_model = rig.device.m_serialNumber = rig.device.m_productionDate = rig.device.m_firmware =
        QStringLiteral("before");
    QVERIFY(rig.device.readInfo());
    QCOMPARE(rig.take(), journal);
    QCOMPARE(rig.device.identity(), identity);
    QCOMPARE(rig.device.lastAnswer(), Result);
    QVERIFY(!rig.device.busy());

    // An answer to the identity request, but none that parses to the result request.
    auto* fake = new FakeInterface;
    fake->setResponder([](const QString& line) {
        return QList<QByteArray>{line == SW9 ? "M1\r\nS2\r\nD3\r\nF4\r\n" : "ES\r\n"};
    });
    rig.device.adoptInterface(fake);
    QVERIFY(rig.device.connectDevice(false));
    QVERIFY(!rig.device.readInfo());
    QCOMPARE(rig.take(), (QStringList{"> SW9\r\n", "> Sx1\r\n", "2/15"}));
    QCOMPARE(rig.device.identity(), QStringLiteral("Unknown/Unknown/Unknown/Unknown"));
    QCOMPARE(rig.device.lastAnswer(), QStringLiteral("ES\r\n"));
}

void TstCDeviceOld::connectionCheck_data()
{
    // An instrument the echo probe decided on first, or one still unknown.
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<bool>("checkConnection");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("modeAfter");

    // An older instrument has no echo to probe with and is never dropped.
    QTest::newRow("older, time-out") << "older" << true << 3 << QStringList() << 0;
    QTest::newRow("current, time-out") << "current" << true << 3 << QStringList{"> SJ\r\n"} << 1;
    // Not yet known: the echo probe decides it.
    QTest::newRow("unknown, time-out") << "unknown" << true << 3 << QStringList{"> SJ\r\n"} << 1;
    QTest::newRow("unknown, failed") << "unknown" << true << 2 << QStringList() << -1;
    QTest::newRow("unknown, check off") << "unknown" << false << 3 << QStringList() << -1;
}

void TstCDeviceOld::connectionCheck()
{
    QFETCH(QString, instrument);
    QFETCH(bool, checkConnection);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    QFETCH(int, modeAfter);

    SimRig rig;
    QVERIFY(rig.start(instrument == QLatin1String("older") ? Older : QStringList(), checkConnection));
    QVERIFY(instrument == QLatin1String("unknown") || rig.device.checkEcho());
    rig.take();
    QVERIFY(rig.device.checkCommunication(result));
    QCOMPARE(rig.take(), lines);
    QCOMPARE(rig.device.protocolMode(), modeAfter);
    QCOMPARE(rig.device.state(), 1);
}

void TstCDeviceOld::factories()
{
    QObject parent;
    const QList<CDevice*> devices = CMervikManagerFactory().createDevices(&parent, true);
    QCOMPARE(devices.size(), 1);
    QVERIFY(dynamic_cast<CDeviceOld*>(devices.first()));
    QCOMPARE(devices.first()->parent(), &parent);
    QCOMPARE(CMervikManagerFactory().baudRates(), (QVector<int>{9600, 115200}));

    const QList<CDevice*> plain = CDeviceFactory().createDevices(&parent, true);
    QCOMPARE(plain.size(), 1);
    QVERIFY(!dynamic_cast<CDeviceOld*>(plain.first()));
    QCOMPARE(CDeviceFactory().baudRates(), (QVector<int>{9600, 57200, 115200}));
}

QTEST_GUILESS_MAIN(TstCDeviceOld)
#include "tst_cdeviceold.moc"
