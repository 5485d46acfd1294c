#include "probeengine.h"

#include <QSocketNotifier>
#include <QSslSocket>
#include <QTimerEvent>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int maxRedirects = 50; // as many as Qt's network stack follows
constexpr int eventBatch = 256;
constexpr qint64 sliceMs = 2; // hand control back to the event loop this often
constexpr qsizetype readChunk = 16 * 1024;
constexpr qsizetype readBudget = 256 * 1024; // per probe and wake-up, so no peer starves the rest
constexpr qsizetype tlsBuffer = 64 * 1024; // what a TLS socket may hold, before and after decryption

// A desktop session often starts programs with a soft limit of 1024 open
// files; every probe in flight holds one. Take what the hard limit allows.
int openFileLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? 1 << 20 : int(qMin<rlim_t>(limit.rlim_cur, 1 << 20));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString connectError(int error)
{
    if (error == ECONNREFUSED)
        return QStringLiteral("Connection to proxy refused");
    return QStringLiteral("Connection to proxy failed: %1").arg(systemError(error));
}

// "host[:port]" as the Host field and CONNECT name it; the port is left out
// when it is the scheme's own, unless `alwaysPort`.
QByteArray hostAndPort(const QUrl &url, bool alwaysPort = false)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int standard = url.scheme() == QLatin1String("https") ? 443 : 80;
    const int port = url.port(standard);
    if (alwaysPort || port != standard)
        host += ':' + QByteArray::number(port);
    return host;
}

QByteArray requestHead(const QByteArray &target, const QUrl &url)
{
    return "GET " + target + " HTTP/1.1\r\nHost: " + hostAndPort(url)
        + "\r\nCache-Control: no-cache, no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0"
          "\r\nAccept: */*\r\nUser-Agent: Mozilla/5.0\r\nConnection: close\r\n\r\n";
}

QByteArray originForm(const QUrl &url)
{
    QByteArray path = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (path.isEmpty() || path.startsWith('?'))
        path.prepend('/');
    return path;
}

bool supported(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QString unknownProtocol(const QUrl &url)
{
    return QStringLiteral("Protocol \"%1\" is unknown").arg(url.scheme());
}
} // namespace

struct ProbeEngine::Probe
{
    enum class Phase { Queued, Connecting, Sending, Tunnel, Handshake, Receiving };

    int slot { 0 };
    quint32 id { 0 }; // stays the probe's own for its deadline
    quint32 connection { 0 }; // changes with every connection the probe opens
    Request request;
    QUrl url; // the request's URL, then each redirect's
    int redirects { 0 };
    int nextAddress { 0 };
    int lastError { 0 };
    Phase phase { Phase::Queued };
    int fd { -1 };
    QSslSocket *tls { nullptr };
    QByteArray out;
    qsizetype sent { 0 };
    std::unique_ptr<HttpResponse> response;
    qint64 deadline { -1 };

    bool tunnelled() const { return url.scheme() == QLatin1String("https"); }
};

ProbeEngine::ProbeEngine(QObject *parent)
    : QObject(parent)
    , m_openLimit(qMax(16, openFileLimit() - 256))
{
    m_clock.start();
}

// Made with the first probe: the engine may be built before the application
// object, and a socket notifier needs the thread's event dispatcher.
bool ProbeEngine::ensureEpoll()
{
    if (m_notifier)
        return true;
    if (m_epoll < 0)
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        qWarning("Cannot create an epoll set: %s", std::strerror(errno));
        return false;
    }
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ProbeEngine::onEvents);
    return true;
}

ProbeEngine::~ProbeEngine()
{
    abortAll();
    if (m_epoll >= 0)
        ::close(m_epoll);
}

int ProbeEngine::freeSlot()
{
    if (!m_freeSlots.empty()) {
        const int slot = m_freeSlots.back();
        m_freeSlots.pop_back();
        return slot;
    }
    m_probes.emplace_back();
    return int(m_probes.size() - 1);
}

