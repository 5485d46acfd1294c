// libFuzzer target: ProxyTest::loadFromFile over any file content. The input
// is written to a file and read back; the text must be what the file's bytes
// say: decoded by the encoding of a leading byte-order mark (UTF-8 without
// one), the mark left out, every carriage return dropped. The expected text
// comes from QString's own conversions, not from a decoder like the program's.
//
// The decoding happens in Qt, which is not instrumented: the kind of input
// (encoding, malformed sequences, carriage returns, size class) is fed back to
// libFuzzer as extra counters.
#include "proxytest.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((used, section("__libfuzzer_extra_counters"))) uint8_t inputKinds[2048];

ProxyTest *proxyTest = nullptr;
QString filePath;

// QString's conversions drop a byte-order mark at the start of what they are
// given; a mark after the one that chose the encoding is text (U+FEFF). So
// each conversion below is given one character more in front, then cut off.

// Code units of width bytes each, in the given byte order; a cut-off unit at
// the end is a replacement character.
template<typename Unit>
QString units(const QByteArray &bytes, bool bigEndian, QString (*decode)(const Unit *, qsizetype))
{
    QList<Unit> list { Unit('x') };
    const qsizetype whole = bytes.size() / qsizetype(sizeof(Unit));
    for (qsizetype i = 0; i < whole; ++i) {
        Unit unit = 0;
        for (size_t b = 0; b < sizeof(Unit); ++b) {
            const Unit byte = uchar(bytes[i * qsizetype(sizeof(Unit)) + qsizetype(b)]);
            unit |= byte << (8 * (bigEndian ? sizeof(Unit) - 1 - b : b));
        }
        list.append(unit);
    }
    QString text = decode(list.constData(), list.size()).mid(1);
    if (bytes.size() % qsizetype(sizeof(Unit)))
        text += QChar::ReplacementCharacter;
    return text;
}

QString fromUtf16(const char16_t *units, qsizetype size) { return QString::fromUtf16(units, size); }
QString fromUcs4(const char32_t *units, qsizetype size) { return QString::fromUcs4(units, size); }

// The text that the bytes hold, decoded without the program's decoder.
QString expectedText(const QByteArray &bytes, int *kind)
{
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        *kind = 1;
        text = QString::fromUtf8("x" + bytes.mid(3)).mid(1);
    } else if (bytes.startsWith(QByteArray("\xFF\xFE\0\0", 4))) {
        *kind = 2;
        text = units<char32_t>(bytes.mid(4), false, fromUcs4);
    } else if (bytes.startsWith(QByteArray("\0\0\xFE\xFF", 4))) {
        *kind = 3;
        text = units<char32_t>(bytes.mid(4), true, fromUcs4);
    } else if (bytes.startsWith("\xFF\xFE")) {
        *kind = 4;
        text = units<char16_t>(bytes.mid(2), false, fromUtf16);
    } else if (bytes.startsWith("\xFE\xFF")) {
        *kind = 5;
        text = units<char16_t>(bytes.mid(2), true, fromUtf16);
    } else {
        *kind = 0;
        text = QString::fromUtf8("x" + bytes).mid(1);
    }
    return text.remove(QLatin1Char('\r'));
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
