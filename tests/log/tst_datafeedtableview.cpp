#include "log/appdatabase.h"
#include "log/datafeeditemdelegate.h"
#include "log/datafeedtablemodel.h"
#include "log/datafeedtableview.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QStringList fields(const QString& val, const QString& note = QString())
{
    return {QStringLiteral("03-04-2026"), QStringLiteral("05:06:07"),
            QStringLiteral("SN 1234"),    val,
            QStringLiteral("g"),          note};
}

// Every stored row, read through a connection of its own so that only committed rows count.
QStringList committedRows(const QString& path)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral(
            "SELECT typeof(EMPTY), EMPTY, COUNT, DATE, TIME, SN, VAL, UNIT, NOTE FROM DATAFEED "
            "ORDER BY COUNT"));
        while (query.next()) {
            QStringList row;
            for (int c = 0; c < 9; ++c) {
                row << query.value(c).toString();
            }
            rows << row.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return rows;
}

QList<qint64> storedCounts()
{
    QList<qint64> counts;
    QSqlQuery query(QStringLiteral("SELECT COUNT FROM DATAFEED ORDER BY COUNT"));
    while (query.next()) {
        counts << query.value(0).toLongLong();
    }
    return counts;
}

void moveMouse(QWidget* widget, const QPoint& pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

} // namespace

class TstDataFeedTableView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void countNumbersAcrossRestartsDeletesAndClears();
    void valuesAreStoredUnchanged_data();
    void valuesAreStoredUnchanged();
    void onlyNoteIsEditableAndStoredAtOnce();
    void deleteButtonRemovesTheRowUnderThePointer();
    void hoverHighlightFollowsThePointer();
    void appendWhileEditingKeepsTheEditor();

private:
    std::unique_ptr<DataFeedTableView> shownView();

    QTemporaryDir m_dir;
    QString m_path;
};

void TstDataFeedTableView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("myDbQel.db"));
    QVERIFY(AppDatabase::open(m_path));
}

void TstDataFeedTableView::init()
{
    QSqlQuery query;
    query.exec(QStringLiteral("DROP TABLE IF EXISTS DATAFEED"));
}

std::unique_ptr<DataFeedTableView> TstDataFeedTableView::shownView()
{
    auto view = std::make_unique<DataFeedTableView>();
    view->resize(600, 400);
    view->show();
    return view;
}

void TstDataFeedTableView::countNumbersAcrossRestartsDeletesAndClears()
{
    auto view = std::make_unique<DataFeedTableView>();
    QCOMPARE(view->nextCount(), 1);
    for (int i = 0; i < 5; ++i) {
        view->addRow(fields(QString::number(i)));
    }
    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 4, 5}));

    // The next run goes on after the rows it finds.
    view = std::make_unique<DataFeedTableView>();
    QCOMPARE(view->model()->rowCount(), 5);
    QCOMPARE(view->nextCount(), 6);

    // A deleted row leaves a gap; the numbering goes on after the highest number given.
    view->removeRow(4);
    view->addRow(fields(QStringLiteral("x")));
    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 4, 6}));
    view->removeRow(4);
    view->addRow(fields(QStringLiteral("y")));
    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 4, 7}));
    view = std::make_unique<DataFeedTableView>();
    QCOMPARE(view->nextCount(), 8);

    view->clearAll();
    QCOMPARE(view->model()->rowCount(), 0);
    QCOMPARE(view->nextCount(), 1);
    view->addRow(fields(QStringLiteral("z")));
    QCOMPARE(storedCounts(), QList<qint64>{1});
    QCOMPARE(view->model()->index(0, DataFeedTableModel::CountColumn).data().toLongLong(), 1);
}

void TstDataFeedTableView::valuesAreStoredUnchanged_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::newRow("plain") << fields(QStringLiteral("12.50"));
    QTest::newRow("double quotes") << QStringList{"03-04-2026", "05:06:07", "SN \"7\"",
                                                  "1\",\"2",    "g",        "a \"b\""};
    QTest::newRow("single quotes and separators")
        << QStringList{"03-04-2026", "05:06:07", "it's", "1;2\t3", "kg\r\n", "); DROP TABLE DATAFEED; --"};
}

void TstDataFeedTableView::valuesAreStoredUnchanged()
{
    QFETCH(QStringList, values);
    auto view = std::make_unique<DataFeedTableView>();
    view->addRow(values);

    const QStringList expected{QStringLiteral("text||1|") + values.join(QLatin1Char('|'))};
    QCOMPARE(committedRows(m_path), expected);
    for (int c = 0; c < values.size(); ++c) {
        QCOMPARE(view->model()->index(0, DataFeedTableModel::DateColumn + c).data().toString(), values.at(c));
    }
}

