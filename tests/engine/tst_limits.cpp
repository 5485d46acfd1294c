// A run over more proxies than the process may hold open files at once, as a
// desktop session's default limit of 1024 allows: every probe still reports
// "testing" and then exactly one outcome, and the process survives.
#include "peer.h"
#include "proxytest.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>

class TstLimits : public QObject
{
    Q_OBJECT

private slots:
    void moreProxiesThanOpenFiles()
    {
        constexpr int count = 1500;
        // The fleet keeps its own, higher limit: it starts before ours drops.
        Peer fleet(QStringLiteral("record-proxy"), { QStringLiteral("--count"), QString::number(count) });
        QVERIFY(fleet.isRunning());
        QCOMPARE(fleet.ports().size(), count);

        const rlimit low { 1024, 1024 };
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);

        QVariantList proxies;
        for (quint16 port : fleet.ports())
            proxies << QVariantMap { { "host", "127.0.0.1" }, { "port", port } };

        ProxyTest pt;
        pt.setTargetUrl(QStringLiteral("http://127.0.0.1:%1/test.php").arg(closedPort()));
        pt.setTimeoutMs(60000);
        QSignalSpy spy(&pt, &ProxyTest::proxyResult);
        pt.testAll(proxies);

        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2 * count, 120000);
        QTest::qWait(200); // nothing more may follow
        QCOMPARE(spy.size(), 2 * count);

        QList<int> outcomes(count, 0);
        for (int i = 0; i < spy.size(); ++i) {
            const QVariantList &result = spy.at(i);
            const int index = result.at(0).toInt();
            if (i < count) {
                QCOMPARE(index, i);
                QCOMPARE(result.at(4).toString(), QStringLiteral("testing"));
                continue;
            }
            QCOMPARE(result.at(4).toString(), QStringLiteral("alive"));
            ++outcomes[index];
        }
        QVERIFY(std::all_of(outcomes.cbegin(), outcomes.cend(), [](int n) { return n == 1; }));
    }
};

QTEST_GUILESS_MAIN(TstLimits)
#include "tst_limits.moc"
