#pragma once

#include <QObject>
#include <QQmlParserStatus>
#include <QSettings>
#include <QVariantHash>

// Values of the window kept between runs: every property declared on it in
// QML (in a QML type based on it too) is a key at the top level of the
// application's settings store, or in its group.
//
// When the object is complete, each stored value replaces its property's
// default; a missing key gets the default written; a stored value that does
// not fit the property (text where a number belongs, a negative number) is
// replaced by the default, with a log line naming the key. From then on a
// property is written when it changes, and only then: a run never rewrites a
// key that the user did not change, whatever else the file lacks. A group
// that was stored before and lacks keys says so in the log, once.
class StoredSettings : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    // The group of the store that holds the keys ("stream2"); empty: the top
    // level. Set once, in QML.
    Q_PROPERTY(QString group MEMBER m_group NOTIFY groupChanged)

public:
    explicit StoredSettings(QObject *parent = nullptr);

    void classBegin() override {}
    void componentComplete() override;

    // How many of the groups prefix + first, prefix + (first + 1), ... the
    // store holds, counted up to the first missing one.
    Q_INVOKABLE int groupCount(const QString &prefix, int first) const;
    // Removes the group prefix + number; the groups after it move down one,
    // so that the numbers have no gap.
    Q_INVOKABLE void removeGroup(const QString &prefix, int number);

signals:
    void groupChanged();

private slots:
    void storeChanges();

private:
    QString m_group;
    QSettings m_store;
    // Each key's value as last read or written.
    QVariantHash m_stored;
};
