#pragma once

#include "platformnet.h"

#include <QObject>

#include <functional>

// How the engine learns that its sockets are ready. On Linux one epoll set
// behind a single QSocketNotifier (epollwatcher.cpp), so Qt's event loop sees
// one descriptor however many probes are in flight; everywhere else, and with
// QUILLFEN_PORTABLE_NET, one QSocketNotifier per socket (notifierwatcher.cpp).
// The build compiles exactly one of the two.
class SocketWatcher : public QObject
{
public:
    // Called with the key a socket was watched under and its PlatformNet::Events.
    using Handler = std::function<void(quint64 key, quint32 events)>;

    static SocketWatcher *create(Handler handler, QObject *parent);

    using QObject::QObject;

    // Made on first use: a socket notifier needs the thread's event dispatcher,
    // which may not exist yet when the engine is built.
    virtual bool ready() = 0;
    // `add` the first time for a socket, then to change what it waits for.
    virtual void watch(PlatformNet::Socket socket, quint32 events, quint64 key, bool add) = 0;
    // Stops watching a socket that stays open: it is handed to someone else.
    virtual void detach(PlatformNet::Socket socket) = 0;
    // Stops watching a socket about to be closed.
    virtual void closing(PlatformNet::Socket socket) = 0;
};
