#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

constexpr int StartBoundMs = 5000;
// The program's own bound when a test forgets it; each test ends it much sooner.
constexpr int RunBoundMs = 30000;

// mervik-sim serving on a pseudo-terminal or a loopback TCP port; it exits by itself should the test
// not stop it.
class Sim
{
public:
    bool start(const QStringList& serve)
    {
        process.start(QStringLiteral(MERVIK_SIM_PATH),
                      serve + QStringList{QStringLiteral("--max-seconds"), QStringLiteral("60"),
                                          QStringLiteral("--weight"), QStringLiteral("12.5"),
                                          QStringLiteral("--decimals"), QStringLiteral("2"),
                                          QStringLiteral("--unit"), QStringLiteral("kg"),
                                          QStringLiteral("--model"), QStringLiteral("PS 750.X2"),
                                          QStringLiteral("--serial"), QStringLiteral("654321"),
                                          QStringLiteral("--stream"), QStringLiteral("200")});
        if (!process.waitForStarted(StartBoundMs)) {
            return false;
        }
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(StartBoundMs)) {
                return false;
            }
        }
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        if (line.startsWith(QLatin1String("PTY "))) {
            target = line.mid(4) + QStringLiteral("@9600");
        } else if (line.startsWith(QLatin1String("TCP "))) {
            target = line.mid(4);
        }
        return !target.isEmpty();
    }

    ~Sim()
    {
        process.terminate();
        if (!process.waitForFinished(StartBoundMs)) {
            process.kill();
            process.waitForFinished(StartBoundMs);
        }
    }

    QProcess process;
    QString target;
};

// The program with a home of its own, so that nothing of the real user's is touched.
class App
{
public:
    explicit App(const QString& home, const QString& dataHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("mervik.*.debug=false"));
        process.setProcessEnvironment(env);
        QDir().mkpath(home + QStringLiteral("/runtime"));
        QFile::setPermissions(home + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool run(const QStringList& arguments)
    {
        process.start(QStringLiteral(MERVIK_CONNECT_PATH), arguments);
        if (!process.waitForStarted(StartBoundMs) || !process.waitForFinished(RunBoundMs)) {
            return false;
        }
        out = QString::fromLocal8Bit(process.readAllStandardOutput());
        err = QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit;
    }

    ~App()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(StartBoundMs);
        }
    }

    QProcess process;
    QString out;
    QString err;
};

} // namespace

// mervik-connect as a process: start-up without a database, the start-up connection, its options.
class TstAppProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void databaseLocation_data();
    void databaseLocation();
    void connectsAtStartup_data();
    void connectsAtStartup();
    void unknownPortIsReported();
    void badConnectTarget_data();
    void badConnectTarget();

private:
    QTemporaryDir temporary;
};

