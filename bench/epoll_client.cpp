// The machine's limit: a raw epoll client that does what a probe does at the
// socket level, for every proxy at once.
//
//   bench_epoll_client BASE_PORT COUNT TARGET_PORT [LIMIT_MS [ADDRESSES [TYPE]]]
//
// Opens COUNT non-blocking connections to 127.0.0.1:BASE_PORT+i (with
// ADDRESSES > 1, the proxies are spread in equal blocks over 127.0.0.1,
// 127.0.0.2, …, each block on the same ports), as many at once as the
// open-file limit allows and the rest as earlier ones end, sends each a
// proxied GET of http://127.0.0.1:TARGET_PORT/test.php (absolute URL, the
// no-cache headers, a "_t" stamp), reads each answer to the close, and
// counts an answer that starts with "HTTP/1.x 200" as alive. Prints one
// "BENCH {json}" line in the same shape as bench_driver's.
//
// TYPE "socks5" speaks to each proxy as SOCKS5 instead, one step after the
// other as a client must: the greeting (no authentication), then, once the
// method is chosen, CONNECT to 127.0.0.1 by name, then, once granted, the
// origin-form GET through the tunnel. Each message is one send, and each
// reply is read once the socket reports it; the watch changes only from
// writable to readable after the connection stands.

#include "benchutil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Method and Granted: waiting for SOCKS5's method choice and CONNECT reply.
enum class State : unsigned char { Connecting, Sending, Reading, Done, Method, Granted };

struct Probe
{
    int fd { -1 };
    State state { State::Connecting };
    unsigned short sent { 0 };
    unsigned char headLength { 0 }; // also the bytes of a SOCKS reply so far
    char head[12] {}; // "HTTP/1.1 200"
};

