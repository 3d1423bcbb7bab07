#include "controller/cbalancecontroller.h"
#include "device/cdevice.h"
#include "device/cproductsdatabase.h"
#include "device/cusersdatabase.h"
#include "simdata.h"
#include "siminstrument.h"
#include "simpty.h"
#include "support/simprocess.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
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
    // A refusal carries its reason as text.
    return response && v.type() == QVariant::String ? QStringLiteral("why") : v.toString();
}

// The simulated instrument in this process on a pseudo-terminal, and a device on its slave side. The
// journal keeps, in order, the lines on the wire ("> line", without CR LF) and the device's signals.
struct Rig
{
    SimInstrument sim;
    SimPty pty;
    CDevice device;
    QStringList journal;
    QStringList eeprom;
    QByteArray wire;

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
        QObject::connect(
            &device, &CDevice::commandFinished, &device,
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

    QStringList take() { return std::exchange(journal, QStringList()); }
};

const QDateTime Clock(QDate(2026, 1, 2), QTime(3, 4, 5));

QVector<UserRecord> users(const QString& text = QStringLiteral("b"))
{
    return {{1, QStringLiteral("a"), text}, {2, QStringLiteral("c"), QStringLiteral("d")}};
}

QVector<ProductRecord> products()
{
    return {{7, QStringLiteral("Flour"), QStringLiteral("T550"), QStringLiteral("1 kg"), -3, 2.0, 1.5,
             1234.5678}};
}

QVariantList compensation()
{
    QVariantList values;
    for (int i = 0; i < 15; ++i) {
        const int position = i % 5;
        values << (position == 2 || position == 3 ? QVariant(i + 0.5) : QVariant(10 * i + 1));
    }
    return values;
}

QStringList repeated(int count, const QString& text)
{
    return QVector<QString>(count, text).toList();
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

using Operation = std::function<QVariant(CDevice&, const QString& dir)>;

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(std::function<void(SimInstrument&)>)

class TstDataExchange : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tableLines_data();
    void tableLines();
    void exchanges_data();
    void exchanges();
    void eepromDump_data();
    void eepromDump();
    void eepromRoundTrip();
    void throughController();
    void fromAnotherThread();
    void simProgramOptions();
};

void TstDataExchange::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DeviceTypes::registerMetaTypes();
}

void TstDataExchange::tableLines_data()
{
    QTest::addColumn<bool>("products");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("unsafe");

    QTest::newRow("users") << false << "b" << QStringList{"SbU\r\n", "MbU\r\n", "Sr1;a;b\r\n", "Sr2;c;d\r\n"}
                           << "";
    // Field order, and every value with three decimals and no field width.
    QTest::newRow("products") << true << "b"
                              << QStringList{"SbP\r\n", "MbP\r\n",
                                             "Sr7;Flour;T550;1 kg;-3;2.000;1.500;1234.568\r\n"}
                              << "";
    QTest::newRow("';' in a user's text")
        << false << "x;y" << QStringList{"SbU\r\n", "MbU\r\n", "Sr1;a;x;y\r\n", "Sr2;c;d\r\n"}
        << "record 1: \";\" inside a field";
    QTest::newRow("line feed in a user's text")
        << false << "x\ny" << QStringList{"SbU\r\n", "MbU\r\n", "Sr1;a;x\ny\r\n", "Sr2;c;d\r\n"}
        << "record 1: a line break inside a field";
}

void TstDataExchange::tableLines()
{
    QFETCH(bool, products);
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QFETCH(QString, unsafe);

    CUsersDatabase usersTable(users(text));
    CProductsDatabase productsTable(::products());
    const CDatabase& table = products ? static_cast<const CDatabase&>(productsTable) : usersTable;
    QStringList made{table.startCommand(), table.startAcknowledge()};
    for (int i = 0; i < table.count(); ++i) {
        made << table.recordLine(i);
    }
    QCOMPARE(made, lines);
    QCOMPARE(table.unsafeText(), unsafe);
}

