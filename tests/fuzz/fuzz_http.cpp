// libFuzzer target: the HTTP reader fed with whatever a hostile proxy sends.
#include "httpresponse.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses how the bytes are split into reads, the second
    // whether the answer is read as a tunnel's and whether the peer closes.
    const size_t step = data[0] % 64 + 1;
    const bool headOnly = data[1] & 1;
    const bool close = data[1] & 2;
    data += 2;
    size -= 2;

    HttpResponse response(headOnly);
    size_t from = 0;
    while (from < size && (response.state() == HttpResponse::State::Head
                           || response.state() == HttpResponse::State::Body)) {
        const size_t length = step < size - from ? step : size - from;
        const qsizetype used = response.feed(reinterpret_cast<const char *>(data) + from, qsizetype(length));
        if (used < 0 || size_t(used) > length)
            std::abort();
        from += length;
    }
    if (close)
        response.finish();
    if (response.body().size() > 303)
        std::abort();
    if (response.state() == HttpResponse::State::Failed && response.error().isEmpty())
        std::abort();
    return 0;
}