void TstAppProcess::initTestCase()
{
    QVERIFY(temporary.isValid());
    QFile blocker(temporary.filePath(QStringLiteral("a-file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
}

void TstAppProcess::databaseLocation_data()
{
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable") << QStringLiteral("data") << true;
    // Below a file: not even root can create the folder.
    QTest::newRow("not writable") << QStringLiteral("a-file/data") << false;
}

void TstAppProcess::databaseLocation()
{
    QFETCH(QString, dataHome);
    QFETCH(bool, writable);
    const QString tag =
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    const QString dataPath = temporary.filePath(dataHome);
    App app(temporary.filePath(tag), dataPath);
    QVERIFY(app.run({QStringLiteral("--quit-after"), QStringLiteral("0")}));
    QCOMPARE(app.process.exitCode(), 0);
    QCOMPARE(app.err.contains(QLatin1String("Cannot open database file!")), !writable);
    QCOMPARE(QFile::exists(dataPath + QStringLiteral("/Mervik/Mervik Connect/myDbQel.db")), writable);
}

void TstAppProcess::connectsAtStartup_data()
{
    QTest::addColumn<QStringList>("serve");
    QTest::addColumn<QString>("interface");
    QTest::newRow("pseudo-terminal") << QStringList{QStringLiteral("--pty")} << QStringLiteral("pts/");
    QTest::newRow("tcp") << QStringList{QStringLiteral("--tcp-server"), QStringLiteral("127.0.0.1:0")}
                         << QStringLiteral("LAN (127.0.0.1,");
}

void TstAppProcess::connectsAtStartup()
{
    QFETCH(QStringList, serve);
    QFETCH(QString, interface);
    Sim sim;
    QVERIFY(sim.start(serve));
    const QString tag =
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    const QString home = temporary.filePath(QStringLiteral("connect-") + tag);
    const QString dataHome = home + QStringLiteral("/data");
    App app(home, dataHome);
    app.process.start(QStringLiteral(MERVIK_CONNECT_PATH),
                      {QStringLiteral("--connect"), sim.target, QStringLiteral("--echo"),
                       QStringLiteral("--quit-after"), QString::number(RunBoundMs)});
    QVERIFY(app.process.waitForStarted(StartBoundMs));

    // Identity, connection and results streamed by the instrument, as the echo prints them.
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromLocal8Bit(app.process.readAllStandardOutput()),
                              out.count(QStringLiteral("RESULT 12.50 kg")) >= 3),
                             20000);
    QVERIFY2(out.contains(QLatin1String("Instrument: PS 750.X2, serial 654321")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("STATE Connected")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("OUT ") + interface), qPrintable(out));

    // A stop signal ends the event loop; the way out runs and the exit is clean.
    app.process.terminate();
    QVERIFY(app.process.waitForFinished(StartBoundMs));
    QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process.exitCode(), 0);

    // The streamed results went into the data feed, row by row.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(dataHome + QStringLiteral("/Mervik/Mervik Connect/myDbQel.db"));
        QVERIFY(db.open());
        QSqlQuery rows(db);
        QVERIFY(rows.exec(QStringLiteral("SELECT SN, VAL, UNIT FROM DATAFEED ORDER BY COUNT")));
        int count = 0;
        while (rows.next()) {
            QCOMPARE(rows.value(0).toString(), QStringLiteral("654321"));
            QCOMPARE(rows.value(1).toString(), QStringLiteral("12.50"));
            QCOMPARE(rows.value(2).toString(), QStringLiteral("kg"));
            ++count;
        }
        QVERIFY(count >= 3);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void TstAppProcess::unknownPortIsReported()
{
    const QString missing = temporary.filePath(QStringLiteral("no-such-tty"));
    App app(temporary.filePath(QStringLiteral("unknown-port")),
            temporary.filePath(QStringLiteral("unknown-data")));
    QVERIFY(app.run({QStringLiteral("--connect"), missing, QStringLiteral("--echo"),
                     QStringLiteral("--quit-after"), QStringLiteral("0")}));
    QCOMPARE(app.process.exitCode(), 0);
    QVERIFY2(app.out.contains(QLatin1String("Cannot open ")), qPrintable(app.out));
    QVERIFY2(
        app.err.contains(QLatin1String("no instrument connected at ") + missing + QLatin1String("@9600")),
        qPrintable(app.err));
}

void TstAppProcess::badConnectTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("baud not a number") << QStringLiteral("/dev/pts/7@fast");
    QTest::newRow("baud zero") << QStringLiteral("/dev/pts/7@0");
    QTest::newRow("no port") << QStringLiteral("@9600");
    QTest::newRow("tcp port out of range") << QStringLiteral("127.0.0.1:70000");
}

void TstAppProcess::badConnectTarget()
{
    QFETCH(QString, target);
    App app(temporary.filePath(QStringLiteral("bad")), temporary.filePath(QStringLiteral("bad-data")));
    QVERIFY(app.run({QStringLiteral("--connect"), target}));
    QCOMPARE(app.process.exitCode(), 2);
    QVERIFY(app.err.contains(QLatin1String("--connect expects PORT, PORT@BAUD or HOST:PORT")));
    // Refused before anything was created.
    QVERIFY(!QFile::exists(temporary.filePath(QStringLiteral("bad-data"))));
}

QTEST_GUILESS_MAIN(TstAppProcess)
#include "tst_appprocess.moc"
