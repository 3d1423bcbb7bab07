#include "log/appdatabase.h"

#include "platform/logcategories.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace AppDatabase {

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/myDbQel.db");
}

bool open(const QString& path)
{
    const QString file = path.isEmpty() ? defaultPath() : path;
    QDir().mkpath(QFileInfo(file).absolutePath());

    QSqlDatabase db = QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection))
                          ? QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    if (db.isOpen()) {
        db.close();
    }
    db.setDatabaseName(file);
    if (!db.open()) {
        qCWarning(lcLog) << "cannot open" << file << db.lastError().text();
        return false;
    }
    QSqlQuery pragma(db);
    // WAL lets the log writer keep a batch open while readers see a consistent table, and NORMAL
    // sync keeps every commit through a crash of the program without an fsync per captured row.
    if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next() ||
        pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        qCWarning(lcLog) << "WAL journal not available for" << file;
    }
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

} // namespace AppDatabase
