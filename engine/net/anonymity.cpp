#include "anonymity.h"

#include <QNetworkInterface>
#include <QRandomGenerator>

#include <algorithm>

const char *anonymityName(Anonymity level)
{
    switch (level) {
    case Anonymity::Transparent:
        return "transparent";
    case Anonymity::Anonymous:
        return "anonymous";
    case Anonymity::Elite:
        break;
    }
    return "elite";
}

QList<QHostAddress> ownAddresses(const JudgeEcho &direct)
{
    QList<QHostAddress> own = QNetworkInterface::allAddresses();
    if (!direct.client.isNull())
        own.prepend(direct.client);
    return own;
}

bool revealsProxy(const QString &name)
{
    // Proxy-Authorization and Proxy-Connection are meant for the proxy alone:
    // one that passes them on shows the judge there was a proxy (and the
    // former gives away the client's credentials too).
    static const QStringList fields { "Via", "X-Forwarded-For", "Forwarded", "Forwarded-For", "X-Forwarded", "X-Forwarded-Host",
                                      "X-Forwarded-Proto", "X-Forwarded-Port", "X-Forwarded-Server", "X-Real-Ip", "Client-Ip",
                                      "X-Client-Ip", "X-Originating-Ip", "X-Remote-Ip", "X-Remote-Addr", "X-Proxy-Id",
                                      "Proxy-Connection", "Proxy-Authorization", "X-Proxy-Connection", "X-Bluecoat-Via",
                                      "X-Proxyuser-Ip", "X-Tinyproxy" };
    return fields.contains(name, Qt::CaseInsensitive);
}

Anonymity anonymityOf(const JudgeEcho &proxied, const JudgeEcho &direct, const QList<QHostAddress> &own)
{
    const auto isOwn = [&own](const QHostAddress &address) {
        return std::any_of(own.cbegin(), own.cend(), [&](const QHostAddress &o) { return o.isEqual(address, QHostAddress::ConvertV4MappedToIPv4); });
    };
    QList<QHostAddress> named = proxied.forwarders;
    named << proxied.client;
    for (auto it = proxied.headers.cbegin(); it != proxied.headers.cend(); ++it)
        if (it.key() != QLatin1String("Host"))
            named << addressesIn(it.value());
    if (std::any_of(named.cbegin(), named.cend(), isOwn))
        return Anonymity::Transparent;
    const QStringList names = proxied.headers.keys();
    const bool reveals = !proxied.forwarders.isEmpty() || std::any_of(names.cbegin(), names.cend(), [&](const QString &name) {
        return revealsProxy(name) && !direct.headers.contains(name);
    });
    return reveals ? Anonymity::Anonymous : Anonymity::Elite;
}

QByteArray newProbeMarker()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
}

bool carriesMarker(const JudgeEcho &echo, const QByteArray &marker)
{
    return !marker.isEmpty() && echo.header(QString::fromLatin1(probeMarkerField)) == QLatin1String(marker);
}
