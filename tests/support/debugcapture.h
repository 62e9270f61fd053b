#pragma once

#include <QStringList>

// Keeps Qt's debug output (the log model echoes every line it appends there)
// instead of printing it; warnings and worse still reach Qt's own handler.
void captureDebugOutput();
QStringList &capturedDebugOutput();
