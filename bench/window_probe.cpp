// Frame timing of the real window, from outside the program.
//
// Built as a library that is preloaded into the unchanged bin/Quillfen
// (LD_PRELOAD). Its start-up function runs inside the construction of the
// application object; from there it watches the program without any hook in
// it:
//   - the first QQuickWindow that gets a platform surface is the main window;
//     every QQuickWindow::frameSwapped of it is time-stamped;
//   - the first frame gives the cold-start time, counted from the moment the
//     benchmark launched the process (QUILLFEN_PROBE_T0_NS, CLOCK_MONOTONIC);
//   - once the grid page shows its "▶ Test" button and the page transition
//     has settled, the button's centre is printed in screen coordinates, for
//     the benchmark to click it with xdotool (or, with
//     QUILLFEN_PROBE_CLICK=self, the probe presses it itself);
//   - from the press to the last outcome, every frame interval is recorded.
//     After each frame the probe asks the window for the next one through the
//     GUI thread's event queue, so the window draws continuously and a long
//     interval means the GUI thread could not get to a frame, never that there
//     was nothing to draw.
//
//   - page changes: the end of the splash (its timer's event) to the first
//     frame that shows the grid page; in "pages" mode the probe then presses
//     "⚙ Settings" itself, times it to the first frame that shows the
//     settings page, presses "Back" and times it (saving included) to the
//     first frame that shows the grid again, and records the longest frame
//     gap of the next two seconds (the settings store writing the list).
//   - import: in "import" mode the probe opens the settings page as in
//     "pages", calls the page's own importFrom(QUILLFEN_PROBE_IMPORT, a file
//     URL) as its Import dialog does, times the call and the first frame that
//     shows its result, then presses Back at once and times the grid drawn,
//     every figure counted from the start of the import.
//
// Environment: QUILLFEN_PROBE_MODE ("coldstart": quit after the first frame;
// "run": the press and the run; "idle": one second of frames with nothing to
// do, the floor of the measurement; "pages": Settings and Back; "import": Settings,
// an import and Back), QUILLFEN_PROBE_N (the number of proxies, i.e.
// of outcomes to wait for), QUILLFEN_PROBE_LIMIT_MS (wall-clock limit from the
// press), QUILLFEN_PROBE_T0_NS. Each finding is one "PROBE {json}" line on
// standard output.

#include "benchutil.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMap>
#include <QMouseEvent>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

long long envNumber(const char *name, long long fallback)
{
    const QByteArray value = qgetenv(name);
    bool ok = false;
    const long long number = value.toLongLong(&ok);
    return ok ? number : fallback;
}

double toMs(long long nanoseconds) { return static_cast<double>(nanoseconds) / 1e6; }

bool isButton(const QMetaObject *meta)
{
    for (; meta; meta = meta->superClass()) {
        if (qstrcmp(meta->className(), "QQuickAbstractButton") == 0)
            return true;
    }
    return false;
}

QQuickItem *findButton(QQuickItem *item, const QString &text)
{
    if (!item)
        return nullptr;
    if (isButton(item->metaObject()) && item->property("text").toString() == text)
        return item;
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findButton(child, text))
            return found;
    }
    return nullptr;
}

class WindowProbe : public QObject
{
    Q_OBJECT

public:
    WindowProbe()
    {
        m_t0 = envNumber("QUILLFEN_PROBE_T0_NS", 0);
        if (m_t0 == 0)
            m_t0 = bench::monotonicNanoseconds();
        m_coldStartOnly = qgetenv("QUILLFEN_PROBE_MODE") == "coldstart";
        m_idleOnly = qgetenv("QUILLFEN_PROBE_MODE") == "idle";
        m_importMode = qgetenv("QUILLFEN_PROBE_MODE") == "import";
        m_pagesOnly = qgetenv("QUILLFEN_PROBE_MODE") == "pages" || m_importMode;
        m_importUrl = QString::fromLocal8Bit(qgetenv("QUILLFEN_PROBE_IMPORT"));
        m_expected = static_cast<int>(envNumber("QUILLFEN_PROBE_N", 0));
        m_limitNs = envNumber("QUILLFEN_PROBE_LIMIT_MS", 60000) * 1000000LL;
        m_selfClick = qgetenv("QUILLFEN_PROBE_CLICK") == "self";
        m_frames.reserve(200000);
        qApp->installEventFilter(this);
        m_sampler = std::thread([this] { sample(); });
        m_sampler.detach();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PlatformSurface && !m_window) {
            auto *surfaceEvent = static_cast<QPlatformSurfaceEvent *>(event);
            if (surfaceEvent->surfaceEventType() == QPlatformSurfaceEvent::SurfaceCreated) {
                if (auto *window = qobject_cast<QQuickWindow *>(watched))
                    attach(window);
            }
        } else if (event->type() >= QEvent::User && m_splashEndNs == 0 && m_splash && watched->parent() == m_splash
                   && qstrcmp(watched->metaObject()->className(), "QQmlTimer") == 0) {
            m_splashEndNs = bench::monotonicNanoseconds(); // the splash's timer, about to end the splash
        } else if (event->type() == QEvent::MouseButtonRelease && watched == m_window.data()
                   && m_pressNs != 0 && m_releaseNs == 0) {
            m_releaseNs = bench::monotonicNanoseconds();
        }
        return false;
    }

