#pragma once

#include <QtGlobal>

class QHostAddress;
class QString;

// Every raw socket call of the engine, with its POSIX and Winsock branches,
// the open-file limit, and on Linux the epoll set. Nothing else in the
// program includes a system header.
namespace PlatformNet {

// A socket as Qt's socket classes take it: an int on POSIX, a SOCKET on Windows.
using Socket = qintptr;
constexpr Socket invalidSocket = -1;

// What an error code means to the engine.
enum class Error { WouldBlock, Interrupted, Refused, Reset, OutOfDescriptors, Other };

// Readiness, as a watcher asks for it and reports it.
enum Events : quint32 { Readable = 1, Writable = 2, Broken = 4 };

// Loads the socket library once (Winsock); true when sockets can be made.
bool startup();

// Opens a non-blocking stream socket to an IPv4 or IPv6 address and starts
// connecting; invalidSocket with *error set when that fails at once.
Socket connectTo(const QHostAddress &address, quint16 port, int *error);

// -1 with *error set, or the bytes moved; recv gives 0 at the end of the stream.
qint64 send(Socket socket, const char *data, qint64 size, int *error);
qint64 recv(Socket socket, char *data, qint64 size, int *error);
void close(Socket socket);

// The outcome of a connect started by connectTo, once the socket is writable: 0 when it stands.
int pendingError(Socket socket);

Error classify(int error);
QString errorText(int error);
int refusedError();
int unreachableError();

// Open files the process may hold now.
int openFileLimit();
// A process-wide setting, so the program's own to make, once at start:
// the open-file limit raised to the hard limit where there is one.
void raiseOpenFileLimit();

// The interface index an IPv6 address's scope names: "eth0" or "3" alike; 0 for none.
quint32 scopeIndex(const QHostAddress &address);

#ifdef QUILLFEN_EPOLL
namespace Epoll {
struct Event
{
    quint64 key;
    quint32 events; // Events
};
int create(); // -1 on failure
void destroy(int set);
void watch(int set, Socket socket, quint32 events, quint64 key, bool add);
void unwatch(int set, Socket socket);
// Without waiting: what is ready now, at most `max` entries.
int poll(int set, Event *events, int max);
} // namespace Epoll
#endif

} // namespace PlatformNet
