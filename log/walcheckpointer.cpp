#include "log/walcheckpointer.h"

#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace {
// SQLite's own threshold, in pages, for the default connection when it checkpoints itself again.
constexpr int DefaultAutoCheckpointPages = 1000;
} // namespace

WalCheckpointer::WalCheckpointer()
{
    QSqlDatabase main = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    if (!main.isOpen()) {
        return;
    }
    const QString path = main.databaseName();
    m_connection = QStringLiteral("checkpoints %1").arg(quintptr(this));
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("checkpoints"));
    m_thread.start();
    bool opened = false;
    waitForCall(m_worker, [this, path, &opened] {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(path);
        opened = db.open();
        if (!opened) {
            qCWarning(lcLog) << "checkpoints stay with the main connection:" << db.lastError().text();
            return;
        }
        auto* timer = new QTimer(m_worker);
        connect(timer, &QTimer::timeout, m_worker, [this] {
            QSqlQuery checkpoint(QSqlDatabase::database(m_connection, false));
            if (!checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"))) {
                qCDebug(lcLog) << "checkpoint:" << checkpoint.lastError().text();
            }
        });
        timer->start(IntervalMs);
    });
    if (opened) {
        QSqlQuery(main).exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
        m_active = true;
    }
}

WalCheckpointer::~WalCheckpointer()
{
    if (!m_worker) {
        return;
    }
    if (m_active) {
        QSqlDatabase main = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        if (main.isOpen()) {
            QSqlQuery(main).exec(
                QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(DefaultAutoCheckpointPages));
        }
    }
    // The connection is closed in the thread that opened it.
    waitForCall(m_worker, [this] {
        qDeleteAll(m_worker->children());
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    });
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}
