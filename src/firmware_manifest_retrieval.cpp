// Manifest retrieval over HTTPS, the stored copies that stand in for the
// server when it cannot be reached, and the per-user package cache with its
// SHA-256 checks.

#include "firmware_manifest.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include "EFIS_shared/mem_layout.h"
#include "firmware_manifest_internal.h"

using manifest_internal::fileNamePart;
using manifest_internal::reportFailure;

namespace {

// Chosen where the program is built; the build refuses anything but an
// https address.
const char kDefaultManifestUrl[] = EFIS_MANIFEST_URL;

// A plain GET is answered in full with 200; any other status carries no package.
const int kHttpStatusOk = 200;

// Hashing reads the file in pieces of this many bytes instead of loading it whole.
const qint64 kHashChunkBytes = 64 * 1024;

// The most a download can legitimately be, in bytes: a manifest lists a few
// dozen packages; a firmware package fills at most one bank; an airport
// database at most its flash region. Anything larger is refused as it comes.
const qint64 kManifestMaxBytes = 4 * 1024 * 1024;
const qint64 kFirmwarePackageMaxBytes = FW_BANK_SIZE;
const qint64 kDatabasePackageMaxBytes = AIRPORT_DB_MAX_SIZE;

// The last manifest obtained from any source, for the life of the process.
QByteArray g_cached_manifest_bytes;
// Whether the server has been asked for the manifest in this run.
ManifestNetworkRecord g_manifest_network_record;

// What the cache needs to know of a firmware or database entry.
struct PackageDescription {
    QString manifest_file; // firmware_file or database_file as written
    QString download_url;
    QString sha256;
    const char* name_field; // the manifest key, for messages
    const char* kind;       // "Firmware" or "Database", for messages
    qint64 max_bytes;       // the largest package of its kind
};

QNetworkRequest packageRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(kManifestUserAgent));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

// How one transfer ended, as far as the wait can tell.
enum class TransferEnd {
    Finished,   // the reply finished by itself
    TimedOut,   // the time-out passed first
    TooLarge,   // the body announced or grew past the cap
    Interrupted // the event loop was told to stop (the program quits)
};

// Runs the caller's thread's events until the reply finishes, the time-out
// passes or the body turns out larger than max_bytes; a body that announces
// more is refused before it arrives.
TransferEnd waitForReply(QNetworkReply* reply, int timeout_ms, qint64 max_bytes)
{
    if (reply->isFinished())
        return TransferEnd::Finished;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool too_large = false;
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    const auto refuse_beyond = [&](qint64 bytes) {
        if (bytes > max_bytes) {
            too_large = true;
            loop.quit();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        refuse_beyond(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 received, qint64 announced) { refuse_beyond(qMax(received, announced)); });
    deadline.start(timeout_ms);
    loop.exec();
    if (too_large)
        return TransferEnd::TooLarge;
    if (reply->isFinished())
        return TransferEnd::Finished;
    return deadline.isActive() ? TransferEnd::Interrupted : TransferEnd::TimedOut;
}

// A reply without an error may still be short: the connection may end
// before the length the server announced.
bool bodyComplete(QNetworkReply* reply, const QByteArray& body, const QString& url, QString* error_out)
{
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!announced.isValid() || announced.toLongLong() == body.size())
        return true;
    return reportFailure(error_out, QStringLiteral("Download incomplete: %1 (%2 of %3 bytes)")
                                        .arg(url, QString::number(body.size()), QString::number(announced.toLongLong())));
}

