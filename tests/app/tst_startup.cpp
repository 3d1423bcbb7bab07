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

// What of the start-up's making exists.
QStringList facts(const Startup* startup = nullptr)
{
    QStringList present;
    const auto add = [&present](bool exists, const char* name) {
        if (exists) {
            present << QLatin1String(name);
        }
    };
    add(QCoreApplication::organizationName() == QLatin1String("Mervik") &&
            QCoreApplication::applicationName() == QLatin1String("Mervik Connect"),
        "names");
    add(QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen(), "database");
    add(QMetaType::type("Measurement") != QMetaType::UnknownType &&
            QMetaType::type("PelmLogRecord") != QMetaType::UnknownType,
        "types");
    add(CPelmLog::instance(), "log");
    // The controllers are created by instance() as children of the application object.
    add(qApp->findChild<CDeviceController*>(QString(), Qt::FindDirectChildrenOnly), "devices");
    add(qApp->findChild<CBalanceController*>(QString(), Qt::FindDirectChildrenOnly), "balance");
    const QWinWidget* host = startup ? startup->window() : nullptr;
    add(host, "window");
    add(host && host->isVisible(), "shown");
    return present;
}

} // namespace

// Start-up in the process: the order of creation, the database's place, the way out.
class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void startAndShutdown_data();
    void startAndShutdown();
};

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
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir temporary;
    QFile blocker(temporary.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    const QString home = temporary.filePath(QLatin1String(writable ? "home" : "file/home"));
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));

    // Before the first start nothing exists; the names and the registered types outlive a shutdown.
    const QStringList initial = facts();
    QCOMPARE(initial, writable ? QStringList() : (QStringList{"names", "types"}));
    // Each step adds what it makes, one part at a time, in this order.
    QStringList order{"names", "database", "types", "log", "devices", "balance", "window", "shown"};
    if (!writable) {
        order.removeOne(QStringLiteral("database"));
        QTest::ignoreMessage(QtWarningMsg, "Cannot open database file!");
    }
    for (const QString& fact : initial) {
        order.removeOne(fact);
    }
    QStringList made = initial;
    QStringList steps;
    Startup startup;
    startup.setStepObserver([&](const QString&) {
        QStringList added;
        for (const QString& fact : facts(&startup)) {
            if (!made.contains(fact)) {
                added << fact;
            }
        }
        made << added;
        if (!added.isEmpty()) {
            steps << added.join(QLatin1Char('+'));
        }
    });
    startup.start();
    qputenv("HOME", savedHome);
    QCOMPARE(steps, order);

    const QString databaseFile = home + QStringLiteral("/.qttest/share/Mervik/Mervik Connect/myDbQel.db");
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
    QCOMPARE(startup.window()->geometry(), QRect(250, 100, 1450, 830));
    QVERIFY(SettingsController::instance()->autoSend.value());
    QCOMPARE(SettingsController::instance()->autoSendUnit.value(), int(SettingsController::UnitMs));

    startup.shutdown();
    QCOMPARE(facts(&startup), (QStringList{"names", "types"}));
    QVERIFY(!startup.window());
    QCOMPARE(QApplication::topLevelWidgets(), QWidgetList());
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
