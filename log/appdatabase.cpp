#include "log/appdatabase.h"

#include "platform/logcategories.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>

namespace AppDatabase {

namespace {

const char* const CheckConnection = "mervik-database-check";
// SQLite's result codes for a database held by another connection: it cannot tell whether the
// file is writable, and the other holder is no fault of the file.
const QString SqliteBusy = QStringLiteral("5");
const QString SqliteLocked = QStringLiteral("6");

QString g_failure;

QString errorText(const QSqlError& error)
{
    const QString text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

// The quick check on a read-only connection of its own, so that a damaged file is never written,
// not even by the journal-mode switch that a read-write open makes.
QString quickCheck(const QString& file)
{
    QString reason;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(CheckConnection));
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            reason = QStringLiteral("cannot be read: ") + errorText(db.lastError());
        } else {
            QSqlQuery check(db);
            if (!check.exec(QStringLiteral("PRAGMA quick_check"))) {
                reason = QStringLiteral("cannot be read: ") + errorText(check.lastError());
            } else {
                QStringList problems;
                while (check.next()) {
                    problems << check.value(0).toString().simplified();
                }
                if (problems != QStringList{QStringLiteral("ok")}) {
                    reason = QStringLiteral("damaged (quick check: ") + problems.join(QStringLiteral("; ")) +
                             QStringLiteral(")");
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(CheckConnection));
    return reason;
}

// A write that is rolled back: it needs everything a stored row needs (a write lock, the journal
// file beside the database) and leaves the user's data as it was.
QString writeCheck(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        const QSqlError error = query.lastError();
        if (error.nativeErrorCode() == SqliteBusy || error.nativeErrorCode() == SqliteLocked) {
            qCWarning(lcLog) << "database in use elsewhere, not checked for writing:" << db.databaseName();
            return QString();
        }
        return QStringLiteral("cannot be written: ") + errorText(error);
    }
    QString reason;
    if (!query.exec(QStringLiteral("CREATE TABLE mervik_write_check(x)"))) {
        reason = QStringLiteral("cannot be written: ") + errorText(query.lastError());
    }
    query.exec(QStringLiteral("ROLLBACK"));
    return reason;
}

// Opens file as the default connection; why it cannot be used, empty when it can. Leaves no
// handle on the connection behind, so that a refused one can be removed.
QString openChecked(const QString& file)
{
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        return QStringLiteral("its folder cannot be created");
    }
    if (QFileInfo::exists(file)) {
        const QString damage = quickCheck(file);
        if (!damage.isEmpty()) {
            return damage;
        }
    }

    QSqlDatabase db = QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection))
                          ? QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    if (db.isOpen()) {
        db.close();
    }
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!db.open()) {
        return QStringLiteral("cannot be opened: ") + errorText(db.lastError());
    }
    QSqlQuery pragma(db);
    // WAL lets the log writer keep a batch open while readers see a consistent table, and NORMAL
    // sync keeps every commit through a crash of the program without an fsync per captured row.
    const bool wal = pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && pragma.next() &&
                     pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    pragma.finish();
    const QString unwritable = writeCheck(db);
    if (!unwritable.isEmpty()) {
        return unwritable;
    }
    // Only worth a word for a database that works otherwise (a file system without shared memory).
    if (!wal) {
        qCWarning(lcLog) << "WAL journal not available for" << file;
    }
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return QString();
}

} // namespace

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/myDbQel.db");
}

QString failure()
{
    return g_failure;
}

bool open(const QString& path)
{
    const QString file = path.isEmpty() ? defaultPath() : path;
    const QString reason = openChecked(file);
    if (reason.isEmpty()) {
        g_failure.clear();
        return true;
    }
    g_failure = file + QStringLiteral(": ") + reason;
    qCWarning(lcLog).noquote() << QStringLiteral("Database not available: ") + g_failure;
    // Closed and removed, the connection cannot open the file again when a store asks for it.
    QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).close();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return false;
}

} // namespace AppDatabase
