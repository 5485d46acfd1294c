#include "probeengine.h"

#include "eventslice.h"
#include "probe.h"
#include "socketwatcher.h"

#include <QSslSocket>
#include <QTimerEvent>

#include <climits>

namespace {
constexpr qsizetype readBudget = 256 * 1024; // per probe and wake-up, so no peer starves the rest
} // namespace

// How probes are scheduled and carried: the queue, the open-file budget,
// deadlines, and the bytes moved over each socket. What a probe says and how
// its answer decides its outcome is in probesteps.cpp.

ProbeEngine::ProbeEngine(QObject *parent)
    : QObject(parent)
    , m_watcher(SocketWatcher::create(
          [this](quint64 key, quint32 events) { onSocketEvent(int(key >> 32), quint32(key), events); }, this))
    , m_fileLimit(qMax(16, PlatformNet::openFileLimit() - 256))
    , m_openLimit(m_fileLimit)
{
    m_clock.start();
}

ProbeEngine::~ProbeEngine()
{
    abortAll();
}

int ProbeEngine::freeSlot()
{
    if (!m_freeSlots.empty()) {
        const int slot = m_freeSlots.back();
        m_freeSlots.pop_back();
        return slot;
    }
    m_probes.emplace_back();
    return int(m_probes.size() - 1);
}

void ProbeEngine::start(Request request)
{
    const int slot = freeSlot();
    auto probe = std::make_unique<Probe>();
    probe->slot = slot;
    probe->id = ++m_serial;
    probe->url = request.url;
    probe->request = std::move(request);
    m_probes[slot] = std::move(probe);
    // Started from the event loop, a slice at a time: thousands of look-ups
    // finish together, and the window should paint between them.
    m_queue.push_back(slot);
    if (!m_starter.isActive())
        m_starter.start(0, this);
}

// The probe's time starts now, when its request is handed to the network. A
// probe queued again in the middle of a redirect keeps the time it started with;
// one queued again before its first connection starts anew.
void ProbeEngine::begin(int slot)
{
    Probe &probe = *m_probes[slot];
    if (probe.started < 0) {
        probe.started = m_clock.elapsed();
        probe.deadline = probe.started + qMax(0, probe.request.timeoutMs);
    } else if (probe.deadline <= m_clock.elapsed()) {
        conclude(slot, Outcome::Timeout, QStringLiteral("Timeout"));
        return;
    }
    m_deadlines.push({ probe.deadline, quint64(slot) << 32 | probe.id });
    armTimer();
    if (!facts(probe.url).valid) {
        conclude(slot, Outcome::Dead, QStringLiteral("Invalid target URL"));
        return;
    }
    if (!m_watcher->ready()) {
        conclude(slot, Outcome::Dead, QStringLiteral("Network unavailable"));
        return;
    }
    if (!connectNext(probe))
        conclude(slot, Outcome::Dead, ProbeText::connectError(probe.lastError));
}

bool ProbeEngine::connectNext(Probe &probe)
{
    const QList<QHostAddress> &addresses = probe.request.proxyAddresses;
    while (probe.nextAddress < addresses.size()) {
        const QHostAddress &address = addresses.at(probe.nextAddress++);
        if (address.protocol() != QAbstractSocket::IPv4Protocol
            && address.protocol() != QAbstractSocket::IPv6Protocol)
            continue;
        int error = 0;
        const PlatformNet::Socket fd = PlatformNet::connectTo(address, probe.request.proxyPort, &error);
        if (fd == PlatformNet::invalidSocket) {
            probe.lastError = error;
            if (PlatformNet::classify(error) == PlatformNet::Error::OutOfDescriptors) {
                // Out of descriptors after all: wait for a probe in flight to end.
                // Before its first connection the probe has not started: its
                // time and time-out count from when it does.
                --probe.nextAddress;
                if (m_open > 0) {
                    m_openLimit = qMax(1, m_open);
                    if (probe.connection == 0)
                        probe.started = probe.deadline = -1;
                    probe.phase = Probe::Phase::Queued;
                    m_queue.push_front(probe.slot);
                    return true;
                }
                return false;
            }
            continue;
        }
        probe.fd = fd;
        probe.connection = ++m_serial;
        probe.phase = Probe::Phase::Connecting;
        ++m_open;
        watch(probe, PlatformNet::Writable, true);
        return true;
    }
    if (addresses.isEmpty())
        probe.lastError = PlatformNet::unreachableError();
    return false;
}

