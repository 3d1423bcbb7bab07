#include "targets.h"

#include "device/cdevicekx40.h"
#include "device/cdeviceold.h"
#include "device/srecordfile.h"
#include "interface/cesp.h"
#include "interface/ctibbo.h"
#include "support/fakeinterface.h"
#include "tools/cli/dataservices.h"
#include "ui/log/stringfilter.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Input layout: the first byte picks a variant, the rest is split at 0xFF (never part of UTF-8) into
// the chunks or datagrams that arrive one after the other.
int variant(const QByteArray& input, int count)
{
    return input.isEmpty() ? 0 : quint8(input.at(0)) % count;
}

QList<QByteArray> pieces(const QByteArray& input)
{
    return input.mid(1).split('\xff');
}

void check(bool holds, const char* property)
{
    if (!holds) {
        qFatal("fuzz property broken: %s", property);
    }
}

// Every output prints a value with its decimals; that text must read back as the value received.
void checkValue(const Measurement& m)
{
    bool ok = false;
    check(m.valueText().toDouble(&ok) == m.value && ok, "a result printed with its decimals reads back");
}

template <class Dialect> class Fed : public Dialect
{
public:
    explicit Fed(FakeInterface* fake) { this->adoptInterface(fake); }
};

class FedEchoingKx40 : public Fed<CDeviceKx40>
{
public:
    explicit FedEchoingKx40(FakeInterface* fake) : Fed(fake) { m_echo = true; }
};

// The dialects: current, older, three-letter, three-letter with echo.
CDevice* fedDevice(int which, FakeInterface* fake)
{
    switch (which) {
    case 0:
        return new Fed<CDevice>(fake);
    case 1:
        return new Fed<CDeviceOld>(fake);
    case 2:
        return new Fed<CDeviceKx40>(fake);
    default:
        return new FedEchoingKx40(fake);
    }
}

void receive(const QByteArray& input)
{
    auto* fake = new FakeInterface;
    std::unique_ptr<CDevice> device(fedDevice(variant(input, 4), fake));
    int lines = 0;
    int longest = 0;
    const auto take = [&](const QString& line) {
        ++lines;
        check(line.indexOf(QLatin1Char('\n')) == line.size() - 1, "a line ends at its first line feed");
        check(line.size() <= CDevice::MaxReceiveBuffer + longest, "a line stays within the buffer cap");
    };
    QObject::connect(device.get(), &CDevice::lineReceived, take);
    QObject::connect(device.get(), &CDevice::resultReceived, [&](const Measurement& m) {
        ++lines;
        checkValue(m);
    });
    // Every chunk 64 times over in a few variants, so that an endless line reaches the cap.
    const int repeats = variant(input, 128) >= 124 ? 64 : 1;
    for (const QByteArray& chunk : pieces(input)) {
        longest = qMax(longest, chunk.size());
        for (int i = 0; i < repeats; ++i) {
            fake->feed(chunk);
        }
    }
    check(lines == input.mid(1).count('\n') * repeats, "every line feed ends one line");
}

void result(const QByteArray& input)
{
    std::unique_ptr<CDevice> device(fedDevice(variant(input, 8) >> 1, new FakeInterface));
    Measurement m;
    if (device->parseResult(QString::fromUtf8(input.mid(1)), m, variant(input, 2) == 1)) {
        checkValue(m);
    }
}

// A connected device of the variant whose transport answers the first line written with the chunks and
// then drops the connection, so that no exchange waits for its time-out.
void exchange(const QByteArray& input, int dialects, const std::function<void(CDevice*)>& command)
{
    auto* fake = new FakeInterface;
    std::unique_ptr<CDevice> device(fedDevice(variant(input, dialects), fake));
    bool answered = false;
    fake->setResponder([&answered, fake, chunks = pieces(input)](const QString&) {
        if (!answered) {
            answered = true;
            fake->feedLater(chunks);
            QTimer::singleShot(0, fake, [fake] { fake->emitState(CInterface::StateDisconnected); });
        }
        return QList<QByteArray>();
    });
    QObject::connect(device.get(), &CDevice::commandFinished, [](int result, int, const QVariant& response) {
        if (result == COMMAND_OK && response.canConvert<Measurement>()) {
            checkValue(response.value<Measurement>());
        }
    });
    device->connectDevice(false);
    command(device.get());
    // What the command left unread goes through the receive path.
    QCoreApplication::processEvents();
}

template <class Module> class QuietModule : public Module
{
public:
    QuietModule() : Module(QHostAddress::LocalHost, 0xff000000, "00:1a:2b:3c:4d:5e", QHostAddress::LocalHost)
    {
    }
    void take(const QByteArray& datagram) { this->takeDatagram(this->moduleAddress(), datagram); }

protected:
    // Nothing leaves the process.
    void writeDatagram(const QByteArray&, bool) override {}
};

// Starts a command of the module, then hands it the datagrams; those that come when nothing is
// awaited are dropped as the socket's would be.
template <class Module> void module(const QByteArray& input)
{
    QuietModule<Module> quiet;
    CInterfaceModule* module = &quiet;
    const QHostAddress elsewhere(QStringLiteral("10.1.2.3"));
    switch (variant(input, 7)) {
    case 0:
        module->readStatus();
        break;
    case 1:
        module->readInfo(1);
        break;
    case 2:
        // Outside the computer's subnet the module is selected by its MAC first.
        module->setModuleAddress(elsewhere);
        module->readInfo(1);
        break;
    case 3:
        module->setIPLayer(false, elsewhere, QHostAddress(QStringLiteral("10.1.2.1")),
                           QHostAddress(QStringLiteral("255.255.255.0")));
        break;
    case 4:
        module->setIP(elsewhere);
        break;
    case 5:
        module->selectModule();
        break;
    default:
        module->setBaudrate(9600);
        break;
    }
    for (const QByteArray& datagram : pieces(input)) {
        quiet.take(datagram);
    }
}

