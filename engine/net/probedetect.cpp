#include "probe.h"

#include <QHostInfo>

// How a probe of an untyped proxy finds out its protocol at least cost: an HTTP
// request first (HTTP proxies answer it at once, and many stay silent for
// seconds on a bare SOCKS5 greeting), which a SOCKS5 proxy answers with a
// method reply (05 FF) and a SOCKS4 one with a refusal (00 5B); on such bytes,
// or on any failure before an answer was recognised, the probe opens a new
// connection and tries SOCKS5, then SOCKS4. And where a direct probe connects.

bool ProbeEngine::recognise(int slot, const char *data, qsizetype size)
{
    Probe &probe = *m_probes[slot];
    if (probe.heard || size <= 0)
        return false;
    probe.heard = true;
    const char first = data[0];
    switch (probe.request.type) {
    case ProxyType::Http:
        if (first == 5) {
            switchProtocol(slot, ProxyType::Socks5);
            return true;
        }
        if (first == 0 || first == 4) {
            switchProtocol(slot, ProxyType::Socks4);
            return true;
        }
        probe.request.detect = first != 'H'; // "HTTP/": it is an HTTP proxy
        break;
    case ProxyType::Socks5:
        probe.request.detect = first != 5;
        break;
    default:
        probe.request.detect = first != 0 && first != 4;
        break;
    }
    return false;
}

// A probe that failed before its proxy's protocol was recognised tries the
// next one; after the last, `text` says that none answered.
bool ProbeEngine::retryOtherProtocol(int slot, QString &text)
{
    Probe &probe = *m_probes[slot];
    if (!probe.request.detect || probe.phase == Probe::Phase::Queued || probe.phase == Probe::Phase::Connecting)
        return false;
    switch (probe.request.type) {
    case ProxyType::Http:
        switchProtocol(slot, ProxyType::Socks5);
        return true;
    case ProxyType::Socks5:
        switchProtocol(slot, ProxyType::Socks4);
        return true;
    default:
        text = QStringLiteral("The proxy answered in none of HTTP, SOCKS5 and SOCKS4");
        return false;
    }
}

void ProbeEngine::switchProtocol(int slot, ProxyType type)
{
    Probe &probe = *m_probes[slot];
    closeConnection(probe);
    probe.request.type = type;
    probe.response.reset();
    probe.socks.reset();
    probe.heard = false;
    probe.nextAddress = 0;
    if (!connectNext(probe)) {
        probe.request.detect = false;
        conclude(slot, Outcome::Dead, ProbeText::connectError(probe.lastError));
    }
}

bool ProbeEngine::aimDirect(int slot)
{
    Probe &probe = *m_probes[slot];
    const QString host = probe.url.host();
    probe.request.proxyPort = quint16(probe.url.port(probe.tunnelled() ? 443 : 80));
    if (host == (probe.addressesOf.isEmpty() ? probe.request.url.host() : probe.addressesOf))
        return true;
    if (const QHostAddress address(host); !address.isNull()) {
        probe.request.proxyAddresses = { address };
        probe.addressesOf = host;
        return true;
    }
    const quint32 id = probe.id;
    QHostInfo::lookupHost(host, this, [this, slot, id, host](const QHostInfo &info) {
        Probe *probe = size_t(slot) < m_probes.size() ? m_probes[slot].get() : nullptr;
        if (!probe || probe->id != id)
            return;
        probe->request.proxyAddresses = info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>();
        probe->addressesOf = host;
        if (probe->request.proxyAddresses.isEmpty())
            conclude(slot, Outcome::Dead, QStringLiteral("Host %1 not found").arg(host));
        else if (!connectNext(*probe))
            conclude(slot, Outcome::Dead, ProbeText::connectError(probe->lastError));
    });
    return false;
}
