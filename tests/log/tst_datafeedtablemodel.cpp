#include "log/appdatabase.h"
#include "log/datafeedtablemodel.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

namespace {

enum Change
{
    NoChange,
    Append,
    EditNotes,
    RemoveInside,
    RemoveLastThenAppend
};

QStringList fields(int i)
{
    return {QStringLiteral("03-04-2026"),      QStringLiteral("05:06:07"), QStringLiteral("SN 1234"),
            QString::number(i * 0.01, 'f', 2), QStringLiteral("g"),        QString()};
}

// Rows numbered with gaps of different widths, as deletions leave them.
void fill(int rows)
{
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("DROP TABLE IF EXISTS DATAFEED")));
    QVERIFY(query.exec(QLatin1String(DataFeedTableModel::CreateStatement)));
    db.transaction();
    query.prepare(QStringLiteral("INSERT INTO DATAFEED VALUES ('', ?, ?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < rows; ++i) {
        query.addBindValue(2 * i + (i % 3 == 0 ? 1 : 0));
        for (const QString& field : fields(i)) {
            query.addBindValue(field.isNull() ? QStringLiteral("") : field);
        }
        QVERIFY(query.exec());
    }
    QVERIFY(db.commit());
}

// Every committed row, through a connection of its own.
QStringList committedRows(const QString& path)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED "
                                  "ORDER BY COUNT"));
        while (query.next()) {
            QStringList row;
            for (int c = 0; c < DataFeedTableModel::ColumnCount; ++c) {
                row << query.value(c).toString();
            }
            rows << row.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return rows;
}

// The model's rows in order, read block by block in an order that jumps across the table through
// more blocks than the model holds, so that every way of finding rows is taken.
QStringList modelRows(const DataFeedTableModel& model)
{
    const int rows = model.rowCount();
    const int blocks = (rows + DataFeedTableModel::BlockRows - 1) / DataFeedTableModel::BlockRows;
    int stride = blocks / 3 + 1;
    while (std::gcd(stride, blocks) > 1) {
        ++stride;
    }
    QVector<QString> read(rows);
    for (int k = 0; k < blocks; ++k) {
        const int block = int(qint64(k) * stride % blocks);
        const int end = std::min(rows, (block + 1) * DataFeedTableModel::BlockRows);
        for (int r = block * DataFeedTableModel::BlockRows; r < end; ++r) {
            QStringList row;
            for (int c = 0; c < DataFeedTableModel::ColumnCount; ++c) {
                row << model.index(r, c).data().toString();
            }
            read[r] = row.join(QLatin1Char('|'));
        }
    }
    return read.toList();
}

} // namespace

// The data feed model against the table it shows: whatever is changed through it and wherever it
// is read, it shows exactly the table's rows in COUNT order and holds only a bounded part of them.
class TstDataFeedTableModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsExactlyTheTableRows_data();
    void showsExactlyTheTableRows();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TstDataFeedTableModel::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("myDbQel.db"));
    QVERIFY(AppDatabase::open(m_path));
}

void TstDataFeedTableModel::showsExactlyTheTableRows_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("change");
    QTest::newRow("opened") << 10000 << int(NoChange);
    QTest::newRow("appended across a block's end") << 10000 << int(Append);
    QTest::newRow("appended to an empty table") << 0 << int(Append);
    QTest::newRow("notes edited") << 10000 << int(EditNotes);
    QTest::newRow("removed inside") << 10000 << int(RemoveInside);
    QTest::newRow("last removed, then appended") << 10000 << int(RemoveLastThenAppend);
}

void TstDataFeedTableModel::showsExactlyTheTableRows()
{
    QFETCH(int, stored);
    QFETCH(int, change);
    fill(stored);
    DataFeedTableModel model;
    QVERIFY(model.select());
    QCOMPARE(model.rowCount(), stored);
    // Some blocks held, some not, before the change.
    QCOMPARE(modelRows(model), committedRows(m_path));

    qint64 next = model.maxStoredCount() + 1;
    const auto note = [&model](int row, const QString& text) {
        QVERIFY(model.setData(model.index(row, DataFeedTableModel::NoteColumn), text));
    };
    switch (change) {
    case Append:
        for (int i = 0; i < 600; ++i) {
            QVERIFY(model.appendRow(next++, fields(i)));
            // As the view shows it at once.
            QCOMPARE(model.index(model.rowCount() - 1, DataFeedTableModel::ValColumn).data().toString(),
                     fields(i).at(3));
        }
        break;
    case EditNotes:
        note(5000, QStringLiteral("batch \"A\""));
        note(9999, QStringLiteral("last"));
        note(3, QStringLiteral("first | second"));
        break;
    case RemoveInside:
        QVERIFY(model.removeRows(5000, 1));
        QVERIFY(model.removeRows(4990, 300));
        break;
    case RemoveLastThenAppend:
        QVERIFY(model.removeRows(model.rowCount() - 1, 1));
        QVERIFY(model.appendRow(next++, fields(1)));
        break;
    }
    QCOMPARE(modelRows(model), committedRows(m_path));
    // Reading the whole table held no more than the blocks the model keeps.
    QVERIFY(model.cachedRowCount() <= DataFeedTableModel::MaxCachedBlocks * DataFeedTableModel::BlockRows);
}

QTEST_MAIN(TstDataFeedTableModel)
#include "tst_datafeedtablemodel.moc"
