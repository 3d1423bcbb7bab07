// Instruments of the three-letter dialect: the device against the simulated line (in this process, on a
// pseudo-terminal), and the block upload.
#include "device/cdevicekx40.h"
#include "log/cpelmlog.h"
#include "platform/queuedcall.h"
#include "simblockloader.h"
#include "simpty.h"
#include "simthreeletter.h"
#include "simthreeletterbus.h"
#include "support/testdatabase.h"

#include <QtTest>

#include <functional>
#include <utility>

namespace {

using Operation = std::function<void(CDeviceKx40&)>;

class TestKx40 : public CDeviceKx40
{
public:
    using CDeviceKx40::m_echo;
};

// Lines as they crossed the wire, CR LF taken off, an empty line as "-".
QString wireLines(const QByteArray& bytes)
{
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    if (lines.last().isEmpty()) {
        lines.removeLast();
    }
    lines.replaceInStrings(QRegularExpression(QStringLiteral("^$")), QStringLiteral("-"));
    return lines.join(QLatin1Char(' '));
}

// A loader block as the test builds it: STX, number, complement, payload padded with 0x00, 0x01 0x02.
QByteArray loaderBlock(int number, QByteArray payload)
{
    payload.append(1024 - payload.size(), '\0');
    return QByteArray("\x02") + char(number) + char(255 - number) + payload + "\x01\x02";
}

// A line with instruments at 3 and 17 (1.5 kg on each) and a device on its pseudo-terminal. The journal
// keeps the device's commandFinished as "result/command", with ":value unit stability" of a measurement
// or ":response" of another answer, and sendingFirmwareFinished as "=result".
struct Rig
{
    SimThreeLetterBus bus;
    SimPty pty;
    CDeviceKx40 device;
    QByteArray wire;
    QStringList journal;
    QStringList progress;

    Rig(int address, bool echo)
    {
        for (const int a : {3, 17}) {
            SimThreeLetter* instrument = bus.addInstrument(a);
            instrument->setWeight(1.5);
            instrument->setUnit("kg");
            instrument->loader()->setReadyInterval(50);
        }
        bus.setEcho(echo);
        QObject::connect(&pty, &SimPty::received, &bus, &SimThreeLetterBus::feed);
        QObject::connect(&bus, &SimThreeLetterBus::output, &pty, &SimPty::write);
        QObject::connect(&pty, &SimPty::received, &bus, [this](const QByteArray& bytes) { wire += bytes; });
        QObject::connect(&device, &CDevice::commandFinished, &bus, [this](int r, int c, const QVariant& v) {
            QString text = QStringLiteral("%1/%2").arg(r).arg(c);
            if (v.canConvert<Measurement>()) {
                const auto m = v.value<Measurement>();
                text +=
                    QStringLiteral(":%1 %2 %3").arg(m.valueText(), m.unit, QChar::fromLatin1(m.stability));
            } else if (v.isValid()) {
                text += QLatin1Char(':') + v.toString();
            }
            journal << text;
        });
        QObject::connect(&device, &CDevice::sendingFirmwareFinished, &bus,
                         [this](int result) { journal << QStringLiteral("=%1").arg(result); });
        QObject::connect(&device, &CDevice::sendingFirmwareProgress, &bus,
                         [this](int percent) { progress << QString::number(percent); });
        device.setAddressValue(address);
    }

    // Connected, echo found out and identity read, as a search leaves a device; the journal and the
    // wire start empty.
    bool start()
    {
        if (!pty.open()) {
            return false;
        }
        device.setRS232(pty.slavePath(), QStringLiteral("sim"), 9600);
        const bool ready = device.connectDevice(false) && device.checkEcho() && device.readInfo();
        wire.clear();
        journal.clear();
        return ready;
    }

