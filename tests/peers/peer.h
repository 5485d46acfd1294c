#pragma once

// Peer starts tests/peers' quillfen-peer (peer.py: its modes and options) for a test, and
// stops it when destroyed; with record, every request head the peer receives is kept.

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

class Peer
{
public:
    explicit Peer(const QString &mode, const QStringList &args = {}, bool record = false)
        : m_scheme(mode == "tls-target" ? "https" : "http")
    {
        const QStringList all = QStringList { mode } + args + (record ? QStringList { "--record", m_dir.filePath("requests") } : QStringList());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QUILLFEN_PEER, all);
        for (QDeadlineTimer deadline(30000); !m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired();)
            m_process.waitForReadyRead(100);
        for (const QByteArray &port : m_process.canReadLine() ? m_process.readLine().trimmed().split(' ') : QByteArrayList())
            m_ports << port.toUShort();
        if (!isRunning())
            qWarning("Peer: %s did not start", qPrintable(QString(all.join(' ')).replace(QRegularExpression("(--password) \\S+"), "\\1 <hidden>")));
    }
    ~Peer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill(), m_process.waitForFinished(5000);
    }

    bool isRunning() const { return port() != 0; }
    quint16 port() const { return m_ports.value(0); }
    QList<quint16> ports() const { return m_ports; } // all of them, with --count N
    QString url(const QString &path = "/test.php") const { return QString("%1://127.0.0.1:%2%3").arg(m_scheme).arg(port()).arg(path); }

    QByteArrayList requests() const // heads received so far, oldest first, each with its empty line
    {
        QFile file(m_dir.filePath("requests"));
        const QByteArray all = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QByteArrayList heads;
        for (qsizetype from = 0, end; (end = all.indexOf("\r\n\r\n", from)) >= 0; from = end + 4)
            heads << all.mid(from, end + 4 - from);
        return heads;
    }

private:
    QTemporaryDir m_dir;
    QString m_scheme;
    QProcess m_process;
    QList<quint16> m_ports;
};

// A loopback port that nothing listens on.
inline quint16 closedPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}