void TstDataExchange::exchanges_data()
{
    QTest::addColumn<std::function<void(SimInstrument&)>>("setup");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QVariant>("returned");
    QTest::addColumn<QStringList>("journal");

    const auto none = [](SimInstrument&) {};
    const QString sef = QStringLiteral("> SEF%1%2");
    QStringList compensationLines;
    const char* codes[] = {"009", "010", "011", "012", "013", "019", "020", "021",
                           "022", "023", "014", "015", "016", "017", "018"};
    for (int i = 0; i < 15; ++i) {
        compensationLines << sef.arg(QLatin1String(codes[i]), compensation().at(i).toString());
    }
    const QString simCompensation = QStringLiteral(
        "[int:100,int:200,double:0.5,double:1.25,int:7,int:101,int:201,double:1.5,double:2.25,int:8,"
        "int:102,int:202,double:2.5,double:3.25,int:9]");

    QTest::newRow("message, 0 s") << std::function<void(SimInstrument&)>(none)
                                  << Operation(
                                         [](CDevice& d, const QString&) { return d.message("Hi there", 0); })
                                  << QVariant(true)
                                  << QStringList{"> SN01Hi there", "finished 1 20 Hi there 1"};
    QTest::newRow("message, 150 s") << std::function<void(SimInstrument&)>(none)
                                    << Operation(
                                           [](CDevice& d, const QString&) { return d.message("x", 150); })
                                    << QVariant(true) << QStringList{"> SN99x", "finished 1 20 x 99"};
    QTest::newRow("message, 7 s") << std::function<void(SimInstrument&)>(none)
                                  << Operation([](CDevice& d, const QString&) { return d.message("", 7); })
                                  << QVariant(true) << QStringList{"> SN07", "finished 1 20  7"};
    QTest::newRow("message with a line feed")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.message("one\ntwo", 5); }) << QVariant(false)
        << QStringList{"finished 2 20 one\ntwo 5"};

    QTest::newRow("set clock") << std::function<void(SimInstrument&)>(none)
                               << Operation([](CDevice& d, const QString&) { return d.setDateTime(Clock); })
                               << QVariant(true)
                               << QStringList{"> Sd&t2026-01-02 03:04:05", "finished 1 23 2026-01-02 03:04"};
    QTest::newRow("set invalid clock")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.setDateTime({}); }) << QVariant(false)
        << QStringList{"finished 2 23 invalid"};
    QTest::newRow("read clock") << std::function<void(SimInstrument&)>([](SimInstrument& s) {
        s.data()->setClock(Clock);
    }) << Operation([](CDevice& d, const QString&) { return d.getDateTime(); })
                                << QVariant(Clock)
                                << QStringList{"> Sd&t?", "finished 1 24 2026-01-02 03:04"};
    QTest::newRow("read clock, short hour") << std::function<void(SimInstrument&)>([](SimInstrument& s) {
        s.data()->setClock(Clock);
        s.data()->setShortHourClock(true);
    }) << Operation([](CDevice& d, const QString&) { return d.getDateTime(); })
                                            << QVariant(Clock)
                                            << QStringList{"> Sd&t?", "finished 1 24 2026-01-02 03:04"};
    QTest::newRow("read clock, garbled")
        << std::function<void(SimInstrument&)>([](SimInstrument& s) { s.setGarbleProbability(1); })
        << Operation([](CDevice& d, const QString&) { return d.getDateTime(); }) << QVariant(QDateTime())
        << QStringList{"> Sd&t?", "finished 2 24 invalid"};

    QTest::newRow("users") << std::function<void(SimInstrument&)>(none)
                           << Operation([](CDevice& d, const QString&) { return d.setUsers(users()); })
                           << QVariant(true) << QStringList{"busy 1", "> SbU",  "> Sr1;a;b",    "> Sr2;c;d",
                                                            "> Se",   "busy 0", "finished 1 21"};
    QTest::newRow("products")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.setProducts(products()); }) << QVariant(true)
        << QStringList{"busy 1", "> SbP",  "> Sr7;Flour;T550;1 kg;-3;2.000;1.500;1234.568",
                       "> Se",   "busy 0", "finished 1 22"};
    QTest::newRow("empty users table")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.setUsers({}); }) << QVariant(true)
        << QStringList{"busy 1", "> SbU", "> Se", "busy 0", "finished 1 21"};
    QTest::newRow("table refused") << std::function<void(SimInstrument&)>([](SimInstrument& s) {
        s.data()->setRefuseTables(true);
    }) << Operation([](CDevice& d, const QString&) { return d.setUsers(users()); })
                                   << QVariant(false)
                                   << QStringList{"busy 1", "> SbU",  "> SbU",       "> Se",
                                                  "> Se",   "busy 0", "finished 2 0"};
    QTest::newRow("';' in a table field")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.setUsers(users("x;y")); }) << QVariant(false)
        << QStringList{"busy 1", "busy 0", "finished 2 21 why"};
    QTest::newRow("carriage return in a product text")
        << std::function<void(SimInstrument&)>(none) << Operation([](CDevice& d, const QString&) {
               QVector<ProductRecord> list = products();
               list[0].text3 = QStringLiteral("1\rkg");
               return d.setProducts(list);
           })
        << QVariant(false) << QStringList{"busy 1", "busy 0", "finished 2 22 why"};

    QTest::newRow("write compensation")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.setCompensation(compensation()); })
        << QVariant(true)
        << QStringList{"busy 1"} + compensationLines + QStringList{"busy 0", "finished 1 29"};
    QTest::newRow("write 14 compensation values")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.setCompensation(compensation().mid(1)); })
        << QVariant(false) << QStringList{"busy 1", "busy 0"};
    QTest::newRow("compensation value with a line feed")
        << std::function<void(SimInstrument&)>(none) << Operation([](CDevice& d, const QString&) {
               QVariantList values = compensation();
               values[4] = QStringLiteral("1\n2");
               return d.setCompensation(values);
           })
        << QVariant(false) << QStringList{"busy 1", "busy 0", "finished 2 29 why"};
    QTest::newRow("read compensation")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString&) { return d.getCompensation(); }) << QVariant(true)
        << QStringList{"> SW3", "finished 1 290 " + simCompensation};
    // A line of four fields adds nothing.
    QTest::newRow("read compensation, short line")
        << std::function<void(SimInstrument&)>(
               [](SimInstrument& s) { s.data()->setShortCompensationGroup(1); })
        << Operation([](CDevice& d, const QString&) { return d.getCompensation(); }) << QVariant(true)
        << QStringList{"> SW3",
                       "finished 1 290 [int:100,int:200,double:0.5,double:1.25,int:7,int:102,int:202,"
                       "double:2.5,double:3.25,int:9]"};

    const QStringList image = dumpLines(SimData().eeprom()).mid(0, 4);
    QStringList written;
    for (const QString& line : image) {
        written << "> " + line.trimmed();
    }
    // Writes the file's text, then sends it as the image (as text: CR LF read as a line end).
    const auto writeImage = [](const QByteArray& text) {
        return Operation([text](CDevice& d, const QString& dir) {
            QFile file(dir + "/image.txt");
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
                return false;
            }
            file.close();
            return d.setEEPROM(file.fileName());
        });
    };
    const QByteArray imageText = image.join(QString()).toLatin1();
    QTest::newRow("write EEPROM") << std::function<void(SimInstrument&)>(none) << writeImage(imageText)
                                  << QVariant(true)
                                  << QStringList{"busy 1"} + written + QStringList{"busy 0", "finished 1 27"};
    // The third line is refused on each of its three attempts; the fourth is never sent.
    QTest::newRow("write EEPROM, third line refused")
        << std::function<void(SimInstrument&)>([](SimInstrument& s) { s.data()->setRefusedWrite(3); })
        << writeImage(imageText) << QVariant(false)
        << QStringList{"busy 1"} + written.mid(0, 2) + repeated(3, written.at(2)) +
               QStringList{"finished 2 27", "busy 0"};
    QTest::newRow("write EEPROM, no file")
        << std::function<void(SimInstrument&)>(none)
        << Operation([](CDevice& d, const QString& dir) { return d.setEEPROM(dir + "/missing.txt"); })
        << QVariant(false) << QStringList{"busy 1", "busy 0"};
    QTest::newRow("write EEPROM, carriage return inside a line")
        << std::function<void(SimInstrument&)>(none)
        << writeImage(image.at(0).toLatin1() + "SEW0010:00\r11\n") << QVariant(false)
        << QStringList{"busy 1", "busy 0", "finished 2 27 why"};
}

