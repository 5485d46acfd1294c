#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringView>

#include <optional>

// How a probe speaks to its proxy. A list entry without a type is plain HTTP,
// so every list written before the other types existed keeps its meaning.
// Auto: the probe finds out, trying HTTP, then SOCKS5, then SOCKS4.
enum class ProxyType { Http, Socks4, Socks5, Auto };

inline QString proxyTypeName(ProxyType type)
{
    switch (type) {
    case ProxyType::Socks4:
        return QStringLiteral("socks4");
    case ProxyType::Socks5:
        return QStringLiteral("socks5");
    case ProxyType::Auto:
        return QStringLiteral("auto");
    case ProxyType::Http:
        break;
    }
    return QStringLiteral("http");
}

// "http", "socks4", "socks5" or "auto"; anything else names no type.
inline std::optional<ProxyType> proxyTypeFromName(QStringView name)
{
    if (name == u"http")
        return ProxyType::Http;
    if (name == u"socks4")
        return ProxyType::Socks4;
    if (name == u"socks5")
        return ProxyType::Socks5;
    if (name == u"auto")
        return ProxyType::Auto;
    return std::nullopt;
}

// One proxy of a list, as a test run and the list readers see it.
struct ProxyAddress
{
    QString host;
    int port { 0 };
    ProxyType type { ProxyType::Http };
    QString user;
    QString password;
};

// One proxy for a list that keeps each once: the same type, host, port and
// user (a second password for them is still the same proxy).
inline bool sameProxy(const ProxyAddress &a, const ProxyAddress &b)
{
    return a.type == b.type && a.port == b.port && a.host == b.host && a.user == b.user;
}

inline size_t sameProxyHash(const ProxyAddress &entry)
{
    return qHashMulti(0, int(entry.type), entry.host, entry.port, entry.user);
}
