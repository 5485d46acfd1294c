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
    // loadFromFile gives what the bytes say. Odd inputs: a text made from the input, written here by hand in
    // the encoding the first byte chooses, behind that encoding's byte-order mark (UTF-8 also without one) and
    // with its line feeds as CR LF or not: it must come back whole, the mark and every CR left out, a later
    // U+FEFF kept as text. Even inputs: the raw bytes, which must come back without a CR. Half of the inputs
    // go by URL, as the file dialog hands them.
    QByteArray file(bytes, qsizetype(size));
    QString expected;
    if (size % 2 && size > 0) {
        const int kind = data[0] % 6, width = kind < 2 ? 1 : kind < 4 ? 2 : 4; // none/UTF-8, UTF-16 BE/LE, UTF-32 BE/LE
        const bool bigEndian = kind == 2 || kind == 4, crlf = data[0] & 8;
        const char *marks[] = { "", "\xEF\xBB\xBF", "\xFE\xFF", "\xFF\xFE", "\0\0\xFE\xFF", "\xFF\xFE\0\0" };
        file = QByteArray(marks[kind], kind < 4 ? qsizetype(std::strlen(marks[kind])) : 4);
        auto put = [&](char32_t c) {
            char unit[4];
            int n = 0;
            if (width == 1) { // UTF-8
                if (c < 0x80) unit[n++] = char(c);
                else if (c < 0x800) unit[n++] = char(0xC0 | c >> 6), unit[n++] = char(0x80 | (c & 0x3F));
                else if (c < 0x10000) unit[n++] = char(0xE0 | c >> 12), unit[n++] = char(0x80 | (c >> 6 & 0x3F)), unit[n++] = char(0x80 | (c & 0x3F));
                else unit[n++] = char(0xF0 | c >> 18), unit[n++] = char(0x80 | (c >> 12 & 0x3F)), unit[n++] = char(0x80 | (c >> 6 & 0x3F)), unit[n++] = char(0x80 | (c & 0x3F));
                file.append(unit, n);
                return;
            }
            const auto word = [&](quint32 w, int bytesWide) {
                for (int i = 0; i < bytesWide; ++i)
                    file.append(char(w >> 8 * (bigEndian ? bytesWide - 1 - i : i)));
            };
            if (width == 4) word(c, 4);
            else if (c < 0x10000) word(c, 2);
            else word(0xD800 + ((c - 0x10000) >> 10), 2), word(0xDC00 + ((c - 0x10000) & 0x3FF), 2);
        };
        for (size_t i = 1; i + 2 < size; i += 3) { // three bytes a character; surrogates, which no encoding carries, become U+FFFD
            char32_t c = (char32_t(data[i]) << 16 | data[i + 1] << 8 | data[i + 2]) % 0x110000;
            c = c >= 0xD800 && c < 0xE000 ? 0xFFFD : (data[i] & 0x80) ? c % 0x80 : c; // many ASCII characters: CR and LF often
            if (i == 1 && kind == 3 && c == 0) // FF FE 00 00 is UTF-32LE's mark: such a file is read as UTF-32
                c = 'x';
            if (c == '\n' && crlf)
                put('\r');
            put(c);
            if (c != '\r' && c < 0x10000)
                expected += QChar(c);
            else if (c != '\r')
                expected += QChar(QChar::highSurrogate(c)), expected += QChar(QChar::lowSurrogate(c));
        }
        if (kind == 0 && expected.startsWith(QChar(0xFEFF))) // without a mark, a leading U+FEFF is taken for one
            expected.remove(0, 1);
    }
    QFile out(filePath);
    check(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file) == file.size(), "unwritable");
    out.close();
    static ProxyTest proxyTest;
    const QString read = proxyTest.loadFromFile(size % 4 < 2 ? QUrl::fromLocalFile(filePath).toString() : filePath);
    if (size % 2 && size > 0)
        check(read == expected, "the text read is not the text written");
    else
        check(!read.contains(u'\r') && (read.isEmpty() || file.size() > 0), "a carriage return was kept");
#endif
    return 0;
}