// Plain HTTP, file: and data: addresses are refused before any request: a
// manifest entry must not make the program read a local file or fetch a
// package where anybody on the way could swap it. Only a body that arrived
// whole, within max_bytes, counts.
bool fetchUrlToByteArray(const QString& url, int timeout_ms, qint64 max_bytes, QByteArray* data_out,
                         QString* error_out)
{
    if (data_out == nullptr)
        return reportFailure(error_out, QStringLiteral("data_out is null"));
    const QUrl address(url);
    if (address.scheme() != QLatin1String("https") || address.host().isEmpty())
        return reportFailure(error_out, QStringLiteral("Refusing to fetch %1: not an HTTPS address").arg(url));

    // The reply is a child of the manager and goes with it.
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(packageRequest(address));
    switch (waitForReply(reply, timeout_ms, max_bytes)) {
    case TransferEnd::Finished:
        break;
    case TransferEnd::TimedOut:
        reply->abort();
        return reportFailure(error_out, QStringLiteral("Timed out fetching %1").arg(url));
    case TransferEnd::TooLarge:
        reply->abort();
        return reportFailure(error_out, QStringLiteral("Download too large: %1 (more than %2 bytes)")
                                            .arg(url, QString::number(max_bytes)));
    case TransferEnd::Interrupted:
        reply->abort();
        return reportFailure(error_out, QStringLiteral("Download interrupted: %1").arg(url));
    }
    if (reply->error() != QNetworkReply::NoError)
        return reportFailure(error_out, QStringLiteral("Network error fetching %1: %2").arg(url, reply->errorString()));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != kHttpStatusOk)
        return reportFailure(error_out, QStringLiteral("Network error fetching %1: HTTP status %2").arg(url, QString::number(status)));
    const QByteArray body = reply->readAll();
    if (!bodyComplete(reply, body, url, error_out))
        return false;
    *data_out = body;
    return true;
}

// The file appears under its name only once every byte is on disk; until
// then an earlier file of that name stays as it was.
bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* error_out)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return reportFailure(error_out, QStringLiteral("Could not write %1").arg(path));
    if (file.write(bytes) != bytes.size() || !file.commit())
        return reportFailure(error_out, QStringLiteral("Failed to write complete file to %1").arg(path));
    return true;
}

QString normalizeSha256Hex(const QString& hex)
{
    return hex.trimmed().toLower();
}

bool digestMatches(const QString& expected_normalised, const QString& actual_hex, QString* error_out,
                   bool* mismatch_out = nullptr)
{
    const QString actual = normalizeSha256Hex(actual_hex);
    if (actual == expected_normalised)
        return true;
    if (mismatch_out != nullptr)
        *mismatch_out = true;
    return reportFailure(error_out, QStringLiteral("Firmware file SHA-256 does not match the manifest.\n"
                                                   "Expected: %1\nActual:   %2")
                                        .arg(expected_normalised, actual));
}

// True at once when no digest is expected; mismatch_out tells a digest that
// differs from a file that could not be read.
bool fileMatchesDigest(const QString& file_path, const QString& expected_sha256_hex, QString* error_out,
                       bool* mismatch_out)
{
    const QString expected = normalizeSha256Hex(expected_sha256_hex);
    if (expected.isEmpty())
        return true;
    QString actual;
    if (!sha256HexOfFile(file_path, &actual, error_out))
        return false;
    return digestMatches(expected, actual, error_out, mismatch_out);
}

// Downloads a package and keeps it at dest_path only when it is whole and
// its digest matches, so a bad or interrupted download never sits in the
// cache under the package's name.
bool fetchUrlToFile(const QString& url, int timeout_ms, qint64 max_bytes, const QString& expected_sha256,
                    const QString& dest_path, QString* error_out, bool* digest_mismatch_out)
{
    QByteArray body;
    if (!fetchUrlToByteArray(url, timeout_ms, max_bytes, &body, error_out))
        return false;
    if (body.isEmpty())
        return reportFailure(error_out, QStringLiteral("Downloaded file is empty: %1").arg(url));
    const QString expected = normalizeSha256Hex(expected_sha256);
    const QString actual = QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
    if (!expected.isEmpty() && !digestMatches(expected, actual, error_out, digest_mismatch_out))
        return false;
    return writeFileWhole(dest_path, body, error_out);
}

QString cachedManifestPath()
{
    return firmwareCacheDirectory() + QLatin1Char('/') + QLatin1String(kManifestFileName);
}

QStringList manifestSearchPaths(const QString& application_dir)
{
    const QString tail = QStringLiteral("/firmware/") + QLatin1String(kManifestFileName);
    return {application_dir + tail, application_dir + QStringLiteral("/..") + tail, QDir::currentPath() + tail};
}