void TstDataExchange::exchanges()
{
    QFETCH(std::function<void(SimInstrument&)>, setup);
    QFETCH(Operation, operation);
    QFETCH(QVariant, returned);
    QFETCH(QStringList, journal);

    QTemporaryDir dir;
    Rig rig;
    QVERIFY(rig.start());
    setup(rig.sim);
    const QVariant value = operation(rig.device, dir.path());
    QCOMPARE(variantText(value), variantText(returned));
    rig.sim.setGarbleProbability(0);
    // What a refused call did not send would be on the wire by the time the echo's answer is back.
    QVERIFY(rig.device.checkEcho());
    QCOMPARE(rig.take(), journal + QStringList({"> SJ", "finished 1 16"}));
    QVERIFY(!rig.device.busy());
}

void TstDataExchange::eepromDump_data()
{
    QTest::addColumn<int>("stall");
    QTest::addColumn<int>("result");

    QTest::newRow("whole") << -1 << 1;
    // No line for 5 s ends the reading.
    QTest::newRow("stalls after 20 lines") << 20 << 3;
}

void TstDataExchange::eepromDump()
{
    QFETCH(int, stall);
    QFETCH(int, result);

    Rig rig;
    QVERIFY(rig.start());
    rig.sim.data()->setDumpStall(stall);
    QSignalSpy finished(&rig.device, &CDevice::readingEEPROMFinished);
    QSignalSpy results(&rig.device, &CDevice::resultReceived);
    // Results the instrument streams meanwhile stay results.
    QVERIFY(rig.device.getEEPROM());
    QVERIFY(rig.device.busy());
    rig.sim.setStreaming(30);
    QVERIFY(finished.wait(8000));
    rig.sim.setStreaming(0);
    QCOMPARE(finished.first().first().toInt(), result);
    QVERIFY(!rig.device.busy());
    QVERIFY(!results.isEmpty());

    // The first half of the dump came in the same burst as the answer: none of it is lost.
    const QStringList dump = dumpLines(rig.sim.data()->eeprom());
    QCOMPARE(rig.eeprom, stall < 0 ? dump : QStringList(dump.mid(0, stall)));
    QStringList expected{"> SE?", "busy 1", "line EEPROM: 512"};
    if (stall < 0) {
        expected << "busy 0"
                 << "eeprom finished 1"
                 << "line ME?";
    } else {
        expected << "busy 0"
                 << "eeprom finished 3";
    }
    QCOMPARE(rig.take(), expected);

    // The observer is disarmed: a later dump-like text is ordinary lines.
    rig.eeprom.clear();
    rig.sim.output("EEPROM: 1\r\nSEW0000:00\r\nME?\r\n");
    QTRY_COMPARE(rig.journal.size(), 3);
    QCOMPARE(rig.take(), (QStringList{"line EEPROM: 1", "line SEW0000:00", "line ME?"}));
    QVERIFY(rig.eeprom.isEmpty());
    QCOMPARE(finished.size(), 1);
}

