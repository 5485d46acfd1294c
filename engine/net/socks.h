#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <array>

// The client side of SOCKS4, SOCKS4a and SOCKS5 (with RFC 1929 user name and
// password): the requests a probe sends, and a reader for the proxy's replies.
// A reply is untrusted input. The reader knows the exact length of each reply
// form, keeps at most that many bytes, and fails with a text fit for a card on
// a reply that is short, longer than its form, of the wrong version, or a
// refusal. No text it produces carries a credential.
namespace Socks {

// Every byte a reply may take: SOCKS5's longest form, a 255-byte domain name.
constexpr int maxReply = 4 + 1 + 255 + 2;

// Method selection, offering user name and password only when there are credentials.
QByteArray greeting(bool credentials);
// RFC 1929; empty when the user name or password is empty or longer than 255
// bytes of UTF-8.
QByteArray authentication(const QString &user, const QString &password);
// CONNECT to a host by name (IPv4 and IPv6 literals by address); empty when
// the name is empty or longer than 255 bytes.
QByteArray connect5(const QString &host, quint16 port);
QByteArray connect5(const QHostAddress &address, const QString &host, quint16 port); // `host` read as an address
// SOCKS4 CONNECT to an IPv4 address, or with a name (4a) when `ipv4` is 0.
QByteArray connect4(quint32 ipv4, const QString &host, quint16 port, const QString &user);

class Reply
{
public:
    enum class Form { Method, Auth, Connect5, Connect4 };
    enum class State { Reading, Done, Failed };

    // `offeredAuth`: the greeting offered user name and password (Method form).
    explicit Reply(Form form, bool offeredAuth = false) : m_form(form), m_offeredAuth(offeredAuth) {}

    // Takes bytes as they arrive. Bytes past the end of the reply fail it:
    // the proxy may say nothing more until the probe's next message.
    void feed(const char *data, qsizetype size);
    // The proxy closed the connection.
    void finish();

    State state() const { return m_state; }
    const QString &error() const { return m_error; }
    bool usePassword() const { return m_method == 2; } // Method form, once Done

private:
    qsizetype expected() const;
    void check();
    void fail(const QString &error);

    Form m_form;
    bool m_offeredAuth;
    State m_state { State::Reading };
    std::array<char, maxReply> m_bytes {}; // the reply so far: m_have bytes
    qsizetype m_have { 0 };
    int m_method { -1 };
    QString m_error;
};

// One probe's way through a SOCKS proxy up to the open tunnel: the greeting,
// the credentials when asked for, then CONNECT, each reply read through Reply.
class Handshake
{
public:
    // `socks5`, else SOCKS4 (4a when `ipv4` is 0); `host` and `port` name the
    // target, `address` is `host` read as an address (null for a name).
    Handshake(bool socks5, const QString &user, const QString &password, const QString &host,
              const QHostAddress &address, quint16 port, quint32 ipv4);

    // The first message; empty when it cannot be made (failed()), and so is
    // a target that the CONNECT cannot carry: nothing is sent then.
    QByteArray start();
    // Bytes from the proxy; returns the next message to send, if any.
    QByteArray feed(const char *data, qsizetype size);
    void finish(); // the proxy closed the connection

    bool done() const { return m_reply.state() == Reply::State::Done && m_step == Step::Connect; }
    bool failed() const { return !m_error.isEmpty() || m_reply.state() == Reply::State::Failed; }
    QString error() const { return m_error.isEmpty() ? m_reply.error() : m_error; }

private:
    enum class Step { Method, Auth, Connect };
    QByteArray connectRequest();
    QString targetError() const;
    QString credentialsError() const;

    bool m_socks5;
    QString m_user, m_password, m_host;
    QHostAddress m_address;
    quint16 m_port;
    quint32 m_ipv4;
    Step m_step { Step::Method };
    Reply m_reply { Reply::Form::Method };
    QByteArray m_request; // the CONNECT, made at the start
    QString m_error;
};

} // namespace Socks
