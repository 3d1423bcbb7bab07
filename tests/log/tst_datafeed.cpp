#include "controller/capturecore.h"
#include "log/datafeedtablemodel.h"
#include "support/testdatabase.h"
#include "ui/log/datafeeditemdelegate.h"
#include "ui/log/datafeedtableview.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <memory>
#include <numeric>

namespace {

QStringList fields(const QString& val, const QString& note = QString())
{
    return QStringLiteral("03-04-2026|05:06:07|SN 1234|%1|g|%2").arg(val, note).split(QLatin1Char('|'));
}

QList<qint64> storedCounts()
{
    QList<qint64> counts;
    for (const QString& count :
         TestDatabase::rows(QStringLiteral("SELECT COUNT FROM DATAFEED ORDER BY COUNT"))) {
        counts << count.toLongLong();
    }
    return counts;
}

void moveMouse(QWidget* widget, const QPoint& pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

// Rows numbered with gaps of different widths, as deletions leave them.
void fill(int rows)
{
    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("DELETE FROM DATAFEED")));
    QSqlDatabase::database().transaction();
    query.prepare(QStringLiteral("INSERT INTO DATAFEED VALUES ('', ?, ?, ?, ?, ?, ?, '')"));
    for (int i = 0; i < rows; ++i) {
        query.addBindValue(2 * i + (i % 3 == 0 ? 1 : 0));
        for (const QString& field : fields(QString::number(i * 0.01, 'f', 2)).mid(0, 5)) {
            query.addBindValue(field);
        }
        QVERIFY(query.exec());
    }
    QVERIFY(QSqlDatabase::database().commit());
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

const QString AllColumns =
    QStringLiteral("SELECT typeof(EMPTY), EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE "
                   "FROM DATAFEED ORDER BY COUNT");

// A capture and its table, as one start of the program makes them; the capture outlives the view.
struct OwnCapture
{
    CaptureCore capture;
};
class FeedView : private OwnCapture, public DataFeedTableView
{
public:
    FeedView() : DataFeedTableView(capture.model()) {}
};

} // namespace

// The data feed's table, model and view: whatever is changed through them and wherever it is read,
// they show exactly the table's rows in COUNT order, and the model holds only a bounded part of them.
class TstDataFeed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_db.isValid()); }
    void init() { TestDatabase::rows(QStringLiteral("DELETE FROM DATAFEED")); }
    void modelShowsExactlyTheTableRows_data();
    void modelShowsExactlyTheTableRows();
    void countNumbersAcrossRestartsDeletesAndClears();
    void valuesAreStoredUnchanged_data();
    void valuesAreStoredUnchanged();
    void pointerDeletesTheRowAndEditsSurviveNewRows();
    void deleteTakesThePressedRowOnly();
    void opensAtItsEndAndFollowsIt();
    void rowsHoldStillUnderThePointerAndDeletionsUndo();
    void twoProgramsStoreSideBySide();
    void keptRowCountFollowsEveryWriter_data();
    void keptRowCountFollowsEveryWriter();

private:
    std::unique_ptr<FeedView> shownView(int rows = 0);

    TestDatabase m_db;
};

std::unique_ptr<FeedView> TstDataFeed::shownView(int rows)
{
    auto view = std::make_unique<FeedView>();
    view->resize(600, 400);
    view->show();
    for (int i = 1; i <= rows; ++i) {
        view->addRow(fields(QString::number(i)));
    }
    return view;
}

void TstDataFeed::modelShowsExactlyTheTableRows_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("change");
    QTest::newRow("opened") << 10000 << "";
    QTest::newRow("appended across a block's end") << 10000 << "append";
    QTest::newRow("appended to an empty table") << 0 << "append";
    QTest::newRow("notes edited") << 10000 << "notes";
    QTest::newRow("removed inside") << 10000 << "remove";
    QTest::newRow("last removed, then appended") << 10000 << "remove last";
}

