// Text to number the way the operator's entries and the settings file are
// read: decimal, blanks around it and a sign allowed, fractions rounded to
// the nearest whole number with halves to the even neighbour.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// The number a text holds, or nothing when it holds none. Plain decimal
// only: no exponent, no thousands separator, no hexadecimal prefix.
std::optional<double> parseDecimal(QStringView text);

std::optional<std::int16_t> toInt16(QStringView text);
std::optional<std::int32_t> toInt32(QStringView text);

// Round half to even, then check the range.
std::optional<std::int16_t> roundToInt16(double value);
std::optional<std::int32_t> roundToInt32(double value);
