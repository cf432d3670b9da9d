// The real program started as an operator starts it, timed to its window.
#pragma once

#include <QString>

#include <vector>

namespace bench {

// Start to the first flush of the whole window to the screen, as the
// program's own paint log stamps it on the monotonic clock (milliseconds).
struct StartResult {
    std::vector<double> seconds;
    long hwmKb = -1;
    bool ok = true;
};

// `program` copied beside a SETUP.INI and started `runs` times after one
// warm-up start.
StartResult startUps(const QString& program, int runs);

}  // namespace bench
