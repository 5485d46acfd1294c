#include "bodypreview.h"
#include "httpresponse.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
// What the card shows of a body read whole: trimmed, cut to 300 plus "...".
QString wholePreview(const QByteArray &body)
{
    QString text = QString::fromUtf8(body).trimmed();
    if (text.size() > 300)
        text = text.left(300) + QStringLiteral("...");
    return text;
}

// Feeds `wire` in pieces that end at the given offsets, then the end of the stream if asked.
HttpResponse parse(const QByteArray &wire, const QList<qsizetype> &cuts, bool closeAtEnd, bool headOnly = false)
{
    HttpResponse response(headOnly);
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends.append(wire.size());
    for (qsizetype end : ends) {
        response.feed(wire.constData() + from, end - from);
        from = end;
    }
    if (closeAtEnd && response.state() != HttpResponse::State::Complete)
        response.finish();
    return response;
}
} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void framings_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("closeAtEnd");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");

        QTest::newRow("length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n  hi  \nextra") << false << 200
                                << "hi";
        QTest::newRow("chunked") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                               "4;ext=1\r\nWiki\r\n5\r\npedia\r\n0\r\nX-Trailer: 1\r\n\r\n")
                                 << false << 200 << "Wikipedia";
        QTest::newRow("close-delimited") << QByteArray("HTTP/1.0 200 OK\nServer: x\n\nuntil the end") << true << 200
                                         << "until the end";
        QTest::newRow("interim answer first") << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\n"
                                                            "Content-Length: 2\r\n\r\nno")
                                              << false << 404 << "no";
        QTest::newRow("no reason, no body") << QByteArray("HTTP/1.1 204\r\nContent-Length: 99\r\n\r\n") << false << 204
                                            << "";
    }

    // Every way of splitting the bytes gives the same answer.
    void framings()
    {
        QFETCH(QByteArray, wire);
        QFETCH(bool, closeAtEnd);
        QFETCH(int, status);
        QFETCH(QString, body);
        for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
            const HttpResponse response = parse(wire, { cut }, closeAtEnd);
            QVERIFY2(response.state() == HttpResponse::State::Complete, qPrintable(QString::number(cut)));
            QCOMPARE(response.status(), status);
            QCOMPARE(response.body(), body);
        }
        const HttpResponse bytewise = parse(wire, [&] {
            QList<qsizetype> cuts;
            for (qsizetype i = 1; i < wire.size(); ++i)
                cuts.append(i);
            return cuts;
        }(), closeAtEnd);
        QCOMPARE(bytewise.body(), body);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("closeAtEnd");

        QTest::newRow("garbage status line") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n") << false;
        QTest::newRow("garbage without a line end") << QByteArray("\x16\x03\x01\x02\x00", 5) << false;
        QTest::newRow("status without code") << QByteArray("HTTP/1.1 OK\r\n\r\n") << false;
        QTest::newRow("bad chunk size") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << false;
        QTest::newRow("chunk size overflow")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffff\r\n") << false;
        QTest::newRow("bad content length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n") << false;
        QTest::newRow("body cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc") << true;
        QTest::newRow("closed in the head") << QByteArray("HTTP/1.1 200 OK\r\nServer:") << true;
        QTest::newRow("closed at once") << QByteArray() << true;
        QTest::newRow("endless header line") << QByteArray("HTTP/1.1 200 OK\r\nX: ") + QByteArray(1 << 20, 'a') << false;
        QTest::newRow("endless header section")
            << QByteArray("HTTP/1.1 200 OK\r\n") + QByteArray("X-A: b\r\n").repeated(50000) << false;
    }

    void failures()
    {
        QFETCH(QByteArray, wire);
        QFETCH(bool, closeAtEnd);
        const HttpResponse response = parse(wire, {}, closeAtEnd);
        QCOMPARE(response.state(), HttpResponse::State::Failed);
        QVERIFY(!response.error().isEmpty());
    }

    void tunnelAnswerEndsWithItsHead()
    {
        const QByteArray wire("HTTP/1.1 200 Connection established\r\n\r\n\x16\x03\x01");
        HttpResponse response(true);
        const qsizetype used = response.feed(wire.constData(), wire.size());
        QCOMPARE(response.state(), HttpResponse::State::Complete);
        QCOMPARE(used, wire.size() - 3); // the TLS bytes are left for the TLS socket
    }

    void redirectKeepsLocation()
    {
        const HttpResponse response = parse("HTTP/1.1 302 Found\r\nlocation: /next\r\nContent-Length: 0\r\n\r\n", {}, false);
        QCOMPARE(response.status(), 302);
        QCOMPARE(response.location(), QByteArray("/next"));
    }

    // The bounded preview must show what reading the whole body would show.
    void previewMatchesWholeBody()
    {
        QRandomGenerator random(20261206);
        const QList<QByteArray> pieces { " ", "\n", "\t", "a", "Ж", "\xF0\x9F\x98\x80", "\xC2\xA0", "\xE2\x80\x83",
                                         "\xFF", "\xE2\x82", "<b>" };
        for (int round = 0; round < 3000; ++round) {
            QByteArray body;
            const int length = int(random.bounded(0, round % 10 == 0 ? 2000 : 320));
            for (int i = 0; i < length; ++i)
                body += pieces.at(random.bounded(int(pieces.size())));
            BodyPreview preview;
            qsizetype from = 0;
            while (from < body.size()) {
                const qsizetype size = qMin<qsizetype>(random.bounded(1, 64), body.size() - from);
                preview.append(body.constData() + from, size);
                from += size;
            }
            preview.finish();
            QCOMPARE(preview.text(), wholePreview(body));
        }
    }

    void previewOfExactLengths()
    {
        for (int length : { 0, 299, 300, 301 }) {
            const QByteArray body = "\r\n  " + QByteArray(length, 'x') + " \n";
            BodyPreview preview;
            preview.append(body.constData(), body.size());
            preview.finish();
            QCOMPARE(preview.text(), wholePreview(body));
        }
    }
};

QTEST_APPLESS_MAIN(TestHttp)
#include "tst_http.moc"
