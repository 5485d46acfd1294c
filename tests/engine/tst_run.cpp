// Test runs of ProxyTest against real loopback peers: tinyproxy, a plain and a TLS
// target, recording and silent proxies, SOCKS ones (microsocks, SOCKS4 and hostile),
// and a closed port.
#include "peer.h"
#include "proxytest.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>

#include <memory>

namespace {
const QString padded = QStringLiteral(" \r\n\t Hello through the proxy \n  ");
const QString hello = QStringLiteral("Hello through the proxy");
const QString zh300 = QString(QChar(0x0436)).repeated(300); // 300 UTF-16 units, 600 UTF-8 bytes
const QString user = QStringLiteral("quillfen"), password = QStringLiteral("pa55.word");

QVariantMap proxy(const QVariant &port, const QVariant &host = QStringLiteral("127.0.0.1"))
{
    return { { "host", host }, { "port", port } };
}

QVariantMap typed(quint16 port, const char *type, const QString &name = {}, const QString &secret = {})
{
    return { { "host", "127.0.0.1" }, { "port", port }, { "type", type }, { "user", name }, { "password", secret } };
}

QVariantList testing(int i) { return { i, false, "", "Testing", "testing" }; }
QVariantList outcome(int i, const QString &status, const QString &info = {}, const QString &errorMsg = {})
{
    return { i, status == "alive", info, errorMsg, status };
}

int outcomeCount(const QSignalSpy &spy)
{
    return std::count_if(spy.cbegin(), spy.cend(), [](const QVariantList &a) { return a.at(4) != "testing"; });
}

// Dead results carry the network library's text: only its presence is checked.
QList<QVariantList> normalised(const QList<QVariantList> &results)
{
    QList<QVariantList> out = results;
    for (QVariantList &a : out)
        if (a.at(4) == "dead" && !a.at(3).toString().isEmpty())
            a[3] = "<error text>";
    return out;
}

// The sockets the process holds: every probe in flight holds one.
int openSockets()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QStringList names = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
    return int(std::count_if(names.cbegin(), names.cend(),
                             [&](const QString &fd) { return QFile::symLinkTarget(fds.filePath(fd)).contains("socket:["); }));
}

// Once deferred deletions ran, the run has left no probe, no timer armed and
// no socket open, as counted before it started.
#define QVERIFY_IDLE(pt, socketsBefore)                                                                             \
    do {                                                                                                           \
        (void)QTest::qWaitFor([&] {                                                                                \
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);                                   \
            return openSockets() <= socketsBefore && (pt).isIdle();                                                \
        }, 10000);                                                                                                 \
        QVERIFY((pt).isIdle());                                                                                    \
        QCOMPARE(openSockets(), socketsBefore);                                                                    \
    } while (false)

QByteArray requestTarget(const QByteArray &head) { return head.left(head.indexOf("\r\n")).split(' ').value(1); }

QByteArrayList headerValues(const QByteArray &head, const QByteArray &name)
{
    QByteArrayList values;
    for (const QByteArray &line : head.split('\n'))
        if (line.toLower().startsWith(name.toLower() + ':'))
            values << line.mid(name.size() + 1).trimmed();
    return values;
}
} // namespace

class TstRun : public QObject
{
    Q_OBJECT
    std::unique_ptr<Peer> target, tlsTarget, tinyproxy;

    QVariantMap viaTinyproxy() const { return proxy(tinyproxy->port()); }