void TstDataExchange::eepromRoundTrip()
{
    Rig rig;
    QVERIFY(rig.start());
    QSignalSpy finished(&rig.device, &CDevice::readingEEPROMFinished);
    QVERIFY(rig.device.getEEPROM());
    QVERIFY(finished.wait(5000));
    QByteArray image = rig.sim.data()->eeprom();
    QCOMPARE(rig.eeprom.size(), SimData::EepromSize / SimData::BytesPerLine);

    // The backup, one byte changed, written back.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("backup.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
    QString backup = rig.eeprom.join(QString());
    backup.replace(QStringLiteral("SEW0010:") + backup.mid(backup.indexOf("SEW0010:") + 8, 2),
                   QStringLiteral("SEW0010:AB"));
    file.write(backup.remove('\r').toLatin1());
    file.close();
    QVERIFY(rig.device.setEEPROM(file.fileName()));
    image[0x10] = char(0xab);
    QCOMPARE(rig.sim.data()->eeprom().toHex(), image.toHex());
    QCOMPARE(rig.sim.data()->eepromWrites(), 32);
}

void TstDataExchange::throughController()
{
    Rig rig;
    CBalanceController balance;
    balance.setCurrentDevice(&rig.device);
    QVERIFY(rig.start());
    QSignalSpy errors(&balance, &CControllerInterface::raiseError);
    QSignalSpy finished(&balance, &CBalanceController::commandFinished);
    QSignalSpy lines(&balance, &CBalanceController::eepromReceived);
    QSignalSpy dumped(&balance, &CBalanceController::readingEEPROMFinished);

    QVERIFY(balance.setUsers(users()));
    QCOMPARE(rig.sim.data()->users(), (QList<QByteArrayList>{{"1", "a", "b"}, {"2", "c", "d"}}));
    QCOMPARE(finished.takeFirst().mid(0, 2), (QVariantList{1, 21}));
    QVERIFY(balance.message(QStringLiteral("Hello"), 3));
    QCOMPARE(rig.sim.data()->message(), QByteArray("Hello"));
    QCOMPARE(rig.sim.data()->messageSeconds(), 3);
    QVERIFY(balance.setDateTime(Clock));
    QVERIFY(balance.getDateTime());
    QCOMPARE(finished.last().at(2).toDateTime().date(), Clock.date());
    QVERIFY(balance.setCompensation(compensation()));
    QVERIFY(balance.getCompensation());
    QCOMPARE(finished.last().at(2).toList(), compensation());
    QVERIFY(balance.setProducts(products()));
    QCOMPARE(rig.sim.data()->products().value(0).value(7), QByteArray("1234.568"));
    QVERIFY(errors.isEmpty());

    // While the dump runs the device is busy: requests are refused and nothing is sent.
    rig.take();
    QVERIFY(balance.getEEPROM());
    QVERIFY(!balance.setUsers(users()));
    QVERIFY(!balance.getCompensation());
    QCOMPARE(errors.size(), 2);
    QCOMPARE(errors.first(), (QVariantList{CControllerInterface::ErrorBusy, -1}));
    QVERIFY(dumped.wait(5000));
    QCOMPARE(dumped.first().first().toInt(), 1);
    QCOMPARE(lines.size(), SimData::EepromSize / SimData::BytesPerLine);
    QCOMPARE(rig.take().mid(0, 2), (QStringList{"> SE?", "busy 1"}));

    // A serial instrument has no network module.
    errors.clear();
    QVERIFY(!balance.setRoutingMode(2));
    QVERIFY(!balance.setIpLayer(true, QHostAddress(), QHostAddress(), QHostAddress()));
    QCOMPARE(errors.size(), 2);
    QCOMPARE(errors.first(), (QVariantList{CControllerInterface::ErrorNoModule, -1}));
    balance.setCurrentDevice(nullptr);
}

