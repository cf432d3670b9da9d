// Arbitrary settings text through the line reader and the whole load.
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>

// Ten times a full settings file; longer inputs only cost memory and time.
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
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));

    QString rest = text;
    for (int i = 0; i < 30; ++i) {
        const qsizetype before = rest.size();
        try {
            const QString value = settings::NextSettingValue(rest);
            if (value.contains(QLatin1StringView("\r\n")) || rest.size() >= before)
                __builtin_trap();  // a value never spans a line; each read consumes
        } catch (const settings::SettingsError&) {
            break;
        }
    }

    QString all = text;
    const settings::LoadedSettings s = settings::parseSettings(all);
    for (const auto& c : s.channels)
        if (c && (*c < 0 || *c > 2))
            __builtin_trap();
    try {
        (void)settings::firstValueAsScheme(text);
    } catch (const settings::SettingsError&) {
    }
    return 0;
}
