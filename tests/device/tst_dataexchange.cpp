#include "controller/cbalancecontroller.h"
#include "device/cdevice.h"
#include "platform/queuedcall.h"
#include "simdata.h"
#include "siminstrument.h"
#include "simpty.h"

#include <QtTest>

#include <functional>
#include <thread>
#include <utility>

namespace {

// A response that is text is a refusal's reason; other arguments are shown as they are.
QString variantText(const QVariant& v, bool response = false)
{
    if (v.type() == QVariant::DateTime) {
        // Minutes: the instrument's clock runs on while the test reads it.
        return v.toDateTime().isValid() ? v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                                        : QStringLiteral("invalid");
    }
    if (v.type() == QVariant::List) {
        QStringList values;
        for (const QVariant& value : v.toList()) {
            values << QStringLiteral("%1:%2").arg(QLatin1String(value.typeName()), value.toString());
        }
        return '[' + values.join(',') + ']';
    }
    return response && v.type() == QVariant::String ? QStringLiteral("why") : v.toString();
}

// The simulated instrument in this process on a pseudo-terminal, a device on its slave side and the
// controller in front of it. The journal keeps, in order, the lines on the wire ("> line", without CR
// LF), the device's signals and the controller's ends and errors.
struct Rig
{
    SimInstrument sim;
    SimPty pty;
    CDevice device;
    CBalanceController balance;
    QStringList journal;
    QStringList eeprom;
    QByteArray wire;
    QTemporaryDir dir;

    bool start()
    {
        if (!pty.open()) {
            return false;
        }
        QObject::connect(&pty, &SimPty::received, &sim, &SimInstrument::feed);
        QObject::connect(&sim, &SimInstrument::output, &pty, &SimPty::write);
        QObject::connect(&pty, &SimPty::received, &device, [this](const QByteArray& bytes) {
            wire += bytes;
            int lf;
            while ((lf = wire.indexOf('\n')) >= 0) {
                journal << "> " + QString::fromUtf8(wire.left(lf + 1)).chopped(2);
                wire.remove(0, lf + 1);
            }
        });
        balance.setCurrentDevice(&device);
        QObject::connect(&balance, &CControllerInterface::raiseError, &device, [this](int error, int c) {
            journal << QStringLiteral("error %1 %2").arg(error).arg(c);
        });
        QObject::connect(
            &balance, &CBalanceController::commandFinished, &device,
            [this](int r, int c, const QVariant& response, const QVariant& p1, const QVariant& p2) {
                QString text = QStringLiteral("finished %1 %2").arg(r).arg(c);
                text += response.isValid() ? ' ' + variantText(response, true) : QString();
                for (const QVariant& v : {p1, p2}) {
                    text += v.isValid() ? ' ' + variantText(v) : QString();
                }
                journal << text;
            });
        QObject::connect(&device, &CDevice::busyChanged, &device,
                         [this](bool busy) { journal << QStringLiteral("busy %1").arg(int(busy)); });
        QObject::connect(&device, &CDevice::lineReceived, &device,
                         [this](const QString& line) { journal << "line " + line.trimmed(); });
        QObject::connect(&device, &CDevice::readingEEPROMFinished, &device,
                         [this](int r) { journal << QStringLiteral("eeprom finished %1").arg(r); });
        QObject::connect(&device, &CDevice::eepromReceived, &device,
                         [this](const QString& line) { eeprom << line; });
        device.setRS232(pty.slavePath(), QStringLiteral("sim"), 115200);
        return device.connectDevice(false);
    }
};

const QDateTime Clock(QDate(2026, 1, 2), QTime(3, 4, 5));

QVector<UserRecord> users(const QString& text = QStringLiteral("b"))
{
    return {{1, QStringLiteral("a"), text}, {2, QStringLiteral("c"), QStringLiteral("d")}};
}

QVector<ProductRecord> products(const QString& unit = QStringLiteral("1 kg"))
{
    return {{7, QStringLiteral("Flour"), QStringLiteral("T550"), unit, -3, 2.0, 1.5, 1234.5678}};
}

// Integers and decimals as the instrument's groups of five have them; `odd` replaces the fifth value.
QVariantList compensation(const QVariant& odd = QVariant())
{
    QVariantList values;
    for (int i = 0; i < 15; ++i) {
        values << (i % 5 == 2 || i % 5 == 3 ? QVariant(i + 0.5) : QVariant(10 * i + 1));
    }
    if (odd.isValid()) {
        values[4] = odd;
    }
    return values;
}

// The dump as the instrument sends it.
QStringList dumpLines(const QByteArray& image)
{
    QStringList lines;
    for (int address = 0; address < image.size(); address += SimData::BytesPerLine) {
        lines << QStringLiteral("SEW%1:").arg(address, 4, 16, QLatin1Char('0')).toUpper() +
                     QString::fromLatin1(image.mid(address, SimData::BytesPerLine).toHex().toUpper()) +
                     QStringLiteral("\r\n");
    }
    return lines;
}

using Operation = std::function<QVariant(Rig&)>;

// Writes the text to a file, then sends it as the EEPROM image.
Operation writeImage(const QByteArray& text)
{
    return [text](Rig& r) {
        QFile file(r.dir.filePath("image.txt"));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush() &&
               r.device.setEEPROM(file.fileName());
    };
}

void row(const char* name, const QStringList& simOptions, const Operation& operation,
         const QVariant& returned, const QStringList& journal)
{
    QTest::newRow(name) << simOptions << operation << returned << journal;
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TstDataExchange : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        DeviceTypes::registerMetaTypes();
    }

