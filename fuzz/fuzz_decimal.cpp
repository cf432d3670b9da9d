// Arbitrary text through the decimal reading and the rounded conversions.
#include "settings/decimal.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto v = parseDecimal(text);
    const auto a = toInt16(text);
    const auto b = toInt32(text);
    if (!v && (a || b))
        __builtin_trap();
    if (v && !std::isfinite(*v))
        __builtin_trap();
    if (a && b && *a != *b)
        __builtin_trap();  // a value that fits 16 bits reads the same in 32
    if (a && std::abs(double(*a) - *v) > 0.5)
        __builtin_trap();
    return 0;
}