void ProbeEngine::start(Request request)
{
    const int slot = freeSlot();
    auto probe = std::make_unique<Probe>();
    probe->slot = slot;
    probe->id = ++m_serial;
    probe->url = request.url;
    probe->request = std::move(request);
    m_probes[slot] = std::move(probe);
    // Started from the event loop, a slice at a time: thousands of look-ups
    // finish together, and the window should paint between them.
    m_queue.push_back(slot);
    if (!m_starter.isActive())
        m_starter.start(0, this);
}

// The probe's time starts now, when its request is handed to the network.
void ProbeEngine::begin(int slot)
{
    Probe &probe = *m_probes[slot];
    probe.deadline = m_clock.elapsed() + qMax(0, probe.request.timeoutMs);
    m_deadlines.push({ probe.deadline, quint64(slot) << 32 | probe.id });
    armTimer();
    if (!supported(probe.url)) {
        conclude(slot, Outcome::Dead, unknownProtocol(probe.url));
        return;
    }
    if (!ensureEpoll()) {
        conclude(slot, Outcome::Dead, QStringLiteral("Network unavailable"));
        return;
    }
    if (!connectNext(probe))
        conclude(slot, Outcome::Dead, connectError(probe.lastError));
}

bool ProbeEngine::connectNext(Probe &probe)
{
    const QList<QHostAddress> &addresses = probe.request.proxyAddresses;
    while (probe.nextAddress < addresses.size()) {
        const QHostAddress &address = addresses.at(probe.nextAddress++);
        sockaddr_storage storage {};
        socklen_t length = 0;
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            auto *in = reinterpret_cast<sockaddr_in *>(&storage);
            in->sin_family = AF_INET;
            in->sin_port = htons(probe.request.proxyPort);
            in->sin_addr.s_addr = htonl(address.toIPv4Address());
            length = sizeof(sockaddr_in);
        } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(probe.request.proxyPort);
            const Q_IPV6ADDR bytes = address.toIPv6Address();
            std::memcpy(&in6->sin6_addr, bytes.c, 16);
            in6->sin6_scope_id = address.scopeId().toUInt();
            length = sizeof(sockaddr_in6);
        } else {
            continue;
        }
        const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            probe.lastError = errno;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors after all: wait for a probe in flight to end.
                --probe.nextAddress;
                if (m_open > 0) {
                    m_openLimit = qMax(1, m_open);
                    probe.phase = Probe::Phase::Queued;
                    probe.deadline = -1;
                    m_queue.push_front(probe.slot);
                    return true;
                }
                return false;
            }
            continue;
        }
        if (::connect(fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 && errno != EINPROGRESS) {
            probe.lastError = errno;
            ::close(fd);
            continue;
        }
        probe.fd = fd;
        probe.connection = ++m_serial;
        probe.phase = Probe::Phase::Connecting;
        ++m_open;
        watch(probe, EPOLLOUT, true);
        return true;
    }
    if (addresses.isEmpty())
        probe.lastError = EHOSTUNREACH;
    return false;
}

void ProbeEngine::watch(Probe &probe, quint32 events, bool add)
{
    epoll_event event {};
    event.events = events;
    event.data.u64 = quint64(probe.slot) << 32 | probe.connection;
    epoll_ctl(m_epoll, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, probe.fd, &event);
}

ProbeEngine::Probe *ProbeEngine::current(int slot, quint32 connection) const
{
    if (slot < 0 || size_t(slot) >= m_probes.size())
        return nullptr;
    Probe *probe = m_probes[slot].get();
    return probe && probe->connection == connection ? probe : nullptr;
}

