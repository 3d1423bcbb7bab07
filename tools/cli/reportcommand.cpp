#include "reportcommand.h"

#include "clioutput.h"
#include "commandword.h"
#include "instrumentsession.h"

#include "log/appdatabase.h"
#include "log/feedrecords.h"
#include "ui/report/weighingreport.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>

namespace {
const char* const Connection = "mervik-report";

// DATETIME as yyyy-MM-dd with an optional time (HH:mm or HH:mm:ss, after a space or a T); a date
// alone starts its day for --from and ends it for --to.
QDateTime readDateTime(const QString& text, bool endOfDay)
{
    const QString t = text.trimmed();
    for (const char* format :
         {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-ddTHH:mm"}) {
        const QDateTime at = QDateTime::fromString(t, QLatin1String(format));
        if (at.isValid()) {
            return at;
        }
    }
    const QDate day = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid()) {
        return QDateTime();
    }
    return QDateTime(day, endOfDay ? QTime(23, 59, 59) : QTime(0, 0));
}

int readAndWrite(const QString& path, const FeedRecords::Filter& filter, const QString& out)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(Connection));
    db.setDatabaseName(path);
    // Read only: a report never changes the results it reports, nor creates an empty database.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        return CliOutput::fail(InstrumentSession::ExitFailure,
                               QStringLiteral("%1: %2").arg(path, db.lastError().text()));
    }
    QVector<FeedRecord> records;
    QString error;
    if (!FeedRecords::read(db, filter, &records, error)) {
        return CliOutput::fail(InstrumentSession::ExitFailure, QStringLiteral("%1: %2").arg(path, error));
    }
    WeighingReport report;
    report.setRecords(records);
    report.setPeriod(filter.from, filter.to);
    // The instrument is not at hand: what the rows tell of it.
    WeighingReport::Instrument instrument;
    instrument.serial = filter.serial.isEmpty() ? WeighingReport::serialsOf(records) : filter.serial;
    report.setInstrument(instrument);
    if (!report.write(out, error)) {
        return CliOutput::fail(InstrumentSession::ExitFailure, error);
    }
    CliOutput::out(QStringLiteral("%1 results written to %2 (%3 pages)")
                       .arg(records.size())
                       .arg(out)
                       .arg(report.pageCount()));
    return InstrumentSession::ExitOk;
}
} // namespace

namespace ReportCommand {

bool requested(int argc, char* argv[])
{
    return commandRequested(argc, argv, "report", {"--db", "--from", "--to", "--serial"});
}

int run(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption dbOption(QStringLiteral("db"), QStringLiteral("The database file."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QStringLiteral("First time included."),
                                        QStringLiteral("DATETIME"));
    const QCommandLineOption toOption(QStringLiteral("to"), QStringLiteral("Last time included."),
                                      QStringLiteral("DATETIME"));
    const QCommandLineOption serialOption(QStringLiteral("serial"), QStringLiteral("Only this instrument."),
                                          QStringLiteral("S"));
    parser.addOptions({dbOption, fromOption, toOption, serialOption});
    if (!parser.parse(arguments)) {
        return CliOutput::fail(InstrumentSession::ExitUsage, parser.errorText());
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        return CliOutput::fail(InstrumentSession::ExitUsage,
                               QStringLiteral("usage: mervik-cli report [--db FILE] [--from DATETIME] [--to "
                                              "DATETIME] [--serial S] OUT.pdf"));
    }
    FeedRecords::Filter filter;
    filter.serial = parser.value(serialOption);
    for (const auto& bound :
         {std::make_pair(&fromOption, &filter.from), std::make_pair(&toOption, &filter.to)}) {
        if (parser.isSet(*bound.first)) {
            *bound.second = readDateTime(parser.value(*bound.first), bound.first == &toOption);
            if (!bound.second->isValid()) {
                return CliOutput::fail(InstrumentSession::ExitUsage,
                                       QStringLiteral("--%1 expects yyyy-MM-dd or yyyy-MM-dd HH:mm:ss")
                                           .arg(bound.first->names().constFirst()));
            }
        }
    }
    if (filter.from.isValid() && filter.to.isValid() && filter.from > filter.to) {
        return CliOutput::fail(InstrumentSession::ExitUsage, QStringLiteral("--from is after --to"));
    }
    const QString path = parser.isSet(dbOption) ? parser.value(dbOption) : AppDatabase::defaultPath();
    if (!QFileInfo(path).isFile()) {
        return CliOutput::fail(InstrumentSession::ExitFailure,
                               QStringLiteral("%1: no such database").arg(path));
    }
    const int status = readAndWrite(path, filter, args.at(1));
    QSqlDatabase::removeDatabase(QLatin1String(Connection));
    return status;
}

} // namespace ReportCommand
