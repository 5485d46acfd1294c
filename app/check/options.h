#pragma once

#include "proxyaddress.h"

#include <QString>
#include <QStringList>

// What quillfen-check is asked to do; the defaults are those of its manual page.
struct CheckOptions
{
    enum class Format { Text, Json, Csv };

    QString file { QStringLiteral("-") }; // "-": standard input
    QString targetUrl; // no default: a run goes where the user says
    int timeoutMs { 10000 };
    QString expectedText;
    QString countryDb; // a MaxMind DB file: the country of each working proxy's exit address
    bool avoidCache { true };
    ProxyType untyped { ProxyType::Http }; // the type of lines that name none
    Format format { Format::Text };
    bool all { false }; // every proxy, not only the working ones
    bool byLatency { true };
    bool quiet { false };
};

struct ParsedOptions
{
    CheckOptions options;
    // -1: run. Otherwise the status to exit with at once: 0 after --help or
    // --version (written to standard output), 2 after a usage error (one line
    // on standard error).
    int exitStatus { -1 };
};

ParsedOptions parseOptions(const QStringList &arguments);

// "quillfen-check: <text>" on standard error.
void complain(const QString &text);