void ProbeEngine::onEvents()
{
    // Level-triggered: whatever this call leaves unread is reported again on
    // the next pass of the event loop, so it may stop after any event and
    // let the window paint between slices.
    epoll_event events[eventBatch];
    QElapsedTimer slice;
    slice.start();
    int count = 0;
    do {
        count = epoll_wait(m_epoll, events, eventBatch, 0);
        for (int i = 0; i < count; ++i) {
            // A handler may have ended or replaced a probe named later in the
            // batch; onSocketEvent finds those by their connection serial.
            onSocketEvent(int(events[i].data.u64 >> 32), quint32(events[i].data.u64), events[i].events);
            if (slice.elapsed() >= sliceMs)
                break;
        }
    } while (count == eventBatch && slice.elapsed() < sliceMs);
}

void ProbeEngine::onSocketEvent(int slot, quint32 connection, quint32 events)
{
    Probe *probe = current(slot, connection);
    if (!probe || probe->fd < 0)
        return;
    switch (probe->phase) {
    case Probe::Phase::Connecting: {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(probe->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == 0 && !(events & (EPOLLERR | EPOLLHUP))) {
            probe->phase = Probe::Phase::Sending;
            probe->out = probe->tunnelled()
                ? "CONNECT " + hostAndPort(probe->url, true) + " HTTP/1.1\r\nHost: " + hostAndPort(probe->url, true)
                    + "\r\nUser-Agent: Mozilla/5.0\r\n\r\n"
                : requestHead(probe->url.toEncoded(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                                  + originForm(probe->url),
                              probe->url);
            probe->sent = 0;
            sendSome(slot);
            return;
        }
        probe->lastError = error ? error : ECONNREFUSED;
        closeConnection(*probe);
        if (!connectNext(*probe))
            conclude(slot, Outcome::Dead, connectError(probe->lastError));
        return;
    }
    case Probe::Phase::Sending:
        sendSome(slot);
        return;
    case Probe::Phase::Tunnel:
    case Probe::Phase::Receiving:
        readSome(slot);
        return;
    case Probe::Phase::Queued:
    case Probe::Phase::Handshake:
        return;
    }
}

void ProbeEngine::sendSome(int slot)
{
    Probe &probe = *m_probes[slot];
    while (probe.sent < probe.out.size()) {
        const ssize_t n = ::send(probe.fd, probe.out.constData() + probe.sent, size_t(probe.out.size() - probe.sent),
                                 MSG_NOSIGNAL);
        if (n > 0) {
            probe.sent += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(probe, EPOLLOUT, false);
            return;
        }
        if (n < 0 && errno == EINTR)
            continue;
        conclude(slot, Outcome::Dead, QStringLiteral("Connection to proxy closed: %1").arg(systemError(errno)));
        return;
    }
    probe.out.clear();
    probe.phase = probe.tunnelled() ? Probe::Phase::Tunnel : Probe::Phase::Receiving;
    probe.response = std::make_unique<HttpResponse>(probe.phase == Probe::Phase::Tunnel);
    watch(probe, EPOLLIN | EPOLLRDHUP, false);
}

void ProbeEngine::readSome(int slot)
{
    char buffer[readChunk];
    const quint32 connection = m_probes[slot]->connection;
    qsizetype budget = readBudget;
    while (budget > 0) {
        Probe *probe = current(slot, connection);
        if (!probe || probe->fd < 0)
            return;
        const ssize_t n = ::recv(probe->fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            budget -= n;
            received(slot, buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n < 0 && errno != ECONNRESET) {
            conclude(slot, Outcome::Dead, QStringLiteral("Connection to proxy closed: %1").arg(systemError(errno)));
            return;
        }
        if (n < 0) {
            conclude(slot, Outcome::Dead, QStringLiteral("Connection reset by the proxy"));
            return;
        }
        probe->response->finish();
        answered(slot);
        return;
    }
}

void ProbeEngine::received(int slot, const char *data, qsizetype size)
{
    Probe &probe = *m_probes[slot];
    probe.response->feed(data, size);
    const HttpResponse::State state = probe.response->state();
    if (state == HttpResponse::State::Complete || state == HttpResponse::State::Failed)
        answered(slot);
}

void ProbeEngine::answered(int slot)
{
    Probe &probe = *m_probes[slot];
    const HttpResponse &response = *probe.response;
    if (response.state() == HttpResponse::State::Failed) {
        conclude(slot, Outcome::Dead, response.error());
        return;
    }
    const int status = response.status();
    if (status == 407) {
        conclude(slot, Outcome::Dead, QStringLiteral("Proxy requires authentication"));
        return;
    }
    if (probe.phase == Probe::Phase::Tunnel) {
        if (status >= 200 && status < 300)
            startTls(slot);
        else
            conclude(slot, Outcome::Dead,
                     QStringLiteral("Proxy refused the tunnel to %1: %2 %3")
                         .arg(QString::fromLatin1(hostAndPort(probe.url, true)))
                         .arg(status)
                         .arg(QString::fromLatin1(response.reason())));
        return;
    }
    const bool redirecting = status == 301 || status == 302 || status == 303 || status == 305 || status == 307
        || status == 308;
    if (redirecting && !response.location().isEmpty()) {
        redirect(slot);
        return;
    }
    if (status >= 400) {
        conclude(slot, Outcome::Dead,
                 QStringLiteral("Error transferring %1 - server replied: %2")
                     .arg(probe.url.toString(), QString::fromLatin1(response.reason())));
        return;
    }
    conclude(slot, Outcome::Alive, response.body());
}

void ProbeEngine::redirect(int slot)
{
    Probe &probe = *m_probes[slot];
    const QUrl target = probe.url.resolved(QUrl::fromEncoded(probe.response->location()));
    if (probe.redirects >= maxRedirects) {
        conclude(slot, Outcome::Dead, QStringLiteral("Too many redirects"));
        return;
    }
    if (!target.isValid() || !supported(target)) {
        conclude(slot, Outcome::Dead, unknownProtocol(target));
        return;
    }
    if (probe.tunnelled() && target.scheme() == QLatin1String("http")) {
        conclude(slot, Outcome::Dead, QStringLiteral("Insecure redirect"));
        return;
    }
    closeConnection(probe);
    probe.response.reset();
    probe.url = target;
    ++probe.redirects;
    probe.nextAddress = 0;
    if (!connectNext(probe))
        conclude(slot, Outcome::Dead, connectError(probe.lastError));
}

// The proxy has opened the tunnel: hand the connection to Qt's TLS socket.
void ProbeEngine::startTls(int slot)
{
    Probe &probe = *m_probes[slot];
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, probe.fd, nullptr);
    auto *socket = new QSslSocket(this);
    // Unbounded, the socket takes in all the kernel holds, megabytes per probe
    // when a body streams in faster than the event loop comes round.
    socket->setReadBufferSize(tlsBuffer);
    if (!socket->setSocketDescriptor(probe.fd)) {
        const QString error = socket->errorString();
        delete socket;
        conclude(slot, Outcome::Dead, error);
        return;
    }
    probe.fd = -1; // the socket owns it now
    probe.tls = socket;
    probe.phase = Probe::Phase::Handshake;
    const quint32 connection = probe.connection;

    // Certificate errors are accepted: the probe asks whether the proxy
    // carries traffic, not whether the target's certificate is good.
    connect(socket, &QSslSocket::sslErrors, socket, [socket](const QList<QSslError> &) { socket->ignoreSslErrors(); });
    connect(socket, &QSslSocket::encrypted, this, [this, slot, connection] {
        Probe *probe = current(slot, connection);
        if (!probe)
            return;
        probe->phase = Probe::Phase::Receiving;
        probe->response = std::make_unique<HttpResponse>();
        probe->tls->write(requestHead(originForm(probe->url), probe->url));
    });
    connect(socket, &QSslSocket::readyRead, this, [this, slot, connection] {
        if (current(slot, connection))
            readTls(slot);
    });
    auto ended = [this, slot, connection] {
        Probe *probe = current(slot, connection);
        if (!probe)
            return;
        if (probe->phase != Probe::Phase::Receiving) {
            conclude(slot, Outcome::Dead, probe->tls->errorString());
            return;
        }
        readTls(slot);
        if ((probe = current(slot, connection))) {
            probe->response->finish();
            answered(slot);
        }
    };
    connect(socket, &QSslSocket::disconnected, this, ended);
    connect(socket, &QSslSocket::errorOccurred, this, [this, slot, connection, ended](QAbstractSocket::SocketError error) {
        Probe *probe = current(slot, connection);
        if (!probe)
            return;
        if (error == QAbstractSocket::RemoteHostClosedError)
            ended();
        else
            conclude(slot, Outcome::Dead, probe->tls->errorString());
    });
    socket->setPeerVerifyName(probe.url.host());
    socket->startClientEncryption();
}

void ProbeEngine::readTls(int slot)
{
    char buffer[readChunk];
    const quint32 connection = m_probes[slot]->connection;
    Probe *probe = m_probes[slot].get();
    while (probe && probe->phase == Probe::Phase::Receiving) {
        const qint64 n = probe->tls->read(buffer, sizeof buffer);
        if (n <= 0)
            return;
        received(slot, buffer, n);
        probe = current(slot, connection);
    }
}

void ProbeEngine::closeConnection(Probe &probe)
{
    if (probe.fd >= 0) {
        ::close(probe.fd); // also leaves the epoll set
        probe.fd = -1;
        --m_open;
    }
    if (probe.tls) {
        probe.tls->disconnect(this);
        probe.tls->abort();
        probe.tls->deleteLater();
        probe.tls = nullptr;
        --m_open;
    }
}

void ProbeEngine::conclude(int slot, Outcome outcome, const QString &text)
{
    std::unique_ptr<Probe> probe = std::move(m_probes[slot]);
    closeConnection(*probe);
    m_freeSlots.push_back(slot);
    if (m_open == 0 && m_queue.empty() && m_freeSlots.size() == m_probes.size())
        m_deadlines = {}; // nothing left to time out
    if (!m_queue.empty() && !m_starter.isActive())
        m_starter.start(0, this); // a descriptor is free again
    emit finished(probe->request.index, outcome, text);
}

void ProbeEngine::startQueued()
{
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.empty() && m_open < m_openLimit && slice.elapsed() < sliceMs) {
        const int slot = m_queue.front();
        m_queue.pop_front();
        if (m_probes[slot])
            begin(slot);
    }
    if (!m_queue.empty() && m_open < m_openLimit) {
        if (!m_starter.isActive())
            m_starter.start(0, this);
    } else {
        m_starter.stop();
    }
}

