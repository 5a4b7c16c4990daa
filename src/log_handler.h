#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

// Writes every Qt log message to standard error as "<Kind>: message (file:line,
// function)" and flushes at once; a fatal message aborts after it is written.
void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);
