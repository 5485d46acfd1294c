#include "socks.h"

#include <QHostAddress>
#include <QUrl>

#include <cstring>

namespace Socks {

namespace {
void appendPort(QByteArray &bytes, quint16 port)
{
    bytes += char(port >> 8);
    bytes += char(port & 0xff);
}

// A length byte, then the field: 1 to 255 bytes.
bool appendCounted(QByteArray &bytes, const QByteArray &field)
{
    if (field.isEmpty() || field.size() > 255)
        return false;
    bytes += char(field.size());
    bytes += field;
    return true;
}

QString refusal5(int code)
{
    static const char *const reasons[] = { nullptr,
                                           "general failure",
                                           "rule set",
                                           "network unreachable",
                                           "host unreachable",
                                           "the target refused it",
                                           "TTL expired",
                                           "command not supported",
                                           "address type not supported" };
    const QString reason = code < 9 ? QString::fromLatin1(reasons[code]) : QStringLiteral("code %1").arg(code);
    return QStringLiteral("SOCKS5 proxy refused the connection (%1)").arg(reason);
}

QString refusal4(int code)
{
    const QString reason = code == 91 ? QStringLiteral("rejected or failed")
        : code == 92                  ? QStringLiteral("no identd on the client")
        : code == 93                  ? QStringLiteral("user ID not accepted")
                                      : QStringLiteral("code %1").arg(code);
    return QStringLiteral("SOCKS4 proxy refused the connection (%1)").arg(reason);
}
} // namespace

QByteArray greeting(bool credentials)
{
    return credentials ? QByteArray("\x05\x02\x00\x02", 4) : QByteArray("\x05\x01\x00", 3);
}

QByteArray authentication(const QString &user, const QString &password)
{
    QByteArray bytes("\x01", 1);
    if (!appendCounted(bytes, user.toUtf8()) || !appendCounted(bytes, password.toUtf8()))
        return {};
    return bytes;
}

QByteArray connect5(const QString &host, quint16 port)
{
    return connect5(QHostAddress(host), host, port);
}

QByteArray connect5(const QHostAddress &address, const QString &host, quint16 port)
{
    QByteArray bytes;
    bytes.reserve(3 + 1 + 1 + 255 + 2);
    bytes.append("\x05\x01\x00", 3);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ip = address.toIPv4Address();
        bytes += '\x01';
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += char(ip >> shift & 0xff);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol && address.scopeId().isEmpty()) {
        const Q_IPV6ADDR ip = address.toIPv6Address();
        bytes += '\x04';
        bytes += QByteArray(reinterpret_cast<const char *>(ip.c), 16);
    } else {
        bytes += '\x03';
        if (!appendCounted(bytes, QUrl::toAce(host)))
            return {};
    }
    appendPort(bytes, port);
    return bytes;
}

QByteArray connect4(quint32 ipv4, const QString &host, quint16 port, const QString &user)
{
    QByteArray bytes("\x04\x01", 2);
    appendPort(bytes, port);
    const quint32 ip = ipv4 ? ipv4 : 1; // 0.0.0.x asks the proxy to resolve the name that follows
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += char(ip >> shift & 0xff);
    bytes += user.toUtf8().replace('\0', "");
    bytes += '\0';
    if (!ipv4) {
        const QByteArray name = QUrl::toAce(host);
        if (name.isEmpty())
            return {};
        bytes += name;
        bytes += '\0';
    }
    return bytes;
}

qsizetype Reply::expected() const
{
    switch (m_form) {
    case Form::Method:
    case Form::Auth:
        return 2;
    case Form::Connect4:
        return 8;
    case Form::Connect5:
        break;
    }
    // VER REP RSV ATYP, the bound address (skipped), the bound port.
    if (m_have < 4)
        return 4;
    const char type = m_bytes[3];
    if (type == 1)
        return 4 + 4 + 2;
    if (type == 4)
        return 4 + 16 + 2;
    if (m_have < 5)
        return 5;
    return 5 + quint8(m_bytes[4]) + 2;
}

void Reply::feed(const char *data, qsizetype size)
{
    while (size > 0 && m_state == State::Reading) {
        const qsizetype take = qMin(size, expected() - m_have);
        std::memcpy(m_bytes.data() + m_have, data, size_t(take));
        m_have += take;
        data += take;
        size -= take;
        check();
    }
    if (size > 0 && m_state == State::Done)
        fail(QStringLiteral("SOCKS proxy sent more than its reply"));
}

void Reply::finish()
{
    if (m_state == State::Reading)
        fail(m_have == 0 ? QStringLiteral("SOCKS proxy closed the connection without a reply")
                               : QStringLiteral("SOCKS proxy closed the connection in the middle of its reply"));
}

void Reply::fail(const QString &error)
{
    m_state = State::Failed;
    m_error = error;
}