// Each change of what a socket waits for is a system call: only real changes are made.
void ProbeEngine::watch(Probe &probe, quint32 events, bool add)
{
    if (!add && probe.watching == events)
        return;
    probe.watching = events;
    m_watcher->watch(probe.fd, events, quint64(probe.slot) << 32 | probe.connection, add);
}

ProbeEngine::Probe *ProbeEngine::current(int slot, quint32 connection) const
{
    if (slot < 0 || size_t(slot) >= m_probes.size())
        return nullptr;
    Probe *probe = m_probes[slot].get();
    return probe && probe->connection == connection ? probe : nullptr;
}

void ProbeEngine::onSocketEvent(int slot, quint32 connection, quint32 events)
{
    Probe *probe = current(slot, connection);
    if (!probe || probe->fd == PlatformNet::invalidSocket)
        return;
    // A queued probe holds no socket, and a handshaking one has handed its
    // socket to the TLS layer: neither is watched here.
    if (probe->phase == Probe::Phase::Connecting) {
        const int error = PlatformNet::pendingError(probe->fd);
        if (error == 0 && !(events & PlatformNet::Broken)) {
            connected(slot);
            return;
        }
        probe->lastError = error ? error : PlatformNet::refusedError();
        closeConnection(*probe);
        if (!connectNext(*probe))
            conclude(slot, Outcome::Dead, ProbeText::connectError(probe->lastError));
    } else if (probe->phase == Probe::Phase::Sending) {
        sendSome(slot);
    } else {
        readSome(slot);
    }
}

void ProbeEngine::send(int slot, const QByteArray &bytes)
{
    Probe &probe = *m_probes[slot];
    probe.phase = Probe::Phase::Sending;
    probe.out = bytes;
    probe.sent = 0;
    ++probe.messages;
    sendSome(slot);
}

void ProbeEngine::sendSome(int slot)
{
    Probe &probe = *m_probes[slot];
    while (probe.sent < probe.out.size()) {
        int error = 0;
        const qint64 n = PlatformNet::send(probe.fd, probe.out.constData() + probe.sent, probe.out.size() - probe.sent,
                                           &error);
        if (n > 0) {
            probe.sent += n;
            continue;
        }
        const PlatformNet::Error kind = n < 0 ? PlatformNet::classify(error) : PlatformNet::Error::Other;
        if (kind == PlatformNet::Error::WouldBlock) {
            watch(probe, PlatformNet::Writable, false);
            return;
        }
        if (kind == PlatformNet::Error::Interrupted)
            continue;
        conclude(slot, Outcome::Dead, ProbeText::closedError(error));
        return;
    }
    probe.out.clear();
    if (probe.socks && !probe.socks->done()) {
        probe.phase = Probe::Phase::Socks;
    } else if (probe.tunnelled() && !probe.socks) {
        probe.phase = Probe::Phase::Tunnel;
        probe.response = std::make_unique<HttpResponse>(true);
    } else {
        probe.phase = Probe::Phase::Receiving;
        probe.response = probe.answerReader();
    }
    watch(probe, PlatformNet::Readable, false);
}

void ProbeEngine::readSome(int slot)
{
    char buffer[probeReadChunk];
    const quint32 connection = m_probes[slot]->connection;
    qsizetype budget = readBudget;
    while (budget > 0) {
        Probe *probe = current(slot, connection);
        if (!probe || probe->fd == PlatformNet::invalidSocket)
            return;
        int error = 0;
        const qint64 n = PlatformNet::recv(probe->fd, buffer, sizeof buffer, &error);
        if (n > 0) {
            budget -= n;
            const quint32 messages = probe->messages;
            received(slot, buffer, n);
            // Once it has said its next message, the probe has nothing to read
            // until the proxy answers, and the watcher tells when that comes.
            if ((probe = current(slot, connection)) && probe->messages != messages)
                return;
            continue;
        }
        const PlatformNet::Error kind = n < 0 ? PlatformNet::classify(error) : PlatformNet::Error::Other;
        if (kind == PlatformNet::Error::Interrupted)
            continue;
        if (kind == PlatformNet::Error::WouldBlock)
            return;
        if (n < 0 && kind != PlatformNet::Error::Reset) {
            conclude(slot, Outcome::Dead, ProbeText::closedError(error));
            return;
        }
        // A reset after an answer framed by the close ends it as a close does;
        // any other answer it cuts short.
        if (n < 0 && !(probe->response && probe->response->framedByClose())) {
            conclude(slot, Outcome::Dead, QStringLiteral("Connection reset by the proxy"));
            return;
        }
        if (probe->socks && !probe->socks->done()) {
            probe->socks->finish();
            conclude(slot, Outcome::Dead, probe->socks->error());
            return;
        }
        if (!probe->response) { // closed while the request was still going out
            conclude(slot, Outcome::Dead, QStringLiteral("Connection closed"));
            return;
        }
        probe->response->finish();
        answered(slot);
        return;
    }
}

