#pragma once

// Picks Qt Quick's renderer for the window; call after the QGuiApplication is
// made and before any window is.
void chooseQuickRenderer();
