// Test runs of ProxyTest against real loopback peers: tinyproxy, microsocks, targets, and the recording, silent
// and hostile peers of tests/peers; and the answer reader and body preview they use, fed directly.
#include "bodypreview.h"
#include "httpresponse.h"
#include "peer.h"
#include "platformnet.h"
#include "proxytest.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTest>

#include <dlfcn.h>
#include <netdb.h>
#include <sys/resource.h>

// A slow resolver, without asking one: here a look-up of a name under slow.invalid takes 200 ms and fails.
static std::atomic<int> slowLookups { 0 };
extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **res)
{
    static const auto next = reinterpret_cast<int (*)(const char *, const char *, const addrinfo *, addrinfo **)>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (!node || !QByteArray(node).endsWith(".slow.invalid"))
        return next(node, service, hints, res);
    ++slowLookups, QThread::msleep(200);
    return EAI_NONAME;
}

namespace {
const QString hello = QStringLiteral("Hello through the proxy");
const QString user = QStringLiteral("quillfen"), password = QStringLiteral("pa55.word");

QVariantMap proxy(const QVariant &port, const QVariant &host = QStringLiteral("127.0.0.1")) { return { { "host", host }, { "port", port } }; }

// Runs `proxies`, with `settings` changed after testAll, and returns their outcomes in index order,
// "status: info|errorMsg", or none if the run broke a rule: every "testing" first, in order, then exactly one outcome each; each
// "alive", and nothing else, right after a proxyLatency of its own no longer than the run.
QStringList run(ProxyTest &pt, const QVariantList &proxies, int quietMs = 300, const QVariantMap &settings = {})
{
    QSignalSpy spy(&pt, &ProxyTest::proxyResult);
    QDeadlineTimer deadline(180000);
    int latency = -1; // the index of a proxyLatency not yet followed by its result
    bool ok = true;
    QObject context;
    QObject::connect(&pt, &ProxyTest::proxyLatency, &context, [&](int i, int ms) {
        ok &= latency < 0 && ms >= 0 && ms <= 180000 - deadline.remainingTime() + 1; // both in whole ms
        latency = i;
    });
    QObject::connect(&pt, &ProxyTest::proxyResult, &context, [&](int i, bool alive) { ok &= latency == (alive ? i : -1); latency = -1; });
    pt.testAll(proxies);
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) // no probe starts within testAll: they all reach it
        pt.setProperty(qPrintable(it.key()), *it);
    // A real event loop: QTest::qWaitFor sleeps between its passes, and would slow the reading.
    while (spy.size() < 2 * proxies.size() && !deadline.hasExpired())
        spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    QTest::qWait(quietMs);
    QStringList outcomes(proxies.size());
    for (int i = 0; i < spy.size(); ++i) {
        const QVariantList a = spy.at(i);
        const bool testing = i < proxies.size(), first = outcomes.value(a.at(0).toInt(), "?").isEmpty();
        ok &= testing ? a == QVariantList { i, false, "", "Testing", "testing" } : first;
        if (!testing && first)
            outcomes[a.at(0).toInt()] = a.at(4).toString() + ": " + a.at(a.at(1).toBool() ? 2 : 3).toString();
    }
    return ok ? outcomes : QStringList();
}

// The files and sockets the process holds: every probe in flight holds a socket.
int openFiles(const char *kind = "")
{
    const QStringList names = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System);
    return int(std::count_if(names.cbegin(), names.cend(), [&](auto &fd) { return QFile::symLinkTarget("/proc/self/fd/" + fd).contains(kind); }));
}

// Once deferred deletions ran, no probe is left, no timer armed, no socket open but those before the run.
bool leftNothing(const ProxyTest &pt, int sockets)
{
    return QTest::qWaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return openFiles("socket:[") == sockets && pt.isIdle();
    }, 10000);
}

