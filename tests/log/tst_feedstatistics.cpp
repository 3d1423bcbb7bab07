// The statistics of stored results, against figures worked out by hand or in closed form.
#include "log/feedstatistics.h"

#include <QtTest>

#include <cmath>

class TstFeedStatistics : public QObject
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
    void longSeriesKeepsItsDigits();
};

void TstFeedStatistics::figures_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("units");
    // count, other unit, unreadable, mean, deviation, cv, min, max, range
    QTest::addColumn<QStringList>("expected");

    // s = sqrt(5/3) = 1.29099..., cv = s / 2.5 = 51.64 %
    QTest::newRow("plain") << QStringList{"1.0", "2.0", "3.0", "4.0"} << QStringList{"g", "g", "g", "g"}
                           << QStringList{"4", "0", "0", "2.5", "1.3", "51.64", "1.0", "4.0", "3.0"};
    // Another unit and a text that is no number are left out and counted; the rest as without them.
    QTest::newRow("mixed units") << QStringList{"1.00", "2.00", "5.00", "3.00", "1,5", ""}
                                 << QStringList{"g", "g", "kg", " g", "g", "g"}
                                 << QStringList{"3",     "1",    "2",    "2.00", "1.00",
                                                "50.00", "1.00", "3.00", "2.00"};
    // The most decimals of a result decide; the mean 1.875 rounds half away from zero.
    QTest::newRow("decimals differ") << QStringList{"1.5", "2.25"} << QStringList{"mg", "mg"}
                                     << QStringList{"2",     "0",    "0",    "1.88", "0.53",
                                                    "28.28", "1.50", "2.25", "0.75"};
    QTest::newRow("negative") << QStringList{"-0.002", "-0.004", "+0.000"} << QStringList{"g", "g", "g"}
                              << QStringList{"3",      "0",      "0",     "-0.002", "0.002",
                                             "100.00", "-0.004", "0.000", "0.004"};
    QTest::newRow("one result") << QStringList{"7"} << QStringList{"pcs"}
                                << QStringList{"1", "0", "0", "7", "", "", "7", "7", "0"};
    // Nineteen digits could overflow the exact sums: left out, not wrapped.
    QTest::newRow("too long") << QStringList{"5", "1234567890123456789", "6"} << QStringList{"g", "g", "g"}
                              << QStringList{"2", "0", "1", "6", "1", "12.86", "5", "6", "1"};
}

void TstFeedStatistics::figures()
{
    QFETCH(QStringList, values);
    QFETCH(QStringList, units);
    QFETCH(QStringList, expected);
    FeedStatistics s;
    for (int i = 0; i < values.size(); ++i) {
        s.add(values.at(i), units.at(i));
    }
    const QStringList got{QString::number(s.count()),
                          QString::number(s.otherUnitCount()),
                          QString::number(s.unreadableCount()),
                          s.mean(),
                          s.standardDeviation(),
                          s.coefficientOfVariation(),
                          s.minimum(),
                          s.maximum(),
                          s.range()};
    QCOMPARE(got, expected);
}

void TstFeedStatistics::longSeriesKeepsItsDigits()
{
    // 100,000 results alternating 100000000.001 and 100000000.003 g: the mean is 100000000.002 and
    // s = 0.001 * sqrt(n / (n - 1)). The sum of squares in double (about 1e21) has no digit left for
    // a spread of 1e-3, so the naive formula gives nonsense.
    constexpr int n = 100000;
    FeedStatistics s;
    double sum = 0;
    double squares = 0;
    for (int i = 0; i < n; ++i) {
        const QString text = i % 2 ? QStringLiteral("100000000.003") : QStringLiteral("100000000.001");
        QVERIFY(s.add(text, QStringLiteral("g")));
        const double x = text.toDouble();
        sum += x;
        squares += x * x;
    }
    const double naive = std::sqrt(std::fabs((squares - sum * sum / n) / (n - 1)));
    QVERIFY2(std::fabs(naive - 0.001) > 0.0005, "the series no longer shows the naive formula's loss");

    const long double exact = 0.001L * std::sqrt(static_cast<long double>(n) / (n - 1));
    QVERIFY(std::fabs(s.standardDeviationValue() - exact) < 1e-15L);
    QCOMPARE(s.mean(), QStringLiteral("100000000.002"));
    QCOMPARE(s.standardDeviation(), QStringLiteral("0.001"));
    QCOMPARE(s.range(), QStringLiteral("0.002"));
    QCOMPARE(s.coefficientOfVariation(), QStringLiteral("0.00"));
}

QTEST_GUILESS_MAIN(TstFeedStatistics)
#include "tst_feedstatistics.moc"
