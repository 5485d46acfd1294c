// A fleet of loopback HTTP and SOCKS5 proxies in one process.
//
//   bench_fleet BASE_PORT COUNT [ADDRESS] [judge]
//
// Listens on ADDRESS (127.0.0.1 unless given; any of 127.0.0.0/8) at ports
// BASE_PORT .. BASE_PORT+COUNT-1, so that several fleets can share one port
// range on different loopback addresses. Every connection gets
// one answer to its request, whatever the request is: "200 OK" with a short
// body and "Connection: close", written by the fleet itself (nothing is
// forwarded anywhere). A connection that opens with a SOCKS5 greeting gets
// the no-authentication method and a granted CONNECT first, then the same
// answer to the GET sent through that "tunnel". One thread, level-triggered
// epoll.
//
// Prints "READY ..." once every port listens. SIGUSR1 prints a stats line,
// SIGTERM or SIGINT prints it and exits; the stats carry the fleet's own CPU
// time, so a run can show that the fleet was not the bottleneck.
//
// With "judge", the answer is a judge's instead: the client's address and the
// request's fields as a CGI dump, the probe marker field echoed as received,
// so that a run that reads its target as a judge does all its work.

#include "benchutil.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum class Kind : unsigned char { None, Listener, Connection, Signal };

struct Slot
{
    Kind kind { Kind::None };
    int port { 0 };
    // The last bytes seen, to find the blank line that ends the request head.
    unsigned tail { 0 };
    bool proxied { false }; // request line was "GET http://..."
    unsigned short seen { 0 }; // bytes of the request line checked so far
    // SOCKS5: 0 none; 1 greeting's method count, 2 its methods, 3 CONNECT's
    // head, 4 its name length, 5 its address and port, 6 the tunnel.
    unsigned char socks { 0 };
    unsigned short need { 0 }; // bytes left of the current SOCKS step
    unsigned char markerAt { 0 }; // judge: bytes of "\r\nX-Quillfen-Probe: " matched
    unsigned char markerLength { 0 };
    char marker[32] {};
};

bool judge = false;

std::vector<Slot> slots;
int epollFd = -1;
long long served = 0;
long long notProxied = 0;
long long socksServed = 0;
long long acceptErrors = 0;
bool acceptPaused = false;

void printStats(const char *tag)
{
    const bench::CpuTimes cpu = bench::cpuTimes();
    std::printf("%s {\"served\":%lld,\"socks\":%lld,\"not_proxied\":%lld,\"accept_errors\":%lld,"
                "\"cpu_s\":%.3f,\"cpu_user_s\":%.3f,\"cpu_sys_s\":%.3f,\"rss_mb\":%.1f}\n",
                tag, served, socksServed, notProxied, acceptErrors, cpu.total(), cpu.user, cpu.system,
                bench::peakRssMegabytes());
    std::fflush(stdout);
}

void closeConnection(int fd)
{
    slots[fd] = Slot {};
    close(fd); // also leaves the epoll set
}

void answer(int fd)
{
    const Slot &slot = slots[fd];
    char body[512];
    const int bodyLength = judge
        ? std::snprintf(body, sizeof body,
                        "quillfen bench fleet: proxy %d ok<br>\nREMOTE_ADDR = 127.0.0.1<br>\nHTTP_HOST = 127.0.0.1<br>\n"
                        "HTTP_CACHE_CONTROL = no-cache, no-store, must-revalidate<br>\nHTTP_PRAGMA = no-cache<br>\n"
                        "HTTP_EXPIRES = 0<br>\nHTTP_ACCEPT = */*<br>\nHTTP_USER_AGENT = Mozilla/5.0<br>\n"
                        "HTTP_X_QUILLFEN_PROBE = %.*s<br>\nHTTP_CONNECTION = close<br>\n",
                        slot.port, int(slot.markerLength), slot.marker)
        : std::snprintf(body, sizeof body, "quillfen bench fleet: proxy %d ok\n", slot.port);
    char response[768];
    const int length = std::snprintf(response, sizeof response,
                                     "HTTP/1.1 200 OK\r\n"
                                     "Content-Type: text/plain\r\n"
                                     "Content-Length: %d\r\n"
                                     "Connection: close\r\n"
                                     "\r\n%s",
                                     bodyLength, body);
    // The answer is far below a socket buffer, so one write takes it whole.
    (void)!write(fd, response, static_cast<size_t>(length));
    ++served;
    if (!slot.proxied)
        ++notProxied;
    closeConnection(fd);
}

// One byte of a SOCKS5 greeting or CONNECT; answers each once complete.
void socksByte(int fd, Slot &slot, unsigned char c)
{
    static const char method[] = { 5, 0 }, granted[] = { 5, 0, 0, 1, 127, 0, 0, 1, 0, 80 };
    switch (slot.socks) {
    case 1:
        slot.need = c;
        slot.socks = 2;
        break;
    case 3:
        if (--slot.need == 0) {
            slot.need = c == 1 ? 6 : c == 4 ? 18 : 0;
            slot.socks = c == 3 ? 4 : 5;
        }
        return;
    case 4:
        slot.need = c + 2;
        slot.socks = 5;
        return;
    default:
        --slot.need;
        break;
    }
    if (slot.need > 0)
        return;
    if (slot.socks == 2) {
        (void)!write(fd, method, sizeof method);
        slot.socks = 3;
        slot.need = 4;
    } else if (slot.socks == 5) {
        (void)!write(fd, granted, sizeof granted);
        slot.socks = 6;
        slot.proxied = true; // an origin-form GET comes through the tunnel
        slot.seen = 0xffff;
        ++socksServed;
    }
}