bool readManifestFile(const QString& path, QByteArray* bytes_out, QString* error_out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return reportFailure(error_out, QStringLiteral("Could not open manifest: %1").arg(path));
    *bytes_out = file.readAll();
    return true;
}

// A body counts as a manifest only when one of its two lists can be used:
// a login page of a hotel network or a half-written file must neither
// replace nor stand in for a good copy. The reason given is the firmware
// list's.
bool isUsableManifest(const QByteArray& bytes, QString* error_out)
{
    QVector<FirmwareManifestEntry> firmware;
    QString firmware_error;
    if (parseFirmwareManifestJson(bytes, &firmware, &firmware_error))
        return true;
    QVector<DatabaseManifestEntry> databases;
    if (parseDatabaseManifestJson(bytes, &databases, nullptr))
        return true;
    return reportFailure(error_out, firmware_error);
}

// The memory copy first; the disk copy is written whole or not at all, so a
// failed write keeps the previous cached manifest.
void storeManifestBytes(const ManifestSources& sources, const QByteArray& bytes)
{
    *sources.memory_copy = bytes;
    writeFileWhole(cachedManifestPath(), bytes, nullptr);
}

// The server's manifest; it replaces the stored copies only when it is a
// complete, usable manifest.
bool fetchManifestFromNetwork(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out)
{
    QByteArray body;
    if (!fetchUrlToByteArray(sources.manifest_url, sources.network_timeout_ms, kManifestMaxBytes, &body, error_out))
        return false;
    if (body.isEmpty())
        return reportFailure(error_out, QStringLiteral("Downloaded file is empty: %1").arg(sources.manifest_url));
    if (!isUsableManifest(body, error_out))
        return false;
    storeManifestBytes(sources, body);
    *bytes_out = body;
    return true;
}

bool readUsableManifestFile(const QString& path, QByteArray* bytes_out)
{
    QByteArray bytes;
    if (path.isEmpty() || !readManifestFile(path, &bytes, nullptr) || !isUsableManifest(bytes, nullptr))
        return false;
    *bytes_out = bytes;
    return true;
}

// The copies that stand in for the server, best first: memory, the disk
// cache, the local manifest beside the program (which is never copied into
// the cache).
bool takeStoredManifest(const ManifestSources& sources, QByteArray* bytes_out)
{
    if (!sources.memory_copy->isEmpty()) {
        *bytes_out = *sources.memory_copy;
        return true;
    }
    const QStringList stored_paths = {cachedManifestPath(), resolveFirmwareManifestPath(sources.application_dir)};
    for (const QString& path : stored_paths) {
        QByteArray stored;
        if (readUsableManifestFile(path, &stored)) {
            *sources.memory_copy = stored;
            *bytes_out = stored;
            return true;
        }
    }
    return false;
}

// A name that is empty, names a directory or is the cached manifest's own
// would escape the cache or overwrite the manifest: such an entry is refused.
bool checkPackageName(const QString& name, const PackageDescription& package, QString* error_out)
{
    if (name.isEmpty())
        return reportFailure(error_out, QStringLiteral("Manifest entry has no %1 name").arg(QLatin1String(package.name_field)));
    if (name == QLatin1String(".") || name == QLatin1String("..") || name == QLatin1String(kManifestFileName))
        return reportFailure(error_out, QStringLiteral("Manifest entry has no usable %1 name: %2")
                                            .arg(QLatin1String(package.name_field), name));
    return true;
}

// A cached package serves while it is a non-empty file whose digest matches
// the entry (or the entry names none); otherwise it is deleted.
bool cachedPackageStillGood(const QString& cache_path, const QString& sha256)
{
    const QFileInfo info(cache_path);
    if (!info.exists())
        return false;
    if (info.isFile() && info.size() > 0 && firmwareFileSha256Matches(cache_path, sha256, nullptr))
        return true;
    QFile::remove(cache_path);
    return false;
}

