#include "log_handler.h"

#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QMessageLogContext>
#include <QString>

namespace {

const char* format_for(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug: %s (%s:%u, %s)\n";
    case QtInfoMsg:
        return "Info: %s (%s:%u, %s)\n";
    case QtWarningMsg:
        return "Warning: %s (%s:%u, %s)\n";
    case QtCriticalMsg:
        return "Critical: %s (%s:%u, %s)\n";
    case QtFatalMsg:
        return "Fatal: %s (%s:%u, %s)\n";
    }
    return nullptr;
}

} // namespace

void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const char* format = format_for(type);
    if (format != nullptr) {
        const QByteArray text = message.toLocal8Bit();
        const char* file = context.file != nullptr ? context.file : "";
        const char* function = context.function != nullptr ? context.function : "";
        fprintf(stderr, format, text.constData(), file, static_cast<unsigned>(context.line), function);
    }
    fflush(stderr);
    if (type == QtFatalMsg)
        abort();
}
