#include "log_handler.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QByteArray>
#include <QMessageLogContext>
#include <QString>

#include "support_log.h"

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

// The line exactly as printf would print it, so the support log gets the same
// bytes as standard error.
std::vector<char> format_line(const char* format, const char* text, const char* file, unsigned line,
                             const char* function)
{
    const int length = snprintf(nullptr, 0, format, text, file, line, function);
    std::vector<char> formatted(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    snprintf(formatted.data(), formatted.size(), format, text, file, line, function);
    formatted.pop_back();
    return formatted;
}

} // namespace

void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const char* format = format_for(type);
    if (format != nullptr) {
        const QByteArray text = message.toLocal8Bit();
        const char* file = context.file != nullptr ? context.file : "";
        const char* function = context.function != nullptr ? context.function : "";
        const std::vector<char> line =
            format_line(format, text.constData(), file, static_cast<unsigned>(context.line), function);
        fwrite(line.data(), 1, line.size(), stderr);
        appendToSupportLog(line.data(), line.size());
    }
    fflush(stderr);
    if (type == QtFatalMsg) {
        // Whatever the link printed before goes out ahead of the abort.
        finishSupportLog();
        abort();
    }
}
