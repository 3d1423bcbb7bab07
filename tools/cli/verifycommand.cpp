#include "verifycommand.h"

#include "clioutput.h"
#include "commandword.h"
#include "instrumentsession.h"

#include "log/appdatabase.h"
#include "log/chainverifier.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>

namespace {
const char* const Connection = "mervik-verify";
constexpr int ExitFound = 1;

int verify(const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(Connection));
    db.setDatabaseName(path);
    // Read only: a check that could write would change what it checks.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        return CliOutput::fail(InstrumentSession::ExitUsage,
                               QStringLiteral("%1: %2").arg(path, db.lastError().text()));
    }
    const ChainVerifier::Report report = ChainVerifier::verify(db);
    db.close();
    if (report.unreadable) {
        return CliOutput::fail(InstrumentSession::ExitUsage,
                               QStringLiteral("%1: %2").arg(path, report.findings.value(0)));
    }
    for (const QString& finding : report.findings) {
        CliOutput::out(finding);
    }
    if (report.notCovered > 0) {
        CliOutput::out(
            QStringLiteral("%1 rows not covered: stored before the hash chain began").arg(report.notCovered));
    }
    CliOutput::out(QStringLiteral("%1 links, %2 rows checked: %3")
                       .arg(report.links)
                       .arg(report.rows)
                       .arg(report.holds() ? QStringLiteral("everything holds")
                                           : QStringLiteral("%1 findings").arg(report.findings.size())));
    return report.holds() ? InstrumentSession::ExitOk : ExitFound;
}
} // namespace

namespace VerifyCommand {

bool requested(int argc, char* argv[])
{
    return commandRequested(argc, argv, "verify", {"--db"});
}

int run(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption dbOption(QStringLiteral("db"), QStringLiteral("The database file."),
                                      QStringLiteral("FILE"));
    parser.addOption(dbOption);
    if (!parser.parse(arguments) || parser.positionalArguments().size() != 1) {
        return CliOutput::fail(InstrumentSession::ExitUsage,
                               QStringLiteral("usage: mervik-cli verify [--db FILE]"));
    }
    const QString path = parser.isSet(dbOption) ? parser.value(dbOption) : AppDatabase::defaultPath();
    if (!QFileInfo(path).isFile()) {
        return CliOutput::fail(InstrumentSession::ExitUsage,
                               QStringLiteral("%1: no such database").arg(path));
    }
    const int status = verify(path);
    QSqlDatabase::removeDatabase(QLatin1String(Connection));
    return status;
}

} // namespace VerifyCommand
