#pragma once

// The program with its window: the QML document, the commands of scripts
// through it, and on Linux SIGINT and SIGTERM as its close button. Returns
// the event loop's exit code.
int runWindow(int &argc, char *argv[]);
