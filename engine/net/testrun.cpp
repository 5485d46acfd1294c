#include "testrun.h"

#include "eventslice.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>

TestRun::TestRun(QObject *parent)
    : QObject(parent)
    , m_engine(std::make_unique<ProbeEngine>())
{
    connect(m_engine.get(), &ProbeEngine::finished, this, &TestRun::probeFinished);
}

TestRun::~TestRun() = default;

void TestRun::start(const QList<ProxyAddress> &proxies)
{
    cancel();
    m_unfinished = int(proxies.size());
    if (m_unfinished > 0)
        emit runningChanged();
    m_runList = proxies;
    m_announced = 0;
    m_lookedUp = 0;
    m_referenceStarted = false;
    continueRun(m_generation, false);
}

// "testing" for every proxy, then the look-ups, from the event loop a slice at
// a time, so that the window keeps drawing through a long list. No look-up
// starts before the last "testing", so no outcome can come before one.
void TestRun::continueRun(int generation, bool fromEventLoop)
{
    if (generation != m_generation)
        return;
    QElapsedTimer slice;
    slice.start();
    const auto sliceOver = [&] {
        if (slice.elapsed() < eventSliceMs)
            return false;
        QTimer::singleShot(0, this, [this, generation] { continueRun(generation, true); });
        return true;
    };
    while (m_announced < m_runList.size()) {
        emit result(m_announced++, false, QString(), QStringLiteral("Testing"), QStringLiteral("testing"));
        if (generation != m_generation || sliceOver())
            return;
    }
    // Never within testAll itself: settings changed right after it still
    // reach every probe, as they reach one whose look-up is still running.
    if (!fromEventLoop && m_lookedUp < m_runList.size()) {
        QTimer::singleShot(0, this, [this, generation] { continueRun(generation, true); });
        return;
    }
    // The target fetched directly, beside the first probes.
    if (!std::exchange(m_referenceStarted, true) && !m_runList.isEmpty()) {
        startReference(generation);
        if (generation != m_generation)
            return;
    }
    while (m_lookedUp < m_runList.size()) {
        const int i = m_lookedUp++;
        const ProxyAddress entry = m_runList.at(i);
        // An address needs no look-up: it is what the look-up would give; nor
        // does a probe that cannot start.
        if (const QHostAddress address(entry.host); !address.isNull() || !targetValid()) {
            startRequest(i, entry, generation, { address });
            if (generation != m_generation || sliceOver())
                return;
            continue;
        }
        // The probe connects to the addresses the look-up gives, one after another.
        m_lookups.insert(QHostInfo::lookupHost(entry.host, this, [this, i, entry, generation](const QHostInfo &info) {
            m_lookups.erase(info.lookupId());
            if (generation != m_generation)
                return;
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                conclude(i, false, QString(), QStringLiteral("DNS fail"), QStringLiteral("dns_fail"));
                return;
            }
            startRequest(i, entry, generation, info.addresses());
        }));
        if (sliceOver())
            return;
    }
}

bool TestRun::isValidTarget(const QString &targetUrl)
{
    return ProbeEngine::validTarget(QUrl(targetUrl, QUrl::TolerantMode));
}

QString TestRun::targetProblem(const QString &targetUrl)
{
    if (isValidTarget(targetUrl))
        return QString();
    const QUrl url(targetUrl, QUrl::TolerantMode);
    if (targetUrl.trimmed().isEmpty())
        return QStringLiteral("there is no target URL");
    if (!targetUrl.contains(QLatin1String("://")))
        return QStringLiteral("the URL needs a scheme: http:// or https://");
    if (!url.isValid() && url.errorString().startsWith(QLatin1String("Invalid port")))
        return QStringLiteral("the port must be 1-65535");
    if (!url.isValid())
        return QStringLiteral("not a valid URL");
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return QStringLiteral("only http:// and https:// URLs can be tested");
    if (url.host().isEmpty())
        return QStringLiteral("the URL has no host");
    if (url.port() == 0)
        return QStringLiteral("the port must be 1-65535");
    return QStringLiteral("the host is not a valid name or address");
}

