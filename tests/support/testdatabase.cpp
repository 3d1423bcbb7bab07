#include "support/testdatabase.h"

#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"

#include <QSettings>
#include <QSqlRecord>
#include <QStandardPaths>

TestDatabase::TestDatabase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_dir.filePath(QStringLiteral("settings")));
    if (!m_dir.isValid() || !AppDatabase::open(path())) {
        return;
    }
    QSqlQuery query;
    m_valid = query.exec(QLatin1String(CPelmLog::CreateStatement)) &&
              query.exec(CPelmLog::lineIndexStatement(QStringLiteral("LOGS"))) &&
              query.exec(QLatin1String(DataFeedTableModel::CreateStatement));
}

QStringList TestDatabase::rows(const QString& statement, const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(statement) ? rows(query) : QStringList{QStringLiteral("<failed: %1>").arg(statement)};
}

QStringList TestDatabase::rows(QSqlQuery& query)
{
    QStringList rows;
    while (query.next()) {
        QStringList row;
        for (int c = 0; c < query.record().count(); ++c) {
            row << query.value(c).toString();
        }
        rows << row.join(QLatin1Char('|'));
    }
    return rows;
}

QStringList TestDatabase::committedRows(const QString& statement) const
{
    const QString name = QStringLiteral("committed");
    QStringList result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path());
        result = db.open() ? rows(statement, db) : QStringList{QStringLiteral("<not opened>")};
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}