// Reads what the socket has; answers once the request head is complete.
void readRequest(int fd)
{
    static const char proxiedPrefix[] = "GET http://";
    char buffer[8192];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            Slot &slot = slots[fd];
            for (ssize_t i = 0; i < got; ++i) {
                const unsigned char c = static_cast<unsigned char>(buffer[i]);
                if (slot.seen == 0 && slot.socks == 0 && c == 5) {
                    slot.socks = 1;
                    continue;
                }
                if (slot.socks > 0 && slot.socks < 6) {
                    socksByte(fd, slot, c);
                    continue;
                }
                if (slot.seen < sizeof proxiedPrefix - 1) {
                    if (c == static_cast<unsigned char>(proxiedPrefix[slot.seen]))
                        ++slot.seen;
                    else
                        slot.seen = 0xffff; // not a proxied GET; still answered
                    if (slot.seen == sizeof proxiedPrefix - 1)
                        slot.proxied = true;
                }
                static const char field[] = "\r\nX-Quillfen-Probe: ";
                if (judge && slot.markerAt < sizeof field - 1)
                    slot.markerAt = c == static_cast<unsigned char>(field[slot.markerAt]) ? slot.markerAt + 1 : c == '\r' ? 1 : 0;
                else if (judge && slot.markerAt == sizeof field - 1 && c == '\r')
                    slot.markerAt = 0xff; // the value has ended
                else if (judge && slot.markerAt == sizeof field - 1 && slot.markerLength < sizeof slot.marker)
                    slot.marker[slot.markerLength++] = char(c);
                slot.tail = (slot.tail << 8) | c;
                if (slot.tail == 0x0d0a0d0a) {
                    answer(fd);
                    return;
                }
            }
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got < 0 && errno == EINTR)
            continue;
        closeConnection(fd); // closed or failed before the request was complete
        return;
    }
}

void acceptAll(int listener)
{
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: leave the rest in the backlog; the
                // listener stays readable and is retried on the next round.
                ++acceptErrors;
                acceptPaused = true;
            }
            return;
        }
        if (static_cast<size_t>(fd) >= slots.size()) {
            close(fd);
            ++acceptErrors;
            continue;
        }
        slots[fd] = Slot {};
        slots[fd].kind = Kind::Connection;
        slots[fd].port = slots[listener].port;
        // Most clients send the request together with the handshake's end.
        readRequest(fd);
        if (slots[fd].kind != Kind::Connection)
            continue;
        epoll_event event {};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
    }
}

} // namespace

int main(int argc, char **argv)
{
    in_addr host {};
    host.s_addr = htonl(INADDR_LOOPBACK);
    if (argc > 3 && std::strcmp(argv[argc - 1], "judge") == 0)
        judge = true, --argc;
    if ((argc != 3 && argc != 4) || (argc == 4 && (inet_pton(AF_INET, argv[3], &host) != 1 || (ntohl(host.s_addr) >> 24) != 127))) {
        std::fprintf(stderr, "usage: %s BASE_PORT COUNT [127.x.y.z] [judge]\n", argv[0]);
        return 2;
    }
    const int basePort = std::atoi(argv[1]);
    const int count = std::atoi(argv[2]);
    if (basePort <= 0 || count <= 0 || basePort + count > 65536) {
        std::fprintf(stderr, "bad port range\n");
        return 2;
    }

    const long fileLimit = bench::raiseOpenFileLimit();
    if (fileLimit < count + 64) {
        std::fprintf(stderr, "open-file limit %ld is too low for %d listeners\n", fileLimit, count);
        return 1;
    }
    slots.resize(static_cast<size_t>(fileLimit) + 16);

    epollFd = epoll_create1(EPOLL_CLOEXEC);

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    slots[signalFd].kind = Kind::Signal;
    epoll_event signalEvent {};
    signalEvent.events = EPOLLIN;
    signalEvent.data.fd = signalFd;
    epoll_ctl(epollFd, EPOLL_CTL_ADD, signalFd, &signalEvent);

    const int backlog = 4096;
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::perror("socket");
            return 1;
        }
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(basePort + i));
        address.sin_addr = host;
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            std::fprintf(stderr, "bind %s:%d: %s\n", inet_ntoa(host), basePort + i, std::strerror(errno));
            return 1;
        }
        if (listen(fd, backlog) != 0) {
            std::perror("listen");
            return 1;
        }
        slots[fd].kind = Kind::Listener;
        slots[fd].port = basePort + i;
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
    }

    std::printf("READY base=%d count=%d nofile=%ld pid=%d\n", basePort, count, fileLimit, getpid());
    std::fflush(stdout);

    std::vector<epoll_event> events(1024);
    for (;;) {
        const int ready = epoll_wait(epollFd, events.data(), static_cast<int>(events.size()), -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("epoll_wait");
            return 1;
        }
        acceptPaused = false;
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            switch (slots[fd].kind) {
            case Kind::Listener:
                if (!acceptPaused)
                    acceptAll(fd);
                break;
            case Kind::Connection:
                readRequest(fd);
                break;
            case Kind::Signal: {
                signalfd_siginfo info {};
                while (read(signalFd, &info, sizeof info) == sizeof info) {
                    if (info.ssi_signo == SIGUSR1) {
                        printStats("STATS");
                    } else {
                        printStats("FLEET");
                        return 0;
                    }
                }
                break;
            }
            case Kind::None:
                break;
            }
        }
    }
}
