// quillfen-peer: the local network peers that the tests talk to.
//
//   quillfen-peer MODE [--port N] [--count N] [--body TEXT | --body-file PATH]
//                      [--location URL] [--record FILE] [--connect-port N]... [--lifetime S]
//                      [--size BYTES] [--tls] [--user U --password P]
//
// Every peer listens on 127.0.0.1 only (a free port unless --port is given; --count N
// opens N listeners of the same mode), prints its port(s), separated by blanks, as the
// first line of standard output, and runs until SIGTERM/SIGINT, until its standard
// input closes (when that is a pipe or a socket), or until --lifetime seconds (600) pass.
// --record FILE appends the head of every request received (request line, headers and
// the empty line) to FILE, opened and closed for each request.
//
// A mode is one entry of the table in modes(): its onRequest answers one request head
// (or never answers), or one of socksModes(). New modes only need a new entry there.
// --tls serves any mode over TLS, so that a hostile answer can also come from a target
// behind a real proxy.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Options
{
    QString mode;
    quint16 port = 0;
    int count = 1;
    QByteArray body;
    bool bodyGiven = false;
    QByteArray location = "/test.php";
    QString record;
    QStringList connectPorts;
    int lifetime = 600;
    qint64 size = 8LL << 30; // huge: the Content-Length
    bool tls = false;
    QString user, password; // credentials tinyproxy, microsocks, socks4 and /private ask for
};
Options opts;

struct Request
{
    QByteArray head;   // everything up to and including the empty line
    QByteArray method; // "GET", "CONNECT", ...
    QByteArray target; // as sent: a path, an absolute URL or host:port
};

// One accepted connection; handlers answer through it.
struct Conn
{
    QTcpSocket *socket;

    void reply(int status, const QByteArray &reason, const QByteArray &body,
               const QByteArray &extraHeaders = {}) const
    {
        raw("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
            + extraHeaders + "Connection: close\r\n\r\n" + body);
        socket->disconnectFromHost(); // after the pending bytes are written
    }
    void raw(const QByteArray &bytes) const { socket->write(bytes); }
};

QByteArray bodyOr(const QByteArray &fallback) { return opts.bodyGiven ? opts.body : fallback; }

// Plain or TLS web server: /test.php answers the body, /redirect a 302 to --location,
// /private the body too, but only with Basic credentials --user and --password (else 401).
void serveTarget(Conn &c, const Request &r)
{
    const QByteArray path = r.target.left(r.target.indexOf('?') < 0 ? r.target.size() : r.target.indexOf('?'));
    if (path == "/private" && !r.head.contains("\r\nAuthorization: Basic " + (opts.user + ':' + opts.password).toUtf8().toBase64() + "\r\n"))
        c.reply(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"quillfen\"\r\n");
    else if (path == "/test.php" || path == "/private")
        c.reply(200, "OK", bodyOr("Quillfen test page"));
    else if (path == "/redirect")
        c.reply(302, "Found", "", "Location: " + opts.location + "\r\n");
    else
        c.reply(404, "Not Found", "not found");
}

// Hostile answers. Each keeps writing until the client goes away or the peer's lifetime ends.

// Writes `head`, then `piece` again and again, as fast as the client takes it: `total`
// bytes of it in all, then an orderly close, or without end when `total` is negative.
void stream(QTcpSocket *socket, const QByteArray &head, const QByteArray &piece, qint64 total)
{
    auto *ssl = qobject_cast<QSslSocket *>(socket);
    auto left = std::make_shared<qint64>(total);
    auto refill = [socket, ssl, piece, left] {
        while (*left != 0 && socket->bytesToWrite() + (ssl ? ssl->encryptedBytesToWrite() : 0) < 4 * piece.size()) {
            const qint64 n = *left < 0 ? piece.size() : qMin<qint64>(*left, piece.size());
            socket->write(piece.constData(), n);
            if (*left > 0 && (*left -= n) == 0)
                socket->disconnectFromHost();
        }
    };
    QObject::connect(socket, &QIODevice::bytesWritten, socket, refill);
    if (ssl)
        QObject::connect(ssl, &QSslSocket::encryptedBytesWritten, ssl, refill);
    socket->write(head);
    refill();
}

// Writes `head`, then one byte a second.
void drip(QTcpSocket *socket, const QByteArray &head)
{
    socket->write(head);
    auto *timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write("."); });
    timer->start(1000);
}

