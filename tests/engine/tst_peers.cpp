// ProxyTest through Debian's own proxy daemons on loopback: squid (HTTP, Basic auth), dante-server (SOCKS5 with username
// auth, SOCKS4), tinyproxy and microsocks. Each row's verdict is curl's, through the same proxy to the same target.
#include "peer.h"
#include "proxytest.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <deque>

namespace {
const QString user = QStringLiteral("quillfen"), password = QStringLiteral("pa55.word");

struct Row
{
    Row(const QString &name, bool sane) : name(name), sane(sane) { }
    QString name;
    bool sane; // alive or not, as a peer set up right answers
    QString outcome; // the program's, "status: text"
    QProcess curl;
};
} // namespace

class TstPeers : public QObject
{
    Q_OBJECT
    std::vector<std::unique_ptr<Peer>> peers;
    std::deque<Row> rows;
    ProxyTest runs[2]; // one testAll each, to the http and to the https target, side by side

    Peer &start(const QString &mode, const QStringList &args = {}) { return *peers.emplace_back(std::make_unique<Peer>(mode, args)); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QStringList locked { "--user", user, "--password", password };
        const Peer &target = start("target"), &tls = start("tls-target");
        // A wrong password to a squid of its own: squid hands a check in flight for a user name to every request of that name.
        const quint16 squid = start("squid", locked).port(), squid2 = start("squid", locked).port(), dante = start("dante", locked).port(),
                      tiny = start("tinyproxy", { "--connect-port", QString::number(tls.port()) }).port(), micro = start("microsocks").port();
        for (const auto &peer : peers)
            QVERIFY(peer->isRunning());
        for (int https : { 0, 1 }) {
            const QString url = (https ? tls : target).url();
            QVariantList proxies;
            for (const auto &[name, port, type, login, secret, sane] :
                 { std::tuple { "squid", squid, "http", user, password, true }, { "squid, wrong password", squid2, "http", user, QString("wrong"), false },
                   { "squid, no credentials", squid, "http", QString(), QString(), false }, { "dante", dante, "socks5", user, password, true },
                   { "dante, wrong password", dante, "socks5", user, QString("wrong"), false },
                   { "dante, no credentials", dante, "socks5", QString(), QString(), false }, { "dante SOCKS4", dante, "socks4", QString(), QString(), true },
                   { "tinyproxy", tiny, "http", QString(), QString(), true }, { "microsocks", micro, "socks5", QString(), QString(), true } }) {
                proxies << QVariantMap { { "host", "127.0.0.1" }, { "port", port }, { "type", type }, { "user", login }, { "password", secret } };
                Row &row = rows.emplace_back(QString(https ? "https, " : "http, ") + name, sane);
                const QString scheme = qstrcmp(type, "socks5") ? type : "socks5h"; // the proxy resolves, as the program has it
                row.curl.start("curl", QStringList { "-s", "-o", "/dev/null", "-w", "%{http_code}", "-L", "-k", "--max-time", "10", "--proxy",
                                                     QString("%1://127.0.0.1:%2").arg(scheme).arg(port), url }
                                   + (login.isEmpty() ? QStringList() : QStringList { "--proxy-user", login + ':' + secret }));
            }
            const qsizetype first = rows.size() - proxies.size();
            connect(&runs[https], &ProxyTest::proxyResult, this, [this, first](int i, bool alive, const QString &info, const QString &error, const QString &status) {
                if (status != "testing")
                    rows[first + i].outcome = status + ": " + (alive ? info : error);
            });
            runs[https].setTargetUrl(url), runs[https].setTimeoutMs(10000);
            runs[https].testAll(proxies);
        }
        QVERIFY(QTest::qWaitFor([this] {
            return std::all_of(rows.cbegin(), rows.cend(), [](const Row &r) { return !r.outcome.isEmpty() && r.curl.state() == QProcess::NotRunning; });
        }, 30000));
    }

    void agreesWithCurl_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("curlAlive");
        QTest::addColumn<QString>("curl");
        QTest::addColumn<bool>("sane");
        for (Row &row : rows) {
            const int exit = row.curl.exitStatus() == QProcess::NormalExit ? row.curl.exitCode() : -1, code = row.curl.readAll().toInt();
            QTest::newRow(qPrintable(row.name)) << row.outcome << (exit == 0 && code > 0 && code < 400) << QString("exit %1, status %2").arg(exit).arg(code)
                                                << row.sane;
        }
    }
    void agreesWithCurl()
    {
        QFETCH(QString, outcome);
        QFETCH(bool, curlAlive);
        QFETCH(QString, curl);
        QFETCH(bool, sane);
        QVERIFY2(curlAlive == sane, qPrintable("the peer is not set up right: curl gave " + curl)); // else a broken peer would pass
        QVERIFY2(outcome.startsWith("alive: ") == curlAlive, qPrintable("the program said \"" + outcome + "\", curl gave " + curl));
    }
};

QTEST_GUILESS_MAIN(TstPeers)
#include "tst_peers.moc"