// One whole message on a socket that has just become ready: a few bytes always fit.
bool sendWhole(int fd, const char *data, size_t size)
{
    return send(fd, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BASE_PORT COUNT TARGET_PORT [LIMIT_MS [ADDRESSES [http|socks5]]]\n", argv[0]);
        return 2;
    }
    const int basePort = std::atoi(argv[1]);
    const int count = std::atoi(argv[2]);
    const int targetPort = std::atoi(argv[3]);
    const double limitSeconds = argc > 4 ? std::atof(argv[4]) / 1000.0 : 60.0;
    const int addresses = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
    const int perAddress = (count + addresses - 1) / addresses;
    const bool socks5 = argc > 6 && std::strcmp(argv[6], "socks5") == 0;
    const long fileLimit = bench::raiseOpenFileLimit();
    const long maxInFlight = std::max(16L, fileLimit - 64);

    char stamp[64];
    {
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        tm local {};
        localtime_r(&now.tv_sec, &local);
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d-%02d-%02d-%03ld", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      now.tv_nsec / 1000000);
    }
    char request[512];
    const int requestLength = std::snprintf(request, sizeof request,
                                            "GET %s/test.php?_t=%s HTTP/1.1\r\n"
                                            "Host: 127.0.0.1:%d\r\n"
                                            "Cache-Control: no-cache, no-store, must-revalidate\r\n"
                                            "Pragma: no-cache\r\n"
                                            "Expires: 0\r\n"
                                            "Connection: close\r\n"
                                            "\r\n",
                                            socks5 ? "" : ("http://127.0.0.1:" + std::to_string(targetPort)).c_str(),
                                            stamp, targetPort);
    // SOCKS5: no authentication; CONNECT to the name "127.0.0.1" and the target port.
    static const char greeting[] = { 5, 1, 0 };
    char connectRequest[32] = { 5, 1, 0, 3, 9 };
    std::memcpy(connectRequest + 5, "127.0.0.1", 9);
    connectRequest[14] = static_cast<char>(targetPort >> 8);
    connectRequest[15] = static_cast<char>(targetPort & 0xff);
    const size_t connectLength = 16;

    std::vector<Probe> probes(static_cast<size_t>(count));
    long alive = 0, dead = 0;
    std::string firstError;
    auto fail = [&](int index, const char *what, int error) {
        Probe &probe = probes[static_cast<size_t>(index)];
        if (probe.fd >= 0)
            close(probe.fd);
        probe.fd = -1;
        probe.state = State::Done;
        ++dead;
        if (firstError.empty())
            firstError = std::string(what) + ": " + std::strerror(error);
    };

    const int epollFd = epoll_create1(EPOLL_CLOEXEC);
    auto readNext = [&](int index) { // the probe waits for the proxy's next bytes
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.u32 = static_cast<uint32_t>(index);
        epoll_ctl(epollFd, EPOLL_CTL_MOD, probes[static_cast<size_t>(index)].fd, &event);
    };
    const double start = bench::monotonicSeconds();

    int opened = 0; // every opened probe is in flight until it counts as alive or dead
    auto openMore = [&] {
        for (; opened < count && opened - (alive + dead) < maxInFlight; ++opened) {
            const int i = opened;
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                fail(i, "socket", errno);
                continue;
            }
            probes[static_cast<size_t>(i)].fd = fd;
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(basePort + i % perAddress));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<uint32_t>(i / perAddress));
            if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
                fail(i, "connect", errno);
                continue;
            }
            epoll_event event {};
            event.events = EPOLLOUT;
            event.data.u32 = static_cast<uint32_t>(i);
            epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
        }
    };
    openMore();

    std::vector<epoll_event> events(1024);
    char scratch[16384];
    long finished = alive + dead;
    bool complete = true;
    while (finished < count) {
        if (bench::monotonicSeconds() - start > limitSeconds) {
            complete = false;
            break;
        }
        const int ready = epoll_wait(epollFd, events.data(), static_cast<int>(events.size()), 100);
        for (int e = 0; e < ready; ++e) {
            const int index = static_cast<int>(events[e].data.u32);
            Probe &probe = probes[static_cast<size_t>(index)];
            if (probe.state == State::Connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(probe.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    fail(index, "connect", error);
                    continue;
                }
                probe.state = State::Sending;
                if (socks5) {
                    if (!sendWhole(probe.fd, greeting, sizeof greeting)) {
                        fail(index, "send", errno);
                        continue;
                    }
                    probe.state = State::Method;
                    readNext(index);
                    continue;
                }
            }
            if (probe.state == State::Method || probe.state == State::Granted) {
                // The proxy's reply: 2 bytes for the method, 10 for the grant
                // (IPv4 bound address); nothing else can come before our next message.
                const size_t want = probe.state == State::Method ? 2 : 10;
                const ssize_t got = read(probe.fd, probe.head + probe.headLength, want - probe.headLength);
                if (got <= 0) {
                    if (got < 0 && errno == EAGAIN)
                        continue;
                    fail(index, "read", got < 0 ? errno : ECONNRESET);
                    continue;
                }
                probe.headLength = static_cast<unsigned char>(probe.headLength + got);
                if (probe.headLength < want)
                    continue;
                const bool granted = probe.head[0] == 5 && probe.head[1] == 0 && (want == 2 || probe.head[3] == 1);
                probe.headLength = 0;
                const bool sent = granted
                        && (probe.state == State::Method ? sendWhole(probe.fd, connectRequest, connectLength)
                                                         : sendWhole(probe.fd, request, static_cast<size_t>(requestLength)));
                if (!granted || !sent) {
                    fail(index, granted ? "send" : "SOCKS5 reply", granted ? errno : EPROTO);
                    continue;
                }
                probe.state = probe.state == State::Method ? State::Granted : State::Reading;
                continue;
            }
            if (probe.state == State::Sending) {
                const ssize_t wrote = send(probe.fd, request + probe.sent,
                                           static_cast<size_t>(requestLength - probe.sent), MSG_NOSIGNAL);
                if (wrote < 0) {
                    if (errno != EAGAIN)
                        fail(index, "send", errno);
                    continue;
                }
                probe.sent = static_cast<unsigned short>(probe.sent + wrote);
                if (probe.sent < requestLength)
                    continue;
                probe.state = State::Reading;
                readNext(index);
                continue;
            }
            if (probe.state != State::Reading)
                continue;
            for (;;) {
                const ssize_t got = read(probe.fd, scratch, sizeof scratch);
                if (got > 0) {
                    for (ssize_t k = 0; k < got && probe.headLength < sizeof probe.head; ++k)
                        probe.head[probe.headLength++] = scratch[k];
                    continue;
                }
                if (got < 0 && errno == EAGAIN)
                    break;
                if (got < 0) {
                    fail(index, "read", errno);
                    break;
                }
                // Closed by the proxy: the answer is complete.
                const bool ok = probe.headLength == sizeof probe.head
                        && std::memcmp(probe.head, "HTTP/1.", 7) == 0
                        && std::memcmp(probe.head + 8, " 200", 4) == 0;
                close(probe.fd);
                probe.fd = -1;
                probe.state = State::Done;
                if (ok) {
                    ++alive;
                } else {
                    ++dead;
                    if (firstError.empty())
                        firstError = "answer was not 200";
                }
                break;
            }
        }
        openMore();
        finished = alive + dead;
    }
    const double elapsed = bench::monotonicSeconds() - start;
    const bench::CpuTimes cpu = bench::cpuTimes();

    std::printf("BENCH {\"client\":\"epoll\",\"type\":\"%s\",\"n\":%d,\"complete\":%s,\"time_s\":%.4f,"
                "\"outcomes\":{\"alive\":%ld,\"dead\":%ld,\"timeout\":0,\"dns_fail\":0},"
                "\"missing\":%ld,\"duplicates\":0,\"rss_mb\":%.1f,\"threads_peak\":1,"
                "\"cpu_s\":%.3f,\"cpu_user_s\":%.3f,\"cpu_sys_s\":%.3f,\"nofile\":%ld,"
                "\"first_error\":\"%s\"}\n",
                socks5 ? "socks5" : "http", count, complete ? "true" : "false", elapsed, alive, dead, count - alive - dead,
                bench::peakRssMegabytes(), cpu.total(), cpu.user, cpu.system, fileLimit,
                bench::jsonEscape(firstError).c_str());
    std::fflush(stdout);
    return complete ? 0 : 3;
}
