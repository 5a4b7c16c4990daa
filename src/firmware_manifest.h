#pragma once

// Update packages: the downloads manifest (what firmware and database
// packages exist), its retrieval over HTTPS with the stored copies that stand
// in when the server cannot be reached, and the per-user package cache whose
// files are checked against the manifest's SHA-256 digests.
//
// Every operation that can fail returns a bool and, when error_out is not
// null, writes a one-line reason into it; error_out is left untouched on
// success. Everything runs on the calling (window) thread: a transfer blocks
// its caller in a nested event loop for at most kNetworkTimeoutMs.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

#include "EFIS_shared/firmware.h"

// Limit for one whole HTTP transfer, request to last byte, in milliseconds.
constexpr int kNetworkTimeoutMs = 60000;

// Off: when the server cannot be reached, the stored manifest copies and the
// local firmware folder stand in for it.
constexpr bool kFirmwareOnlineOnly = false;

// The only request header of our own on every manifest or package request.
extern const char kManifestUserAgent[];

// File name of the manifest, on the server, in the cache and beside the program.
extern const char kManifestFileName[];

// One element of "firmware_packages".
struct FirmwareManifestEntry {
    QString device_type;  // two upper-case hexadecimal digits, the serial's top byte
    QString display_name; // product name shown to the user; may be empty
    QStringList hardware_revisions; // decimal revision texts; empty means every revision
    uint8_t firmware_major = 0;
    uint8_t firmware_minor = 0;
    uint8_t firmware_patch = 0;
    QString firmware_file; // as written; only its file-name part names local files
    QString download_url;
    QString sha256; // empty means the package is not checked
    QString minimum_bootloader_version;
};

// One element of "database_files".
struct DatabaseManifestEntry {
    QString db_type; // lower case, e.g. "airport"
    QString display_name;
    int32_t format_version = 0;
    QString cycle_effective_date; // orders databases of one type as plain text
    QString database_file;        // ends in ".db", any case
    QString download_url;
    QString sha256;
};

// ---------------------------------------------------------------------------
// The manifest document

bool parseFirmwareManifestJson(const QByteArray& json_bytes, QVector<FirmwareManifestEntry>* entries_out,
                               QString* error_out);
bool parseDatabaseManifestJson(const QByteArray& json_bytes, QVector<DatabaseManifestEntry>* entries_out,
                               QString* error_out);

// "major.minor.patch", each 0..255 in decimal, surrounding white space
// allowed. The outputs are written only when the whole text is good.
bool parseFirmwareVersionString(const QString& version, uint8_t* major, uint8_t* minor, uint8_t* patch);

// "major.minor.patch" in decimal; the rc byte is not shown.
QString firmwareVersionToString(const fwversion_t& v);

// The package for the unit with this serial number: the first entry of its
// device type that is for every revision or names the unit's revision, else
// the first entry of its device type, else null. Returned pointers point into
// `entries` and stay valid while that list is unchanged.
const FirmwareManifestEntry* findFirmwareManifestEntry(const QVector<FirmwareManifestEntry>& entries,
                                                       uint32_t serial_number);

// The entry of this type with the greatest cycle_effective_date text; among
// equal dates the first in the document. Null when none has the type.
const DatabaseManifestEntry* findLatestDatabaseEntryByType(const QVector<DatabaseManifestEntry>& entries,
                                                           const QString& db_type);

// The first entry whose firmware_file has the same file-name part as
// `firmware_file_name` (a path or a bare name), compared exactly.
const FirmwareManifestEntry* findManifestEntryByFirmwareFileName(const QVector<FirmwareManifestEntry>& entries,
                                                                 const QString& firmware_file_name);

// True only when major.minor.patch of the unit is strictly below the entry's;
// the unit's rc byte plays no part.
bool deviceFirmwareOlderThanManifest(const fwversion_t& installed, const FirmwareManifestEntry& entry);

// ---------------------------------------------------------------------------
// Retrieval and the package cache

// The fixed HTTPS address of the manifest.
QString firmwareManifestUrl();

// The per-user cache directory for the manifest and packages, created on
// every call (the path is returned even when creation fails).
QString firmwareCacheDirectory();

