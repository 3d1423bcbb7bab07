#include "app/startup.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/settingscontroller.h"
#include "log/cpelmlog.h"
#include "platform/qwinwidget.h"

#include <QApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QWinWidget* hostWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* host = qobject_cast<QWinWidget*>(widget)) {
            return host;
        }
    }
    return nullptr;
}

// What exists at a step of the start-up, as flags that a reader can compare line by line.
QString facts()
{
    QStringList present;
    if (QCoreApplication::organizationName() == QLatin1String("Mervik") &&
        QCoreApplication::applicationName() == QLatin1String("Mervik Connect")) {
        present << QStringLiteral("names");
    }
    if (QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen()) {
        present << QStringLiteral("database");
    }
    if (QMetaType::type("Measurement") != QMetaType::UnknownType &&
        QMetaType::type("PelmLogRecord") != QMetaType::UnknownType) {
        present << QStringLiteral("types");
    }
    if (CPelmLog::instance()) {
        present << QStringLiteral("log");
    }
    // The controllers are created by instance() as children of the application object.
    if (qApp->findChild<CDeviceController*>(QString(), Qt::FindDirectChildrenOnly)) {
        present << QStringLiteral("devices");
    }
    if (qApp->findChild<CBalanceController*>(QString(), Qt::FindDirectChildrenOnly)) {
        present << QStringLiteral("balance");
    }
    if (QWinWidget* host = hostWindow()) {
        present << (host->isVisible() ? QStringLiteral("window shown") : QStringLiteral("window"));
    }
    return present.join(QLatin1Char(' '));
}

} // namespace

// Start-up in the process: the order of creation, the database's place, the way out.
class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startAndShutdown_data();
    void startAndShutdown();
};

void TstStartup::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Nothing is created before start-up runs.
    QCOMPARE(facts(), QString());
}

void TstStartup::startAndShutdown_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable data folder") << true;
    // A file where a folder should be: not even root can create the data folder below it.
    QTest::newRow("data folder cannot be created") << false;
}

void TstStartup::startAndShutdown()
{
    QFETCH(bool, writable);
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    QString home = temporary.filePath(QStringLiteral("home"));
    if (!writable) {
        QFile blocker(temporary.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        home = blocker.fileName() + QStringLiteral("/home");
    }
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    const QString databaseFile = home + QStringLiteral("/.qttest/share/Mervik/Mervik Connect/myDbQel.db");

    // Registered types stay registered: after the first row they are there from the start.
    const bool typesBefore = QMetaType::type("Measurement") != QMetaType::UnknownType;
    QStringList seen;
    Startup startup;
    startup.setStepObserver([&seen](const QString& step) { seen << step + QStringLiteral(": ") + facts(); });
    if (!writable) {
        QTest::ignoreMessage(QtWarningMsg, "Cannot open database file!");
    }
    startup.start();
    qputenv("HOME", savedHome);

    const QString db = writable ? QStringLiteral(" database") : QString();
    const QString early = typesBefore ? QStringLiteral(" types") : QString();
    const QStringList expected{
        QStringLiteral("names: names") + early,
        QStringLiteral("sql drivers: names") + early,
        QStringLiteral("database: names") + db + early,
        QStringLiteral("meta-types: names") + db + QStringLiteral(" types"),
        QStringLiteral("log writer: names") + db + QStringLiteral(" types log"),
        QStringLiteral("settings controller: names") + db + QStringLiteral(" types log"),
        QStringLiteral("capture export: names") + db + QStringLiteral(" types log"),
        QStringLiteral("device controller: names") + db + QStringLiteral(" types log devices"),
        QStringLiteral("balance controller: names") + db + QStringLiteral(" types log devices balance"),
        QStringLiteral("window: names") + db + QStringLiteral(" types log devices balance window"),
        QStringLiteral("placed: names") + db + QStringLiteral(" types log devices balance window"),
        QStringLiteral("start-up options: names") + db + QStringLiteral(" types log devices balance window"),
        QStringLiteral("shown: names") + db + QStringLiteral(" types log devices balance window shown"),
    };
    QCOMPARE(seen, expected);
    QCOMPARE(startup.databaseOpen(), writable);
    QCOMPARE(QFile::exists(databaseFile), writable);
    if (writable) {
        // The log writer made its table in that very file.
        QSqlQuery tables(QSqlDatabase::database());
        QVERIFY(tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'LOGS'")));
        QVERIFY(tables.next());
        QCOMPARE(QSqlDatabase::database().databaseName(), databaseFile);
    }

    // Placed at (250, 100); the offscreen screen is smaller than the margins, so the minimum size wins.
    QCOMPARE(startup.window()->pos(), QPoint(250, 100));
    QCOMPARE(startup.window()->size(), QSize(1450, 830));
    const SettingsController* settings = SettingsController::instance();
    QVERIFY(settings->autoSend.value());
    QCOMPARE(settings->autoSendUnit.value(), int(SettingsController::UnitMs));

    startup.shutdown();
    QCOMPARE(facts(), QStringLiteral("names types"));
    QVERIFY(!startup.window());
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