void TstDataFeed::modelShowsExactlyTheTableRows()
{
    QFETCH(int, stored);
    QFETCH(QString, change);
    fill(stored);
    const QString table = QStringLiteral("SELECT * FROM DATAFEED ORDER BY COUNT");
    DataFeedTableModel model;
    QVERIFY(model.select());
    QCOMPARE(model.rowCount(), stored);
    // Some blocks held, some not, before the change.
    QCOMPARE(modelRows(model), m_db.committedRows(table));

    const auto note = [&model](int row, const QString& text) {
        QVERIFY(model.setData(model.index(row, DataFeedTableModel::NoteColumn), text));
    };
    if (change == QLatin1String("append")) {
        for (int i = 0; i < 600; ++i) {
            QVERIFY(model.appendRow(fields(QString::number(i))) > 0);
            // As the view shows it at once.
            QCOMPARE(model.index(model.rowCount() - 1, DataFeedTableModel::ValColumn).data().toString(),
                     QString::number(i));
        }
    } else if (change == QLatin1String("notes")) {
        note(5000, QStringLiteral("batch \"A\""));
        note(9999, QStringLiteral("last"));
        note(3, QStringLiteral("first | second"));
    } else if (change == QLatin1String("remove")) {
        QVERIFY(model.removeRows(5000, 1));
        QVERIFY(model.removeRows(4990, 300));
    } else if (change == QLatin1String("remove last")) {
        QVERIFY(model.removeRows(model.rowCount() - 1, 1));
        QVERIFY(model.appendRow(fields(QStringLiteral("1"))) > 0);
    }
    QCOMPARE(modelRows(model), m_db.committedRows(table));
    // Reading the whole table held no more than the blocks the model keeps.
    QVERIFY(model.cachedRowCount() <= DataFeedTableModel::MaxCachedBlocks * DataFeedTableModel::BlockRows);
}

void TstDataFeed::countNumbersAcrossRestartsDeletesAndClears()
{
    auto view = std::make_unique<FeedView>();
    QCOMPARE(view->nextCount(), 1);
    for (int i = 0; i < 5; ++i) {
        view->addRow(fields(QString::number(i)));
    }
    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 4, 5}));

    // The next run goes on after the rows it finds.
    view = std::make_unique<FeedView>();
    QCOMPARE(view->model()->rowCount(), 5);
    QCOMPARE(view->nextCount(), 6);

    // A deleted row leaves a gap; the numbering goes on after the highest number given.
    view->removeRow(4);
    view->addRow(fields(QStringLiteral("x")));
    view->removeRow(4);
    view->addRow(fields(QStringLiteral("y")));
    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 4, 7}));
    view = std::make_unique<FeedView>();
    QCOMPARE(view->nextCount(), 8);

    view->clearAll();
    QCOMPARE(view->model()->rowCount(), 0);
    view->addRow(fields(QStringLiteral("z")));
    QCOMPARE(storedCounts(), QList<qint64>{1});
    QCOMPARE(view->model()->index(0, DataFeedTableModel::CountColumn).data().toLongLong(), 1);
}

void TstDataFeed::valuesAreStoredUnchanged_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::newRow("double quotes") << QStringList{"03-04-2026", "05:06:07", "SN \"7\"",
                                                  "1\",\"2",    "g",        "a \"b\""};
    QTest::newRow("single quotes and separators")
        << QStringList{"03-04-2026", "05:06:07", "it's", "1;2\t3", "kg\r\n", "); DROP TABLE DATAFEED; --"};
}

void TstDataFeed::valuesAreStoredUnchanged()
{
    QFETCH(QStringList, values);
    auto view = std::make_unique<FeedView>();
    view->addRow(values);
    QCOMPARE(m_db.committedRows(AllColumns), QStringList{"text||1|" + values.join(QLatin1Char('|'))});
    // Only the note can be edited, and an edit is stored at once.
    QAbstractItemModel* model = view->model();
    for (int c = 0; c < DataFeedTableModel::ColumnCount; ++c) {
        QCOMPARE(bool(model->flags(model->index(0, c)) & Qt::ItemIsEditable),
                 c == DataFeedTableModel::NoteColumn);
    }
    QVERIFY(!model->setData(model->index(0, DataFeedTableModel::ValColumn), QStringLiteral("9.99")));
    QVERIFY(model->setData(model->index(0, DataFeedTableModel::NoteColumn), values.at(3)));
    values[5] = values.at(3);
    QCOMPARE(m_db.committedRows(AllColumns), QStringList{"text||1|" + values.join(QLatin1Char('|'))});
}