public slots:
    void onPageChanged()
    {
        m_pageChangedNs = bench::monotonicNanoseconds();
        m_pageChangedTo = pageName(m_stack ? m_stack->property("currentItem").value<QObject *>() : nullptr);
        m_pagePending = true;
        if (m_window)
            m_window->update();
    }

    void pageDrawn(long long drawnNs)
    {
        long long from = m_pageFromNs;
        if (m_pageChangedTo == QLatin1String("grid") && m_pageVisits == 0)
            from = m_splashEndNs;
        emitLine(QStringLiteral("{\"event\":\"page\",\"page\":\"%1\",\"visit\":%2,\"changed_ms\":%3,\"drawn_ms\":%4}")
                         .arg(m_pageChangedTo).arg(m_pageVisits)
                         .arg(from ? toMs(m_pageChangedNs - from) : -1.0, 0, 'f', 1)
                         .arg(from ? toMs(drawnNs - from) : -1.0, 0, 'f', 1));
    }

    void onPressed()
    {
        if (m_pressNs != 0)
            return;
        m_pressNs = bench::monotonicNanoseconds();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_measuring = true;
        }
        emitLine(QStringLiteral("{\"event\":\"pressed\",\"ms\":%1}").arg(toMs(m_pressNs - m_t0), 0, 'f', 1));
        if (m_window)
            m_window->update();
    }

    void onClicked()
    {
        if (m_clickedNs == 0)
            m_clickedNs = bench::monotonicNanoseconds();
    }

    void onResult(int index, bool, const QString &, const QString &errorMsg, const QString &status)
    {
        if (m_pressNs == 0 || index < 0 || index >= m_expected)
            return;
        const long long now = bench::monotonicNanoseconds();
        if (status == QLatin1String("testing")) {
            if (m_firstTestingNs == 0)
                m_firstTestingNs = now;
            m_lastTestingNs = now;
            return;
        }
        if (m_seen.empty())
            m_seen.assign(static_cast<size_t>(m_expected), false);
        if (m_seen[static_cast<size_t>(index)])
            return;
        m_seen[static_cast<size_t>(index)] = true;
        ++m_outcomes;
        if (status == QLatin1String("alive")) {
            ++m_alive;
        } else {
            ++m_failed[status];
            if (m_firstError.isEmpty())
                m_firstError = status + QLatin1String(": ") + errorMsg;
        }
        if (m_outcomes == m_expected)
            finishMeasuring(now);
    }

