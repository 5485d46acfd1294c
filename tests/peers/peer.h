#pragma once

// Starts tests/peers' quillfen-peer (or tinyproxy through it) for a test, on a free
// loopback port, and stops it when destroyed.

#include <QByteArrayList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class Peer
{
public:
    // mode: target, tls-target, record-proxy, auth-proxy, silent, tinyproxy (see peer.cpp).
    // With record, every request head the peer receives is kept for requests().
    explicit Peer(const QString &mode, const QStringList &args = {}, bool record = false);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool isRunning() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QList<quint16> ports() const { return m_ports; } // all of them, with --count N
    QString url(const QString &path = QStringLiteral("/test.php")) const;

    QByteArrayList requests() const; // heads received so far, oldest first
    void clearRequests() const;

private:
    QProcess m_process;
    QTemporaryDir m_dir;
    QString m_scheme;
    quint16 m_port = 0;
    QList<quint16> m_ports;
};

// A loopback port that nothing listens on.
quint16 closedPort();
