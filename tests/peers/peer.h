#pragma once

// Peer starts tests/peers' quillfen-peer (peer.py: its modes and options) for a test and stops it
// when destroyed; with record, every request head the peer receives is kept for requests().

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

class Peer
{
public:
    explicit Peer(const QString &mode, const QStringList &args = {}, bool record = false)
        : m_scheme(mode == "tls-target" ? "https" : "http")
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QUILLFEN_PEER, QStringList { mode } + args + (record ? QStringList { "--record", m_dir.filePath("requests") } : QStringList()));
        for (QDeadlineTimer deadline(30000); !m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired();)
            m_process.waitForReadyRead(100);
        for (const QByteArray &port : m_process.canReadLine() ? m_process.readLine().trimmed().split(' ') : QByteArrayList())
            m_ports << port.toUShort();
        if (!isRunning())
            qWarning("Peer: %s did not start", qPrintable(mode)); // without its arguments: they may hold a password
    }
    ~Peer() { m_process.terminate(); m_process.waitForFinished(10000); } // then QProcess kills it if need be

    bool isRunning() const { return port() != 0; }
    quint16 port() const { return m_ports.value(0); }
    QList<quint16> ports() const { return m_ports; } // all of them, with --count N
    QString url(const QString &path = "/test.php") const { return QString("%1://127.0.0.1:%2%3").arg(m_scheme).arg(port()).arg(path); }
    QByteArrayList requests() const // the heads received so far, oldest first, each with its empty line
    {
        QFile file(m_dir.filePath("requests"));
        QByteArrayList heads = (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\0');
        return heads.mid(0, heads.size() - 1); // the peer ends each with a \0
    }
    void clearRequests() const { QFile::remove(m_dir.filePath("requests")); }

private:
    QTemporaryDir m_dir;
    QString m_scheme;
    QProcess m_process;
    QList<quint16> m_ports;
};

inline quint16 closedPort() // a loopback port that nothing listens on
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}
