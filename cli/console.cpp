#include "cli/console.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
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

int stderrColumns()
{
#ifdef Q_OS_WIN
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size{};
    if (ioctl(fileno(stderr), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
#endif
}

#ifndef Q_OS_WIN
// A program started from a terminal has it as stdout and stderr already.
void useParentConsole() {}
#endif

}  // namespace cli