// Without a download address the package may lie in the local firmware
// folder; it is held to the entry's digest like a download.
bool takePackageFromBundle(const ManifestSources& sources, const PackageDescription& package, const QString& name,
                           QString* local_path_out, QString* error_out, bool* digest_mismatch_out)
{
    const QString local_path = firmwareBundleDirectory(sources.application_dir) + QLatin1Char('/') + name;
    if (!QFileInfo(local_path).isFile())
        return reportFailure(error_out,
                             QStringLiteral("%1 package not available locally and manifest has no download_url")
                                 .arg(QLatin1String(package.kind)));
    if (!fileMatchesDigest(local_path, package.sha256, error_out, digest_mismatch_out))
        return false;
    *local_path_out = local_path;
    return true;
}

bool ensurePackageOnDisk(const ManifestSources& sources, const PackageDescription& package, QString* local_path_out,
                         QString* error_out, bool* digest_mismatch_out)
{
    if (local_path_out == nullptr)
        return reportFailure(error_out, QStringLiteral("local_path_out is null"));
    const QString name = fileNamePart(package.manifest_file);
    if (!checkPackageName(name, package, error_out))
        return false;
    const QString cache_path = firmwareCacheDirectory() + QLatin1Char('/') + name;
    if (cachedPackageStillGood(cache_path, package.sha256)) {
        *local_path_out = cache_path;
        return true;
    }
    if (package.download_url.isEmpty())
        return takePackageFromBundle(sources, package, name, local_path_out, error_out, digest_mismatch_out);
    if (!fetchUrlToFile(package.download_url, sources.network_timeout_ms, package.max_bytes, package.sha256, cache_path,
                        error_out, digest_mismatch_out))
        return false;
    *local_path_out = cache_path;
    return true;
}

} // namespace

ManifestSources defaultManifestSources()
{
    return {firmwareManifestUrl(), kNetworkTimeoutMs, QCoreApplication::applicationDirPath(), &g_cached_manifest_bytes,
            &g_manifest_network_record};
}

QString firmwareManifestUrl()
{
    return QString::fromLatin1(kDefaultManifestUrl);
}

QString firmwareCacheDirectory()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/firmware");
    QDir().mkpath(path);
    return path;
}

