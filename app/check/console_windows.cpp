#include "console.h"

#include <QMetaObject>
#include <QObject>

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace {

QObject *stopContext = nullptr;
Console::StopHandler stopHandler;

// Runs on a thread of its own: hands the request to the event loop.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    QMetaObject::invokeMethod(
        stopContext, [interrupt] { stopHandler(interrupt ? 130 : 143, interrupt ? "Ctrl+C" : "the console closing"); },
        Qt::QueuedConnection);
    return TRUE;
}

} // namespace

namespace Console {

bool stdinIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

bool stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

bool isPipe(const QString &)
{
    return false; // a list comes from a file or standard input
}

void onStopRequest(QObject *context, StopHandler stop)
{
    stopContext = context;
    stopHandler = std::move(stop);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace Console
