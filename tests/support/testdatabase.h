#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A scratch database as the program's default connection, with the program's tables (LOGS, DATAFEED).
// It also puts QStandardPaths in test mode and QSettings into its folder, so a test touches none of the
// user's data or settings. Construct it after the application object (a test class member will do).
class TestDatabase
{
public:
    TestDatabase();

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.filePath(QStringLiteral("myDbQel.db")); }
    // A file in the scratch folder, for exports and the like.
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Every row the statement gives, its columns joined by '|'.
    static QStringList rows(const QString& statement, const QSqlDatabase& db = QSqlDatabase::database());
    // The same through a connection of its own, which sees committed rows only.
    QStringList committedRows(const QString& statement) const;
    // The rows an executed query has left to give, joined the same way.
    static QStringList rows(QSqlQuery& query);

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};
