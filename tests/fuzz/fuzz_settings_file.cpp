// A settings file as the import reads it: whatever the document holds, a
// refused file leaves the record as it was and says why, and a taken one
// writes out as a file that reads back to the same record.

#include <cstring>

#include "fuzz_support.h"
#include "settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray document = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    Settings_t record, again;
    memset(&record, 0xA5, sizeof record);
    const Settings_t before = record;
    settings_file_unit_t unit = {};
    QString error;
    if (!settings_file_import(document, 0, &record, &unit, &error)) {
        fuzz_require(memcmp(&record, &before, sizeof record) == 0, "a refused file leaves the record unchanged");
        fuzz_require(!error.isEmpty(), "a refused file comes with a reason");
        return 0;
    }
    fuzz_require(settings_file_import(settings_file_export(record, unit), 0, &again, nullptr, &error),
                 "an imported record exports as a file the import takes");
    fuzz_require(memcmp(&record, &again, sizeof record) == 0, "an imported record reads back unchanged");
    return 0;
}