    QString text() const { return journal.join(QLatin1Char(' ')); }
};

QString expand(QString text, int address)
{
    return text.replace(QLatin1Char('@'), QString::number(address))
        .replace(QLatin1Char('%'), QString::number(address == 3 ? 17 : 3));
}

// Reads the identity with the access code set on this computer, which has the device ask for its mode.
void readWithCode(CDeviceKx40& device)
{
    QSettings().setValue("ASP", "462907");
    device.readInfo();
    QSettings().remove("ASP");
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TstKx40 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_database.isValid());
        new CPelmLog(this);
        SimPty probe;
        if (!probe.open()) {
            QSKIP("no pseudo-terminal here");
        }
    }

    void resultGrammar_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // value, unit ("?" left alone), decimals; "-" no result

        const auto row = [](const char* name, bool echo, const QString& line, const QString& expected) {
            QTest::newRow(name) << echo << line << expected;
        };
        row("one blank, 12.345 kg", false, " 12.345kg\r\n", "12.345 kg 3");
        row("four blanks, 1.5 g", false, "    1.5 g\r\n", "1.5 g 1");
        row("negative, tonnes", false, "  -1.25 t\r\n", "-1.25 t 2");
        row("sign apart from the digits", false, "-  1.25 d\r\n", "-1.25 d 2");
        row("no point", false, "    250 d\r\n", "250 d 0");
        row("unknown unit field keeps the unit", false, "  1.000lb\r\n", "1.000 ? 3");
        row("ten characters", false, " 12.34kg\r\n", "-");
        row("twelve characters", false, "  12.345kg\r\n", "-");
        row("overload", false, "     OLkg\r\n", "-");
        row("exponent", false, "  1e+03 g\r\n", "-");
        row("two points", false, "  1.2.3 g\r\n", "-");
        row("LF only", false, " 12.345kg\n\n", "-");
        row("echo of address 3", true, "U3DWY\r\n 12.345kg\r\n", "12.345 kg 3");
        row("echo of address 17", true, "U17DWY\r\n 12.345kg\r\n", "12.345 kg 3");
        row("echo on, result alone", true, "    1.5 g\r\n", "1.5 g 1");
        row("echo of another address", true, "U4DWY\r\n 12.345kg\r\n", "-");
    }

    void resultGrammar()
    {
        QFETCH(bool, echo);
        QFETCH(QString, line);
        QFETCH(QString, expected);

        TestKx40 device;
        device.setAddressValue(line.startsWith("U17") ? 17 : 3);
        device.m_echo = echo;
        Measurement m;
        m.unit = QStringLiteral("?");
        const bool parsed = device.parseResult(line, m, true);
        QCOMPARE(parsed ? QStringLiteral("%1 %2 %3").arg(m.valueText(), m.unit).arg(m.decimals) : "-",
                 expected);
        if (parsed) {
            QCOMPARE(m.stability, 'X');
        }
    }

    void operations_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("echo");
        QTest::addColumn<int>("mode");     // the instrument's mode before
        QTest::addColumn<QString>("wire"); // @ the device's address, % the other instrument's
        QTest::addColumn<QString>("journal");

        const QList<std::tuple<const char*, Operation, int, QString, QString>> rows = {
            {"result", [](auto& d) { d.result(); }, 0, "U@DWY", "1/11:1.500 kg X"},
            {"stable result", [](auto& d) { d.stableResult(); }, 0, "U@DWS", "1/10:1.500 kg S"},
            {"result with stability", [](auto& d) { d.resultWithStb(); }, 0, "U@DWY", "1/12:1.500 kg X"},
            {"tare", [](auto& d) { d.tare(); }, 0, "U@TAR", "1/13"},
            {"zero", [](auto& d) { d.zero(); }, 0, "U@ZER", "1/14"},
            {"echo", [](auto& d) { d.checkEcho(); }, 0, "- U@DAD", "1/16"},
            {"identity", [](auto& d) { d.readInfo(); }, 2, "U@DNW U@DNS U@UFW2", "1/15"},
            {"identity, user", readWithCode, 0, "U@DNW U@DNS U@UFW2 U@UNS U@ZKA", "1/101:0 1/15"},
            {"identity, administrator", readWithCode, 2, "U@DNW U@DNS U@UFW2 U@UNS", "1/101:2 1/15"},
            {"FKD", [](auto& d) { d.sendFKD(); }, 0, "U@FKD", "1/102"},
            {"FKG kg", [](auto& d) { d.sendFKG(2.5, "kg"); }, 0, "U@FKG2.5,kg", "1/103"},
            {"FKG d", [](auto& d) { d.sendFKG(2.5, "d"); }, 0, "U@FKG2.5", "1/103"},
            {"FKG seven digits", [](auto& d) { d.sendFKG(1234567, "g"); }, 0, "U@FKG1.23457e+06,g", "1/103"},
            {"KFL", [](auto& d) { d.sendKFL(); }, 0, "U@KFL", "1/105"},
            {"UWA", [](auto& d) { d.sendUWA("kg", 0.5, 150); }, 0, "U@UWAkg,0.5,150", "1/110"},
            {"UWA refused", [](auto& d) { d.sendUWA("kg", 9, 1); }, 0, "U@UWAkg,9,1", "2/110"},
            {"unit with a line end", [](auto& d) { d.sendUWA("k\r\n", 0, 1); }, 0, "", "2/110"},
            {"service", [](auto& d) { d.enterService("1111"); }, 0, "U@WES1111 U@UNS U@ZKA", "1/106 1/101:1"},
            {"service, wrong password", [](auto& d) { d.enterService("OK"); }, 0, "U@WESOK", "2/106"},
            {"password with a line end", [](auto& d) { d.enterService("11\n11"); }, 0, "", "2/106"},
            {"leave service", [](auto& d) { d.leaveService(); }, 1, "U@WYS U@UNS U@ZKA", "1/107 1/101:0"},
            {"administrator", [](auto& d) { d.enterAdmin("4040"); }, 0, "U@WEA4040 U@UNS", "1/108 1/101:2"},
            {"leave administrator", [](auto& d) { d.leaveAdmin(); }, 2, "U@WYA U@UNS U@ZKA", "1/109 1/101:0"},
            {"serial number", [](auto& d) { d.setSerial("SN77"); }, 2, "U@UNSSN77", "1/104"},
            {"serial number refused", [](auto& d) { d.setSerial("SN77"); }, 0, "U@UNSSN77", "2/104"},
            {"empty serial number", [](auto& d) { d.setSerial(""); }, 2, "", "2/104"},
            {"one-line commands",
             [](auto& d) {
                 d.sendSI();
                 d.sendSx1();
                 d.sendSx3();
                 d.sendST();
                 d.sendSZ();
                 d.sendSJ();
                 d.sendSW9();
                 d.sendString("DAD\r\n");
             },
             0, "U@DWY U@DWY U@DWY U@TAR U@ZER U@UFW2 U@DNS U@DAD", ""},
            {"address free", [](auto& d) { d.setAddress(9); }, 0, "U9DAD U9DAD U@ZAD9 U9DNW U9DNS U9UFW2",
             "1/15 1/111"},
            {"address taken", [](auto& d) { d.setAddress(d.address() == 3 ? 17 : 3); }, 0, "U%DAD", "2/111"},
        };
        for (const auto& [name, operation, mode, wire, journal] : rows) {
            for (const int address : {3, 17}) {
                for (const bool echo : {false, true}) {
                    QTest::addRow("%s, address %d%s", name, address, echo ? ", echo" : "")
                        << operation << address << echo << mode << expand(wire, address)
                        << expand(journal, address);
                }
            }
        }
    }

    void operations()
    {
        QFETCH(Operation, operation);
        QFETCH(int, address);
        QFETCH(bool, echo);
        QFETCH(int, mode);
        QFETCH(QString, wire);
        QFETCH(QString, journal);

        Rig rig(address, echo);
        QVERIFY(rig.start());
        QCOMPARE(rig.device.echo(), echo);
        rig.bus.instrument(address)->setMode(SimThreeLetter::Mode(mode));
        QSignalSpy results(&rig.device, &CDevice::resultReceived);
        operation(rig.device);
        QTRY_COMPARE(wireLines(rig.wire), wire);
        QCOMPARE(rig.text(), journal);
        if (wire.contains("DWY") && journal.isEmpty()) {
            // The answers to the lines sent without waiting arrive as results by themselves.
            QTRY_COMPARE(results.size(), 3);
        }
        if (journal.endsWith("1/111")) {
            QCOMPARE(rig.device.address(), 9);
            QVERIFY(rig.bus.instrument(9));
        }
        if (wire.contains("DNW")) {
            QString model, serial, date, firmware;
            rig.device.info(model, serial, date, firmware);
            const QByteArray number = rig.bus.instrument(rig.device.address())->serialNumber();
            QCOMPARE(QStringList({model, serial, date, firmware}),
                     QStringList({"KX40", QString::fromLatin1(number), "Unavailable", "KX40 v2.13"}));
        }
    }

    void blockUpload_data()
    {
        QTest::addColumn<QByteArray>("file"); // "missing": no such file
        QTest::addColumn<bool>("echo");
        QTest::addColumn<int>("noAckFor"); // -1 every block acknowledged
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QString>("outcome"); // journal; progress; blocks on the wire after the start line

        QByteArray file(2500, '\0');
        for (int i = 0; i < file.size(); ++i) {
            file[i] = char(i * 7 + i / 256);
        }
        QTest::newRow("2500 bytes") << file << true << -1 << true << "=1; 40 81 100; H 1 2 3 E Z";
        QTest::newRow("2048 bytes") << file.left(2048) << false << -1 << true << "=1; 50 100; H 1 2 E Z";
        QTest::newRow("1 byte") << file.left(1) << true << -1 << true << "=1; 100; H 1 E Z";
        // Each missing ACK waits out the block's time-out once.
        QTest::newRow("no ACK for block 2") << file << true << 2 << true << "=0; 40; H 1 2";
        // Four waits of 2000 ms for the loader's "C".
        QTest::newRow("no readiness") << file << false << -1 << false << "=0; ; ";
        QTest::newRow("empty file") << QByteArray() << false << -1 << true << "=0; ; no start";
        QTest::newRow("missing file") << QByteArray("missing") << true << -1 << true << "=0; ; no start";
    }

    void blockUpload()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, echo);
        QFETCH(int, noAckFor);
        QFETCH(bool, ready);
        QFETCH(QString, outcome);

        QTemporaryDir dir;
        const QString path = dir.filePath("image.bin");
        if (file != "missing") {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        }
        Rig rig(17, echo);
        SimBlockLoader* loader = rig.bus.instrument(17)->loader();
        loader->setNoAckFor(noAckFor);
        loader->setNoReady(!ready);
        // Long enough that nothing but a wait for a second prompt lets one more come.
        loader->setReadyInterval(250);
        QVERIFY(rig.start());
        CPelmLog::follow(&rig.device);

        QCOMPARE(rig.device.sendNewFirmware(path), outcome.startsWith("=1"));
        // The wire after the start line, block by block as the test builds them.
        QString blocks = "no start";
        const QByteArray start = "U17ZFI\r\n";
        if (rig.wire.startsWith(start)) {
            QByteArray rest = rig.wire.mid(start.size());
            QByteArray padded = file;
            padded.append((1024 - file.size() % 1024) % 1024, '\0');
            QList<QPair<QString, QByteArray>> expected{{"H", loaderBlock(0, "kx40.hex")}};
            for (int n = 1; n * 1024 <= padded.size(); ++n) {
                expected.append({QString::number(n), loaderBlock(n, padded.mid((n - 1) * 1024, 1024))});
            }
            expected += {{"E", "\x04"}, {"Z", loaderBlock(0, QByteArray())}};
            QStringList names;
            for (const auto& [name, bytes] : expected) {
                if (!rest.startsWith(bytes)) {
                    break;
                }
                names << name;
                rest.remove(0, bytes.size());
            }
            if (!rest.isEmpty()) {
                names << QStringLiteral("+%1 bytes").arg(rest.size());
            }
            blocks = names.join(' ');
        }
        QCOMPARE(QStringList({rig.text(), rig.progress.join(' '), blocks}).join("; "), outcome);
        // The loader's first prompt is taken.
        QCOMPARE(loader->readyPrompts(), ready && blocks != "no start" ? 1 : 0);

        // Lines are dispatched and logged again, whichever way the upload ended.
        QVERIFY(!rig.device.busy());
        QVERIFY(CPelmLog::instance()->isEnabled());
        rig.journal.clear();
        rig.device.result();
        QCOMPARE(rig.text(), "1/11:1.500 kg X");
        rig.device.sendSI();
        QSignalSpy results(&rig.device, &CDevice::resultReceived);
        QVERIFY(results.wait(2000));
    }

    // An upload asked for while a result is awaited and another command already waits is refused the way
    // every upload is: with its finishing signal, not as a finished command.
    void uploadRefusedWhileACommandWaits()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("image.bin");
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("image") == 5 && out.flush());
        Rig rig(3, false);
        QVERIFY(rig.start());
        bool posted = false;
        connect(&rig.device, &CDevice::newOutLog, &rig.bus, [&rig, &posted, path] {
            if (!std::exchange(posted, true)) {
                queueCall(&rig.device, [&rig] { rig.device.tare(); });
                queueCall(&rig.device, [&rig, path] { rig.device.sendNewFirmware(path); });
            }
        });
        rig.device.result();
        // The held tare runs once the result is in.
        QTRY_COMPARE(rig.text(), "=0 1/11:1.500 kg X 1/13");
        QVERIFY(!rig.wire.contains("ZFI"));
    }

private:
    TestDatabase m_database;
};

QTEST_MAIN(TstKx40)
#include "tst_kx40.moc"
