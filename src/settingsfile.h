#pragma once

#include <QString>

// The settings file keeps the stream password in plain text, so only its owner
// may read it. Creates the file (empty, mode 0600) when it is missing, folders
// included, and takes group and other access away from an existing one. Qt
// rewrites the file through QSaveFile, which keeps the mode.
// Returns false when the file could not be created or its mode not changed.
bool makeSettingsFilePrivate(const QString &fileName);