void ProbeEngine::abortAll()
{
    for (auto &probe : m_probes) {
        if (probe)
            closeConnection(*probe);
    }
    m_probes.clear();
    m_freeSlots.clear();
    m_queue.clear();
    m_deadlines = {};
    m_timer.stop();
    m_timerDue = -1;
    m_starter.stop();
    m_open = 0;
}

void ProbeEngine::armTimer()
{
    if (m_deadlines.empty()) {
        m_timer.stop();
        m_timerDue = -1;
        return;
    }
    const qint64 due = m_deadlines.top().first;
    if (due == m_timerDue && m_timer.isActive())
        return;
    m_timerDue = due;
    m_timer.start(int(qMax<qint64>(0, due - m_clock.elapsed())), Qt::PreciseTimer, this);
}

void ProbeEngine::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_starter.timerId()) {
        startQueued();
        return;
    }
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    m_timerDue = -1;
    while (!m_deadlines.empty() && m_deadlines.top().first <= m_clock.elapsed()) {
        const auto [due, key] = m_deadlines.top();
        m_deadlines.pop();
        const int slot = int(key >> 32);
        const Probe *probe = size_t(slot) < m_probes.size() ? m_probes[slot].get() : nullptr;
        if (probe && probe->id == quint32(key) && probe->deadline == due && probe->phase != Probe::Phase::Queued)
            conclude(slot, Outcome::Timeout, QStringLiteral("Timeout"));
    }
    armTimer();
}
