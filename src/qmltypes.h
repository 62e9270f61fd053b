#pragma once

// Registers the window's own QML types under com.tavolin 1.0.
void registerQmlTypes();