    // Starts a run and waits for one outcome per probe, then quietMs more for stray signals.
    // Each "alive", and nothing else, must come right after a proxyLatency of its own.
    static QList<QVariantList> run(ProxyTest &pt, const QVariantList &proxies, int quietMs = 300)
    {
        QSignalSpy spy(&pt, &ProxyTest::proxyResult);
        int latency = -1; // the index of a proxyLatency not yet followed by its result
        bool ok = true;
        const auto a = connect(&pt, &ProxyTest::proxyLatency, [&](int i, int ms) { ok &= latency < 0 && ms >= 0, latency = i; });
        const auto b = connect(&pt, &ProxyTest::proxyResult, [&](int i, bool, QString, QString, QString status) {
            ok &= latency == (status == "alive" ? i : -1), latency = -1;
        });
        pt.testAll(proxies);
        (void)QTest::qWaitFor([&] { return outcomeCount(spy) >= proxies.size(); }, 60000);
        QTest::qWait(quietMs);
        disconnect(a), disconnect(b);
        return ok && latency < 0 ? QList<QVariantList>(spy) : QList<QVariantList>(); // an empty list fails the caller
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        target = std::make_unique<Peer>("target", QStringList { "--body", padded });
        QVERIFY(target->isRunning());
        tlsTarget = std::make_unique<Peer>("tls-target", QStringList { "--location", target->url() });
        QVERIFY(tlsTarget->isRunning());
        tinyproxy = std::make_unique<Peer>("tinyproxy", QStringList { "--connect-port", QString::number(tlsTarget->port()) });
        QVERIFY(tinyproxy->isRunning());
    }

    // One run over every kind of proxy: all "testing" first in index order, then exactly
    // one outcome per probe; no "timeout" after a finished reply, no "dead" after a
    // time-out; nothing of the probes is left afterwards.
    void outcomes()
    {
        Peer b300("record-proxy", { "--body", "\n" + zh300 + " " }), b301("record-proxy", { "--body", zh300 + "z" }),
            empty("record-proxy", { "--body", "" }), silent("silent");
        for (const Peer *p : { &b300, &b301, &empty, &silent })
            QVERIFY(p->isRunning());
        ProxyTest pt;
        pt.setTargetUrl(target->url());
        pt.setTimeoutMs(5000);
        const QVariantList proxies { viaTinyproxy(),
                                     proxy(b300.port()),
                                     proxy(b301.port()),
                                     proxy(empty.port()),
                                     proxy(closedPort()),
                                     proxy(silent.port()),
                                     proxy(tinyproxy->port(), ""),
                                     QVariantMap { { "port", tinyproxy->port() } },
                                     QVariant("127.0.0.1"),
                                     QVariant(QVariantList { "127.0.0.1", tinyproxy->port() }),
                                     viaTinyproxy() };
        const int sockets = openSockets();
        const QList<QVariantList> results = run(pt, proxies, 1500);
        QCOMPARE(results.size(), 2 * proxies.size());
        for (int i = 0; i < proxies.size(); ++i)
            QCOMPARE(results.at(i), testing(i));
        QList<QVariantList> finals = normalised(results.mid(proxies.size()));
        std::sort(finals.begin(), finals.end(), [](auto &a, auto &b) { return a.at(0).toInt() < b.at(0).toInt(); });
        const QList<QVariantList> expected {
            outcome(0, "alive", hello), outcome(1, "alive", zh300), outcome(2, "alive", zh300 + "..."),
            outcome(3, "alive", ""), outcome(4, "dead", "", "<error text>"), outcome(5, "timeout", "", "Timeout"),
            outcome(6, "dns_fail", "", "DNS fail"), outcome(7, "dns_fail", "", "DNS fail"),
            outcome(8, "dns_fail", "", "DNS fail"), outcome(9, "dns_fail", "", "DNS fail"), outcome(10, "alive", hello),
        };
        QCOMPARE(finals, expected);
        QVERIFY_IDLE(pt, sockets);
    }

