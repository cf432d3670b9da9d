#include "cli/console.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli {

void put(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
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

#ifndef Q_OS_WIN
// A program started from a terminal has it as stdout and stderr already.
void useParentConsole() {}
#endif

}  // namespace cli