    void exchanges_data()
    {
        // mervik-sim's data options, and "garble" for garbled answers.
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QVariant>("returned");
        QTest::addColumn<QStringList>("journal");

        row("message, 0 s", {}, [](Rig& r) { return r.device.message("", 0); }, true,
            {"> SN01", "finished 1 20  1"});
        row("message, 150 s", {}, [](Rig& r) { return r.balance.message("Hi there", 150); }, true,
            {"> SN99Hi there", "finished 1 20 Hi there 99"});
        row("message with a line feed", {}, [](Rig& r) { return r.device.message("one\ntwo", 5); }, false,
            {"error 2 20", "finished 2 20 one\ntwo 5"});

        row("set invalid clock", {}, [](Rig& r) { return r.device.setDateTime({}); }, false,
            {"error 2 23", "finished 2 23 invalid"});
        // The clock is set first; the short form has two blanks and a one-digit hour.
        row("read clock, short hour", {"--clock-short-hour"},
            [](Rig& r) { return r.device.setDateTime(Clock) ? r.device.getDateTime() : QDateTime(); }, Clock,
            {"> Sd&t2026-01-02 03:04:05", "finished 1 23 2026-01-02 03:04", "> Sd&t?",
             "finished 1 24 2026-01-02 03:04"});
        row("read clock, garbled", {"garble"}, [](Rig& r) { return r.device.getDateTime(); }, QDateTime(),
            {"> Sd&t?", "error 2 24", "finished 2 24 invalid"});

        row("users", {}, [](Rig& r) { return r.balance.setUsers(users()); }, true,
            {"busy 1", "> SbU", "> Sr1;a;b", "> Sr2;c;d", "> Se", "busy 0", "finished 1 21"});
        // Field order; every value with three decimals and no field width.
        const QStringList productLines{"busy 1", "> SbP",  "> Sr7;Flour;T550;1 kg;-3;2.000;1.500;1234.568",
                                       "> Se",   "busy 0", "finished 1 22"};
        row("table refused", {"--refuse-tables"}, [](Rig& r) { return r.device.setUsers(users()); }, false,
            {"busy 1", "> SbU", "> SbU", "> Se", "> Se", "busy 0", "error 2 0", "finished 2 0"});
        row("';' in a table field", {}, [](Rig& r) { return r.device.setUsers(users("x;y")); }, false,
            {"busy 1", "busy 0", "error 2 21", "finished 2 21 why"});
        row("carriage return in a product text", {},
            [](Rig& r) { return r.balance.setProducts(products("1\rkg")); }, true,
            {"busy 1", "busy 0", "error 2 22", "finished 2 22 why"});

        QStringList compensationLines{"busy 1"};
        const QStringList codes =
            QStringLiteral("009 010 011 012 013 019 020 021 022 023 014 015 016 017 018").split(' ');
        for (int i = 0; i < 15; ++i) {
            compensationLines << "> SEF" + codes.at(i) + compensation().at(i).toString();
        }
        // Products and compensation values; both cross into the device's thread as queued arguments.
        row(
            "products and compensation from another thread", {},
            [](Rig& r) {
                bool returned = true;
                std::thread([&] {
                    returned = r.device.setProducts(products()) || r.device.setCompensation(compensation());
                }).join();
                QSignalSpy finished(&r.device, &CDevice::commandFinished);
                return !returned && QTest::qWaitFor([&] { return finished.size() == 2; }, 5000);
            },
            true, productLines + compensationLines + QStringList{"busy 0", "finished 1 29"});
        row("write 14 compensation values", {},
            [](Rig& r) { return r.device.setCompensation(compensation().mid(1)); }, false,
            {"busy 1", "busy 0"});
        row("compensation value with a line feed", {},
            [](Rig& r) { return r.balance.setCompensation(compensation(QStringLiteral("1\n2"))); }, true,
            {"busy 1", "busy 0", "error 2 29", "finished 2 29 why"});
        // The values with their types; a line of four fields adds nothing.
        row("read compensation, short line", {"--compensation-short=1"},
            [](Rig& r) { return r.device.getCompensation(); }, true,
            {"> SW3",
             "finished 1 290 [int:100,int:200,double:0.5,double:1.25,int:7,int:102,int:202,double:2.5,"
             "double:3.25,int:9]"});

        const QStringList image = dumpLines(SimData().eeprom()).mid(0, 4);
        QStringList written = image;
        written.replaceInStrings(QRegularExpression("^(.*)\r\n$"), "> \\1");
        const QByteArray imageText = image.join(QString()).toLatin1();
        row("write EEPROM", {}, writeImage(imageText), true,
            QStringList{"busy 1"} + written + QStringList{"busy 0", "finished 1 27"});
        // The third line is refused on each of its three attempts; the fourth is never sent.
        row("write EEPROM, third line refused", {"--eeprom-refuse-write=3"}, writeImage(imageText), false,
            QStringList{"busy 1"} + written.mid(0, 2) + QVector<QString>(3, written.at(2)).toList() +
                QStringList{"error 2 27", "finished 2 27", "busy 0"});
        row("write EEPROM, carriage return inside a line", {}, writeImage(imageText + "SEW0010:00\r11\n"),
            false, {"busy 1", "busy 0", "error 2 27", "finished 2 27 why"});
        // A line that is no part of a dump would tare the instrument; nothing before it goes out either.
        row("write EEPROM, a command among the lines", {}, writeImage(imageText + "ST\n"), false,
            {"busy 1", "busy 0", "error 2 27", "finished 2 27 why"});
        // A serial instrument has no network module.
        const QString noModule = QStringLiteral("error %1 -1").arg(int(CControllerInterface::ErrorNoModule));
        row("network settings", {},
            [](Rig& r) { return r.balance.setRoutingMode(2) || r.balance.setIpLayer(true, {}, {}, {}); },
            false, {noModule, noModule});
        row("write EEPROM, no file", {}, [](Rig& r) { return r.device.setEEPROM(r.dir.filePath("none")); },
            false, {"busy 1", "busy 0"});
    }

