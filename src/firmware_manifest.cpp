// The downloads manifest document: its two lists and the questions the
// window asks of them. Pure computation on values; retrieval lives beside it.

#include "firmware_manifest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "device_type.h"
#include "firmware_manifest_internal.h"

using manifest_internal::fileNamePart;
using manifest_internal::reportFailure;

namespace {

// The document must be JSON whose top level is an object.
bool parseManifestObject(const QByteArray& json_bytes, QJsonObject* root, QString* error_out)
{
    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(json_bytes, &parse_error);
    if (parse_error.error != QJsonParseError::NoError || !document.isObject())
        return reportFailure(error_out, QStringLiteral("Invalid manifest JSON: %1").arg(parse_error.errorString()));
    *root = document.object();
    return true;
}

// What both parsers do first: empty the output list, read the document and
// take its list under `key`, which must have at least one element.
template <typename Entry>
bool openManifestList(const QByteArray& json_bytes, const char* key, QVector<Entry>* entries_out, QJsonArray* list,
                      QString* error_out)
{
    if (entries_out == nullptr)
        return reportFailure(error_out, QStringLiteral("entries_out is null"));
    entries_out->clear();

    QJsonObject root;
    if (!parseManifestObject(json_bytes, &root, error_out))
        return false;
    *list = root.value(QLatin1String(key)).toArray();
    if (list->isEmpty())
        return reportFailure(error_out, QStringLiteral("%1 is empty").arg(QLatin1String(key)));
    return true;
}

QString stringField(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toString();
}

// Every element is read as text; a number or object in the list reads as
// empty text and so never matches a unit's revision.
QStringList stringListField(const QJsonObject& object, const char* key)
{
    QStringList texts;
    const QJsonArray array = object.value(QLatin1String(key)).toArray();
    for (const QJsonValue& element : array)
        texts.append(element.toString());
    return texts;
}

// A whole number that fits the field, else 0. The range is checked before
// the conversion: a double outside int32 has no defined conversion.
int32_t wholeNumberField(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    const bool in_range = number >= double(std::numeric_limits<int32_t>::min())
                          && number <= double(std::numeric_limits<int32_t>::max());
    if (!in_range || std::trunc(number) != number)
        return 0;
    return static_cast<int32_t>(number);
}

FirmwareManifestEntry firmwareEntryFromObject(const QJsonObject& object)
{
    FirmwareManifestEntry entry;
    entry.device_type = stringField(object, "device_type").trimmed().toUpper();
    entry.display_name = stringField(object, "display_name");
    entry.firmware_file = stringField(object, "firmware_file");
    entry.download_url = stringField(object, "download_url");
    entry.sha256 = stringField(object, "sha256");
    entry.minimum_bootloader_version = stringField(object, "minimum_bootloader_version");
    entry.hardware_revisions = stringListField(object, "hardware_revisions");
    return entry;
}

DatabaseManifestEntry databaseEntryFromObject(const QJsonObject& object)
{
    DatabaseManifestEntry entry;
    entry.db_type = stringField(object, "db_type").trimmed().toLower();
    entry.display_name = stringField(object, "display_name");
    entry.format_version = wholeNumberField(object, "format_version");
    entry.cycle_effective_date = stringField(object, "cycle_effective_date");
    entry.database_file = stringField(object, "database_file");
    entry.download_url = stringField(object, "download_url");
    entry.sha256 = stringField(object, "sha256");
    return entry;
}

bool isUsableDatabaseEntry(const DatabaseManifestEntry& entry)
{
    return !entry.db_type.isEmpty() && entry.database_file.endsWith(QLatin1String(".db"), Qt::CaseInsensitive);
}

// Plain decimal digits only: no sign, no inner spaces, no prefix.
bool parseVersionNumber(const QString& text, uint8_t* value)
{
    const bool all_digits = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (text.isEmpty() || !all_digits)
        return false;
    bool ok = false;
    const uint number = text.toUInt(&ok, 10);
    if (!ok || number > 255)
        return false;
    *value = static_cast<uint8_t>(number);
    return true;
}

} // namespace

const char kManifestUserAgent[] = "Tarvex";
const char kManifestFileName[] = "downloads_manifest.json";

