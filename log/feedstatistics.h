#pragma once

#include <QString>

// Count, mean, standard deviation, coefficient of variation, minimum, maximum and range of a series
// of stored results, computed exactly from their texts: each value is a decimal integer at the
// series' scale, and the sums (taken from the first value, so that they stay small) are 128-bit
// integers. Only the standard deviation needs a square root, taken in long double of the exact
// variance at the end. Results of another unit than the series' first, and texts that are not
// decimal numbers, are left out and counted.
class FeedStatistics
{
public:
    // Beyond this the exact sums could overflow: such a text is left out as unreadable.
    static constexpr int MaxDigits = 18;

    // Takes in one stored result (VAL and UNIT); false when it was left out.
    bool add(const QString& value, const QString& unit);
    void clear();

    // Results taken in.
    qint64 count() const { return m_count; }
    // Results left out because their unit differs from the series' unit.
    qint64 otherUnitCount() const { return m_otherUnit; }
    // Results left out because their value is not a decimal number (or too long to sum exactly).
    qint64 unreadableCount() const { return m_unreadable; }
    // The series' unit: the first taken result's. Empty before one.
    QString unit() const { return m_unit; }
    // The most decimals of a result taken in; every figure is shown with these.
    int decimals() const { return m_scale; }

    // The figures as texts with the series' decimals ("" when they do not exist: no result, or
    // fewer than two for the deviation, a zero mean for the coefficient of variation).
    QString mean() const;
    QString standardDeviation() const;
    // In percent, with two decimals.
    QString coefficientOfVariation() const;
    QString minimum() const;
    QString maximum() const;
    QString range() const;

    long double meanValue() const;
    // The sample standard deviation (n - 1); 0 for fewer than two results.
    long double standardDeviationValue() const;

private:
    __extension__ typedef __int128 Int128;

    // value at scale into *mantissa; false for a text that is no decimal number.
    static bool parse(const QString& text, qint64* mantissa, int* scale);
    // Brings the sums and extremes to a larger scale.
    bool rescale(int scale);
    QString format(Int128 mantissa) const;
    // The exact variance times n(n-1), at twice the scale.
    Int128 varianceNumerator() const;

    qint64 m_count = 0;
    qint64 m_otherUnit = 0;
    qint64 m_unreadable = 0;
    QString m_unit;
    int m_scale = 0;
    // The first value, from which the sums are taken.
    Int128 m_shift = 0;
    Int128 m_sum = 0;
    Int128 m_sumSquares = 0;
    Int128 m_min = 0;
    Int128 m_max = 0;
};
