// What a proxy gives away and where it comes out: judge answers, the anonymity level, probe markers and the country
// database (reveals_parts), and through the engine, what squid, tinyproxy, microsocks and hostile proxies show of
// themselves under a judge and a static page, the protocol of untyped ones, and what a run says of its target (reveals_peers).
#include "anonymity.h"
#include "countrydb.h"
#include "peer.h"
#include "proxytest.h"

#include <QElapsedTimer>
#include <QTest>

namespace {
QString render(const std::optional<JudgeEcho> &echo) // "client > forwarders; Name=value; ..."
{
    if (!echo)
        return "-";
    QStringList parts { echo->client.isNull() ? "(none)" : echo->client.toString() };
    for (const QHostAddress &a : echo->forwarders)
        parts[0] += " > " + a.toString();
    for (auto it = echo->headers.cbegin(); it != echo->headers.cend(); ++it)
        parts << it.key() + '=' + it.value();
    return parts.join("; ");
}

// A run of `proxies`: what the run said of the target, when before any outcome, then the outcome of each with its profile.
QStringList runThrough(ProxyTest &pt, const QVariantList &proxies)
{
    QStringList seen(proxies.size() + 1);
    int outcomes = 0;
    QMap<int, QVariantMap> profiles;
    QObject context;
    QObject::connect(&pt, &ProxyTest::targetChecked, &context, [&](bool reachable, const QString &message) {
        seen[0] = outcomes ? "after an outcome" : (reachable ? "reached " : "unreachable ") + message;
    });
    QObject::connect(&pt, &ProxyTest::proxyProfile, &context, [&](int i, const QVariantMap &profile) { profiles[i] = profile; });
    QObject::connect(&pt, &ProxyTest::proxyResult, &context, [&](int i, bool alive, const QString &, const QString &error, const QString &status) {
        if (status == "testing")
            return;
        ++outcomes;
        const QVariantMap p = profiles.value(i);
        QStringList parts { status };
        for (const char *key : { "type", "anonymity", "exitAddress", "country" })
            parts << p.value(key).toString();
        parts << (!p.contains("altered") ? "" : p.value("altered").toBool() ? "altered" : "same");
        parts.removeAll("");
        seen[i + 1] = alive ? parts.join(' ') : status + ": " + error;
    });
    pt.testAll(proxies);
    QTest::qWaitFor([&] { return outcomes == proxies.size(); }, 30000);
    return seen;
}

QByteArray fetch(const QString &url, const QByteArray &marker, const QString &proxy = {})
{
    QProcess curl;
    curl.start("curl", QStringList { "-s", "--max-time", "10", "-H", "X-Quillfen-Probe: " + marker, url }
                           + (proxy.isEmpty() ? QStringList { "--noproxy", "*" } : QStringList { "-x", proxy }));
    return curl.waitForFinished(15000) ? curl.readAllStandardOutput() : QByteArray();
}
} // namespace

