#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringView>

#include <optional>

// A judge is a target page that echoes the request it received: the address
// the request came from and its header fields. Two forms are in common use:
//   - a CGI environment dump, one variable a line, "NAME = value" or
//     "NAME: value" (REMOTE_ADDR, and HTTP_X_FORWARDED_FOR for the field
//     X-Forwarded-For), often with HTML around the lines (<pre>, <br>);
//   - a JSON object with "origin" or "ip" and a "headers" object, as
//     {"origin": "1.2.3.4", "headers": {"Via": "1.1 cache"}}.
// The body comes from a proxy and is untrusted: it is read in one pass, in
// time and memory linear in its size.
struct JudgeEcho
{
    // The address the request came from as the judge saw it; null when the
    // judge named nothing that is an IP literal.
    QHostAddress client;
    // Further addresses the judge named for the request (a JSON origin
    // "a, b", a REMOTE_ADDR given twice): proxies on the way.
    QList<QHostAddress> forwarders;
    // The request's fields by canonical name ("X-Forwarded-For"); a field
    // given twice has its values joined by ", ", as HTTP joins them.
    QMap<QString, QString> headers;

    QString header(QStringView name) const;
};

// The judge echo a body holds, or nothing when it is not a judge answer: a
// CGI dump needs a REMOTE_ADDR line, a JSON object an "origin" or "ip" string
// and a "headers" object.
std::optional<JudgeEcho> parseJudgeAnswer(const QByteArray &body);

// "x-FORWARDED-for" and "X_FORWARDED_FOR" as "X-Forwarded-For".
QString canonicalFieldName(QStringView name);

// An IPv4 address as four decimal numbers (no short forms, no leading zeros,
// which some readers take for octal) or an IPv6 address without a zone.
std::optional<QHostAddress> ipLiteral(QStringView text);

// Every IP literal in a text that stands as a whole: 127.0.0.10 holds no
// 127.0.0.1; "for=127.0.0.1:3128" and "[::1]:80" hold one each.
QList<QHostAddress> addressesIn(QStringView text);
