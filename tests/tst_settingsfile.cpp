#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &fileName)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(fileName).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void ownerOnlyAfterQtRewrites_data();
    void ownerOnlyAfterQtRewrites();
};

void TestSettingsFile::ownerOnlyAfterQtRewrites_data()
{
    QTest::addColumn<int>("existingMode"); // 0: no file and no folder yet
    QTest::addColumn<QByteArray>("existingContent");

    QTest::newRow("missing") << 0 << QByteArray();
    QTest::newRow("readable by all") << 0644 << QByteArray("[General]\npassword=old\nport=8000\n");
    QTest::newRow("writable by all") << 0666 << QByteArray("[General]\npassword=old\n");
}

// Qt writes the settings through a temporary file renamed over the old one;
// the mode must survive that, or the password is readable after the first save.
void TestSettingsFile::ownerOnlyAfterQtRewrites()
{
    QFETCH(int, existingMode);
    QFETCH(QByteArray, existingContent);

    QTemporaryDir home;
    const QString fileName = home.path() + QStringLiteral("/Tavolin/TavolinEncoder.conf");
    if (existingMode != 0) {
        QVERIFY(QDir().mkpath(home.path() + QStringLiteral("/Tavolin")));
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(existingContent);
        file.close();
        QVERIFY(::chmod(QFile::encodeName(fileName).constData(), static_cast<mode_t>(existingMode)) == 0);
    }

    QVERIFY(makeSettingsFilePrivate(fileName));
    QCOMPARE(modeOf(fileName), mode_t(0600));
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), existingContent);

    {
        QSettings settings(fileName, QSettings::IniFormat);
        settings.setValue(QStringLiteral("password"), QStringLiteral("new secret"));
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    QCOMPARE(modeOf(fileName), mode_t(0600));
    QCOMPARE(QSettings(fileName, QSettings::IniFormat).value(QStringLiteral("password")).toString(),
             QStringLiteral("new secret"));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
