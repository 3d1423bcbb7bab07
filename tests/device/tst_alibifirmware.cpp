#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "device/srecordfile.h"
#include "log/cpelmlog.h"
#include "platform/queuedcall.h"
#include "support/simprocess.h"
#include "support/srecord.h"
#include "support/testdatabase.h"

#include <QtTest>

namespace {

QString writeFile(const QTemporaryDir& dir, const QByteArray& content)
{
    QFile file(dir.filePath("image.s19"));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? file.fileName()
                                                                                    : QString();
}

// mervik-sim on a pseudo-terminal and a device on its slave side at 9600 baud. The journal keeps in
// order the lines written (the alibi commands by their last word; image lines go to imageSent), alibi
// records as [position/count:REC_ID] and the finished signals as =result.
struct Rig
{
    SimProcess sim;
    CDevice device;
    QStringList journal;
    QByteArrayList imageSent;
    QList<int> progress;
    QString failure;

    Rig()
    {
        QObject::connect(&device, &CDevice::newOutLog, &device, [this](const PelmLogRecord& r) {
            const QString m = r.message.trimmed();
            if (m.size() > 1 && m.at(0) == 'S' && m.at(1).isDigit()) {
                imageSent << r.message.toLatin1();
            } else {
                journal << (m.startsWith(QLatin1String("Salibi")) ? m.mid(6).trimmed() : m);
            }
        });
        QObject::connect(&device, &CDevice::readingAlibiProgress, &device,
                         [this](int count, int position, const AlibiRecord& r) {
                             journal << QStringLiteral("[%1/%2:%3]").arg(position).arg(count).arg(r.recId);
                         });
        QObject::connect(&device, &CDevice::readingAlibiWarning, &device,
                         [this](const QString& warning) { journal << "!(" + warning + ")"; });
        const auto finished = [this](int result) { journal << QStringLiteral("=%1").arg(result); };
        QObject::connect(&device, &CDevice::readingAlibiFinished, &device, finished);
        QObject::connect(&device, &CDevice::sendingFirmwareFinished, &device, finished);
        QObject::connect(&device, &CDevice::sendingFirmwareProgress, &device,
                         [this](int percent) { progress << percent; });
        QObject::connect(&device, &CDevice::sendingFirmwareFailed, &device,
                         [this](const QString& reason) { failure += reason; });
    }

    bool start(const QStringList& options)
    {
        const QString port = sim.startPty(QStringList{"--baud", "9600"} + options);
        device.setRS232(port, QStringLiteral("sim"), 9600);
        return !port.isEmpty() && device.connectDevice(false);
    }

    QString text() const { return journal.join(' '); }
};

QString recordText(const AlibiRecord& r)
{
    return QStringList({QString::number(r.recId), r.date.toString(Qt::ISODate), r.time.toString(),
                        QString::number(r.num), r.userId, r.prodId, QString::number(r.net),
                        QString::number(r.gross), QString::number(r.tare), r.unit, QString::number(r.point),
                        QString(r.stb ? 'S' : 'U')})
        .join('|');
}

} // namespace