void TstDataFeed::pointerDeletesTheRowAndEditsSurviveNewRows()
{
    auto view = shownView(10);
    auto* delegate = qobject_cast<DataFeedItemDelegate*>(view->itemDelegate());
    QVERIFY(delegate);
    const QPoint val = view->visualRect(view->model()->index(3, DataFeedTableModel::ValColumn)).topLeft();
    const QPoint note = view->visualRect(view->model()->index(3, DataFeedTableModel::NoteColumn)).topLeft();
    moveMouse(view->viewport(), val + QPoint(5, 5));
    QCOMPARE(delegate->hoveredRow(), 3);
    QVERIFY(view->isDeleteButtonRaised());
    const QImage image = view->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(val + QPoint(2, 2)), QColor(0xcc, 0xcc, 0xcc));
    QCOMPARE(image.pixelColor(note + QPoint(2, 2)), QColor(0xcc, 0xff, 0xcc));

    // Onto the scroll bar, or out of the table: the button goes behind the table and the highlight goes.
    moveMouse(view->verticalScrollBar(), QPoint(2, 2));
    QVERIFY(!view->isDeleteButtonRaised());
    QCOMPARE(delegate->hoveredRow(), -1);
    moveMouse(view->viewport(), val + QPoint(5, 5));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    QVERIFY(!view->isDeleteButtonRaised());
    QCOMPARE(delegate->hoveredRow(), -1);
    QVERIFY(view->viewport()->grab().toImage().pixelColor(val + QPoint(2, 2)) != QColor(0xcc, 0xcc, 0xcc));

    // The button deletes the row under the pointer; the selection stays on the row it was on.
    view->selectRow(7);
    moveMouse(view->viewport(), val + QPoint(5, 5));
    view->deleteButtonWidget()->click();
    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 5, 6, 7, 8, 9, 10}));
    const QModelIndexList selected = view->selectionModel()->selectedRows(DataFeedTableModel::CountColumn);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().data().toLongLong(), 8);

    // A row that comes in while a note is edited leaves the editor and its text alone.
    view->edit(view->model()->index(0, DataFeedTableModel::NoteColumn));
    QPointer<QLineEdit> editor = view->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("typing"));
    view->addRow(fields(QStringLiteral("11")));
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("typing"));
}

void TstDataFeed::deleteTakesThePressedRowOnly()
{
    // Pressed on one row; while the button is held the rows slide (results arrive, the view follows
    // them), so another row is under the pointer at the release: nothing goes. Pressed and released on
    // the same row: that row goes.
    auto view = shownView(40);
    view->scrollToTop();
    // The delete menu acts on whole rows: the right button on a cell must select its row.
    const QPoint cell = view->visualRect(view->model()->index(2, DataFeedTableModel::ValColumn)).center();
    QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier, cell);
    const QModelIndexList rows = view->selectionModel()->selectedRows(DataFeedTableModel::CountColumn);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().data().toLongLong(), 3);

    const QPoint at = view->visualRect(view->model()->index(5, DataFeedTableModel::EmptyColumn)).center();
    QPushButton* button = view->deleteButtonWidget();
    moveMouse(view->viewport(), at);
    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + 2 * view->rowHeight(0));
    moveMouse(view->viewport(), at);
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QCOMPARE(view->model()->rowCount(), 40);
    const qint64 under =
        view->model()->index(view->hoveredRow(), DataFeedTableModel::CountColumn).data().toLongLong();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QCOMPARE(view->model()->rowCount(), 39);
    QVERIFY(!storedCounts().contains(under));
}

void TstDataFeed::opensAtItsEndAndFollowsIt()
{
    // Rows of an earlier run; the page opens on another view, so results arrive before the feed is shown.
    fill(500);
    FeedView view;
    view.resize(600, 400);
    view.addRow(fields(QStringLiteral("1")));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const auto lastShown = [&view] {
        const QModelIndex last =
            view.model()->index(view.model()->rowCount() - 1, DataFeedTableModel::ValColumn);
        return view.viewport()->rect().contains(view.visualRect(last));
    };
    QTRY_VERIFY(lastShown());
    view.addRow(fields(QStringLiteral("2")));
    QVERIFY(lastShown());

    // Scrolled up, the user keeps the place; back at the end, the view follows again.
    QScrollBar* bar = view.verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int place = bar->value();
    view.addRow(fields(QStringLiteral("3")));
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), place);
    QVERIFY(!lastShown());
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    view.addRow(fields(QStringLiteral("4")));
    QVERIFY(lastShown());
}