void TstDataExchange::fromAnotherThread()
{
    Rig rig;
    QVERIFY(rig.start());
    QSignalSpy finished(&rig.device, &CDevice::commandFinished);
    // The tables and the values cross into the device's thread as queued arguments.
    bool returned = true;
    QThread* caller = QThread::create(
        [&] { returned = rig.device.setProducts(products()) || rig.device.setCompensation(compensation()); });
    caller->start();
    QVERIFY(caller->wait(5000));
    delete caller;
    QVERIFY(!returned);
    QTRY_COMPARE(finished.size(), 2);
    QCOMPARE(finished.at(0).mid(0, 2), (QVariantList{1, 22}));
    QCOMPARE(finished.at(1).mid(0, 2), (QVariantList{1, 29}));
    QCOMPARE(rig.sim.data()->products().size(), 1);
}

void TstDataExchange::simProgramOptions()
{
    SimProcess sim;
    const QString port = sim.startPty({"--refuse-tables", "--clock-short-hour", "--compensation-short", "0",
                                       "--eeprom-stall", "2", "--eeprom-gap", "0"});
    QVERIFY2(!port.isEmpty(), sim.errors().constData());
    CDevice device;
    device.setRS232(port, QStringLiteral("sim"), 9600);
    QVERIFY(device.connectDevice(false));
    QSignalSpy finished(&device, &CDevice::commandFinished);
    QVERIFY(!device.setUsers(users()));
    QVERIFY(device.setDateTime(Clock));
    QCOMPARE(device.getDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")),
             QStringLiteral("2026-01-02 03:04"));
    QVERIFY(device.lastAnswer().startsWith(QStringLiteral("2026-01-02  3:04:")));
    QVERIFY(device.getCompensation());
    QCOMPARE(finished.last().at(2).toList().size(), 10);
    QSignalSpy lines(&device, &CDevice::eepromReceived);
    QVERIFY(device.getEEPROM());
    QTRY_COMPARE(lines.size(), 2);
    QCOMPARE(finished.first().mid(0, 2), (QVariantList{2, 0}));
}

QTEST_GUILESS_MAIN(TstDataExchange)
#include "tst_dataexchange.moc"
