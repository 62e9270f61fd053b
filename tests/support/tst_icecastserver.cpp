#include "httpget.h"
#include "icecastserver.h"

#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

class TestIcecastServer : public QObject
{
    Q_OBJECT

private slots:
    void answersOnLoopbackOnly();
    void adminNeedsItsCredentials();
    void keepsItsPortAcrossRestarts();
    void stopsWhenGone();
};

void TestIcecastServer::answersOnLoopbackOnly()
{
    IcecastServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.port() > 0);
    const HttpReply status = httpGet(server.url(QStringLiteral("/status-json.xsl")));
    QCOMPARE(status.status, 200);
    QVERIFY(status.body.contains("icestats"));
    QVERIFY(server.mountStatus(QStringLiteral("/live")).isEmpty());
}

void TestIcecastServer::adminNeedsItsCredentials()
{
    IcecastServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QUrl stats = server.url(QStringLiteral("/admin/stats"));
    QCOMPARE(httpGet(stats, 5000, "admin", "wrong").status, 401);
    QCOMPARE(httpGet(stats, 5000, server.adminUser().toUtf8(), server.adminPassword().toUtf8()).status, 200);
}

void TestIcecastServer::keepsItsPortAcrossRestarts()
{
    IcecastServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const quint16 port = server.port();
    server.stop();
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!probe.waitForConnected(1000));
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(server.port(), port);
    QCOMPARE(httpGet(server.url(QStringLiteral("/status-json.xsl"))).status, 200);
}

void TestIcecastServer::stopsWhenGone()
{
    quint16 port = 0;
    {
        IcecastServer server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        port = server.port();
    }
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!probe.waitForConnected(1000));
}

QTEST_GUILESS_MAIN(TestIcecastServer)
#include "tst_icecastserver.moc"
