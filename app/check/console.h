#pragma once

#include <QString>

#include <functional>

class QObject;

// What quillfen-check asks of the system it runs on: terminals, pipes and the
// requests to stop. console_posix.cpp holds the POSIX calls, console_windows.cpp
// the Windows ones; no other file of the command includes a system header.
namespace Console {

bool stdinIsTerminal();
bool stderrIsTerminal();
// A named pipe (FIFO), such as the path "<(command)" gives in a shell.
bool isPipe(const QString &path);

// stop(exitStatus, name) runs on the event loop of `context` when the user
// asks the command to stop: SIGINT (130) or SIGTERM (143); on Windows Ctrl+C
// (130) or the console closing (143). Before this call, those end the process.
using StopHandler = std::function<void(int exitStatus, const char *name)>;
void onStopRequest(QObject *context, StopHandler stop);

} // namespace Console