// Promises 1000 bytes, sends 100, then resets the connection (RST, not FIN).
void resetMidBody(QTcpSocket *socket)
{
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + QByteArray(100, 'r'));
    QTimer::singleShot(300, socket, [socket] {
        const linger now { 1, 0 };
        setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        socket->abort();
    });
}

// Binary bytes with no line end, and the connection held open.
QByteArray garbage()
{
    QByteArray bytes(4096, 0);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + 7) % 251 == '\n' ? 0 : (i * 131 + 7) % 251);
    return bytes;
}

void record(const QByteArray &head)
{
    if (opts.record.isEmpty())
        return;
    QFile file(opts.record);
    if (file.open(QIODevice::Append))
        file.write(head);
}

// SOCKS peers: "socks4" is a well-behaved SOCKS4/4a proxy that relays to the target it is
// asked for (with --user, only that USERID); the others answer a SOCKS5 greeting and
// CONNECT or a SOCKS4 request with the bytes of their row, then close, keep still,
// stream bytes without end or drip one a second.
struct SocksMode
{
    const char *name;
    QByteArray method, reply5, reply4; // empty: never answers
    enum { Keep, Close, Endless, Drip } then;
};

const QList<SocksMode> &socksModes()
{
    static const QByteArray bound("\x01\0\0\0\0\0\0", 7), granted = QByteArray("\x00\x5a", 2) + QByteArray(6, 0);
    static const QList<SocksMode> table {
        { "socks4", {}, {}, granted, SocksMode::Keep },
        { "socks-wrong-version", QByteArray("\x04\x00", 2), {}, QByteArray("\x05\x5a", 2) + QByteArray(6, 0), SocksMode::Keep },
        { "socks-short", "\x05", {}, QByteArray("\x00\x5a\x00", 3), SocksMode::Close },
        { "socks-refuse", QByteArray("\x05\x00", 2), QByteArray("\x05\x02\x00", 3) + bound,
          QByteArray("\x00\x5b", 2) + QByteArray(6, 0), SocksMode::Close },
        { "socks-endless", QByteArray("\x05\x00", 2), QByteArray("\x05\x00\x00", 3) + bound, granted, SocksMode::Endless },
        { "socks-drip", QByteArray("\x05\x00", 2), QByteArray("\x05\x00\x00\x03\xff", 5), QByteArray("\x00\x5a", 2), SocksMode::Drip },
    };
    return table;
}

// SOCKS4 CONNECT: VN CD PORT IP USERID\0, and for 4a (IP 0.0.0.x) HOST\0. Relays both ways.
void socks4Connect(QTcpSocket *socket, const QByteArray &request, int userEnd)
{
    const quint16 port = qFromBigEndian<quint16>(request.constData() + 2);
    const QByteArray user = request.mid(8, userEnd - 8);
    const QString host = request.mid(4, 3) == QByteArray(3, 0) ? QString::fromUtf8(request.mid(userEnd + 1).chopped(1))
                                                              : QHostAddress(qFromBigEndian<quint32>(request.constData() + 4)).toString();
    record("SOCKS4 " + host.toUtf8() + ':' + QByteArray::number(port) + ' ' + user + "\r\n\r\n");
    auto reply = [socket](char code) { socket->write(QByteArray(1, 0) + code + QByteArray(6, 0)); };
    if (!opts.user.isEmpty() && user != opts.user.toUtf8())
        return reply(93), socket->disconnectFromHost();
    auto *target = new QTcpSocket(socket);
    QObject::connect(target, &QAbstractSocket::connected, socket, [socket, target, reply] {
        reply(90);
        QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
        for (auto [from, to] : { std::pair { socket, target }, std::pair { target, socket } }) {
            QObject::connect(from, &QIODevice::readyRead, to, [from, to] { to->write(from->readAll()); });
            QObject::connect(from, &QAbstractSocket::disconnected, to, &QAbstractSocket::disconnectFromHost);
        }
    });
    QObject::connect(target, &QAbstractSocket::errorOccurred, socket, [socket, target, reply] {
        if (target->state() != QAbstractSocket::ConnectedState)
            reply(91), socket->disconnectFromHost();
    });
    target->connectToHost(host, port);
}

