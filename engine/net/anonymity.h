#pragma once

#include "judge.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>

// How much a proxy gives away of the client behind it, read from what a judge
// echoed of a request through it and of the run's direct request:
//   transparent  the client's own address, in the echoed client address or a
//                field other than Host (the target's address in Host says
//                nothing about the proxy);
//   anonymous    not that, but the request carries fields that reveal a proxy
//                (Via, X-Forwarded-For, Forwarded, ...) and that the direct
//                request did not carry, or the judge named proxies on the way;
//   elite        neither.
enum class Anonymity { Transparent, Anonymous, Elite };

const char *anonymityName(Anonymity level); // "transparent", "anonymous", "elite"

// The addresses that are the client's own: the one the judge saw for the
// direct request, and those of the machine's network interfaces.
QList<QHostAddress> ownAddresses(const JudgeEcho &direct);

Anonymity anonymityOf(const JudgeEcho &proxied, const JudgeEcho &direct, const QList<QHostAddress> &own);

// The fields that reveal that a proxy carried the request.
bool revealsProxy(const QString &canonicalName);

// Every probe's request carries a marker of its own in this field, so that a
// proxy that replays an echo it fetched earlier is told from a working one.
inline constexpr char probeMarkerField[] = "X-Quillfen-Probe";

// 16 hexadecimal digits from the system's random source.
QByteArray newProbeMarker();

// The echo holds the marker, as the one value of the field.
bool carriesMarker(const JudgeEcho &echo, const QByteArray &marker);