// Feeds `wire` in pieces that end at the given offsets, then the end of the stream if asked.
HttpResponse parse(const QByteArray &wire, QList<qsizetype> cuts, bool closeAtEnd)
{
    HttpResponse response;
    qsizetype from = 0;
    for (qsizetype end : cuts << wire.size())
        response.feed(wire.constData() + from, end - from), from = end;
    if (closeAtEnd && response.state() != HttpResponse::State::Complete)
        response.finish();
    return response;
}

qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QRegularExpression re(QStringLiteral("%1:\\s+(\\d+) kB").arg(QLatin1String(field)));
    return status.open(QIODevice::ReadOnly) ? re.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong() : -1;
}
} // namespace

class TstRun : public QObject
{
    Q_OBJECT
    std::unique_ptr<Peer> target, tlsTarget, tinyproxy, recorder;
    std::vector<std::unique_ptr<Peer>> peers; // those a table names, to the end
    ProxyTest runner; // carries the table's runs, one after another
    QTemporaryDir scratch;

    quint16 peer(const QString &mode, const QStringList &args = {}) { return peers.emplace_back(std::make_unique<Peer>(mode, args))->port(); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        target = std::make_unique<Peer>("target", QStringList { "--body", " \r\n\t " + hello + " \n  " });
        tlsTarget = std::make_unique<Peer>("tls-target", QStringList { "--location", target->url() });
        tinyproxy = std::make_unique<Peer>("tinyproxy", QStringList { "--connect-port", QString::number(tlsTarget->port()) });
        recorder = std::make_unique<Peer>("record-proxy", QStringList(), true);
        QVERIFY(target->isRunning() && tlsTarget->isRunning() && tinyproxy->isRunning() && recorder->isRunning());
    }

