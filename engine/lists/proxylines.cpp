#include "proxylines.h"

#include "wiretext.h"

#include <QHostAddress>
#include <QStringDecoder>
#include <QUrl>

#include <cmath>
#include <unordered_set>

namespace {

using namespace ProxyLineLimits;

bool isHostName(QStringView host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (const QChar c : host) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'.' && c != u'_')
            return false;
    }
    return true;
}

bool isIpv6Address(QStringView text)
{
    if (text.size() > 64 || !text.contains(u':'))
        return false;
    QHostAddress address;
    return address.setAddress(text.toString()) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

int readPort(QStringView text)
{
    if (text.isEmpty() || text.size() > 5)
        return 0;
    int port = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return 0;
        port = port * 10 + (c.unicode() - u'0');
    }
    return port <= 65535 ? port : 0;
}

// Credentials reach a request header or a SOCKS packet: no control characters.
bool isCredential(const QString &text)
{
    if (text.size() > maxCredentialLength)
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

std::optional<QString> percentDecoded(QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes;
    bytes.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes.append(utf8[i]);
            continue;
        }
        const int high = i + 2 < utf8.size() ? hexValue(utf8[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(utf8[i + 2]) : -1;
        if (low < 0)
            return std::nullopt;
        bytes.append(char(high << 4 | low));
        i += 2;
    }
    // A leading U+FEFF is part of the name, not a byte-order mark.
    return QString(QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom).decode(bytes));
}

std::optional<ProxyType> schemeType(QStringView scheme)
{
    if (scheme.size() > 7)
        return std::nullopt;
    const QString name = scheme.toString().toLower();
    if (name == u"socks5h")
        return ProxyType::Socks5;
    return proxyTypeFromName(name);
}

bool hasCredentials(const ProxyAddress &entry)
{
    return !entry.user.isEmpty() || !entry.password.isEmpty();
}

// Entries of one list by position, the same proxy (type, host, port, user)
// being one key: no key strings to build for a hundred thousand lines.
struct SameProxy
{
    const QList<ProxyAddress> *entries;

    size_t operator()(qsizetype i) const { return sameProxyHash(entries->at(i)); }
    bool operator()(qsizetype a, qsizetype b) const { return sameProxy(entries->at(a), entries->at(b)); }
};

} // namespace

std::optional<ProxyAddress> parseProxyLine(QStringView line, ProxyType untyped)
{
    line = line.trimmed();
    while (line.startsWith(u'\xfeff'))
        line = line.mid(1).trimmed();
    if (line.isEmpty() || line.size() > maxLineLength)
        return std::nullopt;

    ProxyAddress entry;
    entry.type = untyped;
    QStringView rest = line;
    const qsizetype schemeEnd = line.indexOf(u"://");
    const bool url = schemeEnd >= 0;
    if (url) {
        const auto type = schemeType(line.left(schemeEnd));
        if (!type)
            return std::nullopt;
        entry.type = *type;
        rest = line.mid(schemeEnd + 3);
        if (rest.endsWith(u'/'))
            rest.chop(1);
        const qsizetype at = rest.lastIndexOf(u'@');
        if (at >= 0) {
            const QStringView userInfo = rest.left(at);
            const qsizetype colon = userInfo.indexOf(u':');
            const auto user = percentDecoded(colon < 0 ? userInfo : userInfo.left(colon));
            const auto password = percentDecoded(colon < 0 ? QStringView() : userInfo.mid(colon + 1));
            if (!user || !password)
                return std::nullopt;
            entry.user = *user;
            entry.password = *password;
            if (!hasCredentials(entry))
                return std::nullopt;
            rest = rest.mid(at + 1);
        }
    }

    QStringView afterHost;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || !isIpv6Address(rest.mid(1, close - 1)))
            return std::nullopt;
        entry.host = rest.mid(1, close - 1).toString();
        afterHost = rest.mid(close + 1);
    } else {
        const qsizetype colon = rest.indexOf(u':');
        if (colon < 0 || !isHostName(rest.left(colon)))
            return std::nullopt;
        entry.host = rest.left(colon).toString();
        afterHost = rest.mid(colon);
    }
    if (!afterHost.startsWith(u':'))
        return std::nullopt;
    afterHost = afterHost.mid(1);

    const qsizetype portEnd = afterHost.indexOf(u':');
    entry.port = readPort(portEnd < 0 ? afterHost : afterHost.left(portEnd));
    if (entry.port == 0)
        return std::nullopt;
    if (portEnd >= 0) {
        // host:port:user:password; the password may hold colons of its own.
        if (url)
            return std::nullopt;
        const QStringView credentials = afterHost.mid(portEnd + 1);
        const qsizetype colon = credentials.indexOf(u':');
        if (colon < 0)
            return std::nullopt;
        entry.user = credentials.left(colon).toString();
        entry.password = credentials.mid(colon + 1).toString();
        if (!hasCredentials(entry))
            return std::nullopt;
    }
    if (!isCredential(entry.user) || !isCredential(entry.password))
        return std::nullopt;
    return entry;
}

ProxyLinesRead parseProxyLines(QStringView text, ProxyType untyped)
{
    ProxyLinesRead read;
    const SameProxy same { &read.entries };
    std::unordered_set<qsizetype, SameProxy, SameProxy> seen(64, same, same);
    constexpr qsizetype skippedNamed = 5;
    qsizetype start = 0, lineNumber = 0, nextLineNumber = 1;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        QStringView line = text.mid(start, end - start).trimmed();
        start = end + 1;
        // CR LF, LF and a lone CR each end a line.
        lineNumber = nextLineNumber;
        if (end < text.size() && !(text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n'))
            ++nextLineNumber;
        while (line.startsWith(u'\xfeff'))
            line = line.mid(1).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const auto entry = read.entries.size() < maxEntries ? parseProxyLine(line, untyped) : std::nullopt;
        if (!entry) {
            if (++read.skipped <= skippedNamed)
                read.firstSkipped.append(lineNumber);
            continue;
        }
        read.entries.append(*entry);
        if (!seen.insert(read.entries.size() - 1).second) {
            read.entries.removeLast();
            ++read.duplicates;
        }
    }
    return read;
}

QString formatProxyLine(const ProxyAddress &entry)
{
    QString host;
    if (isIpv6Address(entry.host))
        host = u'[' + entry.host + u']';
    else if (isHostName(entry.host))
        host = entry.host;
    if (host.isEmpty() || entry.port < 1 || entry.port > 65535 || !isCredential(entry.user)
        || !isCredential(entry.password))
        return QString();

    const QString address = host + u':' + QString::number(entry.port);
    if (entry.type == ProxyType::Http && !hasCredentials(entry))
        return address;
    QString line = proxyTypeName(entry.type) + QStringLiteral("://");
    if (hasCredentials(entry)) {
        line += QString::fromLatin1(QUrl::toPercentEncoding(entry.user));
        if (!entry.password.isEmpty())
            line += u':' + QString::fromLatin1(QUrl::toPercentEncoding(entry.password));
        line += u'@';
    }
    return line + address;
}

QString formatProxyLines(const QList<ProxyAddress> &entries)
{
    QString text;
    for (const ProxyAddress &entry : entries) {
        const QString line = formatProxyLine(entry);
        if (!line.isEmpty())
            text += line + u'\n';
    }
    return text;
}
