#include "support/childprocess.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int BoundMs = 5000;

// mervik-connect with a home of its own, so that nothing of the real user's is touched.
void startApp(ChildProcess& app, const QString& home, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("mervik.*.debug=false"));
    QDir().mkpath(home + QStringLiteral("/runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    app.process.setProcessEnvironment(env);
    app.process.start(QStringLiteral(MERVIK_CONNECT_PATH), arguments);
}

} // namespace

// mervik-connect as a process: the start-up connection and its options.
class TstAppProcess : public QObject
{
    Q_OBJECT

private slots:
    void connectsAtStartup_data();
    void connectsAtStartup();
    void unknownPortIsReported();
    void badConnectTarget_data();
    void badConnectTarget();

private:
    QTemporaryDir temporary;
};

void TstAppProcess::connectsAtStartup_data()
{
    QTest::addColumn<QStringList>("serve");
    QTest::addColumn<QString>("interface");
    QTest::newRow("pseudo-terminal") << QStringList{"--pty"} << "pts/";
    QTest::newRow("tcp") << QStringList{"--tcp-server", "127.0.0.1:0"} << "LAN (127.0.0.1,";
}

void TstAppProcess::connectsAtStartup()
{
    QFETCH(QStringList, serve);
    QFETCH(QString, interface);
    // The simulator exits by itself should the test not stop it.
    ChildProcess sim;
    sim.process.start(QStringLiteral(MERVIK_SIM_PATH),
                      serve + QStringList{"--max-seconds", "60", "--weight", "12.5", "--decimals", "2",
                                          "--unit", "kg", "--model", "PS 750.X2", "--serial", "654321",
                                          "--stream", "200"});
    const QString served = QString::fromUtf8(sim.waitForLine(serve.size() == 1 ? "PTY " : "TCP "));
    QVERIFY2(!served.isEmpty(), "the simulator does not serve");
    const QString target = served.mid(4) + QLatin1String(serve.size() == 1 ? "@9600" : "");

    const QString home = temporary.filePath(QString::fromLatin1(QTest::currentDataTag()));
    ChildProcess app;
    startApp(app, home, {"--connect", target, "--echo", "--quit-after", "30000"});
    // Identity, connection and results streamed by the instrument, as the echo prints them.
    for (const char* line : {"Instrument: PS 750.X2, serial 654321", "STATE Connected", "RESULT 12.50 kg",
                             "RESULT 12.50 kg", "RESULT 12.50 kg"}) {
        QVERIFY2(!app.waitForLine(line, 20000).isEmpty(), line);
    }
    QVERIFY(std::any_of(app.lines.begin(), app.lines.end(), [&](const QByteArray& line) {
        return line.contains("  OUT " + interface.toUtf8());
    }));

    // A stop signal ends the event loop; the way out runs and the exit is clean.
    app.process.terminate();
    QVERIFY(app.process.waitForFinished(BoundMs));
    QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process.exitCode(), 0);

    // The streamed results went into the data feed, row by row.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(home + QStringLiteral("/data/Mervik/Mervik Connect/myDbQel.db"));
        QVERIFY(db.open());
        QSqlQuery rows(db);
        QVERIFY(rows.exec(QStringLiteral("SELECT SN, VAL, UNIT FROM DATAFEED ORDER BY COUNT")));
        int count = 0;
        for (; rows.next(); ++count) {
            QCOMPARE(
                QStringList({rows.value(0).toString(), rows.value(1).toString(), rows.value(2).toString()}),
                (QStringList{"654321", "12.50", "kg"}));
        }
        QVERIFY(count >= 3);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void TstAppProcess::unknownPortIsReported()
{
    const QString missing = temporary.filePath(QStringLiteral("no-such-tty"));
    ChildProcess app;
    startApp(app, temporary.filePath(QStringLiteral("unknown-port")),
             {"--connect", missing, "--echo", "--quit-after", "0"});
    QVERIFY(!app.waitForLine("Cannot open ").isEmpty());
    QVERIFY(app.process.waitForFinished(BoundMs));
    QCOMPARE(app.process.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(app.process.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("no instrument connected at ") + missing + QLatin1String("@9600")),
             qPrintable(err));
}

void TstAppProcess::badConnectTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("baud not a number") << "/dev/pts/7@fast";
    QTest::newRow("baud zero") << "/dev/pts/7@0";
    QTest::newRow("no port") << "@9600";
    QTest::newRow("tcp port out of range") << "127.0.0.1:70000";
}

void TstAppProcess::badConnectTarget()
{
    QFETCH(QString, target);
    const QString home = temporary.filePath(QStringLiteral("bad"));
    ChildProcess app;
    startApp(app, home, {"--connect", target});
    QVERIFY(app.process.waitForFinished(BoundMs));
    QCOMPARE(app.process.exitCode(), 2);
    QVERIFY(app.process.readAllStandardError().contains("--connect expects PORT, PORT@BAUD or HOST:PORT"));
    // Refused before anything was created.
    QVERIFY(!QFile::exists(home + QStringLiteral("/data")));
}

QTEST_GUILESS_MAIN(TstAppProcess)
#include "tst_appprocess.moc"
