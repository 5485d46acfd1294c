#pragma once

#include <QByteArray>
#include <QString>

// Small pieces of the texts that go over the wire, shared by the answer
// reader, the request writer and the list reader.

// The value of one hexadecimal digit, or -1 for any other character.
inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// RFC 7617: "Basic" and the UTF-8 of "user:password" in Base64, for a
// Proxy-Authorization or Authorization field.
inline QByteArray basicCredentials(const QString &user, const QString &password)
{
    return "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}
