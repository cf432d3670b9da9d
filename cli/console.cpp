#include "cli/console.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli {

namespace {
// A pipe whose reader has quit, or a file that is full: written to no
// more, and the run goes on.
bool stderrGone = false;
}  // namespace

void put(std::FILE* to, const QString& text)
{
    if (to == stderr && stderrGone)
        return;
    const bool ok = std::fputs(text.toLocal8Bit().constData(), to) >= 0;
    if ((std::fflush(to) != 0 || !ok) && to == stderr)
        stderrGone = true;
}

void tell(const QString& text)
{
    put(stderr, QStringLiteral("pollbench: %1\n").arg(text));
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

}  // namespace cli