void TstDataFeed::rowsHoldStillUnderThePointerAndDeletionsUndo()
{
    auto view = shownView(40);
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QWidget* viewport = view->viewport();
    const auto countAt = [&view](int row) {
        return view->model()->index(row, DataFeedTableModel::CountColumn).data().toLongLong();
    };
    const auto lastShown = [&view, viewport] {
        const QModelIndex last = view->model()->index(view->model()->rowCount() - 1, 0);
        return view->visualRect(last).bottom() < viewport->height();
    };
    QVERIFY(lastShown());

    // The pointer comes to rest on a row, as a user's does, while results stream in.
    const QPoint at(viewport->width() / 2, viewport->height() / 2);
    QCursor::setPos(viewport->mapToGlobal(at));
    QTRY_COMPARE(view->hoveredRow(), view->rowAt(at.y()));
    const qint64 pointed = countAt(view->rowAt(at.y()));
    QVERIFY(view->model()->setData(view->model()->index(view->rowAt(at.y()), DataFeedTableModel::NoteColumn),
                                   QStringLiteral("checked")));
    const QString stored =
        QStringLiteral("SELECT typeof(EMPTY), EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE "
                       "FROM DATAFEED WHERE COUNT = %1")
            .arg(pointed);
    const QStringList deleted = m_db.committedRows(stored);
    QCOMPARE(deleted.size(), 1);
    for (int i = 0; i < 5; ++i) {
        view->addRow(fields(QStringLiteral("new")));
        QCoreApplication::processEvents();
    }
    QCOMPARE(countAt(view->rowAt(at.y())), pointed);
    QPushButton* button = view->deleteButtonWidget();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QList<qint64> counts = storedCounts();
    QCOMPARE(counts.size(), 44);
    QVERIFY(!counts.contains(pointed));

    // Stored and counted, not shown; the notice takes the deletion back with every field as it was.
    auto* newRows = view->findChild<QPushButton*>(QStringLiteral("newRowsNotice"));
    auto* undo = view->findChild<QPushButton*>(QStringLiteral("undoButton"));
    QVERIFY(newRows && undo);
    QVERIFY(newRows->isVisible());
    QCOMPARE(newRows->text(), QStringLiteral("5 new results \u2193"));
    QCOMPARE(view->findChild<QLabel*>(QStringLiteral("undoLabel"))->text(),
             QStringLiteral("Result %1 deleted \u2014").arg(pointed));
    QVERIFY(undo->isVisible());
    QTest::mouseClick(undo, Qt::LeftButton);
    QVERIFY(!undo->isVisible());
    QCOMPARE(m_db.committedRows(stored), deleted);
    counts << pointed;
    std::sort(counts.begin(), counts.end());
    QCOMPARE(storedCounts(), counts);
    QCOMPARE(countAt(view->rowAt(at.y())), pointed);

    // The notice shows the new rows; off the rows, the feed follows them again.
    QTest::mouseClick(newRows, Qt::LeftButton);
    QVERIFY(lastShown());
    QVERIFY(!newRows->isVisible());
    view->addRow(fields(QStringLiteral("held")));
    QVERIFY(!lastShown());
    QCursor::setPos(view->mapToGlobal(QPoint(-50, -50)));
    QTRY_VERIFY(lastShown());
    view->addRow(fields(QStringLiteral("followed")));
    QVERIFY(lastShown());
}

// Two programs on one database file, each with its own connection: every result of both is stored, in
// the order stored, and each program shows the other's rows too.
void TstDataFeed::twoProgramsStoreSideBySide()
{
    const QString name = QStringLiteral("other program");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        other.setDatabaseName(m_db.path());
        QVERIFY(other.open());
        DataFeedTableModel first;
        DataFeedTableModel second(nullptr, other);
        QVERIFY(first.select());
        QVERIFY(second.select());
        QSignalSpy firstStored(&first, &DataFeedTableModel::rowsStored);
        QStringList expected;
        for (int i = 1; i <= 10; ++i) {
            QCOMPARE(first.appendRow(fields(QStringLiteral("a%1").arg(i))), qint64(2 * i - 1));
            QCOMPARE(second.appendRow(fields(QStringLiteral("b%1").arg(i))), qint64(2 * i));
            expected << QStringLiteral("%1|a%2").arg(2 * i - 1).arg(i)
                     << QStringLiteral("%1|b%2").arg(2 * i).arg(i);
        }
        QCOMPARE(m_db.committedRows(QStringLiteral("SELECT COUNT, VAL FROM DATAFEED ORDER BY COUNT")),
                 expected);
        // The last row of the second program reaches the first without a result of its own.
        const int signalled = firstStored.count();
        QTRY_COMPARE(first.rowCount(), 20);
        QCOMPARE(firstStored.count(), signalled + 1);
        QCOMPARE(modelRows(first),
                 m_db.committedRows(QStringLiteral("SELECT * FROM DATAFEED ORDER BY COUNT")));
        QCOMPARE(modelRows(second), modelRows(first));
    }
    QSqlDatabase::removeDatabase(name);
}

