#pragma once

// What one probe of ProbeEngine holds while it runs, and the texts of its
// requests and errors; shared by the engine's two halves.

#include "anonymity.h"
#include "httpresponse.h"
#include "platformnet.h"
#include "probeengine.h"
#include "socks.h"
#include "wiretext.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

class QSslSocket;

// Bytes read from a socket at a time.
constexpr qsizetype probeReadChunk = 16 * 1024;

namespace ProbeText {
QString connectError(int error);
QString closedError(int error);
bool supported(const QUrl &url); // http or https
QString unknownProtocol(const QUrl &url);
// "host[:port]" as the Host field and CONNECT name it; the port is left out
// when it is the scheme's own, unless `alwaysPort`.
QByteArray hostAndPort(const QUrl &url, bool alwaysPort = false);
// A GET's head up to the fields that differ from probe to probe; then those
// fields, then `requestEnd`.
QByteArray requestHead(const QByteArray &target, const QUrl &url);
constexpr char requestEnd[] = "Connection: close\r\n\r\n";
QByteArray originForm(const QUrl &url);
QString unverifiedCredentials();
} // namespace ProbeText

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
    quint32 watching { 0 }; // the events the watcher waits for on fd
    quint32 messages { 0 }; // sent so far
    QSslSocket *tls { nullptr };
    QByteArray out;
    qsizetype sent { 0 };
    std::unique_ptr<HttpResponse> response;
    std::unique_ptr<Socks::Handshake> socks;
    qint64 deadline { -1 };
    qint64 started { -1 }; // when the first connection to the proxy began
    bool authorizing { false }; // answering the target's Basic challenge with the URL's user info
    bool verified { false }; // the TLS connection to the target has a certificate that verifies for its host
    bool heard { false }; // bytes came on the connection (while the protocol is being found out)
    QString addressesOf; // a direct probe: the host its addresses are of, when not the request's

    bool tunnelled() const { return url.scheme() == QLatin1String("https"); }
    bool viaSocks() const { return !request.direct && request.type != ProxyType::Http; }
    QByteArray proxyAuthorization() const
    {
        if (request.user.isEmpty() && request.password.isEmpty())
            return {};
        return "Proxy-Authorization: " + basicCredentials(request.user, request.password) + "\r\n";
    }
    // Only ever inside TLS to the target whose certificate verified.
    QByteArray authorization() const
    {
        return authorizing && verified && tls
            ? "Authorization: " + basicCredentials(url.userName(), url.password()) + "\r\n"
            : QByteArray();
    }
    // What the probe ends with beside its outcome; it takes the body.
    Answer takeAnswer()
    {
        Answer answer { 0, {}, request.type, request.marker, !proxyAuthorization().isEmpty() };
        if (response) {
            answer.status = response->status();
            answer.body = response->takeCopy();
        }
        return answer;
    }
    std::unique_ptr<HttpResponse> answerReader() const
    {
        auto reader = std::make_unique<HttpResponse>();
        reader->expect(request.expectedText);
        return reader;
    }
};
