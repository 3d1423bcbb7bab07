#include "device/cdeviceold.h"
#include "support/fakeinterface.h"
#include "support/simprocess.h"

#include <QtTest>

#include <utility>

namespace {

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

// mervik-sim of either generation on a pseudo-terminal (or a scripted transport), and the device on
// its slave side. The journal keeps, in order, the lines the device wrote ("> line") and its
// commandFinished ("result/command", with the measurement if any).
struct SimRig
{
    SimProcess sim;
    TestDeviceOld device;
    QStringList journal;

    SimRig()
    {
        QObject::connect(&device, &CDevice::newOutLog, &device,
                         [this](const PelmLogRecord& r) { journal << "> " + r.message.trimmed(); });
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

    // Calls the device: echo, stb (the result with stability), info, identity, last (answer), busy,
    // state, "baud N", "check N"; what it returned as text.
    QString call(const QString& call)
    {
        const int number = call.section(QLatin1Char(' '), 1).toInt();
        const auto text = [](bool b) { return QString::fromLatin1(b ? "true" : "false"); };
        return call == "echo"             ? text(device.checkEcho())
               : call == "stb"            ? device.resultWithStb().trimmed()
               : call == "info"           ? text(device.readInfo())
               : call == "identity"       ? device.identity()
               : call == "last"           ? device.lastAnswer().trimmed()
               : call == "busy"           ? text(device.busy())
               : call == "state"          ? QString::number(device.state())
               : call.startsWith("baud ") ? text(device.setBaudRate(number))
                                          : text(device.checkCommunication(number));
    }
};

const QStringList Older{"--generation", "old"};

} // namespace

class TstCDeviceOld : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        DeviceTypes::registerMetaTypes();
        SimProcess probe;
        if (probe.startPty().isEmpty()) {
            QSKIP(("mervik-sim does not serve a pseudo-terminal here: " + probe.errors()).constData());
        }
    }

    void dialogue_data()
    {
        // "checked": connected with the connection check on; "scripted": on a transport that answers the
        // identity request but nothing parsable to the result request.
        QTest::addColumn<QStringList>("options");
        // Each step: call | what it returned | the protocol mode after it | the journal, ';' between items.
        QTest::addColumn<QStringList>("steps");

        const auto row = [](const char* name, const QStringList& options, const QStringList& steps) {
            QTest::newRow(name) << options << steps;
        };
        const QStringList checked{"checked"};
        // Another speed may mean another instrument: the echo probe decides again.
        row("current", {},
            {"echo|true|1|> SJ;1/16", "echo|true|1|> SJ;1/16", "stb|S     12.50 kg|1|> Sx3;1/12 12.5/2/kg/S",
             "baud 115200|true|-1|", "echo|true|1|> SJ;1/16"});
        // No echo: the plain result request that follows is answered, so the instrument is an older one,
        // which is asked for plain results from then on.
        const QString olderEcho = "echo|true|0|> SJ;> Sx1;1/11 12.5/2/kg/X;2/12 12.5/2/kg/X;1/16";
        row("older", Older,
            {olderEcho, "echo|true|0|1/16;> Sx1;1/12 12.5/2/kg/X", "stb|12.50 kg|0|> Sx1;1/12 12.5/2/kg/X",
             "baud 115200|true|-1|", olderEcho});
        // Any answer means the current dialect; the unmarked answer itself counts as a plain result.
        row("result with stability first", {},
            {"stb|12.50 kg|1|> Sx1;1/11 12.5/2/kg/X;2/12 12.5/2/kg/X",
             "stb|S     12.50 kg|1|> Sx3;1/12 12.5/2/kg/S"});
        // The echo probe once, then the plain result request with its two attempts; the silence marks the
        // instrument as an older one.
        row("silent", {"--silent-after", "0"},
            {"echo|false|0|> SJ;> Sx1;> Sx1;3/12 0/0//X;3/16", "state|1|0|"});
        row("identity", {},
            {"info|true|-1|> SW9;> Sx1;1/15", "identity|PS 750.X2/123456/2021-03-04/1.04.7|-1|",
             "last|12.50 kg|-1|", "busy|false|-1|"});
        // No identity command: still true, the identity stays what it was.
        row("older without SW9", Older,
            {"info|true|-1|> SW9;> SW9;> Sx1;1/15", "identity|before/before/before/before|-1|",
             "last|12.50 kg|-1|"});
        row("identity, no result", {"scripted"},
            {"info|false|-1|> SW9;> Sx1;2/15", "identity|Unknown/Unknown/Unknown/Unknown|-1|",
             "last|ES|-1|"});
        // An older instrument has no echo to probe with and is never dropped; one not yet known is probed.
        row("older, time-out", Older + checked, {olderEcho, "check 3|true|0|", "state|1|0|"});
        row("current, time-out", checked, {"echo|true|1|> SJ;1/16", "check 3|true|1|> SJ", "state|1|1|"});
        row("unknown, time-out", checked, {"check 3|true|1|> SJ", "state|1|1|"});
        row("unknown, failed", checked, {"check 2|true|-1|", "state|1|-1|"});
        row("unknown, check off", {}, {"check 3|true|-1|", "state|1|-1|"});
    }

    void dialogue()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, steps);

        SimRig rig;
        const bool checked = options.removeAll(QStringLiteral("checked")) > 0;
        if (options.removeAll(QStringLiteral("scripted")) > 0) {
            auto* fake = new FakeInterface;
            fake->setResponder([](const QString& line) {
                return QList<QByteArray>{line == QLatin1String("SW9\r\n") ? "M1\r\nS2\r\nD3\r\nF4\r\n"
                                                                          : "ES\r\n"};
            });
            rig.device.adoptInterface(fake);
            QVERIFY(rig.device.connectDevice(false));
        } else {
            QVERIFY(rig.start(options, checked));
        }
        QCOMPARE(rig.device.protocolMode(), -1);
        rig.device.m_model = rig.device.m_serialNumber = rig.device.m_productionDate = rig.device.m_firmware =
            QStringLiteral("before");
        for (const QString& step : steps) {
            const QString returned = rig.call(step.section(QLatin1Char('|'), 0, 0));
            const QString mode = QString::number(rig.device.protocolMode());
            const QString journal = std::exchange(rig.journal, QStringList()).join(QLatin1Char(';'));
            QCOMPARE(step.section(QLatin1Char('|'), 0, 0) + '|' + returned + '|' + mode + '|' + journal,
                     step);
        }
    }
};

QTEST_GUILESS_MAIN(TstCDeviceOld)
#include "tst_cdeviceold.moc"
