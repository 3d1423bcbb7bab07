// The results chart and the weighing report: what the chart draws after thinning, and what a
// report holds once read back as text.
#include "log/datafeedtablemodel.h"
#include "support/testdatabase.h"
#include "ui/chart/feedchartpage.h"
#include "ui/chart/feedchartview.h"
#include "ui/chart/feedseries.h"
#include "ui/chart/feedstatisticspanel.h"

#include <QItemSelectionModel>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class TstChart : public QObject
{
    Q_OBJECT

private slots:
    void thinning_data();
    void thinning();
    void selection_data();
    void selection();
    void report();

private:
    // Appends rows of value texts (DATE, TIME, SN, VAL, UNIT, NOTE), one second apart.
    static void fill(DataFeedTableModel& model, int rows, const QString& unit = QStringLiteral("g"));

    TestDatabase m_db;
};

void TstChart::fill(DataFeedTableModel& model, int rows, const QString& unit)
{
    QSqlDatabase::database().transaction();
    QSqlQuery insert;
    insert.prepare(QStringLiteral("INSERT INTO DATAFEED VALUES ('', ?, ?, ?, 'SN123', ?, ?, ?)"));
    const QDateTime start(QDate(2026, 3, 4), QTime(10, 0));
    const qint64 first = model.maxStoredCount() + 1;
    for (int i = 0; i < rows; ++i) {
        const QDateTime at = start.addSecs(i);
        insert.addBindValue(first + i);
        insert.addBindValue(at.toString(QStringLiteral("MM-dd-yyyy")));
        insert.addBindValue(at.toString(QStringLiteral("HH:mm:ss")));
        // A saw tooth: each column of a thinned chart still has a distinct lowest and highest value.
        insert.addBindValue(QString::number(10 + (i % 7) * 0.125, 'f', 3));
        insert.addBindValue(unit);
        insert.addBindValue(QStringLiteral("note %1").arg(i));
        insert.exec();
    }
    QSqlDatabase::database().commit();
    model.fetchNew();
}

void TstChart::thinning_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("thinned");
    QTest::newRow("fits") << 60 << false;
    QTest::newRow("thinned") << 30000 << true;
}

void TstChart::thinning()
{
    QFETCH(int, rows);
    QFETCH(bool, thinned);
    QVERIFY(m_db.isValid());
    DataFeedTableModel model;
    model.clear();
    fill(model, rows);
    FeedSeries series;
    series.setModel(&model);
    FeedChartView view;
    view.resize(500, 300);
    view.setSeries(&series);
    view.show();
    // Read over frames, a part of a long table at a time.
    QTRY_COMPARE_WITH_TIMEOUT(series.rowsTaken(), rows, 10000);
    view.grab();
    // The whole series is kept; only what is drawn is thinned.
    QCOMPARE(series.chart().pointCount(), rows);
    QCOMPARE(series.statistics().count(), qint64(rows));
    if (thinned) {
        // The lowest and highest of each pixel column: the plot is narrower than the view.
        QVERIFY2(view.shownPointCount() <= 2 * view.width(),
                 qPrintable(QString::number(view.shownPointCount())));
        QVERIFY(view.shownPointCount() > view.width());
        // Every column of the saw tooth reaches both its ends: none lost.
        const QVector<int> kept = FeedChartPainter::thin(series.chart().points(), 100);
        QCOMPARE(kept.size(), 200);
    } else {
        QCOMPARE(view.shownPointCount(), rows);
    }
}

void TstChart::selection_data()
{
    QTest::addColumn<QVector<QPoint>>("ranges");
    QTest::addColumn<bool>("chartShown");
    QTest::addColumn<int>("shown");
    QTest::newRow("none") << QVector<QPoint>{} << true << 60;
    QTest::newRow("one row") << QVector<QPoint>{{5, 5}} << true << 60;
    QTest::newRow("range") << QVector<QPoint>{{10, 34}} << true << 25;
    // Picked piece by piece, overlapping; beside the table, where the chart is hidden.
    QTest::newRow("pieces, table") << QVector<QPoint>{{2, 4}, {50, 59}, {3, 6}} << false << 15;
}

