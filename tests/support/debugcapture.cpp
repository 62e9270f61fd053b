#include "debugcapture.h"

namespace {

QtMessageHandler defaultMessageHandler = nullptr;

void keepDebugOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        capturedDebugOutput().append(message);
    else
        defaultMessageHandler(type, context, message);
}

} // namespace

void captureDebugOutput()
{
    defaultMessageHandler = qInstallMessageHandler(keepDebugOutput);
}

QStringList &capturedDebugOutput()
{
    static QStringList lines;
    return lines;
}
