// A headless test run (the engine the window drives) over a fleet of loopback proxies.
//
//   bench_driver BASE_PORT COUNT TARGET_PORT [LIMIT_MS [TYPE]]
//
// Seeds COUNT proxies {"127.0.0.1", BASE_PORT+i, TYPE} (TYPE "http", the
// default, or "socks5"), targets
// http://127.0.0.1:TARGET_PORT/test.php (the fleet answers without going
// there), keeps avoidCache at its default, sets the time-out to 15000 ms,
// calls testAll and waits until every index has had one outcome other than
// "testing". Prints one "BENCH {json}" line: the time from the call to the
// last outcome, the outcomes, peak RSS, peak thread count and CPU time, then
// how long the engine took to let go of its objects afterwards.
//
// The open-file limit is raised first, as the program raises it at start.

#include "benchutil.h"
#include "platformnet.h"
#include "testrun.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int timeoutMs = 15000;

struct Counters
{
    std::atomic<long> alive { 0 };
    std::atomic<long> dead { 0 };
    std::atomic<long> timeout { 0 };
    std::atomic<long> dnsFail { 0 };
    std::atomic<long> other { 0 };
    std::atomic<long> testing { 0 };
    std::atomic<long> duplicates { 0 };
    std::atomic<long> outOfOrder { 0 }; // an outcome before its "testing", or a "testing" after any outcome
    std::atomic<long> badInfo { 0 }; // "alive" whose text is not the fleet's answer
    std::atomic<long> peakThreads { 0 };
    std::atomic<bool> finished { false };
    long outcomes() const { return alive + dead + timeout + dnsFail + other; }
};

Counters counters;
std::mutex errorMutex;
std::string firstError;
std::string dispatcherName;
int proxyCount = 0;
std::atomic<double> startTime { 0 };

