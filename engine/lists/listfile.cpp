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
    const QStringView start = QStringView(text).trimmed();
    read.json = start.startsWith(u'[') || start.startsWith(u'{');
    if (read.json) {
        ListJson::ReadResult json = ListJson::read(text, ListJson::Reading::Imported);
        read.entries = std::move(json.entries);
        read.error = json.error;
        if (!json.unparsed)
            return read;
    }
    const ProxyLinesRead lines = parseProxyLines(text, untyped);
    read.skipped = lines.skipped;
    read.duplicates = lines.duplicates;
    read.firstSkipped = lines.firstSkipped;
    if (lines.entries.isEmpty()) {
        if (read.error.isEmpty())
            read.error = QStringLiteral("no line names a proxy");
        return read;
    }
    read.json = false;
    read.error.clear();
    read.entries.reserve(lines.entries.size());
    for (const ProxyAddress &proxy : lines.entries)
        read.entries.append({ proxy, double(proxy.port) });
    return read;
}

} // namespace ListFile
