#include "quickrenderer.h"

#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSGRendererInterface>

void chooseQuickRenderer()
{
    // This small window costs about 100 MiB less with the software renderer
    // than with OpenGL on a desktop without GPU acceleration (Mesa's software
    // rasteriser), at about the same CPU; see docs/benchmarks.md.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
        return;
    }
    // The user's choice stands, but Qt Quick aborts where it wants OpenGL and
    // none can be made (a VM, a remote desktop, a broken driver).
    if (qEnvironmentVariable("QT_QUICK_BACKEND") == QLatin1String("software"))
        return;
    QOpenGLContext probe;
    if (!probe.create()) {
        qWarning("No OpenGL context could be made: the window uses Qt Quick's software renderer");
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    }
}
