// libFuzzer target: the SOCKS reply reader fed with whatever a hostile proxy
// sends, and the requests built from any host name or user name.
#include "socks.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses the reply form, whether authentication was offered
    // and whether the peer closes; the second how the bytes are split into reads.
    const auto form = Socks::Reply::Form(data[0] & 3);
    const bool offered = data[0] & 4, close = data[0] & 8;
    const size_t step = data[1] % 32 + 1;
    const char *bytes = reinterpret_cast<const char *>(data + 2);
    size -= 2;

    Socks::Reply reply(form, offered);
    for (size_t from = 0; from < size; from += step) // on past the end: later bytes must fail it
        reply.feed(bytes + from, qsizetype(step < size - from ? step : size - from));
    if (close)
        reply.finish();
    if ((reply.state() == Socks::Reply::State::Failed) == reply.error().isEmpty())
        std::abort();
    if (reply.state() == Socks::Reply::State::Done && size > size_t(Socks::maxReply))
        std::abort(); // more bytes than any reply takes, yet accepted

    const QString text = QString::fromUtf8(bytes, qsizetype(size));
    if (Socks::connect5(text, 1080).size() > 3 + 1 + 1 + 255 + 2 || Socks::authentication(text, text).size() > 513)
        std::abort();
    Socks::connect4(0, text, 1080, text);
    return 0;
}