    // Through tinyproxy to the targets: HTTP status, TLS with a self-signed certificate, redirects.
    void targets_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("info");
        QTest::newRow("404") << target->url("/missing") << "dead" << "";
        QTest::newRow("self-signed TLS") << tlsTarget->url() << "alive" << "Quillfen test page";
        QTest::newRow("redirect") << target->url("/redirect") << "alive" << hello;
        QTest::newRow("https to http redirect") << tlsTarget->url("/redirect") << "dead" << "";
        QTest::newRow("no scheme") << "" << "dead" << "";
    }
    void targets()
    {
        QFETCH(QString, url);
        QFETCH(QString, status);
        QFETCH(QString, info);
        ProxyTest pt;
        pt.setTargetUrl(url);
        const QList<QVariantList> results = normalised(run(pt, { viaTinyproxy() }));
        QCOMPARE(results, QList<QVariantList>({ testing(0), outcome(0, status, info, status == "dead" ? "<error text>" : "") }));
    }

    // What the proxy receives: the absolute URL with "_t", and the three no-cache headers.
    void request_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("avoidCache");
        QTest::addColumn<QString>("expected"); // request target; STAMP stands for the "_t" value
        const QString base = "http://127.0.0.1:9/test.php";
        QTest::newRow("no query") << base << true << base + "?_t=STAMP";
        QTest::newRow("query") << base + "?a=1&b=x" << true << base + "?a=1&b=x&_t=STAMP";
        QTest::newRow("bare ?") << base + "?" << true << base + "?&_t=STAMP";
        QTest::newRow("fragment") << base + "?a=1#part" << true << base + "?a=1&_t=STAMP";
        QTest::newRow("fragment, no query") << base + "#part" << true << base + "?_t=STAMP";
        QTest::newRow("cache off") << base + "?a=1" << false << base + "?a=1";
        QTest::newRow("tolerant parsing") << base + "?q=a b" << true << base + "?q=a%20b&_t=STAMP";
    }
    void request()
    {
        QFETCH(QString, url);
        QFETCH(bool, avoidCache);
        QFETCH(QString, expected);
        Peer rec("record-proxy", {}, true);
        QVERIFY(rec.isRunning());
        ProxyTest pt;
        pt.setTargetUrl(url);
        pt.setAvoidCache(avoidCache);
        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(run(pt, { proxy(rec.port()) }).value(1).value(4).toString(), QStringLiteral("alive"));
        const QDateTime after = QDateTime::currentDateTime();

        QCOMPARE(rec.requests().size(), 1);
        const QByteArray head = rec.requests().at(0);
        QVERIFY(head.startsWith("GET "));
        const QString pattern = "^" + QRegularExpression::escape(expected).replace("STAMP", "(\\d{4}(-\\d\\d){5}-\\d{3})") + "$";
        const QRegularExpressionMatch m = QRegularExpression(pattern).match(QString::fromUtf8(requestTarget(head)));
        QVERIFY2(m.hasMatch(), head.constData());
        if (avoidCache) {
            const QDateTime stamp = QDateTime::fromString(m.captured(1), "yyyy-MM-dd-HH-mm-ss-zzz");
            QVERIFY2(stamp >= before.addMSecs(-1) && stamp <= after, qPrintable(m.captured(1)));
        }
        QCOMPARE(headerValues(head, "Cache-Control"), QByteArrayList { "no-cache, no-store, must-revalidate" });
        QCOMPARE(headerValues(head, "Pragma"), QByteArrayList { "no-cache" });
        QCOMPARE(headerValues(head, "Expires"), QByteArrayList { "0" });
    }

    // Every proxy type, to an http and an https target, without credentials (an open and
    // a locked proxy), with the right and with wrong ones; then the hostile SOCKS peers.
    void types_data()
    {
        QTest::addColumn<bool>("https");
        QTest::newRow("http target") << false;
        QTest::newRow("https target") << true;
    }
    void types()
    {
        QFETCH(bool, https);
        const QStringList locked { "--user", user, "--password", password };
        Peer http("tinyproxy", locked + QStringList { "--connect-port", QString::number(tlsTarget->port()) }),
            socks5("microsocks"), socks5Locked("microsocks", locked), socks4("socks4"), socks4Locked("socks4", { "--user", user }),
            wrongVersion("socks-wrong-version"), shortReply("socks-short"), silent("silent"), refuse("socks-refuse"),
            endless("socks-endless"), drip("socks-drip");
        const QString page = https ? "Quillfen test page" : hello;
        QVariantList proxies;
        QList<QVariantList> expected;
        auto add = [&](const QVariantMap &entry, const QString &status, const QString &text = {}) {
            expected << outcome(proxies.size(), status, status == "alive" ? page : "", status == "alive" ? "" : text);
            proxies << entry;
        };
        add(typed(tinyproxy->port(), "http"), "alive");
        add(typed(http.port(), "http"), "dead", "Proxy requires authentication");
        add(typed(http.port(), "http", user, password), "alive");
        // tinyproxy answers wrong credentials with 401, which, to a GET, may as well be the target's.
        add(typed(http.port(), "http", user, "wrong"), "dead",
            https ? "Proxy rejected the credentials" : "Error transferring " + target->url() + " - server replied: Unauthorized");
        add(typed(socks5.port(), "socks5"), "alive");
        add(typed(socks5Locked.port(), "socks5"), "dead", "SOCKS proxy requires authentication");
        add(typed(socks5Locked.port(), "socks5", user, password), "alive");
        add(typed(socks5Locked.port(), "socks5", user, "wrong"), "dead", "SOCKS5 proxy rejected the credentials");
        add(typed(socks4.port(), "socks4"), "alive");
        add(typed(socks4Locked.port(), "socks4"), "dead", "SOCKS4 proxy refused the connection (user ID not accepted)");
        add(typed(socks4Locked.port(), "socks4", user, password), "alive");
        add(typed(socks4Locked.port(), "socks4", "wrong"), "dead", "SOCKS4 proxy refused the connection (user ID not accepted)");
        for (const char *type : { "socks5", "socks4" }) {
            const bool five = !qstrcmp(type, "socks5");
            add(typed(wrongVersion.port(), type), "dead", five ? "Proxy does not speak SOCKS5" : "Proxy does not speak SOCKS4");
            add(typed(shortReply.port(), type), "dead", "SOCKS proxy closed the connection in the middle of its reply");
            add(typed(silent.port(), type), "timeout", "Timeout");
            add(typed(refuse.port(), type), "dead",
                five ? "SOCKS5 proxy refused the connection (rule set)" : "SOCKS4 proxy refused the connection (rejected or failed)");
            add(typed(endless.port(), type), "dead", "SOCKS proxy sent more than its reply");
            add(typed(drip.port(), type), "timeout", "Timeout");
        }
        ProxyTest pt;
        pt.setTargetUrl(https ? tlsTarget->url() : target->url());
        pt.setAvoidCache(false);
        pt.setTimeoutMs(3000);
        QList<QVariantList> finals = run(pt, proxies).mid(proxies.size());
        std::sort(finals.begin(), finals.end(), [](auto &a, auto &b) { return a.at(0).toInt() < b.at(0).toInt(); });
        for (QVariantList &a : finals) // a failure must not print them either
            a[3] = a[3].toString().replace(password, "<password>").replace(user, "<user>");
        QCOMPARE(finals, expected);
    }

    // When the target's name does not resolve here, SOCKS4 falls back to 4a: the name goes to the proxy.
    void socks4a()
    {
        Peer socks4("socks4", {}, true);
        ProxyTest pt;
        pt.setTargetUrl("http://quillfen.invalid:9/test.php");
        const QList<QVariantList> results = run(pt, { typed(socks4.port(), "socks4"), typed(socks4.port(), "socks4", user) });
        QCOMPARE(results.value(3).value(3).toString(), QStringLiteral("SOCKS4 proxy refused the connection (rejected or failed)"));
        QByteArrayList requests = socks4.requests();
        std::sort(requests.begin(), requests.end());
        QCOMPARE(requests, QByteArrayList({ "SOCKS4 quillfen.invalid:9 \r\n\r\n", "SOCKS4 quillfen.invalid:9 quillfen\r\n\r\n" }));
    }

    // With expectedText, an answer is "alive" only if its body holds the text anywhere.
    void expectedText_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("status");
        QTest::newRow("match") << "record-proxy" << QByteArray("Hello through the proxy") << "through" << "alive";
        QTest::newRow("miss") << "record-proxy" << QByteArray("Hello through the proxy") << "Hallo" << "dead";
        QTest::newRow("across reads") << "split" << QByteArray("Hello through the proxy") << "llo through" << "alive";
        QTest::newRow("past 1 MiB") << "record-proxy" << QByteArray(3 << 19, 'x') + "Привет" << "Привет" << "alive";
        QTest::newRow("not past 1 MiB") << "record-proxy" << QByteArray(3 << 19, 'x') << "Привет" << "dead";
    }
    void expectedText()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QString, status);
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(body) == body.size() && file.flush());
        Peer peer(mode, { "--body-file", file.fileName() });
        ProxyTest pt;
        pt.setTargetUrl("http://127.0.0.1:9/test.php");
        pt.setExpectedText(text);
        const QVariantList result = run(pt, { proxy(peer.port()) }).value(1);
        QCOMPARE(result.value(4).toString(), status);
        if (status == "dead")
            QCOMPARE(result.value(3).toString(), QStringLiteral("Answer lacks the expected text"));
    }

    // User info of the target URL never goes into a request line, a Host field or a
    // CONNECT line; a 401 with a Basic challenge is answered once with it, also in a tunnel.
    void targetCredentials()
    {
        Peer rec("record-proxy", {}, true), http("target", { "--user", user, "--password", password }, true),
            tls("tls-target", { "--user", user, "--password", password }),
            relay("tinyproxy", { "--connect-port", QString::number(tls.port()) });
        const QString info = QUrl::toPercentEncoding(user) + ':' + QUrl::toPercentEncoding(password) + '@';
        ProxyTest pt;
        pt.setAvoidCache(false);
        for (const QString &url : { "http://" + info + "127.0.0.1:9/private", "https://" + info + "127.0.0.1:9/private" })
            pt.setTargetUrl(url), run(pt, { proxy(rec.port()) });
        const QByteArray heads = rec.requests().join();
        QVERIFY(heads.startsWith("GET http://127.0.0.1:9/private HTTP/1.1\r\n"));
        QVERIFY(heads.contains("\r\nCONNECT 127.0.0.1:9 HTTP/1.1\r\n"));
        QVERIFY(!heads.contains(QUrl::toPercentEncoding(password)) && !heads.contains("Authorization"));

        for (const Peer *p : { &http, &tls }) {
            pt.setTargetUrl(QString(p->url("/private")).replace("://", "://" + info));
            QCOMPARE(run(pt, { proxy(relay.port()) }).value(1).value(4).toString(), QStringLiteral("alive"));
            pt.setTargetUrl(QString(p->url("/private")).replace("://", "://" + user + ":wrong@"));
            QCOMPARE(run(pt, { proxy(relay.port()) }).value(1).value(4).toString(), QStringLiteral("dead"));
        }
        QCOMPARE(http.requests().size(), 4); // each asked once without, once with credentials
    }

    // The proxy port is the low 16 bits of the entry's "port", read as a number.
    void portConversion()
    {
        Peer rec("record-proxy", {}, true), top("record-proxy", { "--port", "65535" }, true);
        QVERIFY(rec.isRunning());
        const int p = rec.port();
        ProxyTest pt;
        pt.setTargetUrl("http://127.0.0.1:9/test.php");
        QVariantList proxies { proxy(p - 65536), proxy(p + 65536), proxy(QString::number(p)), proxy(double(p)),
                               proxy("abc"), proxy(65536) };
        if (top.isRunning())
            proxies << proxy(-1);
        else
            qWarning("port 65535 is taken: -1 is not checked");
        QStringList statuses;
        for (const QVariantList &a : run(pt, proxies).mid(proxies.size()))
            statuses << QString::number(a.at(0).toInt()) + a.at(4).toString();
        statuses.sort();
        QStringList expected { "0alive", "1alive", "2alive", "3alive", "4dead", "5dead" };
        if (top.isRunning())
            expected << "6alive";
        QCOMPARE(statuses, expected);
        QCOMPARE(rec.requests().size(), 4);
        QCOMPARE(top.requests().size(), top.isRunning() ? 1 : 0);
    }

    // A run ended by cancelAll, by another testAll or by the object's end, while its
    // look-ups are pending or its requests are in flight, says nothing more and leaves
    // nothing behind; the look-ups it had started lead to no request.
    void supersede_data()
    {
        QTest::addColumn<bool>("inFlight");
        QTest::addColumn<QString>("next");
        for (bool inFlight : { false, true })
            for (const char *next : { "cancelAll", "empty testAll", "new testAll", "destroy" })
                QTest::addRow("%s, %s", inFlight ? "requests" : "look-ups", next) << inFlight << QString(next);
    }
    void supersede()
    {
        QFETCH(bool, inFlight);
        QFETCH(QString, next);
        Peer silent("silent", {}, true);
        const int sockets = openSockets();
        auto pt = std::make_unique<ProxyTest>();
        pt->setTargetUrl(target->url());
        pt->setTimeoutMs(3000);
        pt->testAll({ proxy(silent.port()), proxy(silent.port()), proxy(silent.port(), "") });
        if (inFlight)
            QTRY_COMPARE_WITH_TIMEOUT(silent.requests().size(), 2, 30000);
        QSignalSpy spy(pt.get(), &ProxyTest::proxyResult);
        pt->setTimeoutMs(30000);
        if (next == "cancelAll")
            pt->cancelAll();
        else if (next == "empty testAll")
            pt->testAll({});
        else if (next == "new testAll")
            pt->testAll({ viaTinyproxy() });
        else
            pt.reset();
        QTest::qWait(4000); // past the old run's time-out
        QCOMPARE(QList<QVariantList>(spy), next == "new testAll" ? QList<QVariantList>({ testing(0), outcome(0, "alive", hello) })
                                                                : QList<QVariantList>());
        QCOMPARE(silent.requests().size(), inFlight ? 2 : 0);
        if (pt)
            QVERIFY_IDLE(*pt, sockets);
        else
            QCOMPARE(openSockets(), sockets);
    }

    // A handler of the time that ends the run hears no "alive" after it.
    void cancelledFromLatency()
    {
        ProxyTest pt;
        pt.setTargetUrl(target->url());
        connect(&pt, &ProxyTest::proxyLatency, &pt, &ProxyTest::cancelAll);
        QSignalSpy spy(&pt, &ProxyTest::proxyResult), times(&pt, &ProxyTest::proxyLatency);
        pt.testAll({ viaTinyproxy() });
        QVERIFY(times.wait(20000));
        QTest::qWait(300);
        QCOMPARE(QList<QVariantList>(spy), QList<QVariantList>({ testing(0) }));
    }

    // Settings changed after testAll reach the probes whose look-up has not completed.
    void settingsReachLaterProbes()
    {
        Peer rec("record-proxy", {}, true), silent("silent");
        ProxyTest pt;
        pt.setTargetUrl("http://127.0.0.1:9/first");
        pt.setTimeoutMs(120000);
        QSignalSpy spy(&pt, &ProxyTest::proxyResult);
        pt.testAll({ proxy(rec.port()), proxy(silent.port()) });
        pt.setTargetUrl("http://127.0.0.1:9/second");
        pt.setAvoidCache(false);
        pt.setTimeoutMs(1000);
        QTRY_COMPARE_WITH_TIMEOUT(outcomeCount(spy), 2, 30000);
        QVERIFY(spy.contains(outcome(0, "alive", "recorded")));
        QVERIFY(spy.contains(outcome(1, "timeout", "", "Timeout")));
        QCOMPARE(requestTarget(rec.requests().value(0)), QByteArray("http://127.0.0.1:9/second"));
    }
};

QTEST_GUILESS_MAIN(TstRun)
#include "tst_run.moc"
