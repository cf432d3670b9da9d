#include "settings/decimal.h"

#include <charconv>
#include <cmath>
#include <string>

static bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

std::optional<double> parseDecimal(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    if (b == e)
        return std::nullopt;

    std::string ascii;
    ascii.reserve(std::size_t(e - b));
    qsizetype i = b;
    bool negative = false;
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int digits = 0;
    bool point = false;
    for (; i < e; ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            ascii.push_back(char(c.unicode()));
            ++digits;
        } else if (c == QLatin1Char('.') && !point) {
            ascii.push_back('.');
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0)
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec != std::errc() || end != ascii.data() + ascii.size())
        return std::nullopt;  // out of the range of a double
    return negative ? -value : value;
}

std::optional<std::int16_t> roundToInt16(double value)
{
    const double r = std::nearbyint(value);  // the default rounding mode takes halves to even
    if (!(r >= -32768.0 && r <= 32767.0))
        return std::nullopt;
    return std::int16_t(r);
}

std::optional<std::int32_t> roundToInt32(double value)
{
    const double r = std::nearbyint(value);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        return std::nullopt;
    return std::int32_t(r);
}

std::optional<std::int16_t> toInt16(QStringView text)
{
    const auto v = parseDecimal(text);
    return v ? roundToInt16(*v) : std::nullopt;
}

std::optional<std::int32_t> toInt32(QStringView text)
{
    const auto v = parseDecimal(text);
    return v ? roundToInt32(*v) : std::nullopt;
}