void serveSocks(QTcpSocket *socket, const SocksMode &mode)
{
    enum Step { Greeting, Connect, Done };
    auto step = std::make_shared<Step>(Greeting);
    auto in = std::make_shared<QByteArray>();
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    // The method, with more to come, only closes in the short mode; the last reply does what the row says.
    auto answer = [socket, &mode](const QByteArray &bytes, bool last = true) {
        if (bytes.isEmpty() || (!last && (mode.then != SocksMode::Close || !mode.reply5.isEmpty())))
            return void(socket->write(bytes));
        if (mode.then == SocksMode::Endless)
            return stream(socket, bytes, QByteArray(4096, 'e'), -1);
        socket->write(bytes);
        if (mode.then == SocksMode::Close)
            socket->disconnectFromHost();
        else if (mode.then == SocksMode::Drip)
            drip(socket, {});
    };
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket, step, in, &mode, answer] {
        in->append(socket->readAll());
        const int userEnd = in->indexOf('\0', 8);
        if (*step == Greeting && in->startsWith('\x04')) {
            if (userEnd < 0 || (in->mid(4, 3) == QByteArray(3, 0) && in->indexOf('\0', userEnd + 1) < 0))
                return;
            *step = Done;
            if (!qstrcmp(mode.name, "socks4"))
                socks4Connect(socket, *in, userEnd);
            else
                answer(mode.reply4);
        } else if (*step == Greeting && in->size() >= 2 && in->size() >= 2 + quint8(in->at(1))) {
            *step = Connect, in->clear(), answer(mode.method, false);
        } else if (*step == Connect && in->size() >= 5) {
            *step = Done, answer(mode.reply5);
        }
        if (*step == Done)
            in->clear(); // later bytes are dropped
    });
}

struct Mode
{
    const char *name;
    const char *help;
    bool tls;
    std::function<void(Conn &, const Request &)> onRequest; // empty: never answers
};