// Judges the reply as far as it has come, so a wrong version or a refusal
// fails at once rather than after bytes that may never arrive.
void Reply::check()
{
    const qsizetype have = m_have;
    const auto at = [this](int i) { return quint8(m_bytes[size_t(i)]); };
    switch (m_form) {
    case Form::Method:
        if (at(0) != 5)
            return fail(QStringLiteral("Proxy does not speak SOCKS5"));
        if (have < 2)
            return;
        m_method = at(1);
        if (m_method == 0xff)
            return fail(m_offeredAuth ? QStringLiteral("SOCKS5 proxy accepts none of the offered authentication methods")
                                      : QStringLiteral("SOCKS proxy requires authentication"));
        if (m_method != 0 && !(m_method == 2 && m_offeredAuth))
            return fail(QStringLiteral("SOCKS5 proxy chose a method that was not offered"));
        break;
    case Form::Auth:
        // Version 1 of the sub-negotiation; some servers repeat SOCKS's 5.
        if (at(0) != 1 && at(0) != 5)
            return fail(QStringLiteral("SOCKS5 proxy answered the credentials with the wrong version"));
        if (have < 2)
            return;
        if (at(1) != 0)
            return fail(QStringLiteral("SOCKS5 proxy rejected the credentials"));
        break;
    case Form::Connect5:
        if (at(0) != 5)
            return fail(QStringLiteral("Proxy does not speak SOCKS5"));
        if (have >= 2 && at(1) != 0)
            return fail(refusal5(at(1)));
        if (have >= 4 && at(3) != 1 && at(3) != 3 && at(3) != 4)
            return fail(QStringLiteral("SOCKS5 proxy sent an unknown address type"));
        break;
    case Form::Connect4:
        if (at(0) != 0)
            return fail(QStringLiteral("Proxy does not speak SOCKS4"));
        if (have >= 2 && at(1) != 90)
            return fail(refusal4(at(1)));
        break;
    }
    if (have == expected())
        m_state = State::Done;
}

Handshake::Handshake(bool socks5, const QString &user, const QString &password, const QString &host,
                     const QHostAddress &address, quint16 port, quint32 ipv4)
    : m_socks5(socks5), m_user(user), m_password(password), m_host(host), m_address(address), m_port(port), m_ipv4(ipv4)
{
}

// Why the CONNECT cannot carry the target, if it cannot: SOCKS4 carries an
// IPv4 address or (4a) a name, SOCKS5 a name of 1 to 255 bytes or an address,
// and neither an IPv6 scope, which means something only on this machine.
QString Handshake::targetError() const
{
    const QHostAddress &address = m_address;
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !m_socks5)
        return QStringLiteral("SOCKS4 cannot carry IPv6");
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !address.scopeId().isEmpty())
        return QStringLiteral("SOCKS5 cannot carry an IPv6 scope");
    if (!address.isNull() || (!m_socks5 && m_ipv4))
        return {};
    const qsizetype length = QUrl::toAce(m_host).size();
    if (length == 0)
        return QStringLiteral("SOCKS cannot carry an empty target name");
    return m_socks5 && length > 255 ? QStringLiteral("Target host name too long for SOCKS") : QString();
}

QString Handshake::credentialsError() const
{
    if (m_user.isEmpty())
        return QStringLiteral("SOCKS5 cannot carry an empty user name");
    if (m_password.isEmpty())
        return QStringLiteral("SOCKS5 cannot carry an empty password");
    if (authentication(m_user, m_password).isEmpty())
        return QStringLiteral("Credentials too long for SOCKS5"); // 255 bytes of UTF-8 each
    return {};
}

QByteArray Handshake::connectRequest()
{
    m_step = Step::Connect;
    m_reply = Reply(m_socks5 ? Reply::Form::Connect5 : Reply::Form::Connect4);
    return m_request;
}

QByteArray Handshake::start()
{
    m_error = targetError();
    if (m_error.isEmpty()) {
        const quint32 ipv4 = m_address.protocol() == QAbstractSocket::IPv4Protocol ? m_address.toIPv4Address() : m_ipv4;
        m_request = m_socks5 ? connect5(m_address, m_host, m_port) : connect4(ipv4, m_host, m_port, m_user);
        if (m_request.isEmpty())
            m_error = QStringLiteral("Target host name too long for SOCKS");
    }
    if (!m_error.isEmpty())
        return {};
    if (!m_socks5)
        return connectRequest();
    const bool credentials = !m_user.isEmpty() || !m_password.isEmpty();
    m_reply = Reply(Reply::Form::Method, credentials);
    return greeting(credentials);
}

QByteArray Handshake::feed(const char *data, qsizetype size)
{
    m_reply.feed(data, size);
    if (m_reply.state() != Reply::State::Done)
        return {};
    if (m_step == Step::Method && m_reply.usePassword()) {
        m_step = Step::Auth;
        m_reply = Reply(Reply::Form::Auth);
        m_error = credentialsError();
        return m_error.isEmpty() ? authentication(m_user, m_password) : QByteArray();
    }
    return m_step == Step::Connect ? QByteArray() : connectRequest();
}

void Handshake::finish()
{
    m_reply.finish();
}

} // namespace Socks
