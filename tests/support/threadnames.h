#pragma once

#include <QStringList>

// The names of this process's threads, as the system lists them.
QStringList threadNames();
