#include "peer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>

Peer::Peer(const QString &mode, const QStringList &args, bool record)
    : m_scheme(mode == QLatin1String("tls-target") ? QStringLiteral("https") : QStringLiteral("http"))
{
    QStringList all = QStringList { mode } + args;
    if (record)
        all << QStringLiteral("--record") << m_dir.filePath(QStringLiteral("requests"));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(QUILLFEN_PEER), all);
    QDeadlineTimer deadline(30000);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(100);
    if (m_process.canReadLine())
        for (const QByteArray &port : m_process.readLine().trimmed().split(' '))
            m_ports << port.toUShort();
    m_port = m_ports.value(0);
    if (!m_port)
        qWarning("Peer: %s did not start", qPrintable(all.join(' ').replace(QRegularExpression("(--password) \\S+"), "\\1 <hidden>")));
}

Peer::~Peer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

QString Peer::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_scheme).arg(m_port).arg(path);
}

QByteArrayList Peer::requests() const
{
    QFile file(m_dir.filePath(QStringLiteral("requests")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList heads = file.readAll().split('\n');
    // Re-join the lines into heads: each head ends with an empty line.
    QByteArrayList out;
    QByteArray current;
    for (const QByteArray &line : heads) {
        current += line + '\n';
        if (line == "\r") {
            out << current;
            current.clear();
        }
    }
    return out;
}

void Peer::clearRequests() const
{
    QFile::remove(m_dir.filePath(QStringLiteral("requests")));
}

quint16 closedPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}
