#pragma once

#include "listjson.h"
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
    QList<ListEntry> entries;
    qsizetype skipped { 0 }; // lines that do not read
    qsizetype duplicates { 0 }; // lines that name a proxy read before
    QList<qsizetype> firstSkipped; // the line numbers (from 1) of the first few skipped lines
    bool json { false }; // read as JSON, or failed as JSON: then `error` is the JSON reader's
    QString error; // why no entry could be read; empty when some could, or when a JSON list is empty
};

// JSON when the first non-blank character is "[" or "{" and the text parses
// (the import reader: the whole list or nothing); lines otherwise ("[::1]:8080"
// starts with "[" too), those without a type read as `untyped`. Either way at
// most ProxyLineLimits::maxEntries entries.
Read readList(const QString &text, ProxyType untyped = ProxyType::Http);

} // namespace ListFile