    // Every run has its outcomes, bounded memory, leaves nothing behind, fetches nothing an answer names. "dead: *": any text.
    void outcomes_data()
    {
        QTest::addColumn<QVariantMap>("settings"); // ProxyTest's properties
        QTest::addColumn<QVariantList>("proxies");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QStringList>("sent"); // the request lines the recorder receives, the "_t" value as STAMP
        auto row = [](const QString &name, const QString &url, const QVariantList &proxies, const QStringList &outcomes, QVariantMap settings = {},
                      const QStringList &sent = {}) {
            settings.insert("targetUrl", url);
            QTest::newRow(qPrintable(name)) << settings << proxies << outcomes << sent;
        };
        const quint16 tiny = tinyproxy->port();
        // Through tinyproxy: HTTP status, TLS with a self-signed certificate, redirects.
        row("404", target->url("/missing"), { proxy(tiny) }, { "dead: Error transferring " + target->url("/missing") + " - server replied: Not Found" });
        row("self-signed TLS", tlsTarget->url(), { proxy(tiny) }, { "alive: Quillfen test page" });
        row("redirect", target->url("/redirect"), { proxy(tiny) }, { "alive: " + hello });
        row("https to http", tlsTarget->url("/redirect"), { proxy(tiny) }, { "dead: Insecure redirect" });
        // The expected text anywhere in the body: across two reads, far past what the preview keeps.
        row("expected text", "http://127.0.0.1:9/test.php",
            { proxy(peer("record-proxy", { "--body", "Hello, Привет!" })), proxy(peer("record-proxy", { "--body", "Hallo" })),
              proxy(peer("split", { "--body", "xxПриветxx" })), proxy(peer("record-proxy", { "--body", QString(100000, 'x') + "Привет" })) },
            { "alive: Hello, Привет!", "dead: Answer lacks the expected text", "alive: xxПриветxx", "alive: " + QString(300, 'x') + "..." },
            { { "expectedText", "Привет" } });
        // What the proxy receives: the absolute URL, with "_t" unless avoidCache is off, and the three no-cache fields.
        const QString base = "http://127.0.0.1:9/test.php";
        for (const auto &[url, sent] : { std::pair { base, base + "?_t=STAMP" }, { base + "?a=1&b=x", base + "?a=1&b=x&_t=STAMP" },
                                         { base + "?", base + "?&_t=STAMP" }, { base + "?a=1#part", base + "?a=1&_t=STAMP" }, { base + "#part", base + "?_t=STAMP" },
                                         { base + "?q=a b", base + "?q=a%20b&_t=STAMP" }, { base + "?a=1", base + "?a=1" } })
            row("request " + url, url, { proxy(recorder->port()) }, { "alive: recorded" }, { { "avoidCache", sent.contains("STAMP") } },
                { "GET " + sent + " HTTP/1.1" });

        // A target URL that is no valid http or https URL starts no probe; a redirect to one ends the probe.
        for (const QString url : { "http://127.0.0.1:99999/x", "https://127.0.0.1:99999/x", "http://127.0.0.1:0/x", "http://exa mple/x", "http:///x", "ftp://127.0.0.1/x" })
            row("invalid " + url, url, { proxy(recorder->port()), proxy(recorder->port()) }, QStringList(2, "dead: Invalid target URL"));
        row("redirect to an invalid URL", QString("http://127.0.0.1:%1/redirect").arg(peer("target", { "--location", "http://127.0.0.1:0/x" })), { proxy(tiny) },
            { "dead: Redirect to an invalid URL" });

        // The target's user info never reaches a request line, a Host field or a CONNECT line, nor a text; a 401 with a Basic
        // challenge is answered once with it, only over TLS whose certificate verifies (the locked TLS target's, trusted here).
        const QStringList locked { "--user", user, "--password", password };
        const quint16 httpLocked = peer("target", locked), tlsLocked = peer("tls-target", locked + QStringList { "--cert", scratch.filePath("ca.pem") }),
                      relay = peer("tinyproxy", { "--connect-port", QString::number(tlsLocked) });
        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.addCaCertificates(scratch.filePath("ca.pem"));
        QSslConfiguration::setDefaultConfiguration(trust);
        const QString unverified = "dead: The target asked for credentials, which are not sent over an unverified connection";
        row("https challenge, certificate not verified", "https://" + user + ':' + password + "@" + tlsTarget->url("/private").mid(8), { proxy(tiny) }, { unverified });
        for (const QString scheme : { "http", "https" }) {
            row(scheme + " user info", scheme + "://" + user + ':' + password + "@127.0.0.1:9/private", { proxy(recorder->port()) },
                { scheme == "http" ? "alive: recorded" : "dead: *" }, {}, { scheme == "http" ? "GET http://127.0.0.1:9/private HTTP/1.1" : "CONNECT 127.0.0.1:9 HTTP/1.1" });
            const auto url = [&](const QString &info) { return scheme + "://" + info + "127.0.0.1:" + QString::number(scheme == "http" ? httpLocked : tlsLocked) + "/private"; };
            row(scheme + " challenge", url(user + ':' + password + '@'), { proxy(relay) }, { scheme == "http" ? unverified : "alive: Quillfen test page" });
            row(scheme + " challenge, wrong", url(user + ":wrong@"), { proxy(relay) },
                { scheme == "http" ? unverified : "dead: Error transferring " + url("") + " - server replied: Unauthorized" });
        }

        // Every proxy type, open, and locked without, with the right and with wrong credentials; the hostile SOCKS peers.
        const quint16 http = peer("tinyproxy", locked + QStringList { "--connect-port", QString::number(tlsTarget->port()) }),
                      socks5 = peer("microsocks"), socks5Locked = peer("microsocks", locked), socks4 = peer("socks4"),
                      socks4Locked = peer("socks4", { "--user", user }), wrongVersion = peer("socks-wrong-version"), shortReply = peer("socks-short"),
                      silent = peer("silent"), refuse = peer("socks-refuse"), endless = peer("socks-endless"), drip = peer("socks-drip");
        for (bool https : { false, true }) {
            QVariantList proxies;
            QStringList outcomes;
            auto add = [&](quint16 port, const char *type, const QString &outcome, const QString &name = {}, const QString &secret = {}) {
                proxies << QVariantMap { { "host", "127.0.0.1" }, { "port", port }, { "type", type }, { "user", name }, { "password", secret } };
                outcomes << (outcome != "alive" ? outcome : https ? "alive: Quillfen test page" : "alive: " + hello);
            };
            add(tiny, "http", "alive"), add(socks5, "socks5", "alive"), add(socks4, "socks4", "alive");
            // tinyproxy answers wrong credentials with a 401, which the target does not give directly: the proxy's.
            const QString unauthorized = "Proxy rejected the credentials";
            const QString socks4Refused = "SOCKS4 proxy refused the connection (user ID not accepted)";
            for (const auto &[port, type, none, wrong] : { std::tuple { http, "http", QString("Proxy requires authentication"), unauthorized },
                                                           { socks5Locked, "socks5", "SOCKS proxy requires authentication", "SOCKS5 proxy rejected the credentials" },
                                                           { socks4Locked, "socks4", socks4Refused, socks4Refused } }) {
                add(port, type, "dead: " + none), add(port, type, "alive", user, password);
                add(port, type, "dead: " + wrong, qstrcmp(type, "socks4") ? user : "wrong", "wrong"); // SOCKS4 has only the user ID
            }
            // RFC 1929 fields hold 1 to 255 bytes: none is sent empty or cut.
            add(socks5Locked, "socks5", "dead: SOCKS5 cannot carry an empty password", user, ""), add(socks5Locked, "socks5", "dead: SOCKS5 cannot carry an empty user name", "", password);
            add(socks5Locked, "socks5", "dead: Credentials too long for SOCKS5", QString(128, QChar(0x416)), password); // 128 UTF-16 units, 256 bytes
            for (const char *type : { "socks5", "socks4" }) {
                const bool five = !qstrcmp(type, "socks5");
                add(wrongVersion, type, five ? "dead: Proxy does not speak SOCKS5" : "dead: Proxy does not speak SOCKS4");
                add(shortReply, type, "dead: SOCKS proxy closed the connection in the middle of its reply");
                add(silent, type, "timeout: Timeout");
                add(refuse, type, five ? "dead: SOCKS5 proxy refused the connection (rule set)" : "dead: SOCKS4 proxy refused the connection (rejected or failed)");
                add(endless, type, "dead: SOCKS proxy sent more than its reply");
                add(drip, type, "timeout: Timeout");
            }
            row(https ? "types, https target" : "types, http target", https ? tlsTarget->url() : target->url(), proxies, outcomes);
        }
        row("IPv6 target through SOCKS", "http://[fe80::1%25lo]:9/test.php", { QVariantMap { { "port", socks4 }, { "type", "socks4" }, { "host", "127.0.0.1" } },
            QVariantMap { { "port", socks5 }, { "type", "socks5" }, { "host", "127.0.0.1" } } }, { "dead: SOCKS4 cannot carry IPv6", "dead: SOCKS5 cannot carry an IPv6 scope" });

        // Hostile answers from the proxy, or from a TLS target behind tinyproxy. The recorder is what the markup names, and the
        // target, which the run fetches twice directly.
        auto hostile = [&](const QString &name, const QString &mode, QStringList args, bool tls, int probes, int ms, const QString &outcome) {
            const quint16 port = peer(mode, tls ? args << "--tls" : args);
            row((tls ? "TLS target: " : "") + name, tls ? QString("https://127.0.0.1:%1/test.php").arg(port) : recorder->url(),
                QVariantList(probes, proxy(tls ? peer("tinyproxy", { "--connect-port", QString::number(port) }) : port)), QStringList(probes, outcome),
                { { "timeoutMs", ms } }, tls ? QStringList() : QStringList(2, "GET /test.php HTTP/1.1"));
        };
        const QString r = "http://127.0.0.1:" + QString::number(recorder->port());
        const QString markup = "<html><script src=\"" + r + "/s.js\">fetch('/x')</script><img src=\"" + r + "/x.png\"><iframe src=\"" + r.mid(5)
            + "/f\"></iframe><a href=\"" + r + "/a\">a</a><meta http-equiv=refresh content=\"0;url=" + r + "/r\"><b>Ж</b></html>";
        for (bool tls : { false, true }) {
            hostile("20 endless bodies", "endless", {}, tls, 20, 2000, "timeout: Timeout"); // what one probe holds adds up
            hostile("drip", "drip", {}, tls, 1, 2000, "timeout: Timeout");
            hostile("reset mid-body", "reset", {}, tls, 1, 5000, tls ? "dead: *" : "dead: Connection reset by the proxy");
            hostile("reset after a close-framed body", "reset-close", {}, tls, 1, 5000, "alive: " + hello);
            hostile("1 MiB header line", "hugeheader", {}, tls, 1, 5000, "dead: HTTP header line too long");
            hostile(QString("%1 MiB body in time").arg(tls ? 64 : 512), "huge", { "--size", QString::number((tls ? 64 : 512) << 20) }, tls, 1, 120000,
                    "alive: " + QString("0123456789abcdef").repeated(19).left(300) + "..."); // loopback: hundreds of MB/s, also through TLS
            hostile("markup", "markup", { "--body", "\r\n " + markup + "\n" }, tls, 1, 5000, "alive: " + markup);
        }
        hostile("endless chunked body", "endless-chunked", {}, false, 1, 2000, "timeout: Timeout");
        hostile("binary garbage", "garbage", {}, false, 1, 5000, "dead: Invalid HTTP response from the proxy");
        hostile("endless header lines", "endless-headers", {}, false, 1, 5000, "dead: HTTP header section too long");
        hostile("redirect loop", "redirect-loop", {}, false, 1, 5000, "dead: Too many redirects");
        // The preview cut at 300 characters, the port as its low 16 bits, entries without a host. No peer starts after the closed port.
        const QString zh300 = QString(QChar(0x0436)).repeated(300); // 300 UTF-16 units, 600 UTF-8 bytes
        const quint16 p = peer("record-proxy", { "--body", "" }), b300 = peer("record-proxy", { "--body", "\n" + zh300 + " " }),
                      b301 = peer("record-proxy", { "--body", zh300 + "z" }), quiet = peer("silent"), closed = closedPort();
        row("entries", target->url(),
            { proxy(tiny), proxy(b300), proxy(b301), proxy(p - 65536), proxy(p + 65536), proxy(QString::number(p)), proxy(double(p)), proxy("abc"),
              proxy(65536), proxy(closed), proxy(quiet), proxy(p, ""), QVariantMap { { "port", p } }, QVariant("127.0.0.1"), QVariant(QVariantList { "127.0.0.1", p }) },
            QStringList { "alive: " + hello, "alive: " + zh300, "alive: " + zh300 + "...", "alive: ", "alive: ", "alive: ", "alive: ", "dead: *",
                          "dead: *", "dead: Connection to proxy refused", "timeout: Timeout" } + QStringList(4, "dns_fail: DNS fail"));
    }
    void outcomes()
    {
        QFETCH(QVariantMap, settings);
        QFETCH(QVariantList, proxies);
        QFETCH(QStringList, outcomes);
        QFETCH(QStringList, sent);
        runner.setTargetUrl("http://127.0.0.1:9/first"), runner.setTimeoutMs(3000), runner.setAvoidCache(false), runner.setExpectedText({}); // the row's follow
        recorder->clearRequests();
        if (QFile clear("/proc/self/clear_refs"); clear.open(QIODevice::WriteOnly))
            clear.write("5"); // the peak (VmHWM) starts again from here
        const qint64 before = statusKb("VmRSS"), sockets = openFiles("socket:[");
        QStringList results = run(runner, proxies, 700, settings);
        const qint64 peak = statusKb("VmHWM");
        for (qsizetype i = 0; i < results.size(); ++i)
            if (outcomes.value(i) == "dead: *" && results[i].startsWith("dead: "))
                results[i] = "dead: *";
        const auto hidden = [](QStringList texts) { return texts.replaceInStrings(password, "<password>").replaceInStrings(user, "<user>"); };
        QCOMPARE(hidden(results), outcomes); // a failure must not print the credentials either
        QVERIFY(leftNothing(runner, sockets));
        QStringList received;
        for (const QByteArray &head : recorder->requests()) {
            received << QString::fromUtf8(head.left(head.indexOf("\r\n"))).replace(QRegularExpression("_t=\\d{4}(-\\d\\d){5}-\\d{3}"), "_t=STAMP");
            for (const char *field : { "\r\nCache-Control: no-cache, no-store, must-revalidate\r\n", "\r\nPragma: no-cache\r\n", "\r\nExpires: 0\r\n" })
                QCOMPARE(head.count(field), head.startsWith("GET ") ? 1 : 0);
            QVERIFY(!head.contains("\r\nAuthorization:"));
        }
        QCOMPARE(hidden(received), sent); // and nothing an answer names
#ifndef __SANITIZE_ADDRESS__ // which holds freed memory back and pads every block
        QVERIFY2(peak - before < 100 * 1024, qPrintable(QString("%1 kB over the %2 kB before").arg(peak - before).arg(before)));
#endif
    }

