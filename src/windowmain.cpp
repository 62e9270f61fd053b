// The window's program on Linux. tavolin-encoder hands a start with a window
// over to it (exec, the same process), so that the program without a window
// never loads Qt Quick nor the display's libraries.
#include "storedvalues.h"
#include "window.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    setApplicationIdentity();
    return runWindow(argc, argv);
}
