#pragma once

// Helpers shared by the manifest format and retrieval sources; not part of
// the module's interface.

#include <QString>

namespace manifest_internal {

// Writes the reason when the caller asked for one; always false, so a
// failing step reads `return reportFailure(error_out, ...)`.
inline bool reportFailure(QString* error_out, const QString& message)
{
    if (error_out != nullptr)
        *error_out = message;
    return false;
}

// The text after the last directory separator. Both separators count, so a
// manifest written with either kind names the same file everywhere.
inline QString fileNamePart(const QString& path)
{
    const qsizetype separator = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(separator + 1);
}

} // namespace manifest_internal
