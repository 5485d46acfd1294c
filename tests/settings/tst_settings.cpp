#include "peer.h"
#include "proxytest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQuickTest>

// What the pages write to the log, for the tests to read back. It taps the
// messages from its first use on, when the test logger's handler is in place
// (which then prints them as usual).
class LogTap : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QStringList take()
    {
        if (!s_tap) {
            s_tap = this;
            s_previous = qInstallMessageHandler(&LogTap::record);
        }
        return std::exchange(m_lines, {});
    }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg)
            s_tap->m_lines << message;
        s_previous(type, context, message);
    }
    static inline LogTap *s_tap = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
    QStringList m_lines;
};

// The settings store of the main window, kept in a temporary folder.
class Store : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QVariant value(const QString &key) const { return QSettings().value(group + key); }
    Q_INVOKABLE void setValue(const QString &key, const QVariant &value) { QSettings().setValue(group + key, value); }

private:
    const QString group = QStringLiteral("ProxyConfig/");
};

// Writes test files too large to spell out, and reads the process's memory.
class Bulk : public QObject
{
    Q_OBJECT
public:
    // head, then unit count times, then tail; each character one byte (Latin-1).
    Q_INVOKABLE bool write(const QUrl &url, const QString &head, const QString &unit, int count,
                           const QString &tail) const
    {
        QFile file(url.toLocalFile());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write(head.toLatin1());
        const QByteArray chunk = unit.toLatin1().repeated(qMax(1, (1 << 20) / qMax(1, int(unit.size()))));
        const int perChunk = unit.isEmpty() ? count : chunk.size() / unit.size();
        for (int left = count; left > 0; left -= perChunk)
            file.write(left >= perChunk ? chunk : unit.toLatin1().repeated(left));
        file.write(tail.toLatin1());
        return file.error() == QFileDevice::NoError;
    }
    // Peak resident memory since the last resetPeak(), in KiB.
    Q_INVOKABLE qint64 peakKb() const { return status("VmHWM:"); }
    Q_INVOKABLE qint64 currentKb() const { return status("VmRSS:"); }
    Q_INVOKABLE void resetPeak() const
    {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (refs.open(QIODevice::WriteOnly))
            refs.write("5");
    }
    Q_INVOKABLE qint64 elapsedMs() const { return m_clock.elapsed(); }

private:
    static qint64 status(const char *field)
    {
        QFile file(QStringLiteral("/proc/self/status"));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
        }
        return -1;
    }
    QElapsedTimer m_clock = [] { QElapsedTimer t; t.start(); return t; }();
};

class Setup : public QObject
{
    Q_OBJECT
public:
    Setup() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
        QQuickStyle::setStyle(QStringLiteral("Basic"));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("proxyTest"), &m_proxyTest);
        context->setContextProperty(QStringLiteral("logTap"), &m_log);
        context->setContextProperty(QStringLiteral("store"), &m_store);
        context->setContextProperty(QStringLiteral("filesDir"), QUrl::fromLocalFile(m_files.path()).toString());
        context->setContextProperty(QStringLiteral("closedPort"), closedPort());
        context->setContextProperty(QStringLiteral("bulk"), &m_bulk);
    }

private:
    QTemporaryDir m_config;
    QTemporaryDir m_files;
    ProxyTest m_proxyTest;
    LogTap m_log;
    Store m_store;
    Bulk m_bulk;
};

QUICK_TEST_MAIN_WITH_SETUP(settings, Setup)
#include "tst_settings.moc"
