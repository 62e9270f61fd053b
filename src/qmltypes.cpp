#include "qmltypes.h"

#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "storedsettings.h"
#include "storedvalues.h"

#include <QQmlEngine>

void registerQmlTypes()
{
    qmlRegisterType<PlayerModel>("com.tavolin", 1, 0, "PlayerModel");
    qmlRegisterType<LogsModel>("com.tavolin", 1, 0, "LogsModel");
    qmlRegisterType<StoredSettings>("com.tavolin", 1, 0, "StoredSettings");
    qmlRegisterSingletonType<StoredDefaults>("com.tavolin", 1, 0, "StoredDefaults",
                                             [](QQmlEngine *, QJSEngine *) -> QObject * { return new StoredDefaults; });
}