    void exchanges()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(Operation, operation);
        QFETCH(QVariant, returned);
        QFETCH(QStringList, journal);

        Rig rig;
        QVERIFY(rig.start());
        rig.sim.setGarbleProbability(simOptions.removeAll(QStringLiteral("garble")));
        QCommandLineParser parser;
        SimData::addOptions(parser);
        QString error;
        QVERIFY(parser.parse(QStringList{"sim"} + simOptions));
        QVERIFY2(rig.sim.data()->applyOptions(parser, &error), qPrintable(error));

        QCOMPARE(variantText(operation(rig)), variantText(returned));
        rig.sim.setGarbleProbability(0);
        // What a refused call did not send would be on the wire by the time the echo's answer is back.
        QVERIFY(rig.device.checkEcho());
        QCOMPARE(rig.journal, journal + QStringList({"> SJ", "finished 1 16"}));
    }

    void eepromDump_data()
    {
        QTest::addColumn<int>("pause");
        QTest::addColumn<int>("gap");
        QTest::addColumn<int>("stall");
        QTest::addColumn<int>("result");

        // The first half of the dump comes in the same burst as the answer (or a pause after it), the rest
        // after the gap; without a gap the whole dump may end inside the request.
        QTest::newRow("whole") << 0 << 200 << -1 << 1;
        QTest::newRow("whole, no gap") << 0 << 0 << -1 << 1;
        // The identity read that connecting queued waits for the end of the dump.
        QTest::newRow("after a pause, identity queued") << 300 << 200 << -1 << 1;
        // No line for 5 s ends the reading.
        QTest::newRow("stalls after 20 lines") << 0 << 200 << 20 << 3;
    }

    void eepromDump()
    {
        QFETCH(int, pause);
        QFETCH(int, gap);
        QFETCH(int, stall);
        QFETCH(int, result);

        Rig rig;
        CBalanceController& balance = rig.balance;
        QVERIFY(rig.start());
        rig.sim.data()->setDumpPause(pause);
        rig.sim.data()->setDumpGap(gap);
        rig.sim.data()->setDumpStall(stall);
        QSignalSpy lines(&balance, &CBalanceController::eepromReceived);
        QSignalSpy finished(&balance, &CBalanceController::readingEEPROMFinished);
        QSignalSpy results(&rig.device, &CDevice::resultReceived);
        if (pause > 0) {
            // As the device controller asks on Connected: past the controller's checks.
            queueCall(&rig.device, [&rig] { rig.device.readInfo(); });
        }
        QVERIFY(balance.getEEPROM());
        if (gap > 0) {
            // While the dump runs the device is busy: requests are refused and nothing is sent.
            QVERIFY(!balance.setUsers(users()) && !balance.getCompensation());
            // Results the instrument streams meanwhile stay results.
            rig.sim.setStreaming(30);
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 8000);
        rig.sim.setStreaming(0);
        const QString identified = QStringLiteral("finished 1 %1").arg(int(COMMAND_READ_INFO));
        if (pause > 0) {
            QTRY_VERIFY(rig.journal.contains(identified));
        }
        QCOMPARE(finished.first().first().toInt(), result);
        QVERIFY(gap == 0 || !results.isEmpty());

        // None of the dump is lost.
        const QStringList dump = dumpLines(rig.sim.data()->eeprom());
        QCOMPARE(rig.eeprom, stall < 0 ? dump : QStringList(dump.mid(0, stall)));
        QCOMPARE(lines.size(), rig.eeprom.size());
        const QString busy = QStringLiteral("error %1 -1").arg(int(CControllerInterface::ErrorBusy));
        const QStringList refused = gap > 0 ? QStringList{busy, busy} : QStringList();
        QStringList expected{"> SE?", "busy 1"};
        const QStringList marker{"line EEPROM: 512"};
        expected << (pause > 0 ? refused + marker : marker + refused);
        expected << "busy 0"
                 << (stall < 0 ? QStringList{"eeprom finished 1", "line ME?"}
                               : QStringList{"eeprom finished 3"});
        if (pause > 0) {
            expected << QStringList{"busy 1", "> SW9", "busy 0", identified};
        }
        QCOMPARE(std::exchange(rig.journal, {}), expected);

        // The observer is disarmed: a later dump-like text is ordinary lines.
        rig.eeprom.clear();
        rig.sim.output("EEPROM: 1\r\nSEW0000:00\r\nME?\r\n");
        QTRY_COMPARE(rig.journal, (QStringList{"line EEPROM: 1", "line SEW0000:00", "line ME?"}));
        QVERIFY(rig.eeprom.isEmpty());
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstDataExchange)
#include "tst_dataexchange.moc"
