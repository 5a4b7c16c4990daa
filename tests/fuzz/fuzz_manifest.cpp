// The downloads manifest as it arrives from the server or a stored copy: both
// lists are read from the same document, and the window's questions are asked
// of what they hold. A refused list comes with a reason; a taken one has only
// entries the window can use.

#include <cstddef>
#include <cstdint>

#include "firmware_manifest.h"
#include "fuzz_support.h"

namespace {

const uint32_t kEfisSerial = 0xAE020457;

void check_firmware_list(const QByteArray& document)
{
    QVector<FirmwareManifestEntry> entries;
    QString error;
    if (!parseFirmwareManifestJson(document, &entries, &error)) {
        fuzz_require(!error.isEmpty(), "a refused firmware list comes with a reason");
        return;
    }
    for (const FirmwareManifestEntry& entry : entries)
        fuzz_require(!entry.device_type.isEmpty() && !entry.firmware_file.isEmpty(),
                     "every firmware entry names its device type and file");
    findFirmwareManifestEntry(entries, kEfisSerial);
    findManifestEntryByFirmwareFileName(entries, entries.first().firmware_file);
}

void check_database_list(const QByteArray& document)
{
    QVector<DatabaseManifestEntry> entries;
    QString error;
    if (!parseDatabaseManifestJson(document, &entries, &error)) {
        fuzz_require(!error.isEmpty(), "a refused database list comes with a reason");
        return;
    }
    for (const DatabaseManifestEntry& entry : entries)
        fuzz_require(!entry.db_type.isEmpty() && entry.database_file.endsWith(QLatin1String(".db"), Qt::CaseInsensitive),
                     "every database entry names its type and a .db file");
    findLatestDatabaseEntryByType(entries, QStringLiteral("airport"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray document = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    check_firmware_list(document);
    check_database_list(document);
    return 0;
}
