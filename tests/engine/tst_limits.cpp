// Runs that meet the limit on open files.
// A run over more proxies than the process may hold open files at once, as a
// desktop session's default limit of 1024 allows: every probe still reports
// "testing" and then exactly one outcome, and the process survives.
#include "peer.h"
#include "proxytest.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>

class TstLimits : public QObject
{
    Q_OBJECT

private slots:
    // Once a run has run out of descriptors, the next run, with descriptors free again,
    // still has every probe in flight at once. In a child under `ulimit -n 1024`.
    void capRecovers()
    {
        if (!qEnvironmentVariableIsSet("QUILLFEN_LOW_LIMIT")) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start("sh", { "-c", "ulimit -n 1024 && QUILLFEN_LOW_LIMIT=1 exec \"$0\" capRecovers", QCoreApplication::applicationFilePath() });
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(child.exitCode(), 0);
            return;
        }
        constexpr int count = 700; // below what 1024 descriptors allow the engine
        const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot).size(); };
        Peer silent(QStringLiteral("silent"));
        QVERIFY(silent.isRunning());
        const QVariantList proxies(count, QVariantMap { { "host", "127.0.0.1" }, { "port", silent.port() } });
        ProxyTest pt;
        pt.setTargetUrl(QStringLiteral("http://127.0.0.1:9/test.php"));
        pt.setTimeoutMs(10000);
        std::vector<std::unique_ptr<QFile>> hogs(900); // leave about a hundred descriptors
        for (auto &hog : hogs)
            (hog = std::make_unique<QFile>(QStringLiteral("/dev/null")))->open(QIODevice::ReadOnly);
        const qsizetype before = openFiles();
        pt.testAll(proxies);
        QTest::qWait(1500);
        QVERIFY2(openFiles() < before + 150, "descriptors did not run out");
        pt.cancelAll();
        hogs.clear();

        const qsizetype free = openFiles();
        pt.testAll(proxies);
        QTRY_VERIFY_WITH_TIMEOUT(openFiles() >= free + count, 8000);
    }

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
