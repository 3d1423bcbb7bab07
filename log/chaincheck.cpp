#include "log/chaincheck.h"

#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QSqlDatabase>

ChainCheck::ChainCheck(QObject* parent) : QObject(parent), m_worker(new QObject)
{
    qRegisterMetaType<ChainVerifier::Report>();
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("chain check"));
    m_thread.start();
}

ChainCheck::~ChainCheck()
{
    // A check under way ends first; its report goes nowhere.
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void ChainCheck::start(const QString& path, qint64 lastLinks)
{
    ++m_running;
    queueCall(m_worker, [this, path, lastLinks] {
        const QString connection = QStringLiteral("chain check %1").arg(quintptr(this));
        ChainVerifier::Report report;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                report = ChainVerifier::verify(db, lastLinks);
            } else {
                report.unreadable = true;
                report.findings << QStringLiteral("cannot be read: %1").arg(path);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        qCInfo(lcLog).noquote() << QStringLiteral("hash chain checked: %1 links, %2 rows, %3 findings")
                                       .arg(report.links)
                                       .arg(report.rows)
                                       .arg(report.findings.size());
        queueCall(this, [this, report] {
            --m_running;
            emit finished(report);
        });
    });
}

QString ChainCheck::summary(const ChainVerifier::Report& report)
{
    if (report.unreadable) {
        return QStringLiteral("Stored results not checked: %1").arg(report.findings.value(0));
    }
    if (report.holds()) {
        return QString();
    }
    return report.findings.size() == 1
               ? QStringLiteral("Stored results changed outside the program: %1").arg(report.findings.first())
               : QStringLiteral("Stored results changed outside the program: %1 and %2 more")
                     .arg(report.findings.first())
                     .arg(report.findings.size() - 1);
}
