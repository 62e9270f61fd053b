#include "engine/shoutcasthandshake.h"

#include <QtTest>

// The Shoutcast source handshake as texts, without a server.
class TestShoutcastHandshake : public QObject
{
    Q_OBJECT

private slots:
    // An awkward password, name and genre: each stays on its line, as UTF-8;
    // a line break inside a value cannot start a header of its own.
    void buildsTheRequest()
    {
        QCOMPARE(shoutcastPasswordLine(QStringLiteral("p@ss:#2 \u00e9")), QByteArray("p@ss:#2 \xc3\xa9\r\n"));
        QCOMPARE(shoutcastPasswordLine(QStringLiteral("secret\r\nicy-pub:1")), QByteArray("secret  icy-pub:1\r\n"));
        const ShoutcastStream stream{QStringLiteral("Caf\u00e9 FM\nicy-pub:1"), QStringLiteral("Rock, Pop & Jazz"),
                                     QStringLiteral("http://radio.invalid/?a=1&b=2"), QString(), 128000,
                                     QStringLiteral("audio/mpeg")};
        QCOMPARE(shoutcastHeaders(stream), QByteArray("icy-name:Caf\xc3\xa9 FM icy-pub:1\r\n"
                                                      "icy-genre:Rock, Pop & Jazz\r\n"
                                                      "icy-url:http://radio.invalid/?a=1&b=2\r\n"
                                                      "icy-description:\r\n"
                                                      "icy-br:128\r\n"
                                                      "icy-pub:0\r\n"
                                                      "content-type:audio/mpeg\r\n\r\n"));
    }

    void readsTheAnswer_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("answer");

        QTest::newRow("part of the first line") << QByteArray("OK") << int(ShoutcastAnswer::Incomplete);
        QTest::newRow("accepted, as Icecast answers") << QByteArray("OK2\r\nicy-caps:11\r\n\r\n")
                                                      << int(ShoutcastAnswer::Accepted);
        QTest::newRow("refused, as a DNAS answers") << QByteArray("invalid password\r\n")
                                                    << int(ShoutcastAnswer::Refused);
        QTest::newRow("an HTTP server") << QByteArray("HTTP/1.1 400 Bad Request\r\n") << int(ShoutcastAnswer::Refused);
        QTest::newRow("garbage without a line end") << QByteArray(300, 'x') << int(ShoutcastAnswer::Refused);
    }

    void readsTheAnswer()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, answer);
        QCOMPARE(int(readShoutcastAnswer(received)), answer);
    }
};

QTEST_APPLESS_MAIN(TestShoutcastHandshake)
#include "tst_shoutcasthandshake.moc"
