#include "probeengine.h"

#include "platformnet.h"
#include "socketwatcher.h"
#include "socks.h"
#include "textsearch.h"

#include <QSslSocket>
#include <QTimerEvent>

#include <climits>

namespace {
constexpr int maxRedirects = 50; // as many as Qt's network stack follows
constexpr qint64 sliceMs = 2; // hand control back to the event loop this often: the window paints between slices
constexpr qsizetype readChunk = 16 * 1024;
constexpr qsizetype readBudget = 256 * 1024; // per probe and wake-up, so no peer starves the rest
constexpr qsizetype tlsBuffer = 64 * 1024; // what a TLS socket may hold, before and after decryption

QString systemError(int error)
{
    return PlatformNet::errorText(error);
}

QString connectError(int error)
{
    if (PlatformNet::classify(error) == PlatformNet::Error::Refused)
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

// `fields`: further header lines, each ending in CR LF.
QByteArray requestHead(const QByteArray &target, const QUrl &url, const QByteArray &fields = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: " + hostAndPort(url)
        + "\r\nCache-Control: no-cache, no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0"
          "\r\nAccept: */*\r\nUser-Agent: Mozilla/5.0\r\n" + fields + "Connection: close\r\n\r\n";
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
    // Socks: waiting for the proxy's reply in the SOCKS handshake.
    enum class Phase { Queued, Connecting, Sending, Socks, Tunnel, Handshake, Receiving };

    int slot { 0 };
    quint32 id { 0 }; // stays the probe's own for its deadline
    quint32 connection { 0 }; // changes with every connection the probe opens
    Request request;
    QUrl url; // the request's URL, then each redirect's
    int redirects { 0 };
    int nextAddress { 0 };
    int lastError { 0 };
    Phase phase { Phase::Queued };
    PlatformNet::Socket fd { PlatformNet::invalidSocket };
    QSslSocket *tls { nullptr };
    QByteArray out;
    qsizetype sent { 0 };
    std::unique_ptr<HttpResponse> response;
    std::unique_ptr<Socks::Handshake> socks;
    qint64 deadline { -1 };
    qint64 started { -1 }; // when the first connection to the proxy began
    bool authorizing { false }; // answering the target's Basic challenge with the URL's user info

    bool tunnelled() const { return url.scheme() == QLatin1String("https"); }
    bool viaSocks() const { return request.type != ProxyType::Http; }
    QByteArray proxyAuthorization() const
    {
        if (request.user.isEmpty() && request.password.isEmpty())
            return {};
        return "Proxy-Authorization: " + basicCredentials(request.user, request.password) + "\r\n";
    }
    QByteArray authorization() const
    {
        return authorizing ? "Authorization: " + basicCredentials(url.userName(), url.password()) + "\r\n" : QByteArray();
    }
    // The GET: origin-form to the target through a tunnel, else absolute-form to the
    // HTTP proxy; never with the URL's user info.
    QByteArray get(bool inTunnel) const
    {
        if (inTunnel)
            return requestHead(originForm(url), url, authorization());
        return requestHead(url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                               + originForm(url),
                           url, proxyAuthorization() + authorization());
    }
    std::unique_ptr<HttpResponse> answerReader() const
    {
        auto reader = std::make_unique<HttpResponse>();
        reader->expect(request.expectedText);
        return reader;
    }
};

ProbeEngine::ProbeEngine(QObject *parent)
    : QObject(parent)
    , m_watcher(SocketWatcher::create(
          [this](quint64 key, quint32 events) { onSocketEvent(int(key >> 32), quint32(key), events); }, this))
    , m_fileLimit(qMax(16, PlatformNet::openFileLimit() - 256))
    , m_openLimit(m_fileLimit)
{
    m_clock.start();
}

ProbeEngine::~ProbeEngine()
{
    abortAll();
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

// The probe's time starts now, when its request is handed to the network. A
// probe queued again in the middle of a redirect keeps the time it started with.
void ProbeEngine::begin(int slot)
{
    Probe &probe = *m_probes[slot];
    if (probe.started < 0) {
        probe.started = m_clock.elapsed();
        probe.deadline = probe.started + qMax(0, probe.request.timeoutMs);
    } else if (probe.deadline <= m_clock.elapsed()) {
        conclude(slot, Outcome::Timeout, QStringLiteral("Timeout"));
        return;
    }
    m_deadlines.push({ probe.deadline, quint64(slot) << 32 | probe.id });
    armTimer();
    if (!supported(probe.url)) {
        conclude(slot, Outcome::Dead, unknownProtocol(probe.url));
        return;
    }
    if (!m_watcher->ready()) {
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
        if (address.protocol() != QAbstractSocket::IPv4Protocol
            && address.protocol() != QAbstractSocket::IPv6Protocol)
            continue;
        int error = 0;
        const PlatformNet::Socket fd = PlatformNet::connectTo(address, probe.request.proxyPort, &error);
        if (fd == PlatformNet::invalidSocket) {
            probe.lastError = error;
            if (PlatformNet::classify(error) == PlatformNet::Error::OutOfDescriptors) {
                // Out of descriptors after all: wait for a probe in flight to end.
                --probe.nextAddress;
                if (m_open > 0) {
                    m_openLimit = qMax(1, m_open);
                    probe.phase = Probe::Phase::Queued;
                    m_queue.push_front(probe.slot);
                    return true;
                }
                return false;
            }
            continue;
        }
        probe.fd = fd;
        probe.connection = ++m_serial;
        probe.phase = Probe::Phase::Connecting;
        ++m_open;
        watch(probe, PlatformNet::Writable, true);
        return true;
    }
    if (addresses.isEmpty())
        probe.lastError = PlatformNet::unreachableError();
    return false;
}

void ProbeEngine::watch(Probe &probe, quint32 events, bool add)
{
    m_watcher->watch(probe.fd, events, quint64(probe.slot) << 32 | probe.connection, add);
}

ProbeEngine::Probe *ProbeEngine::current(int slot, quint32 connection) const
{
    if (slot < 0 || size_t(slot) >= m_probes.size())
        return nullptr;
    Probe *probe = m_probes[slot].get();
    return probe && probe->connection == connection ? probe : nullptr;
}

void ProbeEngine::onSocketEvent(int slot, quint32 connection, quint32 events)
{
    Probe *probe = current(slot, connection);
    if (!probe || probe->fd == PlatformNet::invalidSocket)
        return;
    switch (probe->phase) {
    case Probe::Phase::Connecting: {
        const int error = PlatformNet::pendingError(probe->fd);
        if (error == 0 && !(events & PlatformNet::Broken)) {
            if (probe->viaSocks()) {
                const QString host = probe->url.host();
                quint32 ipv4 = QHostAddress(host).toIPv4Address();
                if (!ipv4 && host == probe->request.url.host())
                    ipv4 = probe->request.targetIpv4; // looked up once for the run
                probe->socks = std::make_unique<Socks::Handshake>(
                    probe->request.type == ProxyType::Socks5, probe->request.user, probe->request.password, host,
                    quint16(probe->url.port(probe->tunnelled() ? 443 : 80)), ipv4);
                const QByteArray greeting = probe->socks->start();
                if (probe->socks->failed())
                    conclude(slot, Outcome::Dead, probe->socks->error());
                else
                    send(slot, greeting);
            } else if (probe->tunnelled()) {
                send(slot, "CONNECT " + hostAndPort(probe->url, true) + " HTTP/1.1\r\nHost: " + hostAndPort(probe->url, true)
                               + "\r\nUser-Agent: Mozilla/5.0\r\n" + probe->proxyAuthorization() + "\r\n");
            } else {
                send(slot, probe->get(false));
            }
            return;
        }
        probe->lastError = error ? error : PlatformNet::refusedError();
        closeConnection(*probe);
        if (!connectNext(*probe))
            conclude(slot, Outcome::Dead, connectError(probe->lastError));
        return;
    }
    case Probe::Phase::Sending:
        sendSome(slot);
        return;
    case Probe::Phase::Socks:
    case Probe::Phase::Tunnel:
    case Probe::Phase::Receiving:
        readSome(slot);
        return;
    case Probe::Phase::Queued:
    case Probe::Phase::Handshake:
        return;
    }
}

void ProbeEngine::send(int slot, const QByteArray &bytes)
{
    Probe &probe = *m_probes[slot];
    probe.phase = Probe::Phase::Sending;
    probe.out = bytes;
    probe.sent = 0;
    sendSome(slot);
}

void ProbeEngine::sendSome(int slot)
{
    Probe &probe = *m_probes[slot];
    while (probe.sent < probe.out.size()) {
        int error = 0;
        const qint64 n = PlatformNet::send(probe.fd, probe.out.constData() + probe.sent, probe.out.size() - probe.sent,
                                           &error);
        if (n > 0) {
            probe.sent += n;
            continue;
        }
        const PlatformNet::Error kind = n < 0 ? PlatformNet::classify(error) : PlatformNet::Error::Other;
        if (kind == PlatformNet::Error::WouldBlock) {
            watch(probe, PlatformNet::Writable, false);
            return;
        }
        if (kind == PlatformNet::Error::Interrupted)
            continue;
        conclude(slot, Outcome::Dead, QStringLiteral("Connection to proxy closed: %1").arg(systemError(error)));
        return;
    }
    probe.out.clear();
    if (probe.socks && !probe.socks->done()) {
        probe.phase = Probe::Phase::Socks;
    } else if (probe.tunnelled() && !probe.socks) {
        probe.phase = Probe::Phase::Tunnel;
        probe.response = std::make_unique<HttpResponse>(true);
    } else {
        probe.phase = Probe::Phase::Receiving;
        probe.response = probe.answerReader();
    }
    watch(probe, PlatformNet::Readable, false);
}

void ProbeEngine::readSome(int slot)
{
    char buffer[readChunk];
    const quint32 connection = m_probes[slot]->connection;
    qsizetype budget = readBudget;
    while (budget > 0) {
        Probe *probe = current(slot, connection);
        if (!probe || probe->fd == PlatformNet::invalidSocket)
            return;
        int error = 0;
        const qint64 n = PlatformNet::recv(probe->fd, buffer, sizeof buffer, &error);
        if (n > 0) {
            budget -= n;
            received(slot, buffer, n);
            continue;
        }
        const PlatformNet::Error kind = n < 0 ? PlatformNet::classify(error) : PlatformNet::Error::Other;
        if (kind == PlatformNet::Error::Interrupted)
            continue;
        if (kind == PlatformNet::Error::WouldBlock)
            return;
        if (n < 0 && kind != PlatformNet::Error::Reset) {
            conclude(slot, Outcome::Dead, QStringLiteral("Connection to proxy closed: %1").arg(systemError(error)));
            return;
        }
        if (n < 0) {
            conclude(slot, Outcome::Dead, QStringLiteral("Connection reset by the proxy"));
            return;
        }
        if (probe->socks && !probe->socks->done()) {
            probe->socks->finish();
            conclude(slot, Outcome::Dead, probe->socks->error());
            return;
        }
        if (!probe->response) { // closed while the request was still going out
            conclude(slot, Outcome::Dead, QStringLiteral("Connection closed"));
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
    if (probe.socks && !probe.socks->done()) {
        const QByteArray next = probe.socks->feed(data, size);
        if (probe.socks->failed())
            conclude(slot, Outcome::Dead, probe.socks->error());
        else if (probe.socks->done())
            tunnelOpen(slot);
        else if (!next.isEmpty())
            send(slot, next);
        return;
    }
    if (!probe.response) {
        conclude(slot, Outcome::Dead, QStringLiteral("Proxy answered before the request was sent"));
        return;
    }
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
    // Only the proxy answers CONNECT: a 401 to it (tinyproxy's answer to wrong
    // credentials) is the proxy's too.
    if (status == 407 || (status == 401 && probe.phase == Probe::Phase::Tunnel && !probe.proxyAuthorization().isEmpty())) {
        conclude(slot, Outcome::Dead, probe.proxyAuthorization().isEmpty() ? QStringLiteral("Proxy requires authentication")
                                                                          : QStringLiteral("Proxy rejected the credentials"));
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
    // The URL's user info answers a Basic challenge once, as Qt's network stack does.
    if (status == 401 && response.basicChallenge() && !probe.authorizing && !probe.url.userInfo().isEmpty()) {
        probe.authorizing = true;
        reconnect(slot);
        return;
    }
    if (status >= 400) {
        conclude(slot, Outcome::Dead,
                 QStringLiteral("Error transferring %1 - server replied: %2")
                     .arg(probe.url.toString(QUrl::RemoveUserInfo), QString::fromLatin1(response.reason())));
        return;
    }
    if (response.lacksExpected()) {
        conclude(slot, Outcome::Dead, QStringLiteral("Answer lacks the expected text"));
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
    probe.url = target;
    ++probe.redirects;
    probe.authorizing = false;
    reconnect(slot);
}

// The same probe again, on a new connection, for a redirect or to answer a challenge.
void ProbeEngine::reconnect(int slot)
{
    Probe &probe = *m_probes[slot];
    closeConnection(probe);
    probe.response.reset();
    probe.socks.reset();
    probe.nextAddress = 0;
    if (!connectNext(probe))
        conclude(slot, Outcome::Dead, connectError(probe.lastError));
}

// The SOCKS proxy has connected the target: a GET for an http target, TLS for https.
void ProbeEngine::tunnelOpen(int slot)
{
    Probe &probe = *m_probes[slot];
    if (probe.tunnelled())
        startTls(slot);
    else
        send(slot, probe.get(true));
}

// The proxy has opened the tunnel: hand the connection to Qt's TLS socket.
void ProbeEngine::startTls(int slot)
{
    Probe &probe = *m_probes[slot];
    m_watcher->detach(probe.fd);
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
    probe.fd = PlatformNet::invalidSocket; // the socket owns it now
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
        probe->response = probe->answerReader();
        probe->tls->write(probe->get(true));
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
    if (probe.fd != PlatformNet::invalidSocket) {
        m_watcher->closing(probe.fd);
        PlatformNet::close(probe.fd);
        probe.fd = PlatformNet::invalidSocket;
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
    // After the system ran out of descriptors, each probe that ends lets one more start.
    if (m_openLimit < m_fileLimit)
        ++m_openLimit;
    if (m_open == 0 && m_queue.empty() && m_freeSlots.size() == m_probes.size()) {
        m_deadlines = {}; // nothing left to time out
        m_timer.stop();
        m_timerDue = -1;
    }
    if (!m_queue.empty() && !m_starter.isActive())
        m_starter.start(0, this); // a descriptor is free again
    const qint64 elapsed = probe->started < 0 ? 0 : m_clock.elapsed() - probe->started;
    emit finished(probe->request.index, outcome, text, int(qMin<qint64>(elapsed, INT_MAX)));
}

bool ProbeEngine::idle() const
{
    return m_open == 0 && m_queue.empty() && m_freeSlots.size() == m_probes.size() && !m_timer.isActive()
        && !m_starter.isActive();
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
    m_openLimit = m_fileLimit; // each run starts with every descriptor the limit allows
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
    // Thousands of probes can time out together; ending each one costs more
    // where every socket has its own notifier, so this too goes a slice at a
    // time, and what is left is due at once on the next pass.
    QElapsedTimer slice;
    slice.start();
    while (!m_deadlines.empty() && m_deadlines.top().first <= m_clock.elapsed() && slice.elapsed() < sliceMs) {
        const auto [due, key] = m_deadlines.top();
        m_deadlines.pop();
        const int slot = int(key >> 32);
        const Probe *probe = size_t(slot) < m_probes.size() ? m_probes[slot].get() : nullptr;
        if (probe && probe->id == quint32(key) && probe->deadline == due && probe->phase != Probe::Phase::Queued)
            conclude(slot, Outcome::Timeout, QStringLiteral("Timeout"));
    }
    armTimer();
}