    // A run ended by cancelAll, another testAll or the object's end, with its look-ups pending or its requests in flight,
    // says nothing more and leaves nothing behind; the look-ups it had started lead to no request.
    void supersede()
    {
        Peer silent("silent", {}, true);
        const int sockets = openFiles("socket:[");
        std::vector<std::unique_ptr<ProxyTest>> runs;
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (int i = 0; i < 8; ++i) {
            if (i == 4) // the first four with their requests in flight, the others with their look-ups pending
                QTRY_COMPARE_WITH_TIMEOUT(silent.requests().size(), 8, 30000);
            runs.push_back(std::make_unique<ProxyTest>());
            runs[i]->setTargetUrl(target->url()), runs[i]->setTimeoutMs(3000);
            runs[i]->testAll({ proxy(silent.port()), proxy(silent.port()), proxy(silent.port(), "") });
        }
        for (int i = 0; i < 8; ++i) {
            spies.push_back(std::make_unique<QSignalSpy>(runs[i].get(), &ProxyTest::proxyResult));
            runs[i]->setTimeoutMs(30000);
            if (i % 4 == 0)
                runs[i]->cancelAll();
            else if (i % 4 != 3)
                runs[i]->testAll(i % 4 == 1 ? QVariantList() : QVariantList { proxy(tinyproxy->port()) });
            else
                runs[i].reset();
        }
        QTest::qWait(4000); // past the old runs' time-out
        for (int i = 0; i < 8; ++i)
            QCOMPARE(spies[i]->size(), i % 4 == 2 ? 2 : 0);
        QCOMPARE(spies[6]->value(1), QVariantList({ 0, true, hello, "", "alive" }));
        QCOMPARE(silent.requests().size(), 8);
        for (auto &pt : runs)
            QVERIFY(!pt || leftNothing(*pt, sockets));
        // Its look-ups still waiting for a resolver thread are dropped: the next run's does not wait behind them.
        QHostInfo::fromName("first.slow.invalid");
        QCOMPARE(slowLookups.load(), 1); // no name under slow.invalid reaches a resolver
        QVariantList slow;
        for (int i = 0; i < 300; ++i)
            slow << proxy(9, QString("p%1.slow.invalid").arg(i));
        runs[1]->testAll(slow);
        QTRY_VERIFY(slowLookups > 20);
        QElapsedTimer time;
        time.start();
        QCOMPARE(run(*runs[1], { proxy(tinyproxy->port(), "localhost") }, 0), QStringList { "alive: " + hello });
        QVERIFY2(time.elapsed() < 1000, qPrintable(QString::number(time.elapsed()))); // behind the 280 others: 2.8 s
    }

