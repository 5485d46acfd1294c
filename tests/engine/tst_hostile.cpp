// Probes through hostile loopback peers: endless, huge and dripping bodies, a reset
// in the middle of the body, garbage and oversized heads, a redirect loop, markup.
// Each probe reports "testing" and then exactly its one outcome, the process keeps
// its memory bounded, and nothing the answer refers to is fetched.
#include "peer.h"
#include "proxytest.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

// AddressSanitizer holds freed memory back (256 MB of it) and pads every block:
// there, the figures are printed but not bounded.
#if defined(__SANITIZE_ADDRESS__)
#define SANITIZED_ALLOCATOR
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED_ALLOCATOR
#endif
#endif

namespace {
constexpr int quietMs = 700; // after the outcome: nothing more may follow
constexpr qint64 memoryBoundKb = 100 * 1024;

qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression re(QStringLiteral("%1:\\s+(\\d+) kB").arg(QLatin1String(field)));
    return re.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// Starts a new peak: the kernel sets VmHWM back to the current VmRSS.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QVariantList result(int index, const QString &status, const QString &info = {})
{
    const QString errorMsg = status == "timeout" ? "Timeout" : status == "dead" ? "<error text>" : "";
    return { index, status == "alive", info, errorMsg, status };
}
} // namespace

class TstHostile : public QObject
{
    Q_OBJECT
    std::unique_ptr<Peer> recorder; // the target of the plain probes, and what the markup points at

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        recorder = std::make_unique<Peer>("record-proxy", QStringList(), true);
        QVERIFY(recorder->isRunning());
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("tls"); // the peer is a TLS target behind tinyproxy, not the proxy
        QTest::addColumn<int>("probes"); // all through the same peer at once
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("info");

        const QString p = QString::number(recorder->port());
        const QString markup = "<html><script src=\"http://127.0.0.1:" + p + "/s.js\">fetch('/x')</script><img src=\"http://127.0.0.1:" + p
            + "/x.png\"><iframe src=\"//127.0.0.1:" + p + "/f\"></iframe><a href=\"http://127.0.0.1:" + p
            + "/a\">a</a><meta http-equiv=refresh content=\"0;url=http://127.0.0.1:" + p + "/r\"><b>Ж</b></html>";
        const QString huge = QString("0123456789abcdef").repeated(19).left(300) + "...";

        for (bool tls : { false, true }) {
            const char *via = tls ? "TLS target: " : "";
            // Twenty at once: what one probe may hold adds up.
            QTest::addRow("%s20 endless bodies", via) << "endless" << QStringList() << tls << 20 << 2000 << "timeout" << "";
            QTest::addRow("%sdrip", via) << "drip" << QStringList() << tls << 1 << 2000 << "timeout" << "";
            QTest::addRow("%sreset mid-body", via) << "reset" << QStringList() << tls << 1 << 5000 << "dead" << "";
            QTest::addRow("%s1 MiB header line", via) << "hugeheader" << QStringList() << tls << 1 << 5000 << "dead" << "";
            // Loopback carries hundreds of MB/s even through tinyproxy and TLS.
            QTest::addRow("%s%d MiB body in time", via, tls ? 64 : 512)
                << "huge" << QStringList { "--size", QString::number((tls ? 64 : 512) << 20) } << tls << 1 << 120000
                << "alive" << huge;
            QTest::addRow("%smarkup", via) << "markup" << QStringList { "--body", "\r\n " + markup + "\n" } << tls << 1
                                           << 5000 << "alive" << markup;
        }
        QTest::newRow("endless chunked body") << "endless-chunked" << QStringList() << false << 1 << 2000 << "timeout" << "";
        // At a few GB/s, far longer than the time-out.
        QTest::newRow("64 GiB body") << "huge" << QStringList { "--size", QString::number(64LL << 30) } << false << 1 << 2000
                                     << "timeout" << "";
        QTest::newRow("binary garbage") << "garbage" << QStringList() << false << 1 << 5000 << "dead" << "";
        QTest::newRow("garbage line") << "garbage" << QStringList { "--body", "SSH-2.0-OpenSSH_9.2\r\n" } << false << 1
                                      << 5000 << "dead" << "";
        QTest::newRow("endless header lines") << "endless-headers" << QStringList() << false << 1 << 5000 << "dead" << "";
        QTest::newRow("redirect loop") << "redirect-loop" << QStringList() << false << 1 << 5000 << "dead" << "";
    }

    void outcomes()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, args);
        QFETCH(bool, tls);
        QFETCH(int, probes);
        QFETCH(int, timeoutMs);
        QFETCH(QString, status);
        QFETCH(QString, info);

        Peer hostile(mode, tls ? args << "--tls" : args);
        QVERIFY(hostile.isRunning());
        std::unique_ptr<Peer> relay;
        if (tls) {
            relay = std::make_unique<Peer>("tinyproxy", QStringList { "--connect-port", QString::number(hostile.port()) });
            QVERIFY(relay->isRunning());
        }
        ProxyTest pt;
        pt.setTargetUrl(tls ? QString("https://127.0.0.1:%1/test.php").arg(hostile.port()) : recorder->url());
        pt.setTimeoutMs(timeoutMs);
        QSignalSpy spy(&pt, &ProxyTest::proxyResult);

        resetPeak();
        const qint64 before = statusKb("VmRSS");
        pt.testAll(QVariantList(probes, QVariantMap { { "host", "127.0.0.1" }, { "port", tls ? relay->port() : hostile.port() } }));
        // A real event loop: QTest::qWaitFor sleeps between its passes, and would slow the reading.
        for (QDeadlineTimer deadline(timeoutMs + 60000); spy.size() < 2 * probes && !deadline.hasExpired();)
            spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
        QCOMPARE(spy.size(), 2 * probes);
        QTest::qWait(quietMs);
        const qint64 peak = statusKb("VmHWM");
        qInfo("%s: %s (%s), peak RSS %.1f MB, %+.1f MB over the %.1f MB before the run", QTest::currentDataTag(),
              qPrintable(spy.last().value(4).toString()), qPrintable(spy.last().value(3).toString()), peak / 1024.0,
              (peak - before) / 1024.0, before / 1024.0);

        QList<QVariantList> results = spy, expected;
        for (int i = 0; i < probes; ++i)
            expected.insert(i, { i, false, "", "Testing", "testing" }), expected.append(result(i, status, info));
        std::sort(results.begin() + probes, results.end(), [](auto &a, auto &b) { return a.at(0).toInt() < b.at(0).toInt(); });
        for (QVariantList &a : results)
            if (a.at(4) == "dead" && !a.at(3).toString().isEmpty())
                a[3] = "<error text>";
        QCOMPARE(results, expected);
#ifndef SANITIZED_ALLOCATOR
        QVERIFY2(peak - before < memoryBoundKb, qPrintable(QString::number(peak - before)));
#endif
        QCOMPARE(recorder->requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TstHostile)
#include "tst_hostile.moc"
