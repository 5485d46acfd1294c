// libFuzzer targets over the engine's readers; each executable is this file built
// with one of FUZZ_http, FUZZ_socks, FUZZ_lines, FUZZ_import, FUZZ_load.
#include "httpresponse.h"
#include "proxylines.h"
#include "proxylistmodel.h"
#include "proxytest.h"
#include "socks.h"

#include <QtCore>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool rule, const char *broken)
{
    if (!rule) {
        std::fprintf(stderr, "broken: %s\n", broken);
        std::abort();
    }
}

bool same(const ProxyAddress &a, const ProxyAddress &b)
{
    return a.host == b.host && a.port == b.port && a.type == b.type && a.user == b.user && a.password == b.password;
}

// The kind of file fed to loadFromFile, as extra counters: its decoding happens in
// Qt, which is not instrumented.
__attribute__((used, section("__libfuzzer_extra_counters"))) uint8_t inputKinds[2048];
QString filePath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    static int argc = 1;
    static QCoreApplication app(argc, *argv);
    static QTemporaryDir dir;
    check(dir.isValid(), "no temporary folder");
    filePath = dir.filePath(QStringLiteral("list.json"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const QString text = QString::fromUtf8(bytes, qsizetype(size));
#if defined(FUZZ_http)
    // Whatever a hostile proxy sends: the first byte chooses how it is split into
    // reads, the second whether it is a tunnel's answer and whether the peer closes.
    if (size < 2)
        return 0;
    const size_t step = data[0] % 64 + 1;
    HttpResponse response(data[1] & 1);
    for (size_t from = 2; from < size && (response.state() == HttpResponse::State::Head
                                          || response.state() == HttpResponse::State::Body); from += step) {
        const size_t length = qMin(step, size - from);
        const qsizetype used = response.feed(bytes + from, qsizetype(length));
        check(used >= 0 && size_t(used) <= length, "used more bytes than fed");
    }
    if (data[1] & 2)
        response.finish();
    check(response.body().size() <= 303, "the kept body is over 300 characters");
    check(response.state() != HttpResponse::State::Failed || !response.error().isEmpty(), "failed without a reason");
#elif defined(FUZZ_socks)
    // A hostile SOCKS reply (first byte: form, authentication offered, peer closes;
    // second: read size), and the requests built from any host or user name.
    if (size < 2)
        return 0;
    const size_t step = data[1] % 32 + 1;
    Socks::Reply reply(Socks::Reply::Form(data[0] & 3), data[0] & 4);
    for (size_t from = 2; from < size; from += step) // on past the end: later bytes must fail it
        reply.feed(bytes + from, qsizetype(qMin(step, size - from)));
    if (data[0] & 8)
        reply.finish();
    check((reply.state() == Socks::Reply::State::Failed) != reply.error().isEmpty(), "failed without a reason");
    check(reply.state() != Socks::Reply::State::Done || size - 2 <= size_t(Socks::maxReply), "an overlong reply accepted");
    check(Socks::connect5(text, 1080).size() <= 3 + 1 + 1 + 255 + 2 && Socks::authentication(text, text).size() <= 513,
          "a request over its size");
    Socks::connect4(0, text, 1080, text);
#elif defined(FUZZ_lines)
    // Every entry read is usable and its written line reads back as itself; the
    // whole written list reads back with nothing skipped.
    const ProxyLinesRead read = parseProxyLines(text);
    check(read.skipped >= 0 && read.skipped <= text.count(u'\n') + text.count(u'\r') + 1, "skipped count");
    for (const ProxyAddress &entry : read.entries) {
        check(!entry.host.isEmpty() && entry.port >= 1 && entry.port <= 65535, "an unusable entry read");
        const QString line = formatProxyLine(entry);
        const auto again = parseProxyLine(line);
        check(!line.isEmpty() && !line.contains(u'\n') && again && same(*again, entry), "a line does not read back");
    }
    const ProxyLinesRead back = parseProxyLines(formatProxyLines(read.entries));
    check(back.skipped == 0 && back.entries.size() == read.entries.size(), "the list does not read back");
    for (qsizetype i = 0; i < back.entries.size(); ++i)
        check(same(back.entries[i], read.entries[i]), "the list does not read back");
#elif defined(FUZZ_import)
    // An import reads every element or nothing; rows have a finite port and start
    // "unknown"; a written list reads back as itself and writes the same text.
    const auto imported = ListJson::read(text, ListJson::Reading::Imported);
    const auto stored = ListJson::read(text, ListJson::Reading::Stored);
    check(imported.error.isEmpty() || imported.entries.isEmpty(), "a failed import kept entries");
    check(!imported.error.isEmpty() || (stored.error.isEmpty() && stored.entries.size() == imported.entries.size()),
          "a list the import reads whole reads otherwise from the store");
    ProxyListModel model;
    check(model.appendStored(text) || stored.error.isEmpty() || model.count() == stored.entries.size(),
          "the rows before a fault were not kept");
    for (int i = 0; i < model.count(); ++i)
        check(std::isfinite(model.entry(i).port) && model.entry(i).status == QLatin1String("unknown"), "an odd row");
    for (const bool indented : { false, true }) {
        const QString written = model.toJson(indented);
        if (QString::fromUtf8(written.toUtf8()) != written)
            break; // a lone surrogate (from an escape), which no file or store can hold
        ProxyListModel again;
        check(again.appendStored(written) && again.count() == model.count() && again.toJson(indented) == written
                  && again.toJson(!indented) == model.toJson(!indented), "a written list does not read back");
    }
#elif defined(FUZZ_load)
    // loadFromFile gives what the bytes say: decoded by the leading byte-order mark's
    // decoder (UTF-8 without one; a later U+FEFF is text), the mark left out, every
    // CR dropped. Half of the inputs go by URL, as the file dialog hands them.
    const QByteArray file(bytes, qsizetype(size));
    QFile out(filePath);
    check(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file) == file.size(), "unwritable");
    out.close();
    static ProxyTest proxyTest;
    const QString read = proxyTest.loadFromFile(size % 2 ? QUrl::fromLocalFile(filePath).toString() : filePath);
    using C = QStringConverter;
    const std::pair<QByteArray, C::Encoding> marks[] = {
        { QByteArray(), C::Utf8 }, { "\xFE\xFF", C::Utf16BE }, { "\xFF\xFE", C::Utf16LE }, { "\xEF\xBB\xBF", C::Utf8 },
        { QByteArray("\0\0\xFE\xFF", 4), C::Utf32BE }, { QByteArray("\xFF\xFE\0\0", 4), C::Utf32LE } };
    int kind = 5; // the longer marks first: FF FE 00 00 also starts with FF FE
    while (kind > 0 && !file.startsWith(marks[kind].first))
        --kind;
    // Decoded whole, as the mark's own decoder skips it: decoding what follows the mark
    // alone would lose a unit cut short there, which reads as a replacement character.
    const QString expected = QString(QStringDecoder(marks[kind].second, C::Flag::Stateless).decode(file)).remove(u'\r');
    // mark x malformed x CR x 32 size classes (log2, and ending just past a multiple of 16 KiB)
    const int sizeClass = (size ? 64 - __builtin_clzll(size) : 0) % 16 + (size % 16384 < 64 ? 16 : 0);
    inputKinds[kind << 8 | int(expected.contains(QChar::ReplacementCharacter)) << 7 | int(file.contains('\r')) << 6
               | sizeClass] = 1;
    check(read == expected, "the text read is not what the file says");
#endif
    return 0;
}
