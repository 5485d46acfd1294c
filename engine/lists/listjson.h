#pragma once

#include "proxyaddress.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// A row of a proxy list: the proxy itself and what its last test showed. The
// port is kept as the number it was given, so that a list read from a file is
// written back as it was read.
struct ListEntry
{
    ProxyAddress proxy;
    double port { 0 };
    QString status { QStringLiteral("unknown") };
    QString response;
    int latency { -1 };
    int runIndex { -1 }; // its index in the last run, while it holds the proxy that run tested
    // What the last run's answer showed of the proxy (never stored): its level
    // ("transparent", "anonymous", "elite" or empty), country and exit address.
    QString anonymity;
    QString country;
    QString exitAddress;
    bool altered { false }; // the body differed from the target's own
};

// The proxy list JSON: an array of {host, port, type?, user?, password?},
// compact in the settings store, indented by four spaces in files, written
// character for character as the pages' script engine wrote it before.
namespace ListJson {

// A host is text: a number or a boolean becomes its text, anything else none.
QString hostFrom(const QJsonValue &value);
// A port is a finite number: a text is read as a number, and anything else,
// or what names no number, is 0.
double portFrom(const QJsonValue &value);
// The port handed to a run: the whole number a list map would carry, of
// which the probe takes the low 16 bits.
int portNumber(double port);
// The port as the pages see it: a whole number where it is one.
QVariant portVariant(double port);

// A row as the pages hand it over: the members read as a stored list reads
// them, status and response as given.
ListEntry entryFromMap(QVariantMap map);

QString write(const QList<ListEntry> &rows, bool indented);

// Reading: the entries of a list, or nothing and the reason. A stored list
// keeps what it read before a fault and reads a value that is neither a list
// nor null as no entries (an object with a numeric length as a script would);
// an imported list must be a list whose every element can be read.
struct ReadResult
{
    QList<ListEntry> entries;
    QString error; // empty when the whole text was read
    bool unparsed { false }; // the error is the parser's
    bool tooLong { false }; // more proxies than a list may hold
};
enum class Reading { Stored, Imported };
ReadResult read(const QString &text, Reading reading);

} // namespace ListJson
