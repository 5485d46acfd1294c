#pragma once

#include <QElapsedTimer>
#include <QTimer>

class Results;

// What standard error shows while a run lasts and after it: on a terminal a
// bar redrawn in place at most ten times a second, elsewhere a plain line
// every five seconds; then one summary line. Nothing at all when quiet. It
// names no proxy, so no credential reaches standard error.
class Progress
{
public:
    Progress(const Results &results, bool quiet);

    // The bar cleared, then the summary: counts by outcome, the run's time,
    // what a stop left unfinished, the lines (JSON: entries) of the list skipped.
    void finish(qsizetype skipped, bool json, const char *stoppedBy);

private:
    void show();
    double seconds() const { return double(m_clock.elapsed()) / 1000.0; }

    const Results &m_results;
    const bool m_quiet;
    const bool m_terminal;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
