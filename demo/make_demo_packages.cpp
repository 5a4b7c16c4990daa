// Writes the demonstration's update packages and the downloads manifest that
// offers them: a firmware image newer than the simulated unit's firmware and
// an airport database, with their SHA-256 digests. The entries carry no
// download address, so the program takes the packages from the folder the
// manifest lies in. The content is the same on every run, and a file that
// already holds it is left alone, so a build rewrites nothing.
//
// Usage: make_demo_packages <output folder>

#include <cstdio>
#include <cstring>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include "EFIS_shared/firmware.h"

namespace {

const char kFirmwareFile[] = "halcyra-1.4.0.bin";
const char kDatabaseFile[] = "airports-demo-2025-07.db";
// Large enough for the progress bar to be watched, small enough to upload
// within seconds against the simulated unit.
const uint32_t kFirmwarePayloadSize = 1024 * 1024;
const int kDatabaseSize = 256 * 1024;

// Bytes that look like enciphered data and differ from their neighbours.
QByteArray filler(int length, uint32_t seed)
{
    QByteArray bytes(length, '\0');
    uint32_t state = seed;
    for (int i = 0; i < length; i++) {
        state = state * 1664525u + 1013904223u; // a plain linear congruential sequence
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

QByteArray firmwareImage()
{
    firmware_header_t header;
    memset(&header, 0, sizeof header);
    header.magic = 0x57464B43;
    header.version = 0x01040000;
    header.total_size = uint32_t(sizeof header) + kFirmwarePayloadSize;
    header.plaintext_size = kFirmwarePayloadSize;
    header.encrypted_size = kFirmwarePayloadSize;
    header.offset = uint32_t(sizeof header);
    const QByteArray head(reinterpret_cast<const char*>(&header), sizeof header);
    return head + filler(int(kFirmwarePayloadSize), 0x1400u);
}

QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray manifest(const QByteArray& firmware, const QByteArray& database)
{
    return QStringLiteral(R"json({
  "firmware_packages": [
    {
      "device_type": "AE",
      "display_name": "Halcyra EFIS (demonstration)",
      "firmware_version": "1.4.0",
      "firmware_file": "%1",
      "sha256": "%2"
    }
  ],
  "database_files": [
    {
      "db_type": "airport",
      "display_name": "Airports (demonstration) 2025-07",
      "format_version": 1,
      "cycle_effective_date": "2025-07-10",
      "database_file": "%3",
      "sha256": "%4"
    }
  ]
}
)json")
        .arg(QLatin1String(kFirmwareFile), sha256Hex(firmware), QLatin1String(kDatabaseFile), sha256Hex(database))
        .toUtf8();
}

bool writeIfChanged(const QString& path, const QByteArray& bytes)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return true;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        printf("make_demo_packages: could not write %s\n", qPrintable(path));
        return false;
    }
    printf("make_demo_packages: wrote %s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        printf("usage: make_demo_packages <output folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        printf("make_demo_packages: could not create %s\n", argv[1]);
        return 1;
    }
    const QByteArray firmware = firmwareImage();
    const QByteArray database = filler(kDatabaseSize, 0xA1u);
    const bool written = writeIfChanged(folder.filePath(QLatin1String(kFirmwareFile)), firmware)
                         && writeIfChanged(folder.filePath(QLatin1String(kDatabaseFile)), database)
                         && writeIfChanged(folder.filePath(QStringLiteral("downloads_manifest.json")),
                                           manifest(firmware, database));
    return written ? 0 : 1;
}
