// Arbitrary settings text through the line reader and the whole load.
#include "settings/settings.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
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
