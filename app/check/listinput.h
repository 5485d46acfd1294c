#pragma once

#include "listfile.h"

#include <QString>

// The list quillfen-check tests, read as the window imports a file: from FILE
// (a regular file, or a named pipe such as "<(command)" gives), or from
// standard input for "-", at most ListFile::maxBytes, as JSON or lines.
struct ListInput
{
    ListFile::Read read;
    QString error; // one line for standard error; empty when the list has a proxy
};

ListInput readListInput(const QString &file, ProxyType untyped);
