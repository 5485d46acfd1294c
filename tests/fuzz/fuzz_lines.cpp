// libFuzzer target: the plain-text proxy list reader over any text, and the
// writer over what it read. Every entry read must be a usable proxy, each
// written line must read back as the same entry, and the whole written list
// must read back as the same list with nothing skipped.
#include "proxylines.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool same(const ProxyAddress &a, const ProxyAddress &b)
{
    return a.host == b.host && a.port == b.port && a.type == b.type && a.user == b.user && a.password == b.password;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const ProxyLinesRead read = parseProxyLines(text);
    if (read.skipped < 0 || read.skipped > text.count(u'\n') + text.count(u'\r') + 1)
        std::abort();
    for (const ProxyAddress &entry : read.entries) {
        if (entry.host.isEmpty() || entry.port < 1 || entry.port > 65535)
            std::abort();
        const QString line = formatProxyLine(entry);
        const auto again = parseProxyLine(line);
        if (line.isEmpty() || line.contains(u'\n') || !again || !same(*again, entry))
            std::abort();
    }
    const ProxyLinesRead back = parseProxyLines(formatProxyLines(read.entries));
    if (back.skipped != 0 || back.entries.size() != read.entries.size())
        std::abort();
    for (qsizetype i = 0; i < back.entries.size(); ++i) {
        if (!same(back.entries[i], read.entries[i]))
            std::abort();
    }
    return 0;
}