void TstChart::selection()
{
    QFETCH(QVector<QPoint>, ranges);
    QFETCH(bool, chartShown);
    QFETCH(int, shown);
    DataFeedTableModel model;
    model.clear();
    fill(model, 60);
    QItemSelectionModel selection(&model);
    FeedChartPage page;
    page.setModel(&model);
    page.setSelectionModel(&selection);
    page.chartView()->setVisible(chartShown);
    page.show();
    FeedSeries* series = page.series();
    QTRY_COMPARE(series->statistics().count(), qint64(60));

    for (const QPoint& range : ranges) {
        selection.select(QItemSelection(model.index(range.x(), 0), model.index(range.y(), 0)),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    const QString scope =
        shown == 60 ? QStringLiteral("All results") : QStringLiteral("Selected: %1 results").arg(shown);
    QTRY_COMPARE(series->scopeText(), scope);
    QTRY_COMPARE(series->statistics().count(), qint64(shown));
    QCOMPARE(series->chart().pointCount(), shown);
    QCOMPARE(series->chart().caption(), scope);
    QTRY_VERIFY(page.statisticsPanel()->text().contains(scope));
    // The report holds the same rows.
    QCOMPARE(series->records().size(), shown);
    // In row order, from the first row selected.
    const int first = shown == 60 ? 0 : ranges.first().x();
    QCOMPARE(series->records().first().count,
             model.index(first, DataFeedTableModel::CountColumn).data().toLongLong());

    selection.clearSelection();
    QTRY_COMPARE(series->statistics().count(), qint64(60));
    QCOMPARE(series->scopeText(), QStringLiteral("All results"));
}

void TstChart::report()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty()) {
        QSKIP("pdftotext (poppler-utils) is not installed: the report cannot be read back");
    }
    DataFeedTableModel model;
    model.clear();
    fill(model, 130);
    fill(model, 1, QStringLiteral("kg"));
    FeedChartPage page;
    page.setModel(&model);
    const QString path = m_db.filePath(QStringLiteral("report.pdf"));
    QString error;
    QVERIFY2(page.writeReport(path, error), qPrintable(error));

    QProcess text;
    text.start(pdftotext, {QStringLiteral("-layout"), path, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(20000));
    const QString pdf = QString::fromUtf8(text.readAllStandardOutput());
    // Figures of the 130 g results (values 10 + k/8, k = i mod 7): computed apart in the test below.
    double sum = 0;
    double squares = 0;
    for (int i = 0; i < 130; ++i) {
        const double v = 10 + (i % 7) * 0.125;
        sum += v;
        squares += v * v;
    }
    const double mean = sum / 130;
    const double deviation = std::sqrt((squares - sum * sum / 130) / 129);
    const QStringList expected{QStringLiteral("%1 g").arg(mean, 0, 'f', 3),
                               QStringLiteral("%1 g").arg(deviation, 0, 'f', 3),
                               QStringLiteral("Results"),
                               QStringLiteral("130"),
                               QStringLiteral("Left out (other unit)"),
                               QStringLiteral("SN123"),
                               QStringLiteral("note 0"),
                               QStringLiteral("note 129"),
                               QStringLiteral("03-04-2026"),
                               QStringLiteral("10:02:09"),
                               QStringLiteral("Weighed by"),
                               QStringLiteral("Checked by"),
                               QStringLiteral("Page 1 of"),
                               QStringLiteral("2026-03-04 10:00:00 to 2026-03-04 10:02:09")};
    for (const QString& e : expected) {
        QVERIFY2(pdf.contains(e), qPrintable(e + QStringLiteral(" is missing from:\n") + pdf.left(3000)));
    }
    // A row per result and one more in kg, page numbers counted right.
    QCOMPARE(pdf.count(QRegularExpression(QStringLiteral("note \\d+"))), 131);
    const QRegularExpressionMatch pages = QRegularExpression(QStringLiteral("Page 1 of (\\d+)")).match(pdf);
    QCOMPARE(pdf.count(QStringLiteral("Page ")), pages.captured(1).toInt());
}

QTEST_MAIN(TstChart)
#include "tst_chart.moc"
