// libFuzzer target: ProxyTest::loadFromFile over any file content. The input
// is written to a file and read back; the text must be what the file's bytes
// say: decoded by the encoding of a leading byte-order mark (UTF-8 without
// one), the mark left out, every carriage return dropped. The decoding happens
// in Qt, which is not instrumented: the kind of input is fed back to libFuzzer
// as extra counters.
#include "proxytest.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

__attribute__((used, section("__libfuzzer_extra_counters"))) uint8_t inputKinds[2048];

ProxyTest *proxyTest = nullptr;
QString filePath;

// Decoded by the mark's own decoder, which keeps any later U+FEFF as text; a
// sequence cut short at the end is a replacement character.
QString expectedText(const QByteArray &bytes, int *kind)
{
    using C = QStringConverter;
    const std::pair<QByteArray, C::Encoding> marks[] = {
        { QByteArray(), C::Utf8 }, { "\xFE\xFF", C::Utf16BE }, { "\xFF\xFE", C::Utf16LE }, { "\xEF\xBB\xBF", C::Utf8 },
        { QByteArray("\0\0\xFE\xFF", 4), C::Utf32BE }, { QByteArray("\xFF\xFE\0\0", 4), C::Utf32LE } };
    *kind = 5; // the longer marks first: FF FE 00 00 also starts with FF FE
    while (*kind > 0 && !bytes.startsWith(marks[*kind].first))
        --*kind;
    const QByteArray &mark = marks[*kind].first;
    QStringDecoder decoder(marks[*kind].second, C::Flag::Stateless | C::Flag::ConvertInitialBom);
    return QString(decoder.decode(bytes.mid(mark.size()))).remove(QLatin1Char('\r'));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    (void)argc;
    static QCoreApplication app(qtArgc, qtArgv);
    static QTemporaryDir dir;
    static ProxyTest instance;
    if (!dir.isValid())
        std::abort();
    proxyTest = &instance;
    filePath = dir.filePath(QStringLiteral("list.json"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(filePath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            std::abort();
    }
    // Half of the inputs by URL, as the file dialog hands it over.
    const QString argument = size % 2 ? QUrl::fromLocalFile(filePath).toString() : filePath;
    const QString text = proxyTest->loadFromFile(argument);
    int kind = 0;
    const QString expected = expectedText(bytes, &kind);
    // 8 encodings x malformed x carriage return x 32 size classes (log2, and
    // whether the end falls just past a multiple of 16 KiB).
    const int sizeClass = (size ? 64 - __builtin_clzll(size) : 0) % 16 + (size % 16384 < 64 ? 16 : 0);
    const bool malformed = expected.contains(QChar::ReplacementCharacter);
    inputKinds[kind << 8 | int(malformed) << 7 | int(bytes.contains('\r')) << 6 | sizeClass] = 1;
    if (text != expected) {
        std::fprintf(stderr, "read %lld characters, expected %lld\n", qlonglong(text.size()), qlonglong(expected.size()));
        std::abort();
    }
    return 0;
}
