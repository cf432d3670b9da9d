#include "cli/stoprequests.h"

#include <QMetaObject>

#include <mutex>

#include <windows.h>

namespace cli {

// The console handler runs on a thread of its own; the request is queued to
// the object's thread.
namespace {

std::mutex guard;
StopRequests* current = nullptr;  // under guard
HANDLE finished = nullptr;        // set once the run is over, its report written

// Windows ends the process as soon as the handler returns from a console
// close, log-off or shut-down (and after about 5 s in any case): the handler
// holds on until the run has written its report.
constexpr DWORD closeWaitMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    const QString what = type == CTRL_C_EVENT       ? QStringLiteral("Ctrl+C")
                         : type == CTRL_BREAK_EVENT ? QStringLiteral("Ctrl+Break")
                         : type == CTRL_CLOSE_EVENT ? QStringLiteral("console closed")
                                                    : QStringLiteral("session ending");
    HANDLE wait = nullptr;
    {
        const std::lock_guard lock(guard);
        StopRequests* s = current;
        if (!s)
            return FALSE;
        QMetaObject::invokeMethod(s, [s, what] { emit s->requested(what); }, Qt::QueuedConnection);
        wait = finished;
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && wait)
        WaitForSingleObject(wait, closeWaitMs);
    return TRUE;
}

}  // namespace

StopRequests::StopRequests(QObject* parent) : QObject(parent)
{
    const std::lock_guard lock(guard);
    current = this;
    if (!finished)
        finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(finished);
    static const bool installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    Q_UNUSED(installed);
}

StopRequests::~StopRequests()
{
    const std::lock_guard lock(guard);
    current = nullptr;
    // The handler stays installed while a close waits on it; with nobody
    // to tell it returns FALSE and Windows' own handling goes on.
    if (finished)
        SetEvent(finished);
}

void ignoreFileSizeSignal() {}  // no such signal: a write past a limit fails

}  // namespace cli