void ProbeEngine::closeConnection(Probe &probe)
{
    if (probe.fd != PlatformNet::invalidSocket) {
        m_watcher->closing(probe.fd);
        PlatformNet::close(probe.fd);
        probe.fd = PlatformNet::invalidSocket;
        --m_open;
    }
    if (probe.tls) {
        probe.tls->disconnect(this);
        probe.tls->abort();
        probe.tls->deleteLater();
        probe.tls = nullptr;
        --m_open;
    }
}

void ProbeEngine::conclude(int slot, Outcome outcome, const QString &text)
{
    QString reason = text;
    if (outcome == Outcome::Dead && retryOtherProtocol(slot, reason))
        return;
    std::unique_ptr<Probe> probe = std::move(m_probes[slot]);
    closeConnection(*probe);
    m_freeSlots.push_back(slot);
    // After the system ran out of descriptors, each probe that ends lets one more start.
    if (m_openLimit < m_fileLimit)
        ++m_openLimit;
    if (m_open == 0 && m_queue.empty() && m_freeSlots.size() == m_probes.size()) {
        m_deadlines = {}; // nothing left to time out
        m_timer.stop();
        m_timerDue = -1;
    }
    if (!m_queue.empty() && !m_starter.isActive())
        m_starter.start(0, this); // a descriptor is free again
    const qint64 elapsed = probe->started < 0 ? 0 : m_clock.elapsed() - probe->started;
    emit finished(probe->request.index, outcome, reason, int(qMin<qint64>(elapsed, INT_MAX)), probe->takeAnswer());
}

bool ProbeEngine::idle() const
{
    return m_open == 0 && m_queue.empty() && m_freeSlots.size() == m_probes.size() && !m_timer.isActive()
        && !m_starter.isActive();
}

void ProbeEngine::startQueued()
{
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.empty() && m_open < m_openLimit && slice.elapsed() < eventSliceMs) {
        const int slot = m_queue.front();
        m_queue.pop_front();
        if (m_probes[slot])
            begin(slot);
    }
    if (!m_queue.empty() && m_open < m_openLimit) {
        if (!m_starter.isActive())
            m_starter.start(0, this);
    } else {
        m_starter.stop();
    }
}

void ProbeEngine::abortAll()
{
    for (auto &probe : m_probes) {
        if (probe)
            closeConnection(*probe);
    }
    m_probes.clear();
    m_freeSlots.clear();
    m_queue.clear();
    m_deadlines = {};
    m_timer.stop();
    m_timerDue = -1;
    m_starter.stop();
    m_open = 0;
    m_openLimit = m_fileLimit; // each run starts with every descriptor the limit allows
}

void ProbeEngine::armTimer()
{
    if (m_deadlines.empty()) {
        m_timer.stop();
        m_timerDue = -1;
        return;
    }
    const qint64 due = m_deadlines.top().first;
    if (due == m_timerDue && m_timer.isActive())
        return;
    m_timerDue = due;
    m_timer.start(int(qMax<qint64>(0, due - m_clock.elapsed())), Qt::PreciseTimer, this);
}

void ProbeEngine::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_starter.timerId()) {
        startQueued();
        return;
    }
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    m_timerDue = -1;
    // Thousands of probes can time out together; ending each one costs more
    // where every socket has its own notifier, so this too goes a slice at a
    // time, and what is left is due at once on the next pass.
    QElapsedTimer slice;
    slice.start();
    while (!m_deadlines.empty() && m_deadlines.top().first <= m_clock.elapsed() && slice.elapsed() < eventSliceMs) {
        const auto [due, key] = m_deadlines.top();
        m_deadlines.pop();
        const int slot = int(key >> 32);
        const Probe *probe = size_t(slot) < m_probes.size() ? m_probes[slot].get() : nullptr;
        if (probe && probe->id == quint32(key) && probe->deadline == due && probe->phase != Probe::Phase::Queued)
            conclude(slot, Outcome::Timeout, QStringLiteral("Timeout"));
    }
    armTimer();
}
