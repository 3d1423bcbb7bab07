#include "log/feedstatistics.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr int MaxScale = 9;

template <typename T> T power10(int n)
{
    T p = 1;
    while (n-- > 0) {
        p *= 10;
    }
    return p;
}
} // namespace

bool FeedStatistics::parse(const QString& text, qint64* mantissa, int* scale)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+'))) {
        negative = t.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 m = 0;
    int digits = 0;
    int decimals = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c == QLatin1Char('.') && !point) {
            point = true;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++digits > MaxDigits) {
                return false;
            }
            m = m * 10 + (c.unicode() - '0');
            decimals += point ? 1 : 0;
        } else {
            return false;
        }
    }
    if (digits == 0 || decimals > MaxScale) {
        return false;
    }
    *mantissa = negative ? -m : m;
    *scale = decimals;
    return true;
}

bool FeedStatistics::rescale(int scale)
{
    if (scale <= m_scale) {
        return true;
    }
    const Int128 f = power10<Int128>(scale - m_scale);
    Int128 sum = 0;
    Int128 squares = 0;
    Int128 shift = 0;
    Int128 low = 0;
    Int128 high = 0;
    if (__builtin_mul_overflow(m_sum, f, &sum) || __builtin_mul_overflow(m_sumSquares, f, &squares) ||
        __builtin_mul_overflow(squares, f, &squares) || __builtin_mul_overflow(m_shift, f, &shift) ||
        __builtin_mul_overflow(m_min, f, &low) || __builtin_mul_overflow(m_max, f, &high)) {
        return false;
    }
    m_sum = sum;
    m_sumSquares = squares;
    m_shift = shift;
    m_min = low;
    m_max = high;
    m_scale = scale;
    return true;
}

bool FeedStatistics::add(const QString& value, const QString& unit)
{
    qint64 mantissa = 0;
    int scale = 0;
    if (!parse(value, &mantissa, &scale)) {
        ++m_unreadable;
        return false;
    }
    const QString u = unit.trimmed();
    if (m_count > 0 && u != m_unit) {
        ++m_otherUnit;
        return false;
    }
    // The state as it was, kept when this value cannot be summed exactly.
    const FeedStatistics before = *this;
    if (m_count == 0) {
        m_unit = u;
        m_scale = scale;
        m_shift = mantissa;
    }
    Int128 x = mantissa;
    Int128 d = 0;
    Int128 square = 0;
    if (!rescale(scale) || __builtin_mul_overflow(x, power10<Int128>(m_scale - scale), &x) ||
        __builtin_sub_overflow(x, m_shift, &d) || __builtin_mul_overflow(d, d, &square) ||
        __builtin_add_overflow(m_sum, d, &m_sum) ||
        __builtin_add_overflow(m_sumSquares, square, &m_sumSquares)) {
        *this = before;
        ++m_unreadable;
        return false;
    }
    if (m_count == 0 || x < m_min) {
        m_min = x;
    }
    if (m_count == 0 || x > m_max) {
        m_max = x;
    }
    ++m_count;
    return true;
}

void FeedStatistics::clear()
{
    *this = FeedStatistics();
}

QString FeedStatistics::format(Int128 mantissa) const
{
    const bool negative = mantissa < 0;
    // The magnitude's digits, then the point at the scale.
    QString digits;
    Int128 m = negative ? -mantissa : mantissa;
    do {
        digits.prepend(QChar('0' + int(m % 10)));
        m /= 10;
    } while (m > 0);
    while (digits.size() <= m_scale) {
        digits.prepend(QLatin1Char('0'));
    }
    if (m_scale > 0) {
        digits.insert(digits.size() - m_scale, QLatin1Char('.'));
    }
    return negative ? QLatin1Char('-') + digits : digits;
}

namespace {
// a / b rounded half away from zero; b > 0.
template <typename T> T roundedDivision(T a, T b)
{
    const T q = a / b;
    const T r = a % b;
    if (2 * (r < 0 ? -r : r) >= b) {
        return a < 0 ? q - 1 : q + 1;
    }
    return q;
}
} // namespace

QString FeedStatistics::mean() const
{
    if (m_count == 0) {
        return QString();
    }
    return format(m_shift + roundedDivision<Int128>(m_sum, m_count));
}

long double FeedStatistics::meanValue() const
{
    if (m_count == 0) {
        return 0;
    }
    const long double meanShifted = static_cast<long double>(m_sum) / static_cast<long double>(m_count);
    return (static_cast<long double>(m_shift) + meanShifted) / power10<long double>(m_scale);
}

FeedStatistics::Int128 FeedStatistics::varianceNumerator() const
{
    // n * sum(d^2) - (sum d)^2 = n * sum((x - mean)^2), exact and never negative.
    Int128 a = 0;
    Int128 b = 0;
    if (__builtin_mul_overflow(m_sumSquares, Int128(m_count), &a) ||
        __builtin_mul_overflow(m_sum, m_sum, &b)) {
        return -1;
    }
    return a - b;
}

long double FeedStatistics::standardDeviationValue() const
{
    if (m_count < 2) {
        return 0;
    }
    const long double n = static_cast<long double>(m_count);
    const Int128 numerator = varianceNumerator();
    long double variance = 0;
    if (numerator >= 0) {
        variance = static_cast<long double>(numerator) / (n * (n - 1));
    } else {
        // Beyond 128 bits: the exact sums, divided first.
        const long double s = static_cast<long double>(m_sum);
        variance = (static_cast<long double>(m_sumSquares) - s * s / n) / (n - 1);
    }
    const long double scale = power10<long double>(m_scale);
    return std::sqrt(variance) / scale;
}

namespace {
QString fixed(long double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*Lf", decimals, value);
    return QString::fromLatin1(buffer);
}
} // namespace

QString FeedStatistics::standardDeviation() const
{
    return m_count < 2 ? QString() : fixed(standardDeviationValue(), m_scale);
}

QString FeedStatistics::coefficientOfVariation() const
{
    const long double m = meanValue();
    if (m_count < 2 || m == 0) {
        return QString();
    }
    return fixed(100 * standardDeviationValue() / (m < 0 ? -m : m), 2);
}

QString FeedStatistics::minimum() const
{
    return m_count == 0 ? QString() : format(m_min);
}

QString FeedStatistics::maximum() const
{
    return m_count == 0 ? QString() : format(m_max);
}

QString FeedStatistics::range() const
{
    return m_count == 0 ? QString() : format(m_max - m_min);
}
