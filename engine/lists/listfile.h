#pragma once

#include "proxyaddress.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QIODevice;

// A proxy list file as the program reads it: at most maxBytes, decoded as a
// text stream would decode it, then read as a JSON list or as lines.
namespace ListFile {

// A list of even 200,000 entries stays far below this. A larger file, or a
// device that never ends, counts as unreadable instead of filling the memory.
constexpr qint64 maxBytes = 32 * 1024 * 1024;

// Everything the device holds, or nothing when that is more than maxBytes.
std::optional<QByteArray> readBytes(QIODevice &device);

// A leading byte-order mark chooses the encoding (UTF-8 without one) and is
// left out; every carriage return is dropped.
QString decode(const QByteArray &bytes);

struct Read
{
    QList<ProxyAddress> entries;
    qsizetype skipped { 0 }; // lines that do not read, and JSON elements past the cap
    bool json { false };
    QString error; // why no entry could be read; empty when some could
};

// JSON when the first non-blank character is "[" and the text reads as a
// proxy list (the import reader, the whole list or nothing); lines otherwise
// ("[::1]:8080" starts with "[" too), those without a type read as `untyped`.
// Either way at most ProxyLineLimits::maxEntries entries.
Read readList(const QString &text, ProxyType untyped = ProxyType::Http);

} // namespace ListFile
