#include "listinput.h"

#include "console.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

QString sizeLimit()
{
    return QStringLiteral("larger than %1 MiB, the limit of a list").arg(ListFile::maxBytes >> 20);
}

// Why the file cannot be read as a list, before it is opened.
QString fileFault(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (info.isDir())
        return QStringLiteral("is a folder, not a list");
    if (info.isFile())
        return info.size() > ListFile::maxBytes ? sizeLimit() : QString();
    // A device could be endless or wait for a person; a named pipe is what
    // "<(command)" gives, and is read up to the limit.
    return Console::isPipe(path) ? QString() : QStringLiteral("not a regular file or a pipe");
}

} // namespace

ListInput readListInput(const QString &file, ProxyType untyped)
{
    ListInput input;
    const bool standardInput = file == u"-";
    const QString name = standardInput ? QStringLiteral("standard input") : file;
    QFile device;
    if (standardInput) {
        if (Console::stdinIsTerminal()) {
            input.error = QStringLiteral("no list: give a FILE, or pipe a list into standard input (see --help)");
            return input;
        }
        if (!device.open(stdin, QIODevice::ReadOnly))
            input.error = device.errorString();
    } else {
        device.setFileName(file);
        input.error = fileFault(file);
        if (input.error.isEmpty() && !device.open(QIODevice::ReadOnly))
            input.error = device.errorString();
    }
    if (input.error.isEmpty()) {
        const std::optional<QByteArray> bytes = ListFile::readBytes(device);
        if (!bytes)
            input.error = sizeLimit();
        else
            input.read = ListFile::readList(ListFile::decode(*bytes), untyped);
        if (bytes && input.read.entries.isEmpty()) {
            const ListFile::Read &read = input.read;
            input.error = read.json && !read.error.isEmpty() ? QStringLiteral("not a proxy list: ") + read.error
                : read.skipped > 0 ? QStringLiteral("no proxy in the list (%1 lines skipped)").arg(read.skipped)
                                   : QStringLiteral("no proxy in the list");
        }
    }
    if (!input.error.isEmpty())
        input.error = name + QStringLiteral(": ") + input.error;
    return input;
}
