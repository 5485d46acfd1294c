#include "platformnet.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>

#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef QUILLFEN_EPOLL
#include <sys/epoll.h>
#endif

namespace PlatformNet {

namespace {
#ifdef _WIN32
using NativeSocket = SOCKET;
int lastError()
{
    return WSAGetLastError();
}
#else
using NativeSocket = int;
int lastError()
{
    return errno;
}
#endif

NativeSocket native(Socket socket)
{
    return NativeSocket(socket);
}

// Both families in one buffer, as connect takes them.
int socketAddress(const QHostAddress &address, quint16 port, sockaddr_storage *storage)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        return int(sizeof(sockaddr_in));
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, 16);
        in6->sin6_scope_id = scopeIndex(address);
        return int(sizeof(sockaddr_in6));
    }
    return 0;
}

NativeSocket openStream(int family, int *error)
{
#ifdef _WIN32
    const NativeSocket s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *error = lastError();
        return s;
    }
    u_long on = 1;
    if (ioctlsocket(s, FIONBIO, &on) != 0) {
        *error = lastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
#elif defined(SOCK_NONBLOCK) && defined(SOCK_CLOEXEC)
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        *error = errno;
    return fd;
#else
    const int fd = ::socket(family, SOCK_STREAM, 0);
    if (fd < 0) {
        *error = errno;
        return fd;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
#endif
}
} // namespace

bool startup()
{
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
#else
    return true;
#endif
}

Socket connectTo(const QHostAddress &address, quint16 port, int *error)
{
    sockaddr_storage storage {};
    const int length = socketAddress(address, port, &storage);
    if (length == 0) {
        *error = unreachableError();
        return invalidSocket;
    }
    const NativeSocket s = openStream(storage.ss_family, error);
#ifdef _WIN32
    if (s == INVALID_SOCKET)
        return invalidSocket;
    if (::connect(s, reinterpret_cast<sockaddr *>(&storage), length) != 0 && lastError() != WSAEWOULDBLOCK) {
        *error = lastError();
        closesocket(s);
        return invalidSocket;
    }
#else
    if (s < 0)
        return invalidSocket;
    if (::connect(s, reinterpret_cast<sockaddr *>(&storage), socklen_t(length)) != 0 && errno != EINPROGRESS) {
        *error = errno;
        ::close(s);
        return invalidSocket;
    }
#endif
    return Socket(s);
}

qint64 send(Socket socket, const char *data, qint64 size, int *error)
{
#ifdef _WIN32
    const int n = ::send(native(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
#elif defined(MSG_NOSIGNAL)
    const ssize_t n = ::send(native(socket), data, size_t(size), MSG_NOSIGNAL);
#else
    const ssize_t n = ::send(native(socket), data, size_t(size), 0); // SO_NOSIGPIPE is set
#endif
    if (n < 0)
        *error = lastError();
    return qint64(n);
}

qint64 recv(Socket socket, char *data, qint64 size, int *error)
{
#ifdef _WIN32
    const int n = ::recv(native(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
#else
    const ssize_t n = ::recv(native(socket), data, size_t(size), 0);
#endif
    if (n < 0)
        *error = lastError();
    return qint64(n);
}

void close(Socket socket)
{
#ifdef _WIN32
    closesocket(native(socket));
#else
    ::close(native(socket)); // also leaves an epoll set
#endif
}

int pendingError(Socket socket)
{
    int error = 0;
#ifdef _WIN32
    int length = sizeof error;
    if (getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) != 0)
        error = lastError();
#else
    socklen_t length = sizeof error;
    if (getsockopt(native(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
#endif
    return error;
}

Error classify(int error)
{
#ifdef _WIN32
    switch (error) {
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
        return Error::WouldBlock;
    case WSAEINTR:
        return Error::Interrupted;
    case WSAECONNREFUSED:
        return Error::Refused;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return Error::Reset;
    case WSAEMFILE:
    case WSAENOBUFS:
        return Error::OutOfDescriptors;
    default:
        return Error::Other;
    }
#else
    if (error == EAGAIN || error == EWOULDBLOCK)
        return Error::WouldBlock;
    if (error == EINTR)
        return Error::Interrupted;
    if (error == ECONNREFUSED)
        return Error::Refused;
    if (error == ECONNRESET)
        return Error::Reset;
    if (error == EMFILE || error == ENFILE)
        return Error::OutOfDescriptors;
    return Error::Other;
#endif
}

QString errorText(int error)
{
#ifdef _WIN32
    return qt_error_string(error);
#else
    return QString::fromLocal8Bit(std::strerror(error));
#endif
}

int refusedError()
{
#ifdef _WIN32
    return WSAECONNREFUSED;
#else
    return ECONNREFUSED;
#endif
}

int unreachableError()
{
#ifdef _WIN32
    return WSAEHOSTUNREACH;
#else
    return EHOSTUNREACH;
#endif
}

// A desktop session often starts programs with a soft limit of 1024 open
// files; every probe in flight holds one. Take what the hard limit allows.
int openFileLimit()
{
#ifdef _WIN32
    // Winsock has no per-process limit on sockets; this keeps a run within
    // what the system's ephemeral ports and memory comfortably allow.
    return 16384;
#else
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    return limit.rlim_cur == RLIM_INFINITY ? 1 << 20 : int(qMin<rlim_t>(limit.rlim_cur, 1 << 20));
#endif
}

void raiseOpenFileLimit()
{
#ifndef _WIN32
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
#ifdef __APPLE__
    limit.rlim_cur = qMin<rlim_t>(limit.rlim_cur, OPEN_MAX); // macOS refuses more
#endif
    setrlimit(RLIMIT_NOFILE, &limit);
#endif
}

quint32 scopeIndex(const QHostAddress &address)
{
    const QString scope = address.scopeId();
    if (scope.isEmpty())
        return 0;
    bool numeric = false;
    const uint index = scope.toUInt(&numeric);
    return numeric ? index : quint32(QNetworkInterface::interfaceIndexFromName(scope));
}

#ifdef QUILLFEN_EPOLL
namespace Epoll {
int create()
{
    return epoll_create1(EPOLL_CLOEXEC);
}

void destroy(int set)
{
    ::close(set);
}

void watch(int set, Socket socket, quint32 events, quint64 key, bool add)
{
    epoll_event event {};
    event.events = (events & Readable ? EPOLLIN | EPOLLRDHUP : 0) | (events & Writable ? EPOLLOUT : 0);
    event.data.u64 = key;
    epoll_ctl(set, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, int(socket), &event);
}

void unwatch(int set, Socket socket)
{
    epoll_ctl(set, EPOLL_CTL_DEL, int(socket), nullptr);
}

int poll(int set, Event *events, int max)
{
    constexpr int batch = 256;
    epoll_event ready[batch];
    const int count = epoll_wait(set, ready, qMin(max, batch), 0);
    for (int i = 0; i < count; ++i) {
        const quint32 e = ready[i].events;
        events[i].key = ready[i].data.u64;
        events[i].events = (e & (EPOLLIN | EPOLLRDHUP) ? Readable : 0) | (e & EPOLLOUT ? Writable : 0)
            | (e & (EPOLLERR | EPOLLHUP) ? Broken : 0);
    }
    return count;
}
} // namespace Epoll
#endif

} // namespace PlatformNet