// A record read is written back in the instrument's form; that must read as the same record.
void alibi(const QByteArray& input)
{
    const AlibiRecord r = CDevice::parseAlibiAnswer(QString::fromUtf8(input)).record;
    const auto mass = [](double value) { return QString::number(value, 'g', 17); };
    const QString again = QStringList{QString::number(r.recId),
                                      r.date.toString(QStringLiteral("yyyy-MM-dd")),
                                      r.time.toString(QStringLiteral("hh:mm:ss")),
                                      QString::number(r.num),
                                      r.userId,
                                      r.prodId,
                                      mass(r.net),
                                      mass(r.gross),
                                      mass(r.tare),
                                      r.unit,
                                      QString::number(r.point),
                                      QString::number(int(r.stb))}
                              .join(QLatin1Char(';'));
    // A second marker inside a text field would end the record written back.
    if (!r.date.isValid() || again.contains(QLatin1String("Malibi"))) {
        return;
    }
    const AlibiRecord back = CDevice::parseAlibiAnswer(again).record;
    check(back.recId == r.recId && back.date == r.date && back.time == r.time && back.num == r.num &&
              back.userId == r.userId && back.prodId == r.prodId && back.net == r.net &&
              back.gross == r.gross && back.tare == r.tare && back.unit == r.unit && back.point == r.point &&
              back.stb == r.stb,
          "a record written back reads the same");
}

void csv(const QByteArray& input)
{
    static const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("table.csv"));
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the table is written");
    file.write(input.mid(1));
    file.close();
    QString error;
    QVector<UserRecord> users;
    QVector<ProductRecord> products;
    const bool read = variant(input, 2) == 0 ? DataJob::readUsers(path, &users, error)
                                             : DataJob::readProducts(path, &products, error);
    check(read == error.isEmpty(), "a refused table says why");
}

// The text of a string filter inside the log's SQL: the row holding exactly that text must be found,
// by a statement that the text cannot end early.
void filter(const QByteArray& input)
{
    static StringFilter* stringFilter = new StringFilter(QStringLiteral("v"), 0, QString());
    const QString connection = QStringLiteral("fuzz");
    if (!QSqlDatabase::contains(connection)) {
        QSqlDatabase created = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        created.setDatabaseName(QStringLiteral(":memory:"));
        check(created.open() && QSqlQuery(created).exec(QStringLiteral("CREATE TABLE t (v TEXT)")),
              "the table is made");
    }
    const QSqlDatabase db = QSqlDatabase::database(connection, false);
    stringFilter->optionCombo()->setCurrentIndex(variant(input, 4));
    stringFilter->lineEdit()->setText(QString::fromUtf8(input.mid(1)));
    const QString text = stringFilter->lineEdit()->text();
    const QString fragment = stringFilter->filterString();
    if (text.isEmpty()) {
        check(fragment.isEmpty(), "no text, no condition");
        return;
    }
    QSqlQuery query(db);
    query.exec(QStringLiteral("DELETE FROM t"));
    query.prepare(QStringLiteral("INSERT INTO t VALUES (?)"));
    query.addBindValue(text);
    check(query.exec(), "the value is stored");
    check(query.exec(QStringLiteral("SELECT v FROM t WHERE ") + fragment), "the condition is valid SQL");
    check(query.next() && query.value(0).toString() == text && !query.next(), "the text finds itself");
}

} // namespace

void fuzzSetUp()
{
    QStandardPaths::setTestModeEnabled(true);
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.*=false"));
}

const QVector<FuzzTarget>& fuzzTargets()
{
    static const QVector<FuzzTarget> targets{
        {QStringLiteral("receive"), receive},
        {QStringLiteral("result"), result},
        {QStringLiteral("resultexchange"),
         [](const QByteArray& input) { exchange(input, 2, [](CDevice* d) { d->resultWithStb(); }); }},
        {QStringLiteral("identity"),
         [](const QByteArray& input) { exchange(input, 4, [](CDevice* d) { d->readInfo(); }); }},
        {QStringLiteral("eeprom"),
         [](const QByteArray& input) { exchange(input, 1, [](CDevice* d) { d->getEEPROM(); }); }},
        {QStringLiteral("compensation"),
         [](const QByteArray& input) { exchange(input, 1, [](CDevice* d) { d->getCompensation(); }); }},
        {QStringLiteral("alibi"), alibi},
        {QStringLiteral("srecord"),
         [](const QByteArray& input) {
             SRecordFile file;
             SRecordFile::checkRecord(input);
             if (file.parse(input)) {
                 for (const QByteArray& line : file.lines()) {
                     check(line.endsWith('\n') || line.endsWith('\r'), "every record is sent as a line");
                     check(SRecordFile::checkRecord(line.trimmed()).isEmpty(), "every record sent is good");
                 }
             }
         }},
        {QStringLiteral("csv"), csv},
        {QStringLiteral("esp"), module<CESP>},
        {QStringLiteral("tibbo"), module<CTibbo>},
        {QStringLiteral("filter"), filter},
    };
    return targets;
}
