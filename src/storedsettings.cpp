#include "storedsettings.h"

#include "storedvalues.h"

#include "models/logsmodel.h"

#include <QMetaProperty>

StoredSettings::StoredSettings(QObject *parent)
    : QObject(parent)
{
}

void StoredSettings::componentComplete()
{
    const QMetaObject *type = metaObject();
    const int storeChangesSlot = staticMetaObject.indexOfSlot("storeChanges()");
    if (!m_group.isEmpty())
        m_store.beginGroup(m_group);
    const bool stored = !m_store.childKeys().isEmpty();
    QStringList missing;
    // The properties after this class's own are the ones declared in QML.
    for (int index = staticMetaObject.propertyCount(); index < type->propertyCount(); ++index) {
        const QMetaProperty property = type->property(index);
        const QString key = QString::fromLatin1(property.name());
        if (!m_store.contains(key))
            missing << key;
        if (m_store.contains(key)) {
            const QVariant value = fittingValue(m_store.value(key), property.userType());
            if (value.isValid()) {
                property.write(this, value);
            } else {
                LogsModel::log(QStringLiteral("The stored setting %1 is not valid; it is set to its default").arg(key));
                m_store.setValue(key, property.read(this));
            }
        } else {
            m_store.setValue(key, property.read(this));
        }
        m_stored.insert(key, property.read(this));
        if (property.hasNotifySignal())
            QMetaObject::connect(this, property.notifySignalIndex(), this, storeChangesSlot);
    }
    if (!m_group.isEmpty() && stored && !missing.isEmpty())
        LogsModel::log(QStringLiteral("The stored group %1 has no %2; they take their defaults")
                           .arg(m_group, missing.join(QStringLiteral(", "))));
}

int StoredSettings::groupCount(const QString &prefix, int first) const
{
    return storedGroupCount(QSettings(), prefix, first);
}

void StoredSettings::removeGroup(const QString &prefix, int number)
{
    QSettings store;
    const int last = number + groupCount(prefix, number) - 1;
    store.remove(prefix + QString::number(number));
    for (int moved = number + 1; moved <= last; ++moved) {
        const QString from = prefix + QString::number(moved);
        store.beginGroup(from);
        const QStringList keys = store.childKeys();
        QVariantHash values;
        for (const QString &key : keys)
            values.insert(key, store.value(key));
        store.endGroup();
        store.remove(from);
        store.beginGroup(prefix + QString::number(moved - 1));
        for (auto value = values.cbegin(); value != values.cend(); ++value)
            store.setValue(value.key(), value.value());
        store.endGroup();
    }
}

void StoredSettings::storeChanges()
{
    const QMetaObject *type = metaObject();
    for (int index = staticMetaObject.propertyCount(); index < type->propertyCount(); ++index) {
        const QMetaProperty property = type->property(index);
        const QString key = QString::fromLatin1(property.name());
        const QVariant value = property.read(this);
        if (value != m_stored.value(key)) {
            m_store.setValue(key, value);
            m_stored.insert(key, value);
        }
    }
}
