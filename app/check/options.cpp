#include "options.h"

#include "testrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QUrl>

#include <cstdio>

void complain(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(text));
}

namespace {

constexpr int maxTimeoutMs = 600000;

// Why the target cannot be used, or nothing. The URL itself is never echoed:
// it may carry a user and password.
QString targetFault(const QString &target)
{
    if (target.isEmpty())
        return QStringLiteral("--target URL is required (there is no default: point it at a test page of your own)");
    const QString problem = TestRun::targetProblem(target);
    return problem.isEmpty() ? QString() : QStringLiteral("--target: ") + problem;
}

template<typename T>
bool pick(const QString &value, std::initializer_list<std::pair<const char *, T>> choices, T *out)
{
    for (const auto &[name, choice] : choices) {
        if (value == QLatin1String(name)) {
            *out = choice;
            return true;
        }
    }
    return false;
}

} // namespace

ParsedOptions parseOptions(const QStringList &arguments)
{
    using Format = CheckOptions::Format;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tests which proxies of a list work: fetches the target URL through each of them at once and\n"
        "writes the working ones (every one with --all) to standard output."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The proxy list, one proxy a line or a JSON list; - or none: "
                                                "standard input."),
                                 QStringLiteral("[FILE|-]"));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption target(QStringLiteral("target"),
                                    QStringLiteral("The http:// or https:// URL fetched through every proxy (required)."),
                                    QStringLiteral("URL"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Time-out per proxy in milliseconds (default 10000)."),
                                     QStringLiteral("MS"));
    const QCommandLineOption expect(QStringLiteral("expect"),
                                    QStringLiteral("A proxy works only when the answer contains TEXT."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption noCache(QStringLiteral("no-cache-buster"),
                                     QStringLiteral("Do not add the _t=<time> parameter to the target URL."));
    const QCommandLineOption type(QStringLiteral("type"),
                                  QStringLiteral("The type of lines that name none: http (default), socks4, socks5, "
                                                 "or auto (found out for each: HTTP, then SOCKS5, then SOCKS4)."),
                                  QStringLiteral("TYPE"));
    const QCommandLineOption countryDb(QStringLiteral("country-db"),
                                       QStringLiteral("A MaxMind DB file (.mmdb) that names the country of each working "
                                                      "proxy's exit address (when the target is a judge)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Output: text (default), json or csv."), QStringLiteral("FORMAT"));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Every proxy, not only the working ones."));
    const QCommandLineOption sort(QStringLiteral("sort"),
                                  QStringLiteral("latency (fastest first, the default) or input (list order)."),
                                  QStringLiteral("ORDER"));
    const QCommandLineOption quiet({ QStringLiteral("q"), QStringLiteral("quiet") },
                                   QStringLiteral("No progress and no summary on standard error."));
    parser.addOptions({ help, version, target, timeout, expect, noCache, type, countryDb, format, all, sort, quiet });

    ParsedOptions parsed { {}, 2 };
    CheckOptions &o = parsed.options;
    if (!parser.parse(arguments)) {
        QString error = parser.errorText();
        if (error.endsWith(u'.'))
            error.chop(1);
        complain(error + QStringLiteral(" (see --help)"));
        return parsed;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        // The usage line names the command, not the path it was started by.
        const QString text = parser.isSet(help) ? parser.helpText().replace(arguments.value(0), QCoreApplication::applicationName())
                                                : QCoreApplication::applicationName() + u' '
                + QCoreApplication::applicationVersion() + u'\n';
        std::fputs(qPrintable(text), stdout);
        parsed.exitStatus = 0;
        return parsed;
    }
    const QStringList files = parser.positionalArguments();
    bool timeoutRead = true;
    o.targetUrl = parser.value(target);
    o.timeoutMs = parser.isSet(timeout) ? parser.value(timeout).toInt(&timeoutRead) : o.timeoutMs;
    o.expectedText = parser.value(expect);
    o.countryDb = parser.value(countryDb);
    o.avoidCache = !parser.isSet(noCache);
    o.all = parser.isSet(all);
    o.quiet = parser.isSet(quiet);
    const QString typeName = parser.isSet(type) ? parser.value(type) : QStringLiteral("http");
    const QString formatName = parser.isSet(format) ? parser.value(format) : QStringLiteral("text");
    const QString sortName = parser.isSet(sort) ? parser.value(sort) : QStringLiteral("latency");

    const QString fault = [&]() -> QString {
        if (QString target = targetFault(o.targetUrl); !target.isEmpty())
            return target;
        if (files.size() > 1)
            return QStringLiteral("one list at most (FILE or -)");
        if (!timeoutRead || o.timeoutMs < 1 || o.timeoutMs > maxTimeoutMs)
            return QStringLiteral("--timeout must be a whole number of milliseconds from 1 to %1").arg(maxTimeoutMs);
        if (!pick(typeName, { { "http", ProxyType::Http }, { "socks4", ProxyType::Socks4 }, { "socks5", ProxyType::Socks5 },
                              { "auto", ProxyType::Auto } },
                  &o.untyped))
            return QStringLiteral("--type must be http, socks4, socks5 or auto");
        if (!pick(formatName, { { "text", Format::Text }, { "json", Format::Json }, { "csv", Format::Csv } }, &o.format))
            return QStringLiteral("--format must be text, json or csv");
        if (!pick(sortName, { { "latency", true }, { "input", false } }, &o.byLatency))
            return QStringLiteral("--sort must be latency or input");
        return QString();
    }();
    if (!fault.isEmpty()) {
        complain(fault);
        return parsed;
    }
    o.file = files.value(0, QStringLiteral("-"));
    parsed.exitStatus = -1;
    return parsed;
}
