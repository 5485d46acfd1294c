#include "socketwatcher.h"

#include <QHash>
#include <QSocketNotifier>

namespace {
// One QSocketNotifier per socket and direction, built only on Qt.
class NotifierWatcher final : public SocketWatcher
{
public:
    NotifierWatcher(Handler handler, QObject *parent)
        : SocketWatcher(parent)
        , m_handler(std::move(handler))
    {
    }

    bool ready() override { return PlatformNet::startup(); }

    void watch(PlatformNet::Socket socket, quint32 events, quint64 key, bool) override
    {
        Entry &entry = m_sockets[socket];
        entry.key = key;
        want(entry.read, socket, QSocketNotifier::Read, events & PlatformNet::Readable);
        want(entry.write, socket, QSocketNotifier::Write, events & PlatformNet::Writable);
    }

    void detach(PlatformNet::Socket socket) override { closing(socket); }

    void closing(PlatformNet::Socket socket) override
    {
        const auto it = m_sockets.constFind(socket);
        if (it == m_sockets.cend())
            return;
        // Possibly from inside one of these notifiers' own signal: disabled at
        // once, deleted once the signal has returned.
        for (QSocketNotifier *notifier : { it->read, it->write }) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        m_sockets.erase(it);
    }

private:
    struct Entry
    {
        quint64 key { 0 };
        QSocketNotifier *read { nullptr };
        QSocketNotifier *write { nullptr };
    };

    void want(QSocketNotifier *&notifier, PlatformNet::Socket socket, QSocketNotifier::Type type, bool on)
    {
        if (!notifier) {
            if (!on)
                return;
            notifier = new QSocketNotifier(socket, type, this);
            const quint32 events = type == QSocketNotifier::Read ? PlatformNet::Readable : PlatformNet::Writable;
            connect(notifier, &QSocketNotifier::activated, this, [this, socket, events] {
                const auto it = m_sockets.constFind(socket);
                if (it != m_sockets.cend())
                    m_handler(it->key, events);
            });
            return;
        }
        if (notifier->isEnabled() != on)
            notifier->setEnabled(on);
    }

    Handler m_handler;
    QHash<PlatformNet::Socket, Entry> m_sockets;
};
} // namespace

SocketWatcher *SocketWatcher::create(Handler handler, QObject *parent)
{
    return new NotifierWatcher(std::move(handler), parent);
}