    // A handler of the outcome may start another run, which is running until its own outcome; a handler of its time
    // may cancel it, and hears no "alive" after that.
    void endedFromHandlers()
    {
        ProxyTest pt;
        pt.setTargetUrl(target->url());
        QStringList heard; // each signal, and whether the run was running then
        connect(&pt, &ProxyTest::proxyResult, &pt, [&](int, bool, QString, QString, QString status) {
            heard << status + (pt.running() ? " running" : "");
            if (status == "alive")
                pt.testAll({ proxy(tinyproxy->port()) });
        });
        connect(&pt, &ProxyTest::proxyLatency, &pt, [&] {
            heard << QString(pt.running() ? "time running" : "time");
            if (heard.size() > 3)
                pt.cancelAll();
        });
        pt.testAll({ proxy(tinyproxy->port()) });
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 5, 20000);
        QTest::qWait(300);
        QCOMPARE(heard, QStringList({ "testing running", "time running", "alive running", "testing running", "time running" }));
    }

    // Each change signal fires once per real change.
    void setters()
    {
        ProxyTest pt;
        QSignalSpy url(&pt, &ProxyTest::targetUrlChanged), cache(&pt, &ProxyTest::avoidCacheChanged), ms(&pt, &ProxyTest::timeoutMsChanged),
            text(&pt, &ProxyTest::expectedTextChanged);
        for (int twice = 0; twice < 2; ++twice)
            pt.setTargetUrl("http://a/"), pt.setAvoidCache(false), pt.setTimeoutMs(1000), pt.setExpectedText("Ok");
        QVERIFY(url.size() == 1 && cache.size() == 1 && ms.size() == 1 && text.size() == 1);
    }

    // A link-local proxy's scope reaches connect as an interface index, named or numeric.
    void scopeIndex()
    {
        const quint32 lo = QNetworkInterface::interfaceFromName("lo").index();
        QVERIFY(lo > 0);
        for (const auto &[address, index] : { std::pair { "fe80::1%lo", lo }, { "fe80::1%7", 7u }, { "fe80::1", 0u }, { "fe80::1%nosuch0", 0u } })
            QCOMPARE(PlatformNet::scopeIndex(QHostAddress(address)), index);
    }

    // Every framing, split anywhere, gives the same answer: status, Location, body.
    void framings()
    {
        const QList<std::tuple<QByteArray, bool, QString>> answers { // bytes, whether the stream ends after them, answer
            { "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n  hi  \nextra", false, "200  hi" },
            { "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\nWikipedia \r\n4;ext=1\r\nsite\r\n0\r\nX-Trailer: 1\r\n\r\n", false,
              "200  Wikipedia site" },
            { "HTTP/1.0 200 OK\nServer: x\n\nuntil the end", true, "200  until the end" },
            { "HTTP/1.1 100 Continue\r\nLocation: /old\r\n\r\nHTTP/1.1 302 Found\r\nlocation: /next\r\nContent-Length: 2\r\n\r\nno", false,
              "302 /next no" },
            { "HTTP/1.1 204\r\nContent-Length: 99\r\n\r\n", false, "204  " },
            { "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2, 2\r\n\r\nhi!", false, "200  hi" } }; // repeated, the same
        for (const auto &[wire, closeAtEnd, answer] : answers) {
            QList<qsizetype> bytewise;
            for (qsizetype cut = 0; cut <= wire.size(); bytewise << cut++)
                for (const HttpResponse &r : { parse(wire, { cut }, closeAtEnd), parse(wire, bytewise, closeAtEnd) })
                    QCOMPARE((r.state() == HttpResponse::State::Complete ? QString::number(r.status()) : "incomplete") + ' ' + r.location() + ' '
                                 + r.body(), answer);
        }
    }

    // What is no HTTP answer, is cut short or never ends fails the reader, with a reason.
    void failures()
    {
        const QByteArray ok = "HTTP/1.1 200 OK\r\n", chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
        const QList<std::pair<QByteArray, bool>> wires { // each with whether the stream ends after it
            { "SSH-2.0-OpenSSH\r\n\r\n", false }, { QByteArray("\x16\x03\x01\x02\x00", 5), false }, { "HTTP/1.1 OK\r\n\r\n", false },
            { chunked + "zz\r\n", false }, { chunked + "1000000000000000\r\n", false }, // 16 digits: the size may overflow
            { ok + "Content-Length: -1\r\n\r\n", false }, { ok + "Content-Length: 5\r\nContent-Length: 3\r\n\r\nabcde", false },
            { ok + "Content-Length: 3, 5\r\n\r\nabcde", false }, { ok + "Content-Length: 10\r\n\r\nabc", true }, { ok + "Server:", true },
            { "", true }, { ok + "X: " + QByteArray(100 << 10, 'a') + "\r\n\r\n", false }, { ok + QByteArray("X-A: b\r\n").repeated(50000), false } };
        for (const auto &[wire, closeAtEnd] : wires) {
            const HttpResponse response = parse(wire, {}, closeAtEnd);
            QVERIFY2(response.state() == HttpResponse::State::Failed && !response.error().isEmpty(), wire.left(60).constData());
        }
    }

    // The bounded preview, fed a byte at a time, shows what reading the whole body would: trimmed, cut to 300 plus "...".
    void preview()
    {
        const QByteArray odd = "\xC2\xA0 <b>\xF0\x9F\x98\x80\xFF\xE2\x82\xE2\x80\x83"; // no-break and em spaces, a bad byte, a cut sequence
        QList<QByteArray> bodies { odd, odd + QByteArray(290, 'x') + odd + odd, QByteArray("Ж").repeated(301) + odd };
        for (int length : { 0, 299, 300, 301 })
            bodies << "\r\n  " + QByteArray(length, 'x') + " \n";
        for (const QByteArray &body : bodies) {
            BodyPreview preview;
            for (const char &byte : body)
                preview.append(&byte, 1);
            preview.finish();
            const QString whole = QString::fromUtf8(body).trimmed();
            QCOMPARE(preview.text(), whole.size() > 300 ? whole.left(300) + "..." : whole);
        }
    }

    // Last: it lowers the limit on open files to 1024. More proxies than that, with descriptors running out, have their
    // outcomes; the cap that running out sets rises again as probes end; a new run starts with the whole limit.
    void openFileLimit()
    {
        peers.clear();
        Peer fleet("record-proxy", { "--count", "1500" }), silent("silent"), slow("split", { "--pause", "1.2" }); // before our limit drops
        const rlimit low { 1024, 1024 };
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<std::unique_ptr<QFile>> hogs; // leave about a hundred descriptors
        for (int n = openFiles(); n < 920; ++n)
            hogs.emplace_back(std::make_unique<QFile>("/dev/null"))->open(QIODevice::ReadOnly);
        QVariantList proxies;
        for (quint16 port : fleet.ports())
            proxies << proxy(port);
        ProxyTest pt;
        pt.setTargetUrl("http://127.0.0.1:9/test.php"), pt.setTimeoutMs(60000);
        QCOMPARE(run(pt, proxies), QStringList(1500, "alive: recorded"));
        pt.setTimeoutMs(2000); // a probe that waited for a descriptor has its whole time-out from its own start
        QCOMPARE(run(pt, QVariantList(150, proxy(slow.port()))), QStringList(150, "alive: Hello through the proxy"));
        pt.setTimeoutMs(2000);
        pt.testAll(QVariantList(700, proxy(silent.port()))); // about a hundred in flight, the others waiting
        QTest::qWait(1000);
        hogs.clear();
        int free = openFiles();
        QTRY_VERIFY_WITH_TIMEOUT(openFiles() >= free + 50, 10000); // each one timed out lets one more start than before
        pt.cancelAll(), pt.setTimeoutMs(60000);
        free = openFiles();
        pt.testAll(QVariantList(700, proxy(silent.port())));
        QTRY_VERIFY_WITH_TIMEOUT(openFiles() >= free + 700, 8000);
    }
};

QTEST_GUILESS_MAIN(TstRun)
#include "tst_run.moc"
