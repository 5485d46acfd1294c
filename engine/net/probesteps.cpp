#include "probe.h"

#include "socketwatcher.h"

#include <QSslSocket>
#include <QStringBuilder>

// What a probe says to its proxy and how the answer decides its outcome:
// ProbeEngine::answered is where "alive" or "dead" is settled.

namespace {
constexpr int maxRedirects = 50; // as many as Qt's network stack follows
constexpr qsizetype tlsBuffer = 64 * 1024; // what a TLS socket may hold, before and after decryption
} // namespace

namespace ProbeText {

QString connectError(int error)
{
    if (PlatformNet::classify(error) == PlatformNet::Error::Refused)
        return QStringLiteral("Connection to proxy refused");
    return QStringLiteral("Connection to proxy failed: %1").arg(PlatformNet::errorText(error));
}

QByteArray hostAndPort(const QUrl &url, bool alwaysPort)
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
          "\r\nAccept: */*\r\nUser-Agent: Mozilla/5.0\r\n";
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
QString unverifiedCredentials()
{
    return QStringLiteral("The target asked for credentials, which are not sent over an unverified connection");
}

QString closedError(int error)
{
    return QStringLiteral("Connection to proxy closed: %1").arg(PlatformNet::errorText(error));
}

} // namespace ProbeText

ProbeEngine::UrlFacts &ProbeEngine::facts(const QUrl &url)
{
    if (m_facts.url != url || m_facts.url.isEmpty())
        m_facts = { url, validTarget(url), QHostAddress(url.host()), {} };
    return m_facts;
}

bool ProbeEngine::validTarget(const QUrl &url)
{
    if (!url.isValid() || !ProbeText::supported(url) || url.host().isEmpty() || url.port() == 0)
        return false; // QUrl itself refuses a port above 65535 and a host with a space
    const QString host = url.host();
    return !QHostAddress(host).isNull() || !QUrl::toAce(host).isEmpty();
}

// The GET: origin-form to the target through a tunnel, else absolute-form to
// the HTTP proxy; never with the URL's user info but as the target's own
// credentials inside verified TLS. The probes of a run share one URL: its part
// of the head is made once.
QByteArray ProbeEngine::get(const Probe &probe, bool inTunnel)
{
    QByteArray &head = facts(probe.url).heads[inTunnel];
    if (head.isEmpty()) {
        const QUrl &url = probe.url;
        const QByteArray origin = ProbeText::originForm(url);
        head = ProbeText::requestHead(inTunnel ? origin
                                               : url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery
                                                               | QUrl::RemoveFragment) + origin,
                                      url);
    }
    const QByteArray marker = probe.request.marker.isEmpty() ? QByteArray()
                                                             : probeMarkerField + (": " + probe.request.marker + "\r\n");
    return head % (inTunnel ? probe.authorization() : probe.proxyAuthorization()) % marker % ProbeText::requestEnd;
}

// The connection to the proxy stands: the SOCKS greeting, a CONNECT for an
// https target, or else the GET itself.
void ProbeEngine::connected(int slot)
{
    Probe &probe = *m_probes[slot];
    if (probe.request.direct) { // no proxy: as through a tunnel already open
        tunnelOpen(slot);
        return;
    }
    if (probe.viaSocks()) {
        const QString host = probe.url.host();
        // SOCKS4: the target's name looked up once for the run (an address is its own).
        const quint32 ipv4 = host == probe.request.url.host() ? probe.request.targetIpv4 : 0;
        probe.socks = std::make_unique<Socks::Handshake>(probe.request.type == ProxyType::Socks5, probe.request.user,
                                                         probe.request.password, host, facts(probe.url).address,
                                                         quint16(probe.url.port(probe.tunnelled() ? 443 : 80)), ipv4);
        const QByteArray greeting = probe.socks->start();
        if (probe.socks->failed())
            conclude(slot, Outcome::Dead, probe.socks->error());
        else
            send(slot, greeting);
    } else if (probe.tunnelled()) {
        const QByteArray target = ProbeText::hostAndPort(probe.url, true);
        send(slot, "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\nUser-Agent: Mozilla/5.0\r\n"
                       + probe.proxyAuthorization() + "\r\n");
    } else {
        send(slot, get(probe, false));
    }
}

void ProbeEngine::received(int slot, const char *data, qsizetype size)
{
    if (m_probes[slot]->request.detect && recognise(slot, data, size))
        return;
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
                         .arg(QString::fromLatin1(ProbeText::hostAndPort(probe.url, true)))
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
    // The URL's user info answers a Basic challenge once, as Qt's network stack
    // does, but only to the target over TLS whose certificate verifies for its
    // host: this connection's, and again the next one's, which carries them.
    if (status == 401 && response.basicChallenge() && !probe.authorizing && !probe.url.userInfo().isEmpty()) {
        if (!probe.tunnelled() || !probe.verified) {
            conclude(slot, Outcome::Dead, ProbeText::unverifiedCredentials());
            return;
        }
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
    if (!ProbeText::supported(target)) {
        conclude(slot, Outcome::Dead, ProbeText::unknownProtocol(target));
        return;
    }
    if (!validTarget(target)) {
        conclude(slot, Outcome::Dead, QStringLiteral("Redirect to an invalid URL"));
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
    probe.request.detect = false; // an answer came: the protocol is known
    if (probe.request.direct && !aimDirect(slot))
        return;
    if (!connectNext(probe))
        conclude(slot, Outcome::Dead, ProbeText::connectError(probe.lastError));
}

// The SOCKS proxy has connected the target: a GET for an http target, TLS for https.
void ProbeEngine::tunnelOpen(int slot)
{
    Probe &probe = *m_probes[slot];
    if (probe.tunnelled())
        startTls(slot);
    else
        send(slot, get(probe, true));
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
    probe.verified = true; // until the handshake reports an error
    const quint32 connection = probe.connection;

    // Certificate errors are accepted: the probe asks whether the proxy
    // carries traffic, not whether the target's certificate is good. Only a
    // connection that is to carry the target's credentials ends on them.
    connect(socket, &QSslSocket::sslErrors, this, [this, slot, connection](const QList<QSslError> &) {
        Probe *probe = current(slot, connection);
        if (probe && probe->authorizing) {
            conclude(slot, Outcome::Dead, ProbeText::unverifiedCredentials());
        } else if (probe) {
            probe->verified = false;
            probe->tls->ignoreSslErrors();
        }
    });
    connect(socket, &QSslSocket::encrypted, this, [this, slot, connection] {
        Probe *probe = current(slot, connection);
        if (!probe)
            return;
        probe->phase = Probe::Phase::Receiving;
        probe->response = probe->answerReader();
        probe->tls->write(get(*probe, true));
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
    char buffer[probeReadChunk];
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