void TstDataFeedTableView::onlyNoteIsEditableAndStoredAtOnce()
{
    auto view = std::make_unique<DataFeedTableView>();
    view->addRow(fields(QStringLiteral("1.00")));
    QAbstractItemModel* model = view->model();
    for (int c = 0; c < DataFeedTableModel::ColumnCount; ++c) {
        QCOMPARE(bool(model->flags(model->index(0, c)) & Qt::ItemIsEditable),
                 c == DataFeedTableModel::NoteColumn);
    }

    QVERIFY(!model->setData(model->index(0, DataFeedTableModel::ValColumn), QStringLiteral("9.99")));
    QVERIFY(model->setData(model->index(0, DataFeedTableModel::NoteColumn), QStringLiteral("batch \"A\"")));
    QCOMPARE(committedRows(m_path), QStringList{"text||1|03-04-2026|05:06:07|SN 1234|1.00|g|batch \"A\""});
    QCOMPARE(model->index(0, DataFeedTableModel::NoteColumn).data().toString(),
             QStringLiteral("batch \"A\""));
}

void TstDataFeedTableView::deleteButtonRemovesTheRowUnderThePointer()
{
    auto view = shownView();
    for (int i = 1; i <= 10; ++i) {
        view->addRow(fields(QString::number(i)));
    }
    view->selectRow(7);
    const QPoint overRow3 = view->visualRect(view->model()->index(3, DataFeedTableModel::ValColumn)).center();
    moveMouse(view->viewport(), overRow3);
    QCOMPARE(view->hoveredRow(), 3);
    QVERIFY(view->isDeleteButtonRaised());
    const QRect cell = view->visualRect(view->model()->index(3, DataFeedTableModel::EmptyColumn));
    QCOMPARE(view->deleteButtonWidget()->geometry(),
             cell.adjusted(10, 5, -10, -5).translated(view->viewport()->geometry().topLeft()));

    view->deleteButtonWidget()->click();

    QCOMPARE(storedCounts(), (QList<qint64>{1, 2, 3, 5, 6, 7, 8, 9, 10}));
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), 6);
    QCOMPARE(selected.first().sibling(6, DataFeedTableModel::CountColumn).data().toLongLong(), 8);
}

void TstDataFeedTableView::hoverHighlightFollowsThePointer()
{
    auto view = shownView();
    for (int i = 1; i <= 3; ++i) {
        view->addRow(fields(QString::number(i)));
    }
    auto* delegate = qobject_cast<DataFeedItemDelegate*>(view->itemDelegate());
    QVERIFY(delegate);
    const QRect val = view->visualRect(view->model()->index(1, DataFeedTableModel::ValColumn));
    const QRect note = view->visualRect(view->model()->index(1, DataFeedTableModel::NoteColumn));
    QSignalSpy hover(view.get(), &DataFeedTableView::hoverIndexChanged);
    moveMouse(view->viewport(), val.center());
    QCOMPARE(delegate->hoveredRow(), 1);
    QCOMPARE(hover.count(), 1);

    const QImage image = view->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(val.left() + 2, val.top() + 2), QColor(0xcc, 0xcc, 0xcc));
    QCOMPARE(image.pixelColor(note.left() + 2, note.top() + 2), QColor(0xcc, 0xff, 0xcc));

    // Onto the scroll bar: the button goes behind the table and the highlight goes.
    moveMouse(view->verticalScrollBar(), QPoint(2, 2));
    QVERIFY(!view->isDeleteButtonRaised());
    QCOMPARE(view->hoveredRow(), -1);
    QCOMPARE(delegate->hoveredRow(), -1);

    moveMouse(view->viewport(), val.center());
    QCOMPARE(view->hoveredRow(), 1);
    QSignalSpy left(view.get(), &DataFeedTableView::leaveTableEvent);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    QCOMPARE(left.count(), 1);
    QVERIFY(!view->isDeleteButtonRaised());
    QCOMPARE(delegate->hoveredRow(), -1);
    const QImage after = view->viewport()->grab().toImage();
    QVERIFY(after.pixelColor(val.left() + 2, val.top() + 2) != QColor(0xcc, 0xcc, 0xcc));
}

void TstDataFeedTableView::appendWhileEditingKeepsTheEditor()
{
    auto view = shownView();
    view->addRow(fields(QStringLiteral("1")));
    view->edit(view->model()->index(0, DataFeedTableModel::NoteColumn));
    QPointer<QLineEdit> editor = view->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("typing"));

    view->addRow(fields(QStringLiteral("2")));

    QCOMPARE(storedCounts(), (QList<qint64>{1, 2}));
    QCOMPARE(view->model()->rowCount(), 2);
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("typing"));
}

QTEST_MAIN(TstDataFeedTableView)
#include "tst_datafeedtableview.moc"