const QList<Mode> &modes()
{
    static const QList<Mode> table {
        { "target", "HTTP server: /test.php, /redirect, others 404", false, serveTarget },
        { "tls-target", "the same over HTTPS with a fresh self-signed certificate", true, serveTarget },
        { "record-proxy", "HTTP proxy that answers every request 200 with --body itself", false,
          [](Conn &c, const Request &) { c.reply(200, "OK", bodyOr("recorded")); } },
        { "silent", "accepts and reads, never answers", false, {} },
        { "endless", "200 without Content-Length, then a body without end", false,
          [](Conn &c, const Request &) {
              stream(c.socket, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n",
                     QByteArray("endless body\n").repeated(5000), -1);
          } },
        { "endless-chunked", "200, chunked, chunks without end", false,
          [](Conn &c, const Request &) {
              stream(c.socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                     "10000\r\n" + QByteArray(0x10000, 'c') + "\r\n", -1);
          } },
        { "huge", "200 with Content-Length --size (8 GiB), then that many bytes", false,
          [](Conn &c, const Request &) {
              stream(c.socket, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(opts.size) + "\r\n\r\n",
                     QByteArray("0123456789abcdef").repeated(4096), opts.size);
          } },
        { "drip", "200 with Content-Length 1000000, then one byte a second", false,
          [](Conn &c, const Request &) { drip(c.socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n"); } },
        { "reset", "200 with Content-Length 1000, 100 bytes, then a TCP reset", false,
          [](Conn &c, const Request &) { resetMidBody(c.socket); } },
        { "garbage", "--body or binary bytes instead of a status line; keeps the connection", false,
          [](Conn &c, const Request &) { c.raw(bodyOr(garbage())); } },
        { "hugeheader", "200 with a 1 MiB header line, then body \"ok\"", false,
          [](Conn &c, const Request &) { c.reply(200, "OK", "ok", "X-Padding: " + QByteArray(1 << 20, 'p') + "\r\n"); } },
        { "endless-headers", "200, then header lines without end", false,
          [](Conn &c, const Request &) {
              stream(c.socket, "HTTP/1.1 200 OK\r\n", QByteArray("X-Filler: 0123456789abcdef\r\n").repeated(2000), -1);
          } },
        { "markup", "200 text/html with --body", false,
          [](Conn &c, const Request &) {
              const QByteArray body = bodyOr("<html><body>markup</body></html>");
              c.raw("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
                    + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
              c.socket->disconnectFromHost();
          } },
        { "split", "200 with --body, its second half 300 ms after the first", false,
          [](Conn &c, const Request &) {
              const QByteArray body = bodyOr("Hello through the proxy");
              c.raw("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body.left(body.size() / 2));
              QTimer::singleShot(300, c.socket, [c, body] { c.raw(body.mid(body.size() / 2)); });
          } },
        { "redirect-loop", "302 to the very URL requested, every time", false,
          [](Conn &c, const Request &r) { c.reply(302, "Found", "", "Location: " + r.target + "\r\n"); } },
    };
    return table;
}


// Reads one request head per connection and hands it to the mode.
void serve(QTcpSocket *socket, const Mode &mode)
{
    auto *buffer = new QByteArray;
    QObject::connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket, buffer, &mode] {
        const bool answered = buffer->contains("\r\n\r\n");
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (answered || end < 0)
            return; // one request per connection; later bytes are read and dropped
        Request r;
        r.head = buffer->left(end + 4);
        const QList<QByteArray> line = r.head.left(r.head.indexOf("\r\n")).split(' ');
        r.method = line.value(0);
        r.target = line.value(1);
        record(r.head);
        Conn c { socket };
        if (mode.onRequest)
            mode.onRequest(c, r);
    });
}

class Listener : public QTcpServer
{
public:
    Listener(const Mode *mode, const SocksMode *socks, const QSslConfiguration &tls) : m_mode(mode), m_socks(socks), m_tls(tls) { }

protected:
    void incomingConnection(qintptr fd) override
    {
        QTcpSocket *socket;
        if ((m_mode && m_mode->tls) || opts.tls) {
            auto *ssl = new QSslSocket(this);
            ssl->setSocketDescriptor(fd);
            ssl->setSslConfiguration(m_tls);
            ssl->startServerEncryption();
            QObject::connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->ignoreSslErrors(); });
            socket = ssl;
        } else {
            socket = new QTcpSocket(this);
            socket->setSocketDescriptor(fd);
        }
        if (m_socks)
            serveSocks(socket, *m_socks);
        else
            serve(socket, *m_mode);
    }

private:
    const Mode *m_mode;
    const SocksMode *m_socks;
    QSslConfiguration m_tls;
};

bool makeCertificate(QTemporaryDir &dir, QSslConfiguration &config)
{
    const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert });
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        std::fputs(openssl.readAll().constData(), stderr);
        return false;
    }
    QFile k(key), c(cert);
    if (!k.open(QIODevice::ReadOnly) || !c.open(QIODevice::ReadOnly))
        return false;
    config = QSslConfiguration::defaultConfiguration();
    config.setPrivateKey(QSslKey(k.readAll(), QSsl::Ec));
    config.setLocalCertificate(QSslCertificate(c.readAll()));
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    return !config.privateKey().isNull() && !config.localCertificate().isNull();
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// Debian's tinyproxy as a real HTTP proxy with a throw-away configuration, or
// microsocks as a real SOCKS5 proxy; both with --user and --password when given.
QProcess *startServer(const QTemporaryDir &dir, quint16 &port)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = opts.port ? opts.port : freePort();
        QFile conf(dir.filePath("tinyproxy.conf"));
        if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return nullptr;
        QTextStream out(&conf);
        out << "Port " << port << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 200\n"
            << "LogLevel Info\nDisableViaHeader Yes\nLogFile \"" << dir.filePath("tinyproxy.log") << "\"\n"
            << "PidFile \"" << dir.filePath("tinyproxy.pid") << "\"\nConnectPort 443\n";
        for (const QString &p : opts.connectPorts)
            out << "ConnectPort " << p << "\n";
        if (!opts.user.isEmpty())
            out << "BasicAuth " << opts.user << " " << opts.password << "\n";
        out.flush();
        conf.close();

        auto *proc = new QProcess(qApp);
        proc->setProcessChannelMode(QProcess::ForwardedChannels);
        proc->setStandardInputFile(QProcess::nullDevice());
        proc->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        QStringList socks { "-i", "127.0.0.1", "-p", QString::number(port) };
        if (!opts.user.isEmpty())
            socks << "-u" << opts.user << "-P" << opts.password;
        if (opts.mode == "microsocks")
            proc->start("microsocks", socks);
        else
            proc->start("tinyproxy", { "-d", "-c", conf.fileName() });
        if (!proc->waitForStarted(10000)) {
            delete proc;
            return nullptr;
        }
        for (int i = 0; i < 200 && proc->state() == QProcess::Running; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(500))
                return proc;
            proc->waitForFinished(50);
        }
        proc->kill();
        proc->waitForFinished(5000);
        delete proc;
        if (opts.port)
            break;
    }
    return nullptr;
}

int quitPipe[2];