// The first of the local manifest paths beside the program that is a file,
// or empty text.
QString resolveFirmwareManifestPath();

// The folder of the local manifest, or <program directory>/firmware when
// there is none; packages without a download address are taken from here.
QString firmwareBundleDirectory();

// The manifest from the best source: the server, asked at most once per run
// by this function; when it fails or was asked before, the copy kept in
// memory, then the cached copy on disk, then the local manifest. A copy that
// arrives from the server replaces the memory and disk copies only when it
// is a complete, usable manifest.
bool loadDownloadsManifestBytes(QByteArray* bytes_out, QString* error_out);

// The same, asking the server every time: for the user who asked for the
// newest manifest.
bool loadNewestDownloadsManifestBytes(QByteArray* bytes_out, QString* error_out);

// The manifest from the server only; a usable one also refreshes the memory
// and disk copies. bytes_out may be null.
bool refreshDownloadsManifestFromNetwork(QByteArray* bytes_out, QString* error_out);

// Fills the memory and disk copies ahead of need (loadDownloadsManifestBytes
// into a throw-away buffer).
bool prefetchDownloadsManifest(QString* error_out);

// Parses the firmware list of the manifest file at `manifest_path`.
bool loadFirmwareManifest(const QString& manifest_path, QVector<FirmwareManifestEntry>* entries_out,
                          QString* error_out);

// The whole firmware list from the best source (the message pointer comes first).
bool loadFirmwareManifestForDevice(QString* error_out, QVector<FirmwareManifestEntry>* entries_out);

// SHA-256 of a file, streamed from disk, as 64 lower-case hexadecimal digits.
// hex_out may be null.
bool sha256HexOfFile(const QString& file_path, QString* hex_out, QString* error_out);

// True when the file's digest equals the expected one (surrounding white
// space and case ignored), or at once when no digest is expected.
bool firmwareFileSha256Matches(const QString& file_path, const QString& expected_sha256_hex, QString* error_out);

// Puts the entry's package on disk and names its path: a cached copy whose
// digest still matches, a fresh download checked before it is kept, or (when
// the entry has no download address) the file from the local firmware folder.
bool ensureFirmwarePackageOnDisk(const FirmwareManifestEntry& entry, QString* local_path_out, QString* error_out);
bool ensureDatabasePackageOnDisk(const DatabaseManifestEntry& entry, QString* local_path_out, QString* error_out);

// ---------------------------------------------------------------------------
// Internal overloads. The functions above use the program's fixed sources
// (defaultManifestSources()); these take them as a parameter so the module's
// own tests can point it at a loopback server with a short time-out, a
// scratch program directory and a memory copy of their own. The window uses
// the functions above.

// Whether the server has been asked for the manifest in this run, and why
// that request failed (empty when it succeeded).
struct ManifestNetworkRecord {
    bool asked = false;
    QString failure;
};

struct ManifestSources {
    QString manifest_url;
    int network_timeout_ms;
    QString application_dir;  // the directory the local manifest is looked for beside
    QByteArray* memory_copy;  // the manifest kept in memory for the life of the process
    ManifestNetworkRecord* network_record; // the run's one request of its own to the server
};

ManifestSources defaultManifestSources();

QString resolveFirmwareManifestPath(const QString& application_dir);
QString firmwareBundleDirectory(const QString& application_dir);
bool loadDownloadsManifestBytes(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out);
bool loadNewestDownloadsManifestBytes(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out);
bool refreshDownloadsManifestFromNetwork(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out);
bool prefetchDownloadsManifest(const ManifestSources& sources, QString* error_out);
bool loadFirmwareManifestForDevice(const ManifestSources& sources, QString* error_out,
                                   QVector<FirmwareManifestEntry>* entries_out);
// digest_mismatch_out (may be null) is set when the package was refused
// because its SHA-256 differs from the entry's.
bool ensureFirmwarePackageOnDisk(const ManifestSources& sources, const FirmwareManifestEntry& entry,
                                 QString* local_path_out, QString* error_out, bool* digest_mismatch_out = nullptr);
bool ensureDatabasePackageOnDisk(const ManifestSources& sources, const DatabaseManifestEntry& entry,
                                 QString* local_path_out, QString* error_out);
