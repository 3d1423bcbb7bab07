#include "log/audittrail.h"
#include "log/chaincheck.h"
#include "log/chainverifier.h"
#include "log/datafeedtablemodel.h"
#include "support/testdatabase.h"
#include "ui/log/auditdialog.h"
#include "ui/log/datafeedtableview.h"

#include <QLabel>
#include <QPushButton>

#include <QSignalSpy>
#include <QtTest>

namespace {
QStringList fields(const QString& val)
{
    return QStringLiteral("03-04-2026|05:06:07|SN 1234|%1|g|").arg(val).split(QLatin1Char('|'));
}

QString rowJson(int count, const QString& val, const QString& note = QString())
{
    return QStringLiteral("{\"COUNT\":%1,\"DATE\":\"03-04-2026\",\"NOTE\":\"%3\",\"SN\":\"SN 1234\","
                          "\"TIME\":\"05:06:07\",\"UNIT\":\"g\",\"VAL\":\"%2\"}")
        .arg(count)
        .arg(val, note);
}
} // namespace

// The audit trail of changes to stored results and the hash chain that covers them, as the table
// holds them afterwards.
class TstAudit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_db.isValid()); }
    void changesLeaveEntriesAndTheChainHolds();
    void olderRowsAreNotCovered();
    void checkInTheBackgroundNoticesABreak();

private:
    TestDatabase m_db;
};

void TstAudit::changesLeaveEntriesAndTheChainHolds()
{
    DataFeedTableModel model;
    QVERIFY(model.createTable());
    model.select();
    DataFeedTableView view(&model);
    model.appendRows({fields(QStringLiteral("1")), fields(QStringLiteral("2")), fields(QStringLiteral("3"))});

    QVERIFY(view.editNote(0, QStringLiteral("checked"), QStringLiteral("typo")));
    // The same note again changes nothing and records nothing.
    QVERIFY(model.setData(model.index(0, DataFeedTableModel::NoteColumn), QStringLiteral("checked")));
    view.removeRows({1}, QStringLiteral("wrong sample"));
    view.undoDelete();
    view.removeRows({2});

    const QString user = AuditTrail::userName();
    QCOMPARE(
        TestDatabase::rows(QStringLiteral("SELECT USER, ACTION, COUNT, SN, OLD, NEW, REASON FROM AUDIT")),
        (QStringList{user + QStringLiteral("|NOTE|1|SN 1234||checked|typo"),
                     user + QStringLiteral("|DELETE|2|SN 1234|%1||wrong sample").arg(rowJson(2, "2")),
                     user + QStringLiteral("|RESTORE|2|SN 1234||%1|").arg(rowJson(2, "2")),
                     user + QStringLiteral("|DELETE|3|SN 1234|%1||").arg(rowJson(3, "3"))}));
    ChainVerifier::Report report = ChainVerifier::verify(QSqlDatabase::database());
    QVERIFY2(report.holds(), qPrintable(report.findings.join(QLatin1Char('\n'))));
    QCOMPARE(report.rows, qint64(2));

    // The dialog shows the trail newest first, exports it as the log view exports, checks it all.
    AuditDialog dialog;
    QVERIFY(dialog.exportTo(m_db.filePath(QStringLiteral("audit.tsv"))));
    QFile exported(m_db.filePath(QStringLiteral("audit.tsv")));
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(exported.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines.first().contains(QStringLiteral("\tDeleted\t3\tSN 1234\t")), qPrintable(lines.first()));
    QVERIFY2(lines.last().endsWith(QStringLiteral("\tNote edited\t1\tSN 1234\t\tchecked\ttypo\t")),
             qPrintable(lines.last()));
    dialog.findChild<QPushButton*>(QStringLiteral("verifyButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.checkLabel()->text().startsWith(QStringLiteral("Everything holds")),
                             10000);

    QVERIFY(model.clear());
    QCOMPARE(
        TestDatabase::rows(QStringLiteral("SELECT ACTION, COUNT, OLD FROM AUDIT ORDER BY ID DESC LIMIT 1")),
        QStringList{QStringLiteral("CLEAR||2 results, COUNT 1 to 2")});
    model.appendRow(fields(QStringLiteral("4")));
    report = ChainVerifier::verify(QSqlDatabase::database());
    QVERIFY2(report.holds(), qPrintable(report.findings.join(QLatin1Char('\n'))));
}

void TstAudit::olderRowsAreNotCovered()
{
    const QString name = QStringLiteral("older");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_db.filePath(QStringLiteral("older.db")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QLatin1String(DataFeedTableModel::CreateStatement)));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO DATAFEED VALUES ('', 4, 'd', 't', 'S', '1', 'g', ''), "
                                          "('', 7, 'd', 't', 'S', '2', 'g', '')")));
        DataFeedTableModel model(nullptr, db);
        QVERIFY(model.createTable());
        // Said once: the next start finds the chain begun.
        QCOMPARE(model.chainBeganAfter(), qint64(7));
        QVERIFY(model.createTable());
        QCOMPARE(model.chainBeganAfter(), qint64(0));
        model.select();
        QCOMPARE(model.appendRow(fields(QStringLiteral("3"))), qint64(8));
        ChainVerifier::Report report = ChainVerifier::verify(db);
        QVERIFY2(report.holds(), qPrintable(report.findings.join(QLatin1Char('\n'))));
        QCOMPARE(report.notCovered, qint64(2));
        // A row slipped in below the chain's start is not covered either; one above it is found.
        QVERIFY(query.exec(QStringLiteral("INSERT INTO DATAFEED VALUES ('', 5, 'd', 't', 'S', '9', 'g', ''), "
                                          "('', 9, 'd', 't', 'S', '9', 'g', '')")));
        report = ChainVerifier::verify(db);
        QCOMPARE(report.findings, QStringList{QStringLiteral("row 9: inserted outside the program")});
        QCOMPARE(report.notCovered, qint64(3));
    }
    QSqlDatabase::removeDatabase(name);
}

void TstAudit::checkInTheBackgroundNoticesABreak()
{
    DataFeedTableModel model;
    QVERIFY(model.createTable());
    model.select();
    QVERIFY(model.clear());
    for (int i = 0; i < 4; ++i) {
        model.appendRow(fields(QString::number(i)));
    }
    const qint64 first = model.index(0, DataFeedTableModel::CountColumn).data().toLongLong();
    const qint64 last = model.index(3, DataFeedTableModel::CountColumn).data().toLongLong();
    QSqlQuery query;
    QVERIFY(query.exec(
        QStringLiteral("UPDATE DATAFEED SET VAL = '0.5' WHERE COUNT IN (%1, %2)").arg(first).arg(last)));

    ChainCheck check;
    QSignalSpy finished(&check, &ChainCheck::finished);
    // The newest links only: the newest row's change is found, the oldest one's is beyond the bound.
    check.start(m_db.path(), 2);
    check.start(m_db.path(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
    const auto bounded = finished.at(0).at(0).value<ChainVerifier::Report>();
    QCOMPARE(bounded.findings, QStringList{QStringLiteral("row %1: altered").arg(last)});
    QVERIFY(ChainCheck::summary(bounded).contains(QStringLiteral("row %1: altered").arg(last)));
    const auto whole = finished.at(1).at(0).value<ChainVerifier::Report>();
    QCOMPARE(whole.findings, (QStringList{QStringLiteral("row %1: altered").arg(first),
                                          QStringLiteral("row %1: altered").arg(last)}));
    QVERIFY(!check.isRunning());
}

QTEST_MAIN(TstAudit)
#include "tst_audit.moc"