bool parseFirmwareManifestJson(const QByteArray& json_bytes, QVector<FirmwareManifestEntry>* entries_out,
                               QString* error_out)
{
    QJsonArray packages;
    if (!openManifestList(json_bytes, "firmware_packages", entries_out, &packages, error_out))
        return false;

    for (const QJsonValue& element : packages) {
        if (!element.isObject())
            continue;
        const QJsonObject object = element.toObject();
        FirmwareManifestEntry entry = firmwareEntryFromObject(object);
        if (!parseFirmwareVersionString(stringField(object, "firmware_version"), &entry.firmware_major,
                                        &entry.firmware_minor, &entry.firmware_patch))
            return reportFailure(error_out,
                                 QStringLiteral("Invalid firmware_version for device_type %1").arg(entry.device_type));
        if (entry.device_type.isEmpty() || entry.firmware_file.isEmpty())
            return reportFailure(error_out, QStringLiteral("Manifest entry missing device_type or firmware_file"));
        entries_out->append(entry);
    }

    if (entries_out->isEmpty())
        return reportFailure(error_out, QStringLiteral("No valid firmware packages in manifest"));
    return true;
}

// Unlike a firmware element, a database element that is not usable is
// passed over and never fails the whole list.
bool parseDatabaseManifestJson(const QByteArray& json_bytes, QVector<DatabaseManifestEntry>* entries_out,
                               QString* error_out)
{
    QJsonArray files;
    if (!openManifestList(json_bytes, "database_files", entries_out, &files, error_out))
        return false;

    for (const QJsonValue& element : files) {
        if (!element.isObject())
            continue;
        const DatabaseManifestEntry entry = databaseEntryFromObject(element.toObject());
        if (isUsableDatabaseEntry(entry))
            entries_out->append(entry);
    }

    if (entries_out->isEmpty())
        return reportFailure(error_out, QStringLiteral("No valid database packages in manifest"));
    return true;
}

bool parseFirmwareVersionString(const QString& version, uint8_t* major, uint8_t* minor, uint8_t* patch)
{
    if (major == nullptr || minor == nullptr || patch == nullptr)
        return false;
    const QStringList parts = version.trimmed().split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return false;
    uint8_t numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (!parseVersionNumber(parts.at(i), &numbers[i]))
            return false;
    }
    *major = numbers[0];
    *minor = numbers[1];
    *patch = numbers[2];
    return true;
}

QString firmwareVersionToString(const fwversion_t& v)
{
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.patch);
}

const FirmwareManifestEntry* findFirmwareManifestEntry(const QVector<FirmwareManifestEntry>& entries,
                                                       uint32_t serial_number)
{
    const QString key = deviceTypeKeyFromSerial(serial_number);
    const QString revision = hardwareRevisionFromSerial(serial_number);
    const FirmwareManifestEntry* first_of_type = nullptr;
    for (const FirmwareManifestEntry& entry : entries) {
        if (entry.device_type != key)
            continue;
        if (entry.hardware_revisions.isEmpty() || entry.hardware_revisions.contains(revision))
            return &entry;
        if (first_of_type == nullptr)
            first_of_type = &entry;
    }
    return first_of_type;
}

const DatabaseManifestEntry* findLatestDatabaseEntryByType(const QVector<DatabaseManifestEntry>& entries,
                                                           const QString& db_type)
{
    const QString wanted = db_type.trimmed().toLower();
    const DatabaseManifestEntry* latest = nullptr;
    for (const DatabaseManifestEntry& entry : entries) {
        if (entry.db_type != wanted)
            continue;
        if (latest == nullptr || entry.cycle_effective_date > latest->cycle_effective_date)
            latest = &entry;
    }
    return latest;
}

// A path that ends in a separator names no file and so matches no entry.
const FirmwareManifestEntry* findManifestEntryByFirmwareFileName(const QVector<FirmwareManifestEntry>& entries,
                                                                 const QString& firmware_file_name)
{
    const QString name = fileNamePart(firmware_file_name);
    if (name.isEmpty())
        return nullptr;
    for (const FirmwareManifestEntry& entry : entries) {
        if (fileNamePart(entry.firmware_file) == name)
            return &entry;
    }
    return nullptr;
}

bool deviceFirmwareOlderThanManifest(const fwversion_t& installed, const FirmwareManifestEntry& entry)
{
    return std::make_tuple(installed.major, installed.minor, installed.patch)
           < std::make_tuple(entry.firmware_major, entry.firmware_minor, entry.firmware_patch);
}
