// Arbitrary text through the decimal reading and the rounded conversions.
#include "settings/decimal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

// Far beyond any number a field holds; longer inputs only cost memory and time.
constexpr std::size_t MaxInput = 4096;

// AddressSanitizer holds 256 MB of freed blocks back to catch late use; with
// the strings each input makes, that alone kept the run near 500 MB. Nothing
// here outlives an input, so a use after free can only touch memory freed
// during the same input, well within a smaller hold.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=32";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > MaxInput)
        return 0;
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