int usage()
{
    QTextStream err(stderr);
    err << "usage: quillfen-peer MODE [options]; modes: tinyproxy, microsocks (Debian's), SOCKS ones:";
    for (const SocksMode &m : socksModes())
        err << " " << m.name;
    for (const Mode &m : modes())
        err << "\n  " << m.name << ": " << m.help;
    err << "\n";
    return 2;
}

bool parse(const QStringList &args)
{
    if (args.size() < 2)
        return false;
    opts.mode = args.at(1);
    for (int i = 2; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == "--tls") {
            opts.tls = true;
            continue;
        }
        if (i + 1 >= args.size())
            return false;
        const QString v = args.at(++i);
        if (a == "--port")
            opts.port = v.toUShort();
        else if (a == "--count")
            opts.count = qMax(1, v.toInt());
        else if (a == "--body")
            opts.body = v.toUtf8(), opts.bodyGiven = true;
        else if (a == "--body-file") {
            QFile f(v);
            if (!f.open(QIODevice::ReadOnly))
                return false;
            opts.body = f.readAll(), opts.bodyGiven = true;
        } else if (a == "--location")
            opts.location = v.toUtf8();
        else if (a == "--record")
            opts.record = v;
        else if (a == "--connect-port")
            opts.connectPorts << v;
        else if (a == "--lifetime")
            opts.lifetime = v.toInt();
        else if (a == "--size")
            opts.size = v.toLongLong();
        else if (a == "--user")
            opts.user = v;
        else if (a == "--password")
            opts.password = v;
        else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!parse(app.arguments()))
        return usage();

    // SIGTERM/SIGINT end the event loop, so that children (tinyproxy) are stopped.
    if (pipe(quitPipe) != 0)
        return 1;
    std::signal(SIGTERM, [](int) { (void)!write(quitPipe[1], "q", 1); });
    std::signal(SIGINT, [](int) { (void)!write(quitPipe[1], "q", 1); });
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier quitNotifier(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    struct stat in {};
    QSocketNotifier *stdinNotifier = nullptr;
    if (fstat(STDIN_FILENO, &in) == 0 && (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode))) {
        stdinNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
        QObject::connect(stdinNotifier, &QSocketNotifier::activated, &app, [&app] {
            char buf[256];
            if (read(STDIN_FILENO, buf, sizeof buf) <= 0)
                app.quit();
        });
    }
    QTimer::singleShot(opts.lifetime * 1000, &app, &QCoreApplication::quit);

    QTemporaryDir dir;
    QStringList ports;
    QProcess *tinyproxy = nullptr;
    QList<Listener *> listeners;
    if (opts.mode == "tinyproxy" || opts.mode == "microsocks") {
        quint16 port = 0;
        tinyproxy = startServer(dir, port);
        if (!tinyproxy) {
            qWarning("quillfen-peer: %s did not start", qPrintable(opts.mode));
            return 1;
        }
        QObject::connect(tinyproxy, &QProcess::finished, &app, [&app] { app.exit(1); });
        ports << QString::number(port);
    } else {
        const Mode *mode = nullptr;
        const SocksMode *socks = nullptr;
        for (const Mode &m : modes())
            if (opts.mode == m.name)
                mode = &m;
        for (const SocksMode &m : socksModes())
            if (opts.mode == m.name)
                socks = &m;
        if (!mode && !socks)
            return usage();
        QSslConfiguration tls;
        if (((mode && mode->tls) || opts.tls) && !makeCertificate(dir, tls)) {
            qWarning("quillfen-peer: could not make a certificate with openssl");
            return 1;
        }
        for (int i = 0; i < opts.count; ++i) {
            auto *l = new Listener(mode, socks, tls);
            l->setParent(&app);
            if (!l->listen(QHostAddress::LocalHost, opts.count == 1 ? opts.port : 0)) {
                qWarning("quillfen-peer: cannot listen: %s", qPrintable(l->errorString()));
                return 1;
            }
            ports << QString::number(l->serverPort());
        }
    }
    std::printf("%s\n", qPrintable(ports.join(' ')));
    std::fflush(stdout);

    const int status = app.exec();
    if (tinyproxy) {
        QObject::disconnect(tinyproxy, nullptr, &app, nullptr);
        tinyproxy->terminate();
        if (!tinyproxy->waitForFinished(5000))
            tinyproxy->kill();
        tinyproxy->waitForFinished(5000);
    }
    return status;
}
