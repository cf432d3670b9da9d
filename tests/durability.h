// The two settings the kill test saves in turn, shared by the test and the
// helper program it kills.
#pragma once

#include "settings/settings.h"

inline settings::SavedSettings firstSettings()
{
    return {};  // as after a first run: scheme 1, port 1, poll rate 100, channels 1 to 7
}

inline settings::SavedSettings secondSettings()
{
    settings::SavedSettings s;
    s.displayScheme = 2;
    s.comPort = 12;
    s.pollRate = QStringLiteral("65535");
    s.channels = {0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1};
    return s;
}
