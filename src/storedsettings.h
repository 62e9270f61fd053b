#pragma once

#include <QObject>
#include <QQmlParserStatus>
#include <QSettings>
#include <QVariantHash>

// Values of the window kept between runs: every property declared on it in
// QML is a key at the top level of the application's settings store.
//
// When the object is complete, each stored value replaces its property's
// default; a missing key gets the default written; a stored value that does
// not fit the property (text where a number belongs, a negative number) is
// replaced by the default, with a log line naming the key. From then on a
// property is written when it changes, and only then: a run never rewrites a
// key that the user did not change, whatever else the file lacks.
class StoredSettings : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)

public:
    explicit StoredSettings(QObject *parent = nullptr);

    void classBegin() override {}
    void componentComplete() override;

private slots:
    void storeChanges();

private:
    QSettings m_store;
    // Each key's value as last read or written.
    QVariantHash m_stored;
};
