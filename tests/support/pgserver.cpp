#include "support/pgserver.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

namespace {

// The server's superuser, whom the tests connect as.
const char* const Role = "mervik";

// The newest installed server's programs, e.g. /usr/lib/postgresql/15/bin.
QString serverBin()
{
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(found.begin(), found.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QString bin = versions.filePath(*it + QStringLiteral("/bin"));
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() &&
            QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable()) {
            return bin;
        }
    }
    return QString();
}

} // namespace

PgServer::PgServer()
{
    m_bin = serverBin();
    if (m_bin.isEmpty()) {
        m_failure = QStringLiteral("no PostgreSQL server here (Debian's postgresql package)");
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        m_failure = QStringLiteral("no PostgreSQL driver for Qt (libqt5sql5-psql)");
        return;
    }
    if (!m_dir.isValid()) {
        m_failure = QStringLiteral("no temporary folder");
        return;
    }
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody ||
            ::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_failure = QStringLiteral("cannot hand the server's folder to nobody");
            return;
        }
    }
    QString output;
    if (!run({m_bin + QStringLiteral("/initdb"), QStringLiteral("--no-sync"), QStringLiteral("--auth=trust"),
              QStringLiteral("--encoding=UTF8"), QStringLiteral("--username=") + QLatin1String(Role),
              QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data"))},
             &output)) {
        m_failure = QStringLiteral("initdb failed: ") + output;
        return;
    }
    start();
}

PgServer::~PgServer()
{
    stop();
    // Kept only while the test looks at it; the folder is removed with its files, whoever owns them.
    QSqlDatabase::removeDatabase(QStringLiteral("pgserver"));
}

bool PgServer::run(const QStringList& command, QString* output)
{
    QStringList full = command;
    // initdb and the server refuse root: they run as nobody, in the folder handed to nobody.
    if (::geteuid() == 0) {
        full = QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                           QStringLiteral("--clear-groups"), QStringLiteral("--")} +
               command;
        full.prepend(QStringLiteral("setpriv"));
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    process.start(full.first(), full.mid(1));
    const bool ended = process.waitForStarted(5000) && process.waitForFinished(60000);
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    if (output) {
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    }
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString PgServer::uri(const QString& database) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(QLatin1String(Role), database, m_dir.path());
}

bool PgServer::start()
{
    if (m_running) {
        return true;
    }
    // Only the socket in the folder; no durability for a server that lives as long as the test.
    const QString options =
        QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off "
                       "-c full_page_writes=off -c synchronous_commit=off")
            .arg(m_dir.path());
    QString output;
    m_running =
        run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
             QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-o"),
             options, QStringLiteral("-w"), QStringLiteral("start")},
            &output);
    if (!m_running) {
        m_failure = QStringLiteral("the server did not start: ") + output;
    }
    return m_running;
}

bool PgServer::stop()
{
    if (!m_running) {
        return true;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("pgserver"), false);
        db.close();
    }
    m_running =
        !run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
              QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
    return !m_running;
}

bool PgServer::exec(const QString& statement, const QString& database)
{
    QSqlDatabase db = QSqlDatabase::contains(QStringLiteral("pgserver"))
                          ? QSqlDatabase::database(QStringLiteral("pgserver"), false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pgserver"));
    if (db.databaseName() != database || !db.isOpen()) {
        db.close();
        db.setHostName(m_dir.path());
        db.setUserName(QLatin1String(Role));
        db.setDatabaseName(database);
        if (!db.open()) {
            m_failure = db.lastError().text();
            return false;
        }
    }
    QSqlQuery query(db);
    if (!query.exec(statement)) {
        m_failure = query.lastError().text();
        return false;
    }
    return true;
}

QStringList PgServer::rows(const QString& statement, const QString& database)
{
    QStringList found;
    if (!exec(QStringLiteral("SELECT 1"), database)) {
        return found;
    }
    QSqlQuery query(QSqlDatabase::database(QStringLiteral("pgserver"), false));
    if (!query.exec(statement)) {
        m_failure = query.lastError().text();
        return found;
    }
    while (query.next()) {
        QStringList columns;
        for (int i = 0; i < query.record().count(); ++i) {
            columns << query.value(i).toString();
        }
        found << columns.join(QLatin1Char('|'));
    }
    return found;
}
