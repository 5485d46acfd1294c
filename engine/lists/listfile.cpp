#include "listfile.h"

#include "listjson.h"
#include "proxylines.h"

#include <QIODevice>
#include <QStringDecoder>

namespace ListFile {

std::optional<QByteArray> readBytes(QIODevice &device)
{
    if (device.size() > maxBytes)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(device.size());
    char piece[64 * 1024];
    for (qint64 n = 0; bytes.size() <= maxBytes && (n = device.read(piece, sizeof piece)) > 0;)
        bytes.append(piece, n);
    if (bytes.size() > maxBytes)
        return std::nullopt;
    return bytes;
}

QString decode(const QByteArray &bytes)
{
    // Decoded in one piece, as a text stream in text mode would decode it.
    // (A text stream decodes 16 KiB at a time, and Qt 6.4 then loses the
    // character that follows a malformed sequence at the end of a piece.) A
    // sequence cut short by the end of the file reads as a replacement
    // character, like any malformed one.
    const auto encoding = QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
    QString text = QStringDecoder(encoding, QStringConverter::Flag::Stateless).decode(bytes);
    text.remove(QLatin1Char('\r'));
    return text;
}

Read readList(const QString &text, ProxyType untyped)
{
    Read read;
    QString jsonError;
    if (QStringView(text).trimmed().startsWith(u'[')) {
        ListJson::ReadResult json = ListJson::read(text, ListJson::Reading::Imported);
        if (json.error.isEmpty()) {
            read.json = true;
            if (json.entries.isEmpty())
                read.error = QStringLiteral("no proxy in the list");
            const qsizetype taken = qMin(json.entries.size(), ProxyLineLimits::maxEntries);
            read.skipped = json.entries.size() - taken;
            read.entries.reserve(taken);
            for (qsizetype i = 0; i < taken; ++i)
                read.entries.append(std::move(json.entries[i].proxy));
            return read;
        }
        jsonError = json.error;
    }
    ProxyLinesRead lines = parseProxyLines(text, untyped);
    read.entries = std::move(lines.entries);
    read.skipped = lines.skipped;
    if (read.entries.isEmpty()) {
        read.error = !jsonError.isEmpty() ? QStringLiteral("not a proxy list: %1").arg(jsonError)
            : read.skipped > 0            ? QStringLiteral("no proxy in the list (%1 lines skipped)").arg(read.skipped)
                                          : QStringLiteral("no proxy in the list");
    }
    return read;
}

} // namespace ListFile
