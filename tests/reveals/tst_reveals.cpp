// What a proxy gives away and where it comes out: judge answers, the anonymity level, probe markers and the country
// database (reveals_parts), and the level through squid, tinyproxy, microsocks and hostile proxies (reveals_peers).
#include "anonymity.h"
#include "countrydb.h"
#include "peer.h"

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
                 { "CGI, twice and escaped", "REMOTE_ADDR = 1.2.3.4\nREMOTE_ADDR = 10.0.0.1\nHTTP_FORWARDED = for=&quot;[::1]&quot;\nHTTP_VIA = a\nHTTP_VIA = b",
                   "1.2.3.4 > 10.0.0.1; Forwarded=for=\"[::1]\"; Via=a, b" },
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
        // The largest body the engine keeps, of what would cost most: unclosed tags and entities, a line of each.
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

    void throughProxies_data() // each row: the level and exit address, or what makes it no working proxy
    {
        QTest::addColumn<QString>("seen");
        QTest::addColumn<QString>("expected");
        const Peer judges[] = { Peer("judge-cgi"), Peer("judge-json") };
        JudgeEcho direct[2];
        std::vector<std::unique_ptr<Peer>> peers;
        for (const auto &[name, scheme, mode, args, expected] :
             std::initializer_list<std::tuple<const char *, const char *, const char *, QStringList, const char *>> {
                 { "direct", "", "", {}, "transparent 127.0.0.1" },
                 { "squid, forwarded_for on", "http", "squid", { "--bind", "127.0.0.2" }, "transparent 127.0.0.2" },
                 { "squid, forwarded_for delete, via off", "http", "squid", { "--forwarded-for", "delete", "--via", "off", "--bind", "127.0.0.3" },
                   "elite 127.0.0.3" },
                 { "squid, forwarded_for off, via on", "http", "squid", { "--forwarded-for", "off", "--via", "on", "--bind", "127.0.0.4" }, "anonymous 127.0.0.4" },
                 { "tinyproxy, Via", "http", "tinyproxy", { "--via", "on", "--bind", "127.0.0.5" }, "anonymous 127.0.0.5" },
                 { "tinyproxy, no Via", "http", "tinyproxy", { "--bind", "127.0.0.6" }, "elite 127.0.0.6" },
                 { "microsocks", "socks5h", "microsocks", { "--bind", "127.0.0.7" }, "elite 127.0.0.7" },
                 { "own page", "http", "own-page", {}, "no judge answer" },
                 { "inject, passes curl's Proxy-Connection on", "http", "inject", { "--bind", "127.0.0.8" }, "anonymous 127.0.0.8" },
                 { "replay", "http", "replay", { "--bind", "127.0.0.9" }, "no marker" } }) {
            const QString proxy = *mode ? QString("%1://127.0.0.1:%2").arg(scheme).arg(peers.emplace_back(std::make_unique<Peer>(mode, args))->port()) : "";
            if (!qstrcmp(mode, "replay"))
                fetch(judges[0].url("/"), newProbeMarker(), proxy); // the echo it replays
            for (int form : { 0, 1 }) {
                const QByteArray marker = newProbeMarker(), body = fetch(judges[form].url("/"), marker, proxy);
                const auto echo = parseJudgeAnswer(body);
                direct[form] = *mode || !echo ? direct[form] : *echo;
                QTest::addRow("%s, %s", name, form ? "JSON" : "CGI")
                    << (!echo ? "no judge answer" : !carriesMarker(*echo, marker) ? "no marker"
                        : QString("%1 %2").arg(anonymityName(anonymityOf(*echo, direct[form], ownAddresses(direct[form]))), echo->client.toString()))
                    << QString(expected);
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