// Alibi memory reading and firmware upload against mervik-sim, and the parsers they rest on.
class TstAlibiFirmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_database.isValid());
        new CPelmLog(this);
        SimProcess probe;
        if (probe.startPty().isEmpty()) {
            QSKIP(("mervik-sim does not serve a pseudo-terminal here: " + probe.errors()).constData());
        }
    }

    void alibiAnswer_data()
    {
        // The record's fields joined by '|' ("-" and the fault: not parsed), then "+end" for the last-record
        // marker and "only" when nothing but the marker came.
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expected");

        const QString good = "7;2024-02-29;23:59:58;1007;U 1;P2;1.250;-1.75;0.5;  kg ;3;";
        const QString fields = "7|2024-02-29|23:59:58|1007|U 1|P2|1.25|-1.75|0.5|kg|3|";
        QTest::newRow("stable, terminator attached") << good + "1\r\n" << fields + "S";
        QTest::newRow("unstable") << good + "0\r\n" << fields + "U";
        QTest::newRow("record and marker") << good + "1\r\nMalibiend\r\n" << fields + "S +end";
        QTest::newRow("marker alone") << QString("Malibiend\r\n") << QString("- 1 fields +end only");
        QTest::newRow("broken record and marker") << "7;2024-02-29;1\r\nMalibiend\r\n"
                                                  << QString("- 3 fields +end");
        QTest::newRow("eleven fields") << "7;2024-02-29;23:59:58;1007;U1;P2;1;2;1;g;3\r\n"
                                       << QString("- 11 fields");
        QTest::newRow("thirteen fields") << good + "1;\r\n" << QString("- 13 fields");
        // Taken once a second answer reads the same.
        QTest::newRow("mark in the product")
            << "7;2024-02-29;23:59:58;1007;U 1;P00!1;1.250;-1.75;0.5;  kg ;3;1\r\n"
            << QString("7|2024-02-29|23:59:58|1007|U 1|P00!1|1.25|-1.75|0.5|kg|3|S confirm");
        // A garbled line keeps its twelve fields: each field is held to its form, one broken per row.
        const std::tuple<const char*, int, QString> broken[] = {
            {"record number not a number", 0, "x7"},
            {"signed record number", 0, "+7"},
            {"30 February", 1, "2024-02-30"},
            {"date of another form", 1, "2024-2-28"},
            {"hour 25", 2, "25:00:00"},
            {"letter in the weighing number", 3, "10O7"},
            {"control character in the user", 4,
             "U\x01"
             "1"},
            {"product over 32 characters", 5, QString(33, 'P')},
            {"comma in a mass", 6, "1,5"},
            {"exponent in a mass", 7, "2e3"},
            {"empty mass", 8, ""},
            {"unknown unit", 9, "~g"},
            {"point beyond 16 bits", 10, "70000"},
            {"signed point", 10, "-3"},
            {"stability mark neither 0 nor 1", 11, "!1"}};
        const QStringList names =
            QString("REC_ID;DATE;TIME;NUM;USER_ID;PROD_ID;NET;GROSS;TARE;UNIT;POINT;STB").split(';');
        for (const auto& [name, field, value] : broken) {
            QStringList line = (good + "1").split(';');
            line[field] = value;
            QTest::newRow(name) << line.join(';') + "\r\n"
                                << "- " + names.at(field);
        }
    }

    void alibiAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expected);

        const CDevice::AlibiAnswer a = CDevice::parseAlibiAnswer(answer);
        const QString end =
            QString(a.last ? " +end" : "") + (a.markerOnly ? " only" : "") + (a.confirm ? " confirm" : "");
        QCOMPARE((a.parsed ? recordText(a.record) : "- " + a.fault) + end, expected);
    }

    void sRecordFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("lines"); // 0: refused
        QTest::addColumn<int>("errorLine");

        const QByteArray s0 = sRecord('0', 0, "hdr");
        const QByteArray s1 = sRecord('1', 0x100, "\x01\x02\x03");
        const QByteArray s9 = sRecord('9', 0, QByteArray());
        QByteArray badSum = s1;
        badSum[badSum.size() - 1] = badSum.endsWith('0') ? '1' : '0';
        QTest::newRow("LF, lower case") << s0 + "\n" + s1.toLower().replace('s', 'S') + "\n" + s9 + "\n"
                                        << 3 << 0;
        QTest::newRow("last line unterminated") << s0 + "\n" + s9 << 2 << 0;
        QTest::newRow("CR LF, blank lines at the end") << s0 + "\r\n" + s1 + "\r\n" + s9 + "\r\n\r\n\r\n"
                                                       << 3 << 0;
        QTest::newRow("checksum") << s0 + "\r\n" + badSum + "\r\n" + s9 + "\r\n" << 0 << 2;
        QTest::newRow("byte count") << s0 + "\r\nS1FF" + s1.mid(4) + "\r\n" << 0 << 2;
        QTest::newRow("hex digit") << s0 + "\r\n" + s1.left(8) + "G" + s1.mid(9) + "\r\n" << 0 << 2;
        QTest::newRow("odd length") << s1 + "0\r\n" << 0 << 1;
        QTest::newRow("not a record") << s0 + "\r\n" + s1 + "\r\n:10010000\r\n" << 0 << 3;
        QTest::newRow("reserved S4") << QByteArray("S4030000FC\r\n") << 0 << 1;
        QTest::newRow("binary") << s0 + "\r\n" + s1 + QByteArray("\0", 1) + "\r\n" << 0 << 2;
        QTest::newRow("blank line between records") << s0 + "\r\n\r\n" + s9 + "\r\n" << 0 << 2;
        QTest::newRow("empty file") << QByteArray() << 0 << 1;
        // The bootloader would wait after the last line, or stop before the records that follow.
        QTest::newRow("no end record") << s0 + "\r\n" + s1 + "\r\n\r\n" << 0 << 2;
        QTest::newRow("record after the end record") << s0 + "\r\n" + s9 + "\r\n" + s1 + "\r\n" << 0 << 3;
    }

    void sRecordFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, lines);
        QFETCH(int, errorLine);

        SRecordFile file;
        QCOMPARE(file.parse(content), lines > 0);
        QCOMPARE(file.lines().size(), lines);
        QCOMPARE(file.errorLine(), errorLine);
        if (lines > 0) {
            // Sent as the file has them, every line ended.
            QVERIFY(file.lines().join().startsWith(content.left(content.indexOf('\n') + 1)));
            QVERIFY(file.lines().constLast().endsWith('\n'));
        }
    }

    void alibiReading_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("journal");

        const auto row = [](const char* name, const QString& options, const QString& journal) {
            QTest::newRow(name) << options.split(' ') << journal;
        };
        row("three records", "--alibi 3", "prn next [1/3:1] next [2/3:2] next [3/3:3] stop =1");
        row("empty memory", "--alibi 0", "prn stop =1");
        row("count unreadable", "--alibi 3 --alibi-announce many", "prn stop =0");
        row("record asked again", "--alibi 3 --alibi-broken 2:1",
            "prn next [1/3:1] next rep [2/3:2] next [3/3:3] stop =1");
        row("four bad answers", "--alibi 3 --alibi-broken 2:4", "prn next [1/3:1] next rep rep rep stop =0");
        row("last record broken beside its marker", "--alibi 3 --alibi-broken 3:1",
            "prn next [1/3:1] next [2/3:2] next rep [3/3:3] stop =1");
        row("fewer records than announced", "--alibi 2 --alibi-announce 5",
            "prn next [1/5:1] next [2/5:2] stop =1");
        row("more records than announced", "--alibi 5 --alibi-announce 2",
            "prn next [1/2:1] next [2/2:2] "
            "!(the instrument announced 2 records but reports 5; only the 2 announced were read) stop =1");
        row("records with a field out of its form", "--alibi 3 --alibi-garbled 2,3",
            "prn next [1/3:1] next rep [2/3:2] next rep [3/3:3] stop =1");
        row("a product with marks of its own", "--alibi 2 --alibi-product Mix#A+B",
            "prn next rep [1/2:1] next rep [2/2:2] stop =1");
        // Three attempts of 2000 ms for the missing record.
        row("fewer than announced, no marker", "--alibi 1 --alibi-announce 2 --alibi-no-marker",
            "prn next [1/2:1] next next next stop =0");
    }

    void alibiReading()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, journal);

        Rig rig;
        QVERIFY(rig.start(options));
        QSignalSpy busy(&rig.device, &CDevice::busyChanged);
        QCOMPARE(rig.device.readAlibiMemory(), journal.endsWith("=1"));
        QCOMPARE(rig.text(), journal);
        QCOMPARE(busy.size(), 2);
    }

    // A line that garbles a share of the records yields the same records as a clean one, each garbled
    // one asked for again.
    void alibiGarbledRecords()
    {
        QStringList read[2];
        int repeats = 0;
        for (int garble : {0, 1}) {
            Rig rig;
            QVERIFY(rig.start(QStringList{"--alibi", "20", "--seed", "3"} +
                              (garble ? QStringList{"--alibi-garble", "0.3"} : QStringList())));
            connect(&rig.device, &CDevice::readingAlibiProgress, this,
                    [&](int, int, const AlibiRecord& r) { read[garble] << recordText(r); });
            QVERIFY2(rig.device.readAlibiMemory(), qPrintable(rig.text()));
            repeats = rig.journal.count("rep");
        }
        QCOMPARE(read[0].size(), 20);
        QCOMPARE(read[1], read[0]);
        QVERIFY2(repeats >= 3, qPrintable(QString::number(repeats)));
    }

    // A stop asked for while a record is awaited ends the reading after that record; requests that come
    // meanwhile are held once and refused after that, and the controller refuses a busy device.
    void alibiStopAndRefusals()
    {
        Rig rig;
        CBalanceController* balance = CBalanceController::instance();
        CDeviceController::instance()->setCurrentDevice(&rig.device);
        QSignalSpy errors(balance, &CControllerInterface::raiseError);
        QSignalSpy forwarded(balance, &CBalanceController::readingAlibiFinished);
        QVERIFY(rig.start({"--alibi", "6"}));
        // The device controller reads the identity of a device that connects.
        QTRY_VERIFY(rig.journal.contains("SW9"));
        QTRY_VERIFY(!rig.device.busy());
        rig.journal.clear();
        bool refused = false;
        connect(&rig.device, &CDevice::readingAlibiProgress, this, [&](int, int position) {
            if (position == 2) {
                refused = !balance->readAlibiMemory() && !balance->sendNewFirmware("x.s19");
                queueCall(&rig.device, [&rig] { rig.device.sendString(QStringLiteral("SJ\r\n")); });
                queueCall(&rig.device, [&rig] { rig.device.readAlibiMemory(); });
                queueCall(&rig.device, [&rig] { rig.device.stopReadingAlibiMemory(); });
            }
        });
        QVERIFY(balance->readAlibiMemory());
        QTRY_VERIFY2(rig.journal.contains("SJ"), qPrintable(rig.text()));
        QCOMPARE(rig.text(), "prn next [1/6:1] next [2/6:2] next =0 [3/6:3] stop =1 SJ");
        QVERIFY(refused);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(0).at(0).toInt(), int(CControllerInterface::ErrorBusy));
        QCOMPARE(forwarded.size(), 2);
        CDeviceController::instance()->setCurrentDevice(nullptr);
    }

    void firmwareUpload_data()
    {
        // The journal; the image lines sent, repeats included; the progress reports, first..last.
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("answersAfter");
        // The beginning of the reason given for a failure.
        QTest::addColumn<QString>("failure");

        const QByteArray good = sRecordImage(250);
        QByteArrayList lines = good.split('\n');
        QByteArray& line57 = lines[56];
        line57[line57.size() - 2] = line57.at(line57.size() - 2) == '0' ? '1' : '0';

        // The start, then one report per percent up to 101 after the last line.
        QTest::newRow("finished, on a timed line")
            << QStringList{"--wire"} << good << "Sfirmwupd =1; 250 lines; 102 reports 1..101" << true << "";
        // The line gets its two attempts of 2500 ms, and nothing follows it.
        QTest::newRow("silent at line 100")
            << QStringList{"--boot-silent-at", "100"} << good << "Sfirmwupd =0; 101 lines; 42 reports 1..41"
            << false
            << "Line 100 of 250 was not acknowledged: the bootloader's answer was expected within 5 s and "
               "did "
               "not come. The instrument is still in its bootloader: send the file again.";
        QTest::newRow("no bootloader")
            << QStringList{"--silent-after", "0"} << good << "Sfirmwupd Sfirmwupd =0; 0 lines; 0 reports"
            << false << "The instrument did not answer the request for its bootloader";
        QTest::newRow("damaged file")
            << QStringList() << lines.join('\n') << "=0; 0 lines; 0 reports" << true << "IMAGE line 57: ";
    }

    void firmwareUpload()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QFETCH(bool, answersAfter);
        QFETCH(QString, failure);

        QTemporaryDir dir;
        const QString path = writeFile(dir, file);
        SRecordFile parsed;
        parsed.parse(file);

        Rig rig;
        QVERIFY(rig.start(options));
        CPelmLog::follow(&rig.device);
        QCOMPARE(rig.device.sendNewFirmware(path), expected.contains("=1"));
        QString text =
            rig.text() +
            QStringLiteral("; %1 lines; %2 reports").arg(rig.imageSent.size()).arg(rig.progress.size());
        if (!rig.progress.isEmpty()) {
            text += QStringLiteral(" %1..%2").arg(rig.progress.constFirst()).arg(rig.progress.constLast());
        }
        QCOMPARE(text, expected);
        QVERIFY2(failure.isEmpty() ? rig.failure.isEmpty()
                                   : rig.failure.startsWith(failure.replace("IMAGE", path)),
                 qPrintable(rig.failure));
        const int distinct = qMin(rig.imageSent.size(), 100);
        QCOMPARE(rig.imageSent.mid(0, distinct), parsed.lines().mid(0, distinct));
        QVERIFY(!rig.device.busy());
        // Back at the instrument's own speed, where it answers again, and logged again; the image never
        // reached the log.
        QCOMPARE(rig.device.baudRate(), 9600);
        if (answersAfter) {
            QVERIFY(rig.device.result().endsWith("g  \r\n"));
        }
        rig.device.sendString("SJ\r\n");
        QTRY_COMPARE(TestDatabase::rows("SELECT Message FROM LOGS WHERE Message = 'SJ\r\n' OR "
                                        "Message GLOB 'S[0-9]*' OR Message GLOB 'f*'"),
                     QStringList{"SJ\r\n"});
        TestDatabase::rows("DELETE FROM LOGS");
    }

    // Records of a device in another thread reach the log queued: what was sent before the upload is
    // stored, the image is not, and what follows is stored again.
    void firmwareLogFromAnotherThread()
    {
        QTemporaryDir dir;
        const QString path = writeFile(dir, sRecordImage(250));
        SimProcess sim;
        const QString port = sim.startPty();
        QVERIFY(!port.isEmpty());
        QThread thread;
        thread.start();
        auto* device = new CDevice;
        device->setRS232(port, QStringLiteral("sim"), 9600);
        CPelmLog::follow(device);
        device->moveToThread(&thread);
        const auto cleanup = qScopeGuard([&] {
            QMetaObject::invokeMethod(device, &QObject::deleteLater);
            thread.quit();
            thread.wait(5000);
        });
        int result = -1;
        connect(device, &CDevice::sendingFirmwareFinished, this, [&result](int r) { result = r; });
        waitForCall(device, [device] { device->connectDevice(false); });

        QVERIFY(!device->sendNewFirmware(path));
        QTRY_COMPARE_WITH_TIMEOUT(result, 1, 20000);
        device->sendString("SJ\r\n");
        QTRY_COMPARE(TestDatabase::rows("SELECT Message FROM LOGS WHERE INOUT = 'OUT' ORDER BY PacketId"),
                     QStringList({"Sfirmwupd\r\n", "SJ\r\n"}));
        TestDatabase::rows("DELETE FROM LOGS");
    }

private:
    TestDatabase m_database;
};

QTEST_MAIN(TstAlibiFirmware)
#include "tst_alibifirmware.moc"
