#include "cli/console.h"

#include <cstdio>

#include <io.h>
#include <windows.h>

namespace cli {

namespace {

bool goesNowhere(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    return h == nullptr || h == INVALID_HANDLE_VALUE;
}

}  // namespace

void useParentConsole()
{
    const bool noOut = goesNowhere(STD_OUTPUT_HANDLE);
    const bool noErr = goesNowhere(STD_ERROR_HANDLE);
    // Attached also when both are redirected: Ctrl+C and closing the
    // console reach only a program on that console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (noOut && std::freopen("CONOUT$", "w", stdout))
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
    if (noErr && std::freopen("CONOUT$", "w", stderr))
        SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))));
}

}  // namespace cli
