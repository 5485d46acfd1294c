#include "socketwatcher.h"

#include "eventslice.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

namespace {
constexpr int eventBatch = 256;

class EpollWatcher final : public SocketWatcher
{
public:
    EpollWatcher(Handler handler, QObject *parent)
        : SocketWatcher(parent)
        , m_handler(std::move(handler))
    {
    }

    ~EpollWatcher() override
    {
        if (m_set >= 0)
            PlatformNet::Epoll::destroy(m_set);
    }

    bool ready() override
    {
        if (m_notifier)
            return true;
        if (m_set < 0)
            m_set = PlatformNet::Epoll::create();
        if (m_set < 0) {
            qWarning("Cannot create an epoll set");
            return false;
        }
        m_notifier = new QSocketNotifier(m_set, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &EpollWatcher::onEvents);
        return true;
    }

    void watch(PlatformNet::Socket socket, quint32 events, quint64 key, bool add) override
    {
        PlatformNet::Epoll::watch(m_set, socket, events, key, add);
    }

    void detach(PlatformNet::Socket socket) override { PlatformNet::Epoll::unwatch(m_set, socket); }

    void closing(PlatformNet::Socket) override { } // closing leaves the set

private:
    void onEvents()
    {
        // Level-triggered: whatever this call leaves unread is reported again on
        // the next pass of the event loop, so it may stop after any event and
        // let the window paint between slices.
        PlatformNet::Epoll::Event events[eventBatch];
        QElapsedTimer slice;
        slice.start();
        int count = 0;
        do {
            count = PlatformNet::Epoll::poll(m_set, events, eventBatch);
            for (int i = 0; i < count; ++i) {
                // A handler may have ended or replaced a probe named later in the
                // batch; the engine finds those by the key's connection serial.
                m_handler(events[i].key, events[i].events);
                if (slice.elapsed() >= eventSliceMs)
                    break;
            }
        } while (count == eventBatch && slice.elapsed() < eventSliceMs);
    }

    Handler m_handler;
    int m_set { -1 };
    QSocketNotifier *m_notifier { nullptr };
};
} // namespace

SocketWatcher *SocketWatcher::create(Handler handler, QObject *parent)
{
    return new EpollWatcher(std::move(handler), parent);
}
