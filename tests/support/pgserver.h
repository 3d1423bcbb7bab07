#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own: Debian's initdb and pg_ctl into a temporary folder, listening
// on a Unix socket in that folder only (nothing on the network), trust authentication, no fsync. Run as
// nobody when the test runs as root (initdb refuses root). Stopped and removed when it goes out of scope,
// also when the test fails. One per test executable: initdb takes a second or two.
class PgServer
{
public:
    PgServer();
    ~PgServer();

    bool isValid() const { return m_running; }
    // Why there is no server (missing package or driver, initdb failed); for QSKIP.
    QString failure() const { return m_failure; }

    // The libpq URI of a database on this server, as the program takes it.
    QString uri(const QString& database = QStringLiteral("postgres")) const;
    // The folder that holds the server's socket, its host for libpq.
    QString socketFolder() const { return m_dir.path(); }

    bool start();
    bool stop();

    // Runs the statements on a connection of its own; false with the server's words in failure().
    bool exec(const QString& statement, const QString& database = QStringLiteral("postgres"));
    // Every row the statement gives, its columns joined by '|'.
    QStringList rows(const QString& statement, const QString& database = QStringLiteral("postgres"));

private:
    bool run(const QStringList& command, QString* output = nullptr);

    QTemporaryDir m_dir;
    QString m_bin;
    bool m_running = false;
    QString m_failure;
};