void printResult(bool complete, double elapsed, const bench::CpuTimes &cpu, double settle, long leftChildren)
{
    std::string error;
    {
        std::lock_guard<std::mutex> lock(errorMutex);
        error = firstError;
    }
    const long threads = counters.peakThreads.load() - 1; // less the sampler thread
    std::printf("BENCH {\"client\":\"quillfen\",\"n\":%d,\"complete\":%s,\"time_s\":%.4f,"
                "\"outcomes\":{\"alive\":%ld,\"dead\":%ld,\"timeout\":%ld,\"dns_fail\":%ld,\"other\":%ld},"
                "\"missing\":%ld,\"duplicates\":%ld,\"out_of_order\":%ld,\"bad_info\":%ld,"
                "\"rss_mb\":%.1f,\"threads_peak\":%ld,\"cpu_s\":%.3f,\"cpu_user_s\":%.3f,\"cpu_sys_s\":%.3f,"
                "\"settle_s\":%.3f,\"left_children\":%ld,\"qt\":\"%s\",\"dispatcher\":\"%s\","
                "\"first_error\":\"%s\"}\n",
                proxyCount, complete ? "true" : "false", elapsed, counters.alive.load(), counters.dead.load(),
                counters.timeout.load(), counters.dnsFail.load(), counters.other.load(),
                proxyCount - counters.outcomes(), counters.duplicates.load(), counters.outOfOrder.load(),
                counters.badInfo.load(), bench::peakRssMegabytes(), threads, cpu.total(), cpu.user, cpu.system,
                settle, leftChildren, qVersion(), bench::jsonEscape(dispatcherName).c_str(),
                bench::jsonEscape(error).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    PlatformNet::raiseOpenFileLimit();
    const long fileLimit = PlatformNet::openFileLimit();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s BASE_PORT COUNT TARGET_PORT [LIMIT_MS [TYPE]]\n", argv[0]);
        return 2;
    }
    const int basePort = args.at(1).toInt();
    proxyCount = args.at(2).toInt();
    const int targetPort = args.at(3).toInt();
    const double limitSeconds = args.size() > 4 ? args.at(4).toDouble() / 1000.0 : 60.0;
    const QString type = args.value(5, QStringLiteral("http")); // the fleet speaks http and socks5
    std::fprintf(stderr, "bench_driver: %d proxies, open-file limit %ld\n", proxyCount, fileLimit);

    TestRun run;
    run.settings().targetUrl = QStringLiteral("http://127.0.0.1:%1/test.php").arg(targetPort);
    run.settings().timeoutMs = timeoutMs;

    QList<ProxyAddress> proxies;
    proxies.reserve(proxyCount);
    for (int i = 0; i < proxyCount; ++i)
        proxies.append({ QStringLiteral("127.0.0.1"), basePort + i, proxyTypeFromName(type).value_or(ProxyType::Http) });

    // 0 = nothing yet, 1 = testing, 2 = outcome
    std::vector<unsigned char> state(static_cast<size_t>(proxyCount), 0);
    double lastOutcome = 0;
    bench::CpuTimes cpuAtLast;
    bool anyOutcome = false;

    auto finish = [&] {
        counters.finished = true;
        // Give the engine time to let go of what the run made (connections,
        // TLS sockets deleted later), then report.
        auto *poll = new QTimer(&app);
        const double settleStart = bench::monotonicSeconds();
        QObject::connect(poll, &QTimer::timeout, &app, [&, poll, settleStart] {
            const double waited = bench::monotonicSeconds() - settleStart;
            const long left = run.idle() ? 0 : 1;
            if (left == 0 || waited > 20.0) {
                poll->stop();
                printResult(true, lastOutcome - startTime.load(), cpuAtLast, waited, left);
                app.quit();
            }
        });
        poll->start(10);
    };

    QObject::connect(&run, &TestRun::result, &app,
                     [&](int index, bool, const QString &info, const QString &errorMsg, const QString &status) {
                         if (index < 0 || index >= proxyCount) {
                             ++counters.other;
                             return;
                         }
                         unsigned char &probe = state[static_cast<size_t>(index)];
                         if (status == QLatin1String("testing")) {
                             ++counters.testing;
                             if (probe != 0 || anyOutcome)
                                 ++counters.outOfOrder;
                             probe = 1;
                             return;
                         }
                         anyOutcome = true;
                         if (probe == 2) {
                             ++counters.duplicates;
                             return;
                         }
                         if (probe != 1)
                             ++counters.outOfOrder;
                         probe = 2;
                         if (status == QLatin1String("alive")) {
                             if (!info.startsWith(QLatin1String("quillfen bench fleet")))
                                 ++counters.badInfo;
                             ++counters.alive;
                         } else {
                             {
                                 std::lock_guard<std::mutex> lock(errorMutex);
                                 if (firstError.empty())
                                     firstError = (status + QLatin1String(": ") + errorMsg).toStdString();
                             }
                             if (status == QLatin1String("dead"))
                                 ++counters.dead;
                             else if (status == QLatin1String("timeout"))
                                 ++counters.timeout;
                             else if (status == QLatin1String("dns_fail"))
                                 ++counters.dnsFail;
                             else
                                 ++counters.other;
                         }
                         if (counters.outcomes() == proxyCount) {
                             lastOutcome = bench::monotonicSeconds();
                             cpuAtLast = bench::cpuTimes();
                             finish();
                         }
                     });

    // Samples the thread count, and ends a run that overruns its limit even
    // when the event loop is stuck.
    std::thread sampler([limitSeconds] {
        for (;;) {
            const long threads = bench::threadCount();
            if (threads > counters.peakThreads)
                counters.peakThreads = threads;
            if (counters.finished)
                return;
            const double started = startTime.load();
            if (started > 0 && bench::monotonicSeconds() - started > limitSeconds) {
                printResult(false, bench::monotonicSeconds() - started, bench::cpuTimes(), 0, -1);
                _exit(3);
            }
            // Every read of /proc costs the run a little of its machine:
            // threads that matter live far longer than this.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    QTimer::singleShot(0, &app, [&] {
        if (auto *dispatcher = QAbstractEventDispatcher::instance())
            dispatcherName = dispatcher->metaObject()->className();
        startTime = bench::monotonicSeconds();
        run.start(proxies);
        if (proxyCount == 0) {
            lastOutcome = startTime.load();
            cpuAtLast = bench::cpuTimes();
            finish();
        }
    });

    const int code = app.exec();
    counters.finished = true;
    sampler.join();
    return code;
}
