#include "settings/rules.h"

#include "settings/decimal.h"

#include <cmath>

namespace settings {

bool isSettingsText(const QString& text)
{
    return text.contains(QLatin1StringView("Sys.Color"));
}

void applyDamagedFileRule(LoadedSettings& loaded)
{
    if (loaded.failedLine == 0)
        return;
    for (std::size_t i = ChannelsKeptOfDamagedFile; i < loaded.channels.size(); ++i)
        loaded.channels[i] = 0;
}

std::optional<std::int16_t> portNumberFrom(const QString& text)
{
    const auto port = parseDecimal(text);
    return port ? roundToInt16(*port) : std::nullopt;
}

std::optional<int> pollPeriodFrom(const QString& text, bool* raised)
{
    if (raised)
        *raised = false;
    const auto period = parseDecimal(text);
    if (!period || std::nearbyint(*period) > MaxPollPeriod)
        return std::nullopt;
    if (*period < MinPollPeriod) {
        if (raised)
            *raised = true;
        return MinPollPeriod;
    }
    return roundToInt32(*period);
}

}  // namespace settings
