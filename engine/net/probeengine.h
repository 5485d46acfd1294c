#pragma once

#include "httpresponse.h"
#include "proxyaddress.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUrl>

#include <deque>
#include <memory>
#include <queue>
#include <vector>

class QSslSocket;
class SocketWatcher;

// Runs the proxied GETs of a test run: every probe at once, on the thread that
// owns the engine, over non-blocking sockets. What a probe does lives here;
// how its sockets are watched lives in SocketWatcher, and every raw socket
// call in PlatformNet.
// A probe ends exactly once, as finished(alive / dead / timeout), unless the
// engine aborts it first, which reports nothing.
class ProbeEngine : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        int index { 0 };
        QList<QHostAddress> proxyAddresses; // the proxy's host name, resolved
        quint16 proxyPort { 0 };
        QUrl url;
        int timeoutMs { 0 };
        ProxyType type { ProxyType::Http };
        QString user; // the proxy's credentials
        QString password;
        QByteArray expectedText; // UTF-8; empty: any body will do
        quint32 targetIpv4 { 0 }; // socks4: the target's address, looked up once per run; 0: ask by name (4a)
        QByteArray marker; // sent in the probe marker field of every GET
        // No proxy: proxyAddresses and proxyPort are the target's, and the GET goes
        // to it as through a tunnel already open (TLS first for https).
        bool direct { false };
        // The proxy's protocol is still to be found: `type` is the one tried
        // now, HTTP first, then SOCKS5, then SOCKS4.
        bool detect { false };
    };

    // What the probe's last answer was, beside its outcome: for the run to read
    // it against what the target answers directly.
    struct Answer
    {
        int status { 0 }; // 0: no HTTP answer
        BodyCopy body;
        ProxyType type { ProxyType::Http }; // the protocol the proxy answered in
        QByteArray marker;
        bool credentials { false }; // the probe sent the proxy's credentials
    };

    enum class Outcome { Alive, Dead, Timeout };

    explicit ProbeEngine(QObject *parent = nullptr);
    ~ProbeEngine() override;

    // A URL a probe can fetch: http or https, a host that is a valid name or
    // address, a port in 1-65535 when one is given.
    static bool validTarget(const QUrl &url);

    void start(Request request);
    void abortAll();
    // No probe, no open connection and no timer armed.
    bool idle() const;

signals:
    // `milliseconds`: from the start of the first connection to the proxy to the end.
    void finished(int index, ProbeEngine::Outcome outcome, const QString &text, int milliseconds,
                  const ProbeEngine::Answer &answer);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct Probe;

    void begin(int slot);
    bool connectNext(Probe &probe);
    void onSocketEvent(int slot, quint32 connection, quint32 events);
    void sendSome(int slot);
    void readSome(int slot);
    void readTls(int slot);
    void received(int slot, const char *data, qsizetype size);
    Probe *current(int slot, quint32 connection) const;
    void connected(int slot);
    void answered(int slot);
    void startTls(int slot);
    void tunnelOpen(int slot);
    void reconnect(int slot);
    void send(int slot, const QByteArray &bytes);
    void redirect(int slot);
    void conclude(int slot, Outcome outcome, const QString &text);
    void closeConnection(Probe &probe);
    void watch(Probe &probe, quint32 events, bool add);
    QByteArray get(const Probe &probe, bool inTunnel);
    void armTimer();
    void startQueued();
    int freeSlot();
    // Finding out the protocol (probedetect.cpp): the first bytes of an
    // answer, then another protocol when one failed before it was recognised.
    bool recognise(int slot, const char *data, qsizetype size);
    bool retryOtherProtocol(int slot, QString &text);
    void switchProtocol(int slot, ProxyType type);
    // A direct probe's next connection goes to its URL's host: false while that is looked up.
    bool aimDirect(int slot);

    SocketWatcher *m_watcher { nullptr };
    std::vector<std::unique_ptr<Probe>> m_probes; // by slot; null slots are free
    std::vector<int> m_freeSlots;
    std::deque<int> m_queue; // probes not yet started: waiting for their turn or a free descriptor
    int m_open { 0 }; // probes holding a connection
    int m_fileLimit { 0 }; // probes the open-file limit allows at once
    int m_openLimit { 0 }; // lower after the system ran out of descriptors, until probes end
    quint32 m_serial { 0 };
    using Deadline = std::pair<qint64, quint64>; // (ms, slot << 32 | serial)
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> m_deadlines;
    QBasicTimer m_timer; // the earliest deadline
    QBasicTimer m_starter; // starts queued probes, a slice at a time
    qint64 m_timerDue { -1 };
    QElapsedTimer m_clock;
    // What the probes of a run share, made once for their URL (which changes
    // with its "_t" stamp at most once a millisecond).
    struct UrlFacts
    {
        QUrl url;
        bool valid { false }; // validTarget
        QHostAddress address; // the host, when it is an address
        QByteArray heads[2]; // the GET's head to an HTTP proxy, and in a tunnel; made on first use
    };
    UrlFacts &facts(const QUrl &url);
    UrlFacts m_facts;
};
