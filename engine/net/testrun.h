#pragma once

#include "countrydb.h"
#include "probeengine.h"
#include "proxyaddress.h"
#include "reference.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <set>
#include <vector>

class QHostAddress;

// One test run over a list of proxies: "testing" for each, its host looked
// up, then its probe, and exactly one outcome each. Any program drives it
// (the window through ProxyTest, a command, the bench); a run started anew or
// cancelled falls silent at once.
class TestRun : public QObject
{
    Q_OBJECT

public:
    // What every probe of a run is sent with. A probe reads these when it
    // starts, so a change right after start() still reaches every probe.
    struct Settings
    {
        QString targetUrl;
        bool avoidCache { true };
        int timeoutMs { 15000 };
        QString expectedText;
    };

    explicit TestRun(QObject *parent = nullptr);
    ~TestRun() override;

    Settings &settings() { return m_settings; }
    const Settings &settings() const { return m_settings; }

    // Whether a probe can fetch `targetUrl`: http or https, a valid host name
    // or address, a port in 1-65535. With any other target every proxy of a
    // run ends "dead", "Invalid target URL", and nothing is sent.
    static bool isValidTarget(const QString &targetUrl);
    // Why a target URL is not valid, in a few words; empty when it is.
    static QString targetProblem(const QString &targetUrl);

    void start(const QList<ProxyAddress> &proxies);
    void cancel();
    // From start until the run's last outcome, or until cancel.
    bool running() const { return m_unfinished > 0; }
    // Nothing of a run is left: no probe, no open connection, no timer armed.
    bool idle() const;
    // Where the exit addresses of live proxies are looked up.
    CountryDb &countries() { return m_countries; }
    const CountryDb &countries() const { return m_countries; }

signals:
    // status: "testing", then one of "alive", "dead", "timeout", "dns_fail".
    void result(int index, bool alive, const QString &info, const QString &errorMsg, const QString &status);
    // Once for each "alive" probe, just before its result: from the start
    // of the connection to the proxy to the complete answer.
    void latency(int index, int milliseconds);
    void runningChanged();
    // Once for each "alive" probe, before its latency: what the answer showed of
    // the proxy, the keys that apply of type ("http", "socks4", "socks5": the
    // protocol it answered in), exitAddress, anonymity ("transparent",
    // "anonymous", "elite"), country (ISO 3166) and altered (whether the body
    // differed from the target's own).
    void profile(int index, const QVariantMap &profile);
    // Once a run, when the target has answered directly, without a proxy, or
    // failed to: a failure is said at once, and the run goes on.
    void targetChecked(bool reachable, const QString &message);

private:
    void continueRun(int generation, bool fromEventLoop);
    void conclude(int index, bool alive, const QString &info, const QString &errorMsg, const QString &status,
                  int milliseconds = -1);
    void startRequest(int index, const ProxyAddress &entry, int generation, const QList<QHostAddress> &addresses);
    void probeFinished(int index, ProbeEngine::Outcome outcome, const QString &text, int milliseconds,
                       const ProbeEngine::Answer &answer);
    void startReference(int generation);
    void referenceAnswer(ProbeEngine::Outcome outcome, const QString &text, const ProbeEngine::Answer &answer);
    QUrl requestUrl() const;
    bool targetValid() const;

    struct BuiltUrl
    {
        QString target;
        bool avoidCache { false };
        qint64 madeAt { -1 }; // ms since the epoch
        QUrl url;
    };
    struct TargetLookup
    {
        bool done { false };
        quint32 ipv4 { 0 };
        std::vector<ProbeEngine::Request> waiting;
    };

    struct Held // an outcome through a proxy that waits for the reference
    {
        int index;
        ProbeEngine::Outcome outcome;
        QString text;
        int milliseconds;
        ProbeEngine::Answer answer;
    };

    Settings m_settings;
    CountryDb m_countries;
    TargetReference m_reference;
    bool m_referenceStarted { false };
    std::vector<Held> m_held;
    QList<ProxyAddress> m_runList;
    int m_generation { 0 };
    int m_unfinished { 0 }; // probes of the run still without an outcome
    int m_announced { 0 }; // "testing" reported for the run list up to here
    int m_lookedUp { 0 }; // look-ups started up to here
    std::unique_ptr<ProbeEngine> m_engine; // carries the probes of the current run
    mutable BuiltUrl m_lastUrl;
    mutable std::optional<std::pair<QString, bool>> m_checkedTarget; // a target URL, and whether it is valid
    QHash<QString, TargetLookup> m_targetLookups; // by the target's host, for the current run
    std::set<int> m_lookups; // the run's host look-ups still pending, by id: the order they were asked in
};