// Checked where a probe reads its settings, once for each text the target takes.
bool TestRun::targetValid() const
{
    if (!m_checkedTarget || m_checkedTarget->first != m_settings.targetUrl)
        m_checkedTarget.emplace(m_settings.targetUrl, isValidTarget(m_settings.targetUrl));
    return m_checkedTarget->second;
}

QUrl TestRun::requestUrl() const
{
    // Thousands of look-ups can finish within one millisecond: they share
    // the URL built for it, timestamp included.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_lastUrl.madeAt == now && m_lastUrl.avoidCache == m_settings.avoidCache && m_lastUrl.target == m_settings.targetUrl)
        return m_lastUrl.url;

    QUrl url(m_settings.targetUrl, QUrl::TolerantMode);
    if (m_settings.avoidCache) {
        const QString stamp =
            QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss-zzz"));
        const QString separator = url.hasQuery() ? QStringLiteral("&") : QStringLiteral("?");
        QString text = url.toString();
        QString fragment;
        const qsizetype hash = text.indexOf(QLatin1Char('#'));
        if (hash >= 0) {
            fragment = text.mid(hash);
            text.truncate(hash);
        }
        url = QUrl(text + separator + QStringLiteral("_t=") + stamp + fragment, QUrl::TolerantMode);
    }
    m_lastUrl = { m_settings.targetUrl, m_settings.avoidCache, now, url };
    return url;
}

void TestRun::startRequest(int index, const ProxyAddress &entry, int generation,
                             const QList<QHostAddress> &addresses)
{
    if (generation != m_generation)
        return;
    if (!targetValid()) {
        conclude(index, false, QString(), QStringLiteral("Invalid target URL"), QStringLiteral("dead"));
        return;
    }
    ProbeEngine::Request request { index, addresses, static_cast<quint16>(entry.port), requestUrl(), m_settings.timeoutMs,
                                   entry.type, entry.user, entry.password, m_settings.expectedText.toUtf8() };
    request.marker = newProbeMarker();
    if (entry.type == ProxyType::Auto) { // HTTP first
        request.type = ProxyType::Http;
        request.detect = true;
    }
    const QString host = request.url.host();
    if ((entry.type != ProxyType::Socks4 && entry.type != ProxyType::Auto) || host.isEmpty() || QHostAddress(host).protocol() != QAbstractSocket::UnknownNetworkLayerProtocol) {
        m_engine->start(std::move(request));
        return;
    }
    // SOCKS4 carries an IPv4 address: the target's name is looked up once per
    // run, and the probes that need it wait for that one look-up.
    TargetLookup &lookup = m_targetLookups[host];
    if (lookup.done) {
        request.targetIpv4 = lookup.ipv4;
        m_engine->start(std::move(request));
        return;
    }
    lookup.waiting.push_back(std::move(request));
    if (lookup.waiting.size() > 1)
        return;
    m_lookups.insert(QHostInfo::lookupHost(host, this, [this, host, generation](const QHostInfo &info) {
        m_lookups.erase(info.lookupId());
        if (generation != m_generation)
            return;
        TargetLookup &lookup = m_targetLookups[host];
        lookup.done = true;
        for (const QHostAddress &address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                lookup.ipv4 = address.toIPv4Address(); // none: the proxy looks the name up (SOCKS4a)
                break;
            }
        }
        for (ProbeEngine::Request &request : std::exchange(lookup.waiting, {})) {
            request.targetIpv4 = lookup.ipv4;
            m_engine->start(std::move(request));
        }
    }));
}

