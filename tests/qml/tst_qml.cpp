// Qt Quick tests of the window document and its script library, with the real
// models, the real settings store in a private folder, and private Icecast and
// PulseAudio servers to stream to.
#include "icecastserver.h"
#include "pulseserver.h"
#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "qmltypes.h"
#include "quickrenderer.h"
#include "storedvalues.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtQuickTest>

// Also the tests' "testEnvironment".
class Setup : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl documentUrl READ documentUrl CONSTANT)
    Q_PROPERTY(QVariantMap server READ server CONSTANT)
    Q_PROPERTY(QString recordingsFolder READ recordingsFolder CONSTANT)

public:
    // Before the application exists, so nothing reads the user's own settings.
    Setup() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path())); }

    QUrl documentUrl() const { return QUrl::fromLocalFile(QStringLiteral(TAVOLIN_QML_DOCUMENT)); }

    // What the settings must hold to stream the private tone to the private Icecast server.
    QVariantMap server() const
    {
        return {{QStringLiteral("hostname"), icecast.host()},
                {QStringLiteral("port"), icecast.port()},
                {QStringLiteral("user"), icecast.sourceUser()},
                {QStringLiteral("password"), icecast.sourcePassword()},
                {QStringLiteral("source"), pulse.sourceName()}};
    }

    QString recordingsFolder() const { return recordings.path(); }

    Q_INVOKABLE void clearSettings() { QSettings().clear(); }

    // Waits, without handling a single event, until the engine behind the
    // model has ended its run: the window has not heard of the end yet.
    Q_INVOKABLE bool waitForRunEnd(QObject *model) const
    {
        Player &player = qobject_cast<PlayerModel *>(model)->engine();
        for (int i = 0; i < 200 && player.isPlaying(); ++i)
            QThread::msleep(50);
        return !player.isPlaying();
    }

    // The settings store's top level, or one of its groups, as the application sees it.
    Q_INVOKABLE QVariantMap storedSettings(const QString &group = QString()) const
    {
        QSettings settings;
        settings.beginGroup(group);
        QVariantMap values;
        const QStringList keys = settings.childKeys();
        for (const QString &key : keys)
            values.insert(key, settings.value(key));
        return values;
    }

    Q_INVOKABLE QStringList storedGroups() const { return QSettings().childGroups(); }

public slots:
    void applicationAvailable()
    {
        setApplicationIdentity();
        // The document's window closes in every test; the test runner goes on.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        chooseQuickRenderer();
        registerQmlTypes();
        if (!pulse.start() || !icecast.start())
            qFatal("The private servers did not start: %s %s", qPrintable(pulse.errorString()),
                   qPrintable(icecast.errorString()));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("testEnvironment"), this);
    }

private:
    QTemporaryDir configHome;
    QTemporaryDir recordings;
    PulseServer pulse;
    IcecastServer icecast;
};

QUICK_TEST_MAIN_WITH_SETUP(tavolin_qml, Setup)

#include "tst_qml.moc"
