// quillfen-check: the window's test run as a command, for scripts and cron.
//
//   quillfen-check --target URL [options] [FILE|-]
//
// Reads a proxy list, tests every proxy at once through the network engine and
// writes the working ones (every one with --all) to standard output; progress
// and a summary go to standard error. Exit status: 0 when a proxy works, 1 when
// none does, 2 for a usage or input error, 130/143 when SIGINT/SIGTERM stopped it.

#include "console.h"
#include "listinput.h"
#include "options.h"
#include "platformnet.h"
#include "progress.h"
#include "results.h"
#include "testrun.h"

#include <QCoreApplication>

#include <cstdio>

#ifndef QUILLFEN_VERSION
#define QUILLFEN_VERSION "?"
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    PlatformNet::raiseOpenFileLimit(); // a run holds a socket for every proxy in flight
    QCoreApplication::setApplicationName(QStringLiteral("quillfen-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLFEN_VERSION));

    const ParsedOptions parsed = parseOptions(app.arguments());
    if (parsed.exitStatus >= 0)
        return parsed.exitStatus;
    const CheckOptions &options = parsed.options;
    ListInput input = readListInput(options.file, options.untyped);
    if (!input.error.isEmpty()) {
        complain(input.error);
        return 2;
    }

    TestRun run;
    run.settings() = { options.targetUrl, options.avoidCache, options.timeoutMs, options.expectedText };
    if (!run.countries().setPath(options.countryDb) && !options.quiet)
        complain(run.countries().error()); // the run goes on without countries
    QList<ProxyAddress> proxies;
    for (const ListEntry &entry : std::as_const(input.read.entries))
        proxies.append(entry.proxy);
    Results results(std::move(proxies));
    Progress progress(results, options.quiet);
    QObject::connect(&run, &TestRun::latency, &app, [&](int index, int ms) { results.setLatency(index, ms); });
    QObject::connect(&run, &TestRun::profile, &app, [&](int index, const QVariantMap &profile) { results.setProfile(index, profile); });
    QObject::connect(&run, &TestRun::targetChecked, &app, [&](bool, const QString &message) {
        if (!message.isEmpty() && !options.quiet)
            complain(message);
    });
    QObject::connect(&run, &TestRun::result, &app,
                     [&](int index, bool, const QString &, const QString &error, const QString &status) {
                         results.record(index, status, error);
                     });

    // Once: after the last outcome, or when a signal stops the run first.
    bool finished = false;
    int stopStatus = -1;
    const char *stoppedBy = nullptr;
    auto finish = [&] {
        if (std::exchange(finished, true))
            return;
        progress.finish(input.read.skipped, input.read.json, stoppedBy);
        results.write(stdout, options);
        const bool anyAlive = results.count(Results::Outcome::Alive) > 0;
        QCoreApplication::exit(stopStatus >= 0 ? stopStatus : anyAlive ? 0 : 1);
    };
    QObject::connect(&run, &TestRun::runningChanged, &app, [&] {
        if (!run.running())
            finish();
    });
    Console::onStopRequest(&app, [&](int status, const char *name) {
        stopStatus = status;
        stoppedBy = name;
        run.cancel();
        finish();
    });

    run.start(results.proxies());
    return app.exec();
}
