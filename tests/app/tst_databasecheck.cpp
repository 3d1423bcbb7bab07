#include "log/appdatabase.h"
#include "log/datafeedtableview.h"
#include "ui/mainwindow.h"

#include <QLabel>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum Damage
{
    None,
    Garbage,
    CorruptPage,
    JournalBlocked
};

constexpr int PageSize = 4096;

// A database with a data feed table of many pages, written by a connection of its own.
void makeDatabase(const QString& path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("maker"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(
            QStringLiteral("CREATE TABLE DATAFEED(EMPTY TEXT, COUNT INTEGER PRIMARY KEY NOT "
                           "NULL, DATE TEXT, TIME TEXT, SN TEXT, VAL TEXT, UNIT TEXT, NOTE TEXT)")));
        QVERIFY(query.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) INSERT INTO "
            "DATAFEED SELECT '', i, '03-04-2026', '05:06:07', 'SN 1234', i, 'g', '' FROM n")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("maker"));
}

void damage(const QString& path, Damage kind)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    if (kind == Garbage) {
        file.resize(0);
        file.write(QByteArray(2 * PageSize, 'x'));
    } else if (kind == CorruptPage) {
        // Page 3, a leaf of the table, overwritten: the header still says SQLite, the page does not.
        file.seek(2 * PageSize);
        file.write(QByteArray(PageSize, '\xff'));
    } else if (kind == JournalBlocked) {
        // Where SQLite would create its journals lie links into nowhere, which it does not follow:
        // as in a folder without write permission, every write fails, even for root.
        const QString nowhere = path + QStringLiteral(".missing/journal");
        QVERIFY(QFile::link(nowhere, path + QStringLiteral("-wal")));
        QVERIFY(QFile::link(nowhere, path + QStringLiteral("-journal")));
    }
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The check of the database at start: a damaged or unwritable one is reported with its path and
// reason, left byte for byte as it was, and the program goes on without storing.
class TstDatabaseCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusedDatabaseIsReportedAndLeftAlone_data();
    void refusedDatabaseIsReportedAndLeftAlone();
};

void TstDatabaseCheck::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TstDatabaseCheck::refusedDatabaseIsReportedAndLeftAlone_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("healthy") << int(None) << QString();
    QTest::newRow("not a database") << int(Garbage)
                                    << QStringLiteral("cannot be read: file is not a database");
    QTest::newRow("corrupt page") << int(CorruptPage) << QStringLiteral("damaged \\(quick check: .*Page 3");
    QTest::newRow("journal cannot be created")
        << int(JournalBlocked) << QStringLiteral("cannot be written: ");
}

void TstDatabaseCheck::refusedDatabaseIsReportedAndLeftAlone()
{
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("myDbQel.db"));
    makeDatabase(path);
    damage(path, Damage(kind));
    const QByteArray before = contents(path);

    const QRegularExpression said(QStringLiteral("^Database not available: ") +
                                  QRegularExpression::escape(path) + QStringLiteral(": ") + reason);
    if (kind != None) {
        QTest::ignoreMessage(QtWarningMsg, said);
        QTest::ignoreMessage(QtWarningMsg, "captured results are not stored: the database is not available");
    }
    QCOMPARE(AppDatabase::open(path), kind == None);
    QVERIFY2(kind == None
                 ? AppDatabase::failure().isEmpty()
                 : said.match(QStringLiteral("Database not available: ") + AppDatabase::failure()).hasMatch(),
             qPrintable(AppDatabase::failure()));

    {
        // The capture page's table: results go on arriving, and are stored only in a sound database.
        DataFeedTableView view;
        view.addRow({QStringLiteral("03-04-2026"), QStringLiteral("05:06:07"), QStringLiteral("SN 1234"),
                     QStringLiteral("1.50"), QStringLiteral("g"), QString()});
        view.addRow({QStringLiteral("03-04-2026"), QStringLiteral("05:06:08"), QStringLiteral("SN 1234"),
                     QStringLiteral("1.75"), QStringLiteral("g"), QString()});
        QCOMPARE(view.model()->rowCount(), kind == None ? 2002 : 0);

        MainWindow window;
        window.resize(1400, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto* label = window.findChild<QLabel*>(QStringLiteral("databaseLabel"));
        QVERIFY(label);
        QCOMPARE(label->isVisible(), kind != None);
        if (kind != None) {
            QVERIFY2(label->text().contains(path), qPrintable(label->text()));
            // On the status line with room to be read.
            QVERIFY(label->width() >= std::min(label->sizeHint().width(), 1000));
        }
    }
    QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).close();
    if (kind != None) {
        QVERIFY(contents(path) == before);
    }
}

QTEST_MAIN(TstDatabaseCheck)
#include "tst_databasecheck.moc"