void TstDataFeed::keptRowCountFollowsEveryWriter_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("opened by an older version") << "";
    QTest::newRow("appended") << "append";
    QTest::newRow("removed") << "remove";
    QTest::newRow("cleared, then appended") << "clear";
    QTest::newRow("deletion undone") << "restore";
    QTest::newRow("another program stores and deletes") << "other";
    QTest::newRow("triggers dropped by hand") << "drop";
    QTest::newRow("count set to more than the COUNTs allow") << "overcount";
    QTest::newRow("count set to none") << "zero";
}

// Whoever writes, the count the database keeps is the table's, and the model shows every row once.
void TstDataFeed::keptRowCountFollowsEveryWriter()
{
    QFETCH(QString, change);
    // A database of a version that kept no count.
    TestDatabase::rows(QStringLiteral("DROP TABLE IF EXISTS DATAFEED_ROWCOUNT"));
    TestDatabase::rows(QStringLiteral("DROP TRIGGER IF EXISTS DATAFEED_rowcount_insert"));
    TestDatabase::rows(QStringLiteral("DROP TRIGGER IF EXISTS DATAFEED_rowcount_delete"));
    fill(700);
    const QString name = QStringLiteral("other program");
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    other.setDatabaseName(m_db.path());
    QVERIFY(other.open());
    {
        DataFeedTableModel model;
        QVERIFY(model.createTable());
        QVERIFY(model.select());
        const auto byHand = [&other](const QString& statement) { return QSqlQuery(other).exec(statement); };
        if (change == QLatin1String("append")) {
            model.appendRows({fields(QStringLiteral("a")), fields(QStringLiteral("b"))});
            QVERIFY(model.appendRow(fields(QStringLiteral("c"))) > 0);
        } else if (change == QLatin1String("remove")) {
            QVERIFY(model.removeRows(300, 20));
            QVERIFY(model.removeRows(model.rowCount() - 1, 1));
        } else if (change == QLatin1String("clear")) {
            QVERIFY(model.clear());
            QVERIFY(model.appendRow(fields(QStringLiteral("a"))) > 0);
        } else if (change == QLatin1String("restore")) {
            const QVariantList row = model.storedRow(400);
            QVERIFY(model.removeRows(400, 1));
            QVERIFY(model.restoreRow(row));
        } else if (change == QLatin1String("other")) {
            DataFeedTableModel second(nullptr, other);
            QVERIFY(second.select());
            QVERIFY(second.appendRow(fields(QStringLiteral("b"))) > 0);
            QVERIFY(second.removeRows(100, 3));
            QTRY_COMPARE(model.rowCount(), 698);
        } else if (change == QLatin1String("drop")) {
            QVERIFY(byHand(QStringLiteral("DROP TRIGGER DATAFEED_rowcount_insert")));
            QVERIFY(
                byHand(QStringLiteral("INSERT INTO DATAFEED VALUES ('', 5000, '', '', '', 'x', '', '')")));
            model.select();
        } else if (change == QLatin1String("overcount")) {
            QVERIFY(byHand(QStringLiteral("UPDATE DATAFEED_ROWCOUNT SET ROWS = 5000")));
            model.select();
        } else if (change == QLatin1String("zero")) {
            QVERIFY(byHand(QStringLiteral("UPDATE DATAFEED_ROWCOUNT SET ROWS = 0")));
            model.select();
        }
        const QStringList counted = m_db.committedRows(QStringLiteral("SELECT COUNT(*) FROM DATAFEED"));
        QCOMPARE(m_db.committedRows(QStringLiteral("SELECT ROWS FROM DATAFEED_ROWCOUNT")), counted);
        QCOMPARE(QString::number(model.rowCount()), counted.value(0));
        QCOMPARE(modelRows(model),
                 m_db.committedRows(QStringLiteral("SELECT * FROM DATAFEED ORDER BY COUNT")));
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

QTEST_MAIN(TstDataFeed)
#include "tst_datafeed.moc"
