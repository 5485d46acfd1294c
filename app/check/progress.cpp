#include "progress.h"

#include "console.h"
#include "results.h"

#include <QCoreApplication>

#include <cstdio>

Progress::Progress(const Results &results, bool quiet)
    : m_results(results)
    , m_quiet(quiet)
    , m_terminal(Console::stderrIsTerminal())
{
    m_clock.start();
    if (m_quiet)
        return;
    QObject::connect(&m_timer, &QTimer::timeout, [this] { show(); });
    m_timer.start(m_terminal ? 100 : 5000);
}

void Progress::show()
{
    const qsizetype total = m_results.size(), done = m_results.finished();
    const qsizetype alive = m_results.count(Results::Outcome::Alive);
    if (!m_terminal) {
        std::fprintf(stderr, "%s: %lld/%lld done, %lld alive, %.1f s\n", qPrintable(QCoreApplication::applicationName()),
                     qlonglong(done), qlonglong(total), qlonglong(alive), seconds());
        return;
    }
    constexpr int width = 30;
    const int filled = total > 0 ? int(done * width / total) : width;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(width - filled, '-');
    // \r back to the start of the line, \033[K erases what a longer line left.
    std::fprintf(stderr, "\r[%s] %lld/%lld  alive %lld  %.1f s\033[K", bar.constData(), qlonglong(done),
                 qlonglong(total), qlonglong(alive), seconds());
    std::fflush(stderr);
}

void Progress::finish(qsizetype skipped, bool json, const char *stoppedBy)
{
    m_timer.stop();
    if (m_quiet)
        return;
    if (m_terminal)
        std::fputs("\r\033[K", stderr);
    using O = Results::Outcome;
    QString line = QStringLiteral("%1 %2 in %3 s: %4 alive, %5 dead, %6 timeout, %7 dns_fail")
                           .arg(m_results.size())
                           .arg(QLatin1String(m_results.size() == 1 ? "proxy" : "proxies"))
                           .arg(seconds(), 0, 'f', 2)
                           .arg(m_results.count(O::Alive))
                           .arg(m_results.count(O::Dead))
                           .arg(m_results.count(O::Timeout))
                           .arg(m_results.count(O::DnsFail));
    if (stoppedBy)
        line += QStringLiteral(", %1 not finished (stopped by %2)").arg(m_results.count(O::Pending)).arg(QLatin1String(stoppedBy));
    if (skipped > 0)
        line += QStringLiteral("; %1 %2 skipped").arg(skipped).arg(QLatin1String(json ? (skipped == 1 ? "entry" : "entries")
                                                                                        : (skipped == 1 ? "line" : "lines")));
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(line));
}
