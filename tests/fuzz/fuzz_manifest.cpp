// The downloads manifest as it arrives from the server or a stored copy: both
// lists are read from the same document, and the window's questions are asked
// of what they hold. A refused list comes with a reason; a taken one has only
// entries the window can use.

#include "firmware_manifest.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray document = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QVector<FirmwareManifestEntry> firmware;
    QString error;
    if (parseFirmwareManifestJson(document, &firmware, &error)) {
        for (const FirmwareManifestEntry& entry : firmware)
            fuzz_require(!entry.device_type.isEmpty() && !entry.firmware_file.isEmpty(),
                         "every firmware entry names its device type and file");
        findFirmwareManifestEntry(firmware, 0xAE020457);
        findManifestEntryByFirmwareFileName(firmware, firmware.first().firmware_file);
    } else {
        fuzz_require(!error.isEmpty(), "a refused firmware list comes with a reason");
    }
    QVector<DatabaseManifestEntry> databases;
    error.clear();
    if (!parseDatabaseManifestJson(document, &databases, &error)) {
        fuzz_require(!error.isEmpty(), "a refused database list comes with a reason");
        return 0;
    }
    for (const DatabaseManifestEntry& entry : databases)
        fuzz_require(!entry.db_type.isEmpty()
                         && entry.database_file.endsWith(QLatin1String(".db"), Qt::CaseInsensitive),
                     "every database entry names its type and a .db file");
    findLatestDatabaseEntryByType(databases, QStringLiteral("airport"));
    return 0;
}