// A probe's outcome: the direct fetches' make the reference; a proxy's that
// the reference may change waits for it, the others are read at once.
void TestRun::probeFinished(int index, ProbeEngine::Outcome outcome, const QString &text, int milliseconds,
                            const ProbeEngine::Answer &answer)
{
    if (index < 0) {
        referenceAnswer(outcome, text, answer);
        return;
    }
    if (!m_reference.known() && TargetReference::dependsOnIt(outcome, answer)) {
        m_held.push_back({ index, outcome, text, milliseconds, answer });
        return;
    }
    const int generation = m_generation;
    TargetReference::Verdict verdict = m_reference.read(outcome, text, answer, m_countries);
    switch (verdict.outcome) {
    case ProbeEngine::Outcome::Alive:
        emit profile(index, verdict.profile);
        if (generation == m_generation)
            conclude(index, true, verdict.text, QString(), QStringLiteral("alive"), milliseconds);
        break;
    case ProbeEngine::Outcome::Dead:
        conclude(index, false, QString(), verdict.text, QStringLiteral("dead"));
        break;
    case ProbeEngine::Outcome::Timeout:
        conclude(index, false, QString(), verdict.text, QStringLiteral("timeout"));
        break;
    }
}

// The target fetched directly, twice, each fetch with a marker of its own, and
// no longer than the time-out, its look-up included.
void TestRun::startReference(int generation)
{
    if (!targetValid()) {
        referenceAnswer(ProbeEngine::Outcome::Dead, targetProblem(m_settings.targetUrl), {});
        return;
    }
    const QUrl url = requestUrl();
    const int timeoutMs = m_settings.timeoutMs;
    auto fetch = [this, generation, url, timeoutMs](const QList<QHostAddress> &addresses) {
        for (int i = 1; i <= TargetReference::fetches && generation == m_generation; ++i) {
            ProbeEngine::Request request { -i, addresses, quint16(url.port(url.scheme() == QLatin1String("https") ? 443 : 80)), url, timeoutMs };
            request.marker = newProbeMarker();
            request.direct = true;
            m_engine->start(std::move(request));
        }
    };
    QTimer::singleShot(qMax(0, timeoutMs), this, [this, generation] {
        if (generation == m_generation)
            referenceAnswer(ProbeEngine::Outcome::Timeout, QStringLiteral("Timeout"), {});
    });
    if (const QHostAddress address(url.host()); !address.isNull()) {
        fetch({ address });
        return;
    }
    m_lookups.insert(QHostInfo::lookupHost(url.host(), this, [this, generation, fetch](const QHostInfo &info) {
        m_lookups.erase(info.lookupId());
        if (generation != m_generation)
            return;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
            referenceAnswer(ProbeEngine::Outcome::Dead, QStringLiteral("Host not found"), {});
        else
            fetch(info.addresses());
    }));
}

void TestRun::referenceAnswer(ProbeEngine::Outcome outcome, const QString &text, const ProbeEngine::Answer &answer)
{
    if (!m_reference.add(outcome, text, answer))
        return;
    const int generation = m_generation;
    emit targetChecked(m_reference.reachable(), m_reference.message());
    for (Held &held : std::exchange(m_held, {})) {
        if (generation != m_generation)
            return;
        probeFinished(held.index, held.outcome, held.text, held.milliseconds, held.answer);
    }
}

// A probe's outcome, its time first when it is alive. A handler may end the
// run or start another: the old run then says nothing more, and the run ends
// (running turns false) only after its last outcome has been handled.
void TestRun::conclude(int index, bool alive, const QString &info, const QString &errorMsg, const QString &status,
                         int milliseconds)
{
    const int generation = m_generation;
    if (alive) {
        emit latency(index, milliseconds);
        if (generation != m_generation)
            return;
    }
    emit result(index, alive, info, errorMsg, status);
    if (generation == m_generation && --m_unfinished == 0)
        emit runningChanged();
}

void TestRun::cancel()
{
    ++m_generation;
    if (m_unfinished > 0) {
        m_unfinished = 0;
        emit runningChanged();
    }
    m_targetLookups.clear();
    m_reference.reset();
    m_held.clear();
    // Look-ups still waiting for a resolver thread would hold back the next
    // run's; oldest first, each is found at the front of Qt's queue.
    for (int id : m_lookups)
        QHostInfo::abortHostLookup(id);
    m_lookups.clear();
    m_engine->abortAll();
}

bool TestRun::idle() const
{
    return m_engine->idle();
}