class TstReveals : public QObject
{
    Q_OBJECT
private slots:
    void judgeAnswers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("echo");
        for (const auto &[name, body, echo] : std::initializer_list<std::tuple<const char *, const char *, const char *>> {
                 { "CGI", "REMOTE_ADDR = 1.2.3.4\nHTTP_VIA = 1.1 cache\nHTTP_X_FORWARDED_FOR = 5.6.7.8\nSERVER_NAME = judge\n",
                   "1.2.3.4; Via=1.1 cache; X-Forwarded-For=5.6.7.8" },
                 { "CGI in HTML, colons", "<html><pre>REMOTE_ADDR: 1.2.3.4<br>HTTP_HOST: judge.invalid<br/>\r\n<b>HTTP_X_REAL_IP</b> = 9.9.9.9</pre>",
                   "1.2.3.4; Host=judge.invalid; X-Real-Ip=9.9.9.9" },
                 { "CGI, twice and escaped", "REMOTE_ADDR = 1.2.3.4\nREMOTE_ADDR = 198.51.100.7\nHTTP_FORWARDED = for=&quot;[::1]&quot;\nHTTP_VIA = a\nHTTP_VIA = b",
                   "1.2.3.4 > 198.51.100.7; Forwarded=for=\"[::1]\"; Via=a, b" },
                 { "short and octal forms", "REMOTE_ADDR = 127.1\nREMOTE_ADDR = 010.0.0.1\nREMOTE_ADDR = 1.2.3.256", "(none)" },
                 { "CGI without REMOTE_ADDR", "HTTP_VIA = x\n<p>Hello</p>", "-" },
                 { "JSON", R"({"origin": "1.2.3.4, 5.6.7.8", "headers": {"via": "1.1 x", "X-Forwarded-For": ["a", "b"], "N": 1}})",
                   "1.2.3.4 > 5.6.7.8; Via=1.1 x; X-Forwarded-For=a, b" },
                 { "JSON, ip, something around", "<script>{}</script>\n{\"ip\": \"::1\", \"headers\": {}}\n", "::1" },
                 { "JSON, origin no address", R"({"origin": "unknown, 1.2.3.4", "headers": {}})", "(none) > 1.2.3.4" },
                 { "JSON without headers", R"({"origin": "1.2.3.4"})", "-" }, { "empty", "", "-" } })
            QTest::newRow(name) << QByteArray(body) << QString(echo);
    }
    void judgeAnswers()
    {
        QFETCH(QByteArray, body);
        QTEST(render(parseJudgeAnswer(body)), "echo");
    }

    void levels_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("level");
        const QByteArray exit = "REMOTE_ADDR = 127.0.0.2\n";
        for (const auto &[name, body, level] : std::initializer_list<std::tuple<const char *, QByteArray, const char *>> {
                 { "own client address", "REMOTE_ADDR = 127.0.0.1", "transparent" },
                 { "own address forwarded", exit + "HTTP_X_FORWARDED_FOR = 127.0.0.1, 127.0.0.2", "transparent" },
                 { "IPv4-mapped in Forwarded", exit + "HTTP_FORWARDED = for=\"[::ffff:127.0.0.1]:80\"", "transparent" },
                 { "in any field, at a sentence's end", exit + "HTTP_VIA = 1.1 cache\nHTTP_X_TRACE = from 127.0.0.1.", "transparent" },
                 { "not a whole address", exit + "HTTP_X_FORWARDED_FOR = 127.0.0.10", "anonymous" },
                 { "Proxy-Authorization passed on", exit + "HTTP_PROXY_AUTHORIZATION = Basic dTpw", "anonymous" },
                 { "proxies in the origin", R"({"origin": "127.0.0.2, 127.0.0.3", "headers": {}})", "anonymous" },
                 { "own address in Host", exit + "HTTP_HOST = 127.0.0.1:8080", "elite" },
                 { "a field the direct request had", exit + "HTTP_X_REAL_IP = 127.0.0.2", "elite" },
                 { "in a host name", exit + "HTTP_X_NOTE = 127.0.0.1.nip.io", "elite" },
                 { "nothing revealing", exit + "HTTP_CACHE_CONTROL = max-age=0\nHTTP_CONNECTION = close", "elite" } })
            QTest::newRow(name) << body << QString(level);
    }
    void levels()
    {
        QFETCH(QByteArray, body);
        const JudgeEcho direct = *parseJudgeAnswer("REMOTE_ADDR = 127.0.0.1\nHTTP_X_REAL_IP = 127.0.0.1");
        QTEST(QString(anonymityName(anonymityOf(*parseJudgeAnswer(body), direct, ownAddresses(direct)))), "level");
    }

    void markersAndBounds()
    {
        const QByteArray a = newProbeMarker(), b = newProbeMarker();
        QVERIFY(a != b && a.size() == 16 && QByteArray::fromHex(a).toHex() == a);
        const auto echo = parseJudgeAnswer("REMOTE_ADDR = 192.0.2.1\nHTTP_X_QUILLFEN_PROBE = " + a), twice = parseJudgeAnswer(
            "REMOTE_ADDR = 192.0.2.1\nHTTP_X_QUILLFEN_PROBE = " + a + "\nHTTP_X_QUILLFEN_PROBE = " + b);
        QVERIFY(carriesMarker(*echo, a) && !carriesMarker(*echo, b) && !carriesMarker(*echo, "") && !carriesMarker(*twice, a));
        QVERIFY(ownAddresses(*echo).contains(QHostAddress("192.0.2.1")) && ownAddresses(*echo).contains(QHostAddress::LocalHost));
        // Far more than the engine keeps of a body, of what would cost most: unclosed tags and entities, a line of each.
        const QByteArray body = "REMOTE_ADDR = 1.2.3.4\nHTTP_A = " + QByteArray("<a").repeated(400000) + "\nHTTP_B = "
            + QByteArray("&amp;").repeated(100000) + "<br>\n>";
        QElapsedTimer timer;
        timer.start();
        const auto big = parseJudgeAnswer(body);
        QVERIFY(big && big->header(u"a").size() == 800000 && big->header(u"b").size() == 100000);
        QVERIFY(anonymityOf(*big, *echo, {}) == Anonymity::Elite && timer.elapsed() < 20000);
    }

    void countries()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath("countries.mmdb");
        QCOMPARE(QProcess::execute("perl", { QUILLFEN_COUNTRIES_PL, good }), 0);
        QFile file(good);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        CountryDb db;
        QVERIFY2(db.setPath(good), qPrintable(db.error()));
        QVERIFY(QFile::remove(good) && db.setPath(good)); // open already: not opened again
        for (const auto &[address, code] : { std::pair { "127.0.0.2", "DE" }, { "::ffff:127.0.0.2", "DE" }, { "127.0.0.3", "FR" },
                                             { "127.0.0.4", "AT" }, { "127.0.0.5", "" }, { "2001:db8::1", "NL" }, { "::1", "" } })
            QCOMPARE(db.country(QHostAddress(address)), QString(code));
        for (const auto &[name, data] : { std::pair { "truncated", bytes.first(bytes.size() / 2) }, { "garbage", QByteArray(4096, 'Z') },
                                          { "missing", QByteArray() } }) {
            QFile broken(dir.filePath(name));
            QVERIFY(data.isEmpty() || (broken.open(QIODevice::WriteOnly) && broken.write(data) == data.size() && broken.flush()));
            QVERIFY(!db.setPath(broken.fileName()) && !db.isOpen() && db.country(QHostAddress("127.0.0.2")).isEmpty());
            QVERIFY2(db.error().startsWith("Cannot read the country database: " + broken.fileName() + ": ") && !db.error().contains('\n'),
                     qPrintable(db.error()));
        }
        QVERIFY(db.setPath({}) && db.error().isEmpty());
    }

    // Through the engine, each row one proxy of a run: what its answer showed ("alive type level exit country altered"), or
    // why it is no working proxy; and first, what the run said of the target, before any outcome.
    void throughProxies_data()
    {
        QTest::addColumn<QString>("seen");
        QTest::addColumn<QString>("expected");
        QTemporaryDir dir;
        QCOMPARE(QProcess::execute("perl", { QUILLFEN_COUNTRIES_PL, dir.filePath("c.mmdb") }), 0);
        ProxyTest pt;
        pt.setTimeoutMs(8000), pt.setCountryDatabase(dir.filePath("c.mmdb"));
        QVERIFY(pt.countryDatabaseError().isEmpty());
        std::vector<std::unique_ptr<Peer>> peers;
        auto at = [&](const char *mode, const QStringList &args = {}, const char *type = "http") {
            return QVariantMap { { "host", "127.0.0.1" }, { "port", peers.emplace_back(std::make_unique<Peer>(mode, args))->port() }, { "type", type } };
        };
        const QVariantList common { at("tinyproxy", { "--via", "on", "--bind", "127.0.0.5" }), at("microsocks", { "--bind", "127.0.0.7" }, "socks5"),
                                    at("inject", { "--bind", "127.0.0.8" }), at("tinyproxy", { "--bind", "127.0.0.10" }, "auto"),
                                    at("microsocks", { "--bind", "127.0.0.11" }, "auto"), at("socks4", {}, "auto") };
        const QVariantList judged = common + QVariantList {
            at("squid", { "--bind", "127.0.0.2" }), at("squid", { "--forwarded-for", "delete", "--via", "off", "--bind", "127.0.0.3" }),
            at("squid", { "--forwarded-for", "off", "--via", "on", "--bind", "127.0.0.4" }), at("tinyproxy", { "--bind", "127.0.0.6" }),
            at("own-page"), at("replay", { "--bind", "127.0.0.9" }),
            QVariantMap { { "host", "127.0.0.1" }, { "port", peers.emplace_back(std::make_unique<Peer>("tinyproxy", QStringList { "--user", "u", "--password", "p" }))->port() },
                          { "user", "u" }, { "password", "wrong" } } };
        const QString reached = "reached ", notJudged = "alive http";
        const Peer cgi("judge-cgi"), json("judge-json"), page("target"), changing("changing");
        fetch(cgi.url("/"), "", QString("http://127.0.0.1:%1").arg(judged.at(11).toMap().value("port").toInt())); // what the replay proxy replays
        for (const auto &[name, url, proxies, expected] : std::initializer_list<std::tuple<const char *, QString, QVariantList, QStringList>> {
                 { "CGI judge", cgi.url("/"), judged,
                   { reached, "alive http anonymous 127.0.0.5", "alive socks5 elite 127.0.0.7", "alive http elite 127.0.0.8", "alive http elite 127.0.0.10", "alive socks5 elite 127.0.0.11",
                     "alive socks4 transparent 127.0.0.1", "alive http transparent 127.0.0.2 DE", "alive http elite 127.0.0.3 FR", "alive http anonymous 127.0.0.4 AT",
                     "alive http elite 127.0.0.6", "dead: The answer did not come from the target", "dead: The answer did not come from the target",
                     "dead: Proxy rejected the credentials" } },
                 { "static page", page.url(), common, { reached, notJudged + " same", "alive socks5 same", notJudged + " altered", notJudged + " same", "alive socks5 same", "alive socks4 same" } },
                 { "changing page", changing.url("/"), common.mid(2, 1), { reached + "The target's page changes from fetch to fetch: altered answers are not looked for", notJudged } },
                 { "target down", QString("http://127.0.0.1:%1/").arg(closedPort()), common.mid(0, 1),
                   { "unreachable The target does not answer directly: Connection refused", "dead: *" } } }) {
            for (const QString &form : QStringList { "", " (JSON)" }) {
                if (!form.isEmpty() && !QString(name).contains("judge"))
                    continue;
                pt.setTargetUrl(form.isEmpty() ? url : json.url("/"));
                const QStringList seen = runThrough(pt, proxies);
                for (qsizetype i = 0; i < expected.size(); ++i)
                    QTest::addRow("%s%s: %lld", name, qPrintable(form), i) << (expected.at(i) == "dead: *" && seen.value(i).startsWith("dead: ") ? "dead: *" : seen.value(i))
                                                                      << expected.at(i);
            }
        }
    }
    void throughProxies()
    {
        QFETCH(QString, seen);
        QTEST(seen, "expected");
    }
};

QTEST_GUILESS_MAIN(TstReveals)
#include "tst_reveals.moc"