QString resolveFirmwareManifestPath(const QString& application_dir)
{
    const QStringList candidates = manifestSearchPaths(application_dir);
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QString resolveFirmwareManifestPath()
{
    return resolveFirmwareManifestPath(QCoreApplication::applicationDirPath());
}

QString firmwareBundleDirectory(const QString& application_dir)
{
    const QString manifest_path = resolveFirmwareManifestPath(application_dir);
    if (manifest_path.isEmpty())
        return application_dir + QStringLiteral("/firmware");
    return QFileInfo(manifest_path).absolutePath();
}

QString firmwareBundleDirectory()
{
    return firmwareBundleDirectory(QCoreApplication::applicationDirPath());
}

// The server first, then the stored copies; the server's answer is
// remembered, so a run asks it on its own only once.
bool loadNewestDownloadsManifestBytes(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out)
{
    if (bytes_out == nullptr)
        return reportFailure(error_out, QStringLiteral("bytes_out is null"));
    QString network_error;
    const bool fetched = fetchManifestFromNetwork(sources, bytes_out, &network_error);
    *sources.network_record = {true, network_error};
    if (fetched)
        return true;
    qDebug().noquote() << "Online downloads manifest unavailable:" << network_error;
    if (takeStoredManifest(sources, bytes_out))
        return true;
    return reportFailure(error_out, network_error);
}

// After the server has been asked once, the copies stand in for it: with a
// server that never answers, every later lookup would wait out the time-out
// again.
bool loadDownloadsManifestBytes(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out)
{
    if (!sources.network_record->asked)
        return loadNewestDownloadsManifestBytes(sources, bytes_out, error_out);
    if (bytes_out == nullptr)
        return reportFailure(error_out, QStringLiteral("bytes_out is null"));
    if (takeStoredManifest(sources, bytes_out))
        return true;
    return reportFailure(error_out, sources.network_record->failure);
}

bool loadDownloadsManifestBytes(QByteArray* bytes_out, QString* error_out)
{
    return loadDownloadsManifestBytes(defaultManifestSources(), bytes_out, error_out);
}

bool loadNewestDownloadsManifestBytes(QByteArray* bytes_out, QString* error_out)
{
    return loadNewestDownloadsManifestBytes(defaultManifestSources(), bytes_out, error_out);
}

bool refreshDownloadsManifestFromNetwork(const ManifestSources& sources, QByteArray* bytes_out, QString* error_out)
{
    QByteArray body;
    if (!fetchManifestFromNetwork(sources, &body, error_out))
        return false;
    if (bytes_out != nullptr)
        *bytes_out = body;
    return true;
}

bool refreshDownloadsManifestFromNetwork(QByteArray* bytes_out, QString* error_out)
{
    return refreshDownloadsManifestFromNetwork(defaultManifestSources(), bytes_out, error_out);
}

bool prefetchDownloadsManifest(const ManifestSources& sources, QString* error_out)
{
    QByteArray discarded;
    return loadDownloadsManifestBytes(sources, &discarded, error_out);
}

bool prefetchDownloadsManifest(QString* error_out)
{
    return prefetchDownloadsManifest(defaultManifestSources(), error_out);
}

bool loadFirmwareManifest(const QString& manifest_path, QVector<FirmwareManifestEntry>* entries_out,
                          QString* error_out)
{
    QByteArray bytes;
    if (!readManifestFile(manifest_path, &bytes, error_out))
        return false;
    return parseFirmwareManifestJson(bytes, entries_out, error_out);
}

bool loadFirmwareManifestForDevice(const ManifestSources& sources, QString* error_out,
                                   QVector<FirmwareManifestEntry>* entries_out)
{
    QByteArray bytes;
    QString load_error;
    if (!loadDownloadsManifestBytes(sources, &bytes, &load_error)) {
        qDebug().noquote() << "Firmware manifest unavailable:" << load_error;
        return reportFailure(error_out, load_error);
    }
    return parseFirmwareManifestJson(bytes, entries_out, error_out);
}

bool loadFirmwareManifestForDevice(QString* error_out, QVector<FirmwareManifestEntry>* entries_out)
{
    return loadFirmwareManifestForDevice(defaultManifestSources(), error_out, entries_out);
}

bool sha256HexOfFile(const QString& file_path, QString* hex_out, QString* error_out)
{
    QFile file(file_path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return reportFailure(error_out, QStringLiteral("Could not read firmware file: %1").arg(file_path));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk(kHashChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(chunk.data(), chunk.size());
        if (count < 0)
            return reportFailure(error_out, QStringLiteral("Failed to hash firmware file: %1").arg(file_path));
        if (count == 0)
            break;
        hash.addData(QByteArrayView(chunk.constData(), count));
    }
    if (hex_out != nullptr)
        *hex_out = QString::fromLatin1(hash.result().toHex());
    return true;
}

bool firmwareFileSha256Matches(const QString& file_path, const QString& expected_sha256_hex, QString* error_out)
{
    return fileMatchesDigest(file_path, expected_sha256_hex, error_out, nullptr);
}

bool ensureFirmwarePackageOnDisk(const ManifestSources& sources, const FirmwareManifestEntry& entry,
                                 QString* local_path_out, QString* error_out, bool* digest_mismatch_out)
{
    const PackageDescription package = {entry.firmware_file, entry.download_url, entry.sha256, "firmware_file",
                                        "Firmware", kFirmwarePackageMaxBytes};
    return ensurePackageOnDisk(sources, package, local_path_out, error_out, digest_mismatch_out);
}

bool ensureFirmwarePackageOnDisk(const FirmwareManifestEntry& entry, QString* local_path_out, QString* error_out)
{
    return ensureFirmwarePackageOnDisk(defaultManifestSources(), entry, local_path_out, error_out);
}

bool ensureDatabasePackageOnDisk(const ManifestSources& sources, const DatabaseManifestEntry& entry,
                                 QString* local_path_out, QString* error_out)
{
    const PackageDescription package = {entry.database_file, entry.download_url, entry.sha256, "database_file",
                                        "Database", kDatabasePackageMaxBytes};
    return ensurePackageOnDisk(sources, package, local_path_out, error_out, nullptr);
}

bool ensureDatabasePackageOnDisk(const DatabaseManifestEntry& entry, QString* local_path_out, QString* error_out)
{
    return ensureDatabasePackageOnDisk(defaultManifestSources(), entry, local_path_out, error_out);
}