private:
    // The end of the measured stretch: the next frame closes it.
    void finishMeasuring(long long now)
    {
        m_lastOutcomeNs = now;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_awaitingFinalFrame = true;
        }
        if (m_window)
            m_window->update();
        // Should no frame follow, report without one.
        QTimer::singleShot(1000, this, [this] { report(true); });
    }

    void attach(QQuickWindow *window)
    {
        m_window = window;
        connect(window, &QQuickWindow::frameSwapped, this, [this] { onFrame(); }, Qt::DirectConnection);
        // The GUI thread waits while the scene is synchronised: a page that
        // existed then is in the frame that follows.
        connect(window, &QQuickWindow::beforeSynchronizing, this, [this] {
            if (m_pagePending.exchange(false))
                m_pageSynced = true;
            if (m_importPending.exchange(false))
                m_importSynced = true;
        }, Qt::DirectConnection);
    }

    void watchPages()
    {
        // The page stack: the first item, breadth first, with a current item and a depth.
        QQuickItem *stack = nullptr;
        QList<QQuickItem *> level { m_window->contentItem() };
        for (int depth = 0; depth < 4 && !stack; ++depth) {
            QList<QQuickItem *> next;
            for (QQuickItem *item : std::as_const(level)) {
                if (item->metaObject()->indexOfProperty("currentItem") >= 0 && item->metaObject()->indexOfProperty("depth") >= 0) {
                    stack = item;
                    break;
                }
                next += item->childItems();
            }
            level = next;
        }
        if (!stack)
            return;
        m_stack = stack;
        m_splash = stack->property("currentItem").value<QQuickItem *>();
        connect(stack, SIGNAL(currentItemChanged()), this, SLOT(onPageChanged()));
    }

    static QString pageName(QObject *page)
    {
        if (!page)
            return QStringLiteral("none");
        const QMetaObject *meta = page->metaObject();
        if (meta->indexOfSignal("settingsClicked()") >= 0)
            return QStringLiteral("grid");
        if (meta->indexOfSignal("backClicked()") >= 0)
            return QStringLiteral("settings");
        return QStringLiteral("splash");
    }

    // Presses and releases a button of the window at once; returns the moment before.
    long long press(QQuickItem *button)
    {
        const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
        const long long now = bench::monotonicNanoseconds();
        const QPointF global = m_window->mapToGlobal(centre);
        QMouseEvent down(QEvent::MouseButtonPress, centre, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &down);
        QMouseEvent up(QEvent::MouseButtonRelease, centre, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &up);
        return now;
    }

    // Settings, then Back once the settings page has settled, then two
    // seconds of frames.
    void pagesStep()
    {
        if (!m_stack || m_stack->property("busy").toBool()) {
            QTimer::singleShot(50, this, [this] { pagesStep(); });
            return;
        }
        const QString current = pageName(m_stack->property("currentItem").value<QObject *>());
        if (current == QLatin1String("grid") && m_pageVisits == 0) {
            ++m_pageVisits;
            m_pageFromNs = press(findButton(m_window->contentItem(), QStringLiteral("⚙ Settings")));
        } else if (current == QLatin1String("settings") && m_pageVisits == 1) {
            ++m_pageVisits;
            QQuickItem *back = findButton(m_stack->property("currentItem").value<QQuickItem *>(), QStringLiteral("Back"));
            if (!back) {
                emitLine(QStringLiteral("{\"event\":\"error\",\"what\":\"no Back button\"}"));
                QCoreApplication::exit(4);
                return;
            }
            if (m_importMode) {
                importThenBack(m_stack->property("currentItem").value<QQuickItem *>(), back);
                return;
            }
            m_pageFromNs = press(back);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_measuring = true;
            }
            m_pressNs = m_pageFromNs;
            QTimer::singleShot(2000, this, [this] { finishMeasuring(bench::monotonicNanoseconds()); });
            return;
        } else if (m_pageVisits >= 2) {
            return;
        }
        QTimer::singleShot(300, this, [this] { pagesStep(); });
    }

    // The settings page's importFrom, as its Import dialog calls it; Back
    // follows once a frame shows the result.
    void importThenBack(QQuickItem *page, QQuickItem *back)
    {
        m_backButton = back;
        m_importStartNs = bench::monotonicNanoseconds();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_measuring = true;
        }
        m_pressNs = m_importStartNs;
        m_pageFromNs = m_importStartNs; // the grid's "drawn" counts from the import
        QVariant returned;
        const bool called = QMetaObject::invokeMethod(page, "importFrom", Q_RETURN_ARG(QVariant, returned),
                                                      Q_ARG(QVariant, QVariant(m_importUrl)));
        m_importDoneNs = bench::monotonicNanoseconds();
        long rows = -1;
        if (auto *model = qobject_cast<QAbstractItemModel *>(page->property("proxyModel").value<QObject *>()))
            rows = model->rowCount();
        emitLine(QStringLiteral("{\"event\":\"import\",\"called\":%1,\"call_ms\":%2,\"rows\":%3}")
                         .arg(called ? "true" : "false").arg(toMs(m_importDoneNs - m_importStartNs), 0, 'f', 1)
                         .arg(rows));
        m_importPending = true;
        if (m_window)
            m_window->update();
    }

    void importDrawn(long long drawnNs)
    {
        const long long backNs = press(m_backButton);
        emitLine(QStringLiteral("{\"event\":\"import_drawn\",\"drawn_ms\":%1,\"back_ms\":%2}")
                         .arg(toMs(drawnNs - m_importStartNs), 0, 'f', 1)
                         .arg(toMs(backNs - m_importStartNs), 0, 'f', 1));
        QTimer::singleShot(2000, this, [this] { finishMeasuring(bench::monotonicNanoseconds()); });
    }

    // Runs on the render thread when the render loop is threaded.
    void onFrame()
    {
        const long long now = bench::monotonicNanoseconds();
        bool first = false;
        bool final = false;
        bool measuring = false;
        if (m_pageSynced.exchange(false))
            QMetaObject::invokeMethod(this, [this, now] { pageDrawn(now); }, Qt::QueuedConnection);
        if (m_importSynced.exchange(false))
            QMetaObject::invokeMethod(this, [this, now] { importDrawn(now); }, Qt::QueuedConnection);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (QThread::currentThread() != qApp->thread())
                m_renderThreadSeen = true;
            measuring = m_measuring;
            if (m_firstFrameNs == 0) {
                m_firstFrameNs = now;
                first = true;
            }
            if (m_measuring) {
                m_frames.push_back(now);
                if (m_awaitingFinalFrame && m_finalFrameNs == 0) {
                    m_finalFrameNs = now;
                    final = true;
                }
            }
        }
        if (first)
            QMetaObject::invokeMethod(this, [this] { firstFrame(); }, Qt::QueuedConnection);
        if (final)
            QMetaObject::invokeMethod(this, [this] { report(true); }, Qt::QueuedConnection);
        else if (measuring && m_window)
            QMetaObject::invokeMethod(m_window.data(), "update", Qt::QueuedConnection);
    }

    void firstFrame()
    {
        watchPages();
        emitLine(QStringLiteral("{\"event\":\"first_frame\",\"ms\":%1}").arg(toMs(m_firstFrameNs - m_t0), 0, 'f', 1));
        if (m_coldStartOnly) {
            QCoreApplication::quit();
            return;
        }
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll] { lookForButton(poll); });
        poll->start(50);
    }

    void lookForButton(QTimer *poll)
    {
        if (!m_window)
            return;
        QQuickItem *button = findButton(m_window->contentItem(), QStringLiteral("▶ Test"));
        if (!button || !button->isVisible() || !button->isEnabled()) {
            m_stablePolls = 0;
            return;
        }
        // Wait until the page transition has finished: no page stack busy,
        // same place, fully opaque. (The stack's animators run on the render
        // thread, so the place alone does not tell.)
        const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
        qreal opacity = 1;
        bool busy = false;
        for (QQuickItem *item = button; item; item = item->parentItem()) {
            opacity *= item->opacity();
            if (item->property("busy").toBool())
                busy = true;
        }
        if (centre != m_lastCentre || opacity < 1 || busy) {
            m_lastCentre = centre;
            m_stablePolls = 0;
            return;
        }
        if (++m_stablePolls < 6)
            return;
        poll->stop();
        poll->deleteLater();

        m_button = button;
        connect(button, SIGNAL(pressed()), this, SLOT(onPressed()));
        connect(button, SIGNAL(clicked()), this, SLOT(onClicked()));
        QObject *proxyTest = nullptr;
        if (QQmlEngine *engine = qmlEngine(m_window))
            proxyTest = engine->rootContext()->contextProperty(QStringLiteral("proxyTest")).value<QObject *>();
        if (!proxyTest) {
            emitLine(QStringLiteral("{\"event\":\"error\",\"what\":\"no proxyTest in the root context\"}"));
            QCoreApplication::exit(4);
            return;
        }
        connect(proxyTest, SIGNAL(proxyResult(int,bool,QString,QString,QString)), this,
                SLOT(onResult(int,bool,QString,QString,QString)));

        const QPoint global = m_window->mapToGlobal(centre.toPoint());
        emitLine(QStringLiteral("{\"event\":\"button\",\"x\":%1,\"y\":%2,\"scene_x\":%3,\"scene_y\":%4,"
                                "\"window_w\":%5,\"window_h\":%6}")
                         .arg(global.x()).arg(global.y()).arg(centre.x()).arg(centre.y())
                         .arg(m_window->width()).arg(m_window->height()));
        if (m_pagesOnly) {
            QTimer::singleShot(300, this, [this] { pagesStep(); });
        } else if (m_idleOnly) {
            // Control: the same recording for one second with nothing to do.
            onPressed();
            QTimer::singleShot(1000, this, [this] { finishMeasuring(bench::monotonicNanoseconds()); });
        } else if (m_selfClick) {
            QTimer::singleShot(100, this, [this, centre] { clickAt(centre); });
        }
    }

    void clickAt(const QPointF &scenePoint)
    {
        if (!m_window)
            return;
        const QPointF global = m_window->mapToGlobal(scenePoint);
        QMouseEvent press(QEvent::MouseButtonPress, scenePoint, scenePoint, global, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &press);
        QTimer::singleShot(50, this, [this, scenePoint, global] {
            QMouseEvent release(QEvent::MouseButtonRelease, scenePoint, scenePoint, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_window, &release);
        });
    }

    void report(bool complete)
    {
        if (m_reported.exchange(true))
            return;
        std::vector<long long> frames;
        long long finalFrame = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_measuring = false;
            frames = m_frames;
            finalFrame = m_finalFrameNs;
        }
        const long long end = finalFrame ? finalFrame : (m_lastOutcomeNs ? m_lastOutcomeNs : bench::monotonicNanoseconds());
        std::vector<double> gaps;
        QStringList longGaps; // "[ms after press, gap]" of the first gaps over 50 ms
        long long previous = m_pressNs;
        long long longestAt = 0;
        double longest = 0;
        for (long long frame : frames) {
            if (frame <= m_pressNs || frame > end)
                continue;
            const double gap = toMs(frame - previous);
            if (gap > 50.0 && longGaps.size() < 16)
                longGaps << QStringLiteral("[%1,%2]").arg(toMs(previous - m_pressNs), 0, 'f', 0).arg(gap, 0, 'f', 0);
            if (gap > longest) {
                longest = gap;
                longestAt = previous;
            }
            gaps.push_back(gap);
            previous = frame;
        }
        if (!finalFrame && end > previous) { // the time after the last frame counts as well
            const double gap = toMs(end - previous);
            if (gap > longest) {
                longest = gap;
                longestAt = previous;
            }
            gaps.push_back(gap);
        }
        std::vector<double> sorted = gaps;
        std::sort(sorted.begin(), sorted.end());
        auto percentile = [&sorted](double p) {
            if (sorted.empty())
                return 0.0;
            size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
            rank = std::clamp<size_t>(rank, 1, sorted.size());
            return sorted[rank - 1];
        };
        const long over50 = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 50.0; });
        const long over16 = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 16.7; });
        const bench::CpuTimes cpu = bench::cpuTimes();
        auto since = [this](long long at) { return at ? toMs(at - m_pressNs) : -1.0; };

        QString line = QStringLiteral("{\"event\":\"result\",\"complete\":%1,\"n\":%2,\"outcomes\":%3,\"alive\":%4,"
                                      "\"frames\":%5,\"longest_gap_ms\":%6,\"longest_gap_at_ms\":%7,"
                                      "\"p99_ms\":%8,\"p50_ms\":%9,\"gaps_over_50ms\":%10,\"gaps_over_16ms\":%11,")
                               .arg(complete ? "true" : "false").arg(m_expected).arg(m_outcomes).arg(m_alive)
                               .arg(gaps.size()).arg(longest, 0, 'f', 2).arg(since(longestAt), 0, 'f', 1)
                               .arg(percentile(99), 0, 'f', 2).arg(percentile(50), 0, 'f', 2)
                               .arg(over50).arg(over16);
        line += QStringLiteral("\"release_ms\":%1,\"clicked_ms\":%2,\"first_testing_ms\":%3,\"last_testing_ms\":%4,"
                               "\"last_outcome_ms\":%5,\"run_s\":%6,\"first_frame_ms\":%7,"
                               "\"rss_mb\":%8,\"threads_peak\":%9,\"cpu_s\":%10,\"render_loop_thread\":%11,"
                               "\"long_gaps\":[%12],\"failed\":{%13},\"first_error\":\"%14\"}")
                        .arg(since(m_releaseNs), 0, 'f', 1).arg(since(m_clickedNs), 0, 'f', 1)
                        .arg(since(m_firstTestingNs), 0, 'f', 1).arg(since(m_lastTestingNs), 0, 'f', 1)
                        .arg(since(m_lastOutcomeNs), 0, 'f', 1)
                        .arg(m_lastOutcomeNs && m_firstTestingNs ? toMs(m_lastOutcomeNs - m_firstTestingNs) / 1000.0 : -1.0, 0, 'f', 4)
                        .arg(toMs(m_firstFrameNs - m_t0), 0, 'f', 1)
                        .arg(bench::peakRssMegabytes(), 0, 'f', 1).arg(m_peakThreads.load() - 1)
                        .arg(cpu.total(), 0, 'f', 3)
                        .arg(m_renderThreadSeen ? "true" : "false")
                        .arg(longGaps.join(QLatin1Char(',')), failedCounts(),
                             QString::fromStdString(bench::jsonEscape(m_firstError.toStdString())));
        emitLine(line);
        if (complete)
            QCoreApplication::quit();
    }

    QString failedCounts() const
    {
        QStringList counts;
        for (auto it = m_failed.cbegin(); it != m_failed.cend(); ++it)
            counts << QStringLiteral("\"%1\":%2").arg(it.key()).arg(it.value());
        return counts.join(QLatin1Char(','));
    }

    // Thread count, and the wall-clock limit of a run that never finishes.
    void sample()
    {
        for (;;) {
            const long threads = bench::threadCount();
            if (threads > m_peakThreads)
                m_peakThreads = threads;
            const long long press = m_pressNs;
            if (press != 0 && bench::monotonicNanoseconds() - press > m_limitNs && !m_reported) {
                std::fprintf(stdout, "PROBE {\"event\":\"limit\",\"outcomes\":%d}\n", m_outcomes.load());
                std::fflush(stdout);
                _exit(3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }

    static void emitLine(const QString &json)
    {
        std::fprintf(stdout, "PROBE %s\n", json.toUtf8().constData());
        std::fflush(stdout);
    }

    QPointer<QQuickWindow> m_window;
    QPointer<QQuickItem> m_button;
    QPointF m_lastCentre { -1, -1 };
    int m_stablePolls { 0 };
    bool m_coldStartOnly { false };
    bool m_idleOnly { false };
    bool m_pagesOnly { false };
    bool m_importMode { false };
    QString m_importUrl;
    QPointer<QQuickItem> m_backButton;
    long long m_importStartNs { 0 };
    long long m_importDoneNs { 0 };
    std::atomic<bool> m_importPending { false };
    std::atomic<bool> m_importSynced { false };
    QPointer<QQuickItem> m_stack;
    QPointer<QQuickItem> m_splash;
    long long m_splashEndNs { 0 };
    long long m_pageFromNs { 0 };
    long long m_pageChangedNs { 0 };
    QString m_pageChangedTo;
    int m_pageVisits { 0 };
    std::atomic<bool> m_pagePending { false };
    std::atomic<bool> m_pageSynced { false };
    bool m_selfClick { false };
    int m_expected { 0 };
    long long m_limitNs { 0 };
    long long m_t0 { 0 };

    std::mutex m_mutex;
    std::vector<long long> m_frames;
    long long m_firstFrameNs { 0 };
    long long m_finalFrameNs { 0 };
    bool m_measuring { false };
    bool m_awaitingFinalFrame { false };
    bool m_renderThreadSeen { false };

    std::atomic<long long> m_pressNs { 0 };
    long long m_releaseNs { 0 };
    long long m_clickedNs { 0 };
    long long m_firstTestingNs { 0 };
    long long m_lastTestingNs { 0 };
    long long m_lastOutcomeNs { 0 };
    std::vector<bool> m_seen;
    std::atomic<int> m_outcomes { 0 };
    int m_alive { 0 };
    QMap<QString, int> m_failed; // outcomes other than "alive", by status
    QString m_firstError;
    std::atomic<bool> m_reported { false };
    std::atomic<long> m_peakThreads { 0 };
    std::thread m_sampler;
};

void startProbe()
{
    static WindowProbe *probe = new WindowProbe;
    Q_UNUSED(probe)
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)

#include "window_probe.moc"
