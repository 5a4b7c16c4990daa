// efis-cli settings: the unit's settings by the names of the settings file.
// Every name and value is checked before the unit is touched; a change is
// sent, stored and proved by reading it back; a file is checked whole before
// anything of it is sent.

#include <cstring>
#include <memory>

#include <QFile>
#include <QSaveFile>

#include "EFIS_shared/get_set.h"
#include "cli.h"
#include "cli_output.h"
#include "cli_unit.h"
#include "comms/comms.h"
#include "settings_file.h"
#include "settings_transfer.h"

namespace cli {

namespace {

// A field and the text to parse into it.
struct Assignment {
    const settings_field_t* field;
    QString text;
};

int settingsUsage(const QString& message)
{
    printError(QStringLiteral("settings %1 (see settings --help)").arg(message));
    return kExitUsage;
}

QString loadFailureText(const settings_load_result_t& loaded)
{
    switch (loaded.status) {
    case SETTINGS_LOAD_NEVER_STORED:
        return QStringLiteral("the unit has never stored its settings (its checksum word reads 0xFFFFFFFF)");
    case SETTINGS_LOAD_HEADER_FAILED:
    case SETTINGS_LOAD_VALUE_FAILED:
        return QStringLiteral("could not read settings word %1 from the unit").arg(loaded.failed_index);
    default:
        return QStringLiteral("the link to the unit is not open");
    }
}

// Connects and reads the unit's whole record.
int loadUnitSettings(const Invocation& invocation, std::unique_ptr<CommsManager>* comms, Settings_t* record)
{
    const int found = connectToUnit(invocation, comms);
    if (found != kExitSuccess)
        return found;
    memset(record, 0, sizeof *record);
    const settings_load_result_t loaded = settings_load(comms->get(), record);
    if (loaded.status == SETTINGS_LOAD_OK)
        return kExitSuccess;
    printError(loadFailureText(loaded));
    return kExitFailed;
}

uint32_t word(const Settings_t& record, uint32_t index)
{
    Settings_t copy = record;
    return settings_get_value(&copy, static_cast<settings_struct_index>(index));
}

// The indices whose values differ between two records.
std::vector<uint8_t> changedIndices(const Settings_t& before, const Settings_t& after)
{
    std::vector<uint8_t> changed;
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++) {
        if (word(before, i) != word(after, i))
            changed.push_back(static_cast<uint8_t>(i));
    }
    return changed;
}

QString fieldNamesOf(const std::vector<uint8_t>& indices)
{
    QStringList names;
    for (const settings_field_t& field : settings_fields()) {
        for (uint8_t index : settings_field_indices(field)) {
            if (std::find(indices.begin(), indices.end(), index) != indices.end()) {
                names << QLatin1String(field.name);
                break;
            }
        }
    }
    return names.join(QStringLiteral(", "));
}

QString storeFailureText(const settings_store_result_t& stored)
{
    switch (stored.status) {
    case SETTINGS_STORE_DIFFERS:
        return QStringLiteral("stored, but the unit reads back other values for: %1").arg(fieldNamesOf(stored.differs));
    case SETTINGS_STORE_HEADER_FAILED:
    case SETTINGS_STORE_READ_BACK_FAILED:
        return QStringLiteral("could not read settings word %1 from the unit").arg(stored.failed_index);
    case SETTINGS_STORE_TOO_MANY_ELEMENTS:
        return QStringLiteral("the unit counts more settings words than this program knows; nothing was stored");
    default:
        return QStringLiteral("the unit did not store its settings");
    }
}

// Sends the values that differ from what the unit holds, then (when asked)
// stores them and reads them back. `done` says what was sent.
int sendChanges(CommsManager* comms, const Settings_t& unit_record, Settings_t* record, bool store,
                const QString& done)
{
    const settings_update_result_t sent = settings_update(comms, *record, changedIndices(unit_record, *record));
    if (!sent.failed.empty()) {
        printError(QStringLiteral("the unit did not take: %1; nothing was stored").arg(fieldNamesOf(sent.failed)));
        return kExitFailed;
    }
    if (!store) {
        printResult(QStringLiteral("%1 (%2 value(s) sent, not stored: --store keeps them over a restart)")
                        .arg(done)
                        .arg(sent.sent));
        return kExitSuccess;
    }
    const settings_store_result_t stored = settings_store(comms, record);
    if (stored.status != SETTINGS_STORE_OK) {
        printError(storeFailureText(stored));
        return stored.status == SETTINGS_STORE_DIFFERS ? kExitVerification : kExitFailed;
    }
    printResult(QStringLiteral("%1 (%2 value(s) sent, stored and read back)").arg(done).arg(sent.sent));
    return kExitSuccess;
}

int show(const Invocation& invocation)
{
    std::unique_ptr<CommsManager> comms;
    Settings_t record;
    const int loaded = loadUnitSettings(invocation, &comms, &record);
    if (loaded != kExitSuccess)
        return loaded;
    int width = 0;
    for (const settings_field_t& field : settings_fields())
        width = std::max(width, int(strlen(field.name)));
    QStringList lines;
    for (const settings_field_t& field : settings_fields()) {
        lines << QStringLiteral("%1  %2")
                     .arg(QLatin1String(field.name), -width)
                     .arg(settings_field_text_with_unit(field, record));
    }
    printResult(lines.join(QLatin1Char('\n')));
    return kExitSuccess;
}

bool findFields(const QStringList& names, std::vector<const settings_field_t*>* fields, QString* unknown)
{
    for (const QString& name : names) {
        const settings_field_t* field = settings_field_by_name(name);
        if (field == nullptr) {
            *unknown = name;
            return false;
        }
        fields->push_back(field);
    }
    return true;
}

int get(const Invocation& invocation, const QStringList& names)
{
    std::vector<const settings_field_t*> fields;
    QString unknown;
    if (names.isEmpty())
        return settingsUsage(QStringLiteral("get needs at least one NAME"));
    if (!findFields(names, &fields, &unknown))
        return settingsUsage(QStringLiteral("get: unknown setting \"%1\"").arg(unknown));
    std::unique_ptr<CommsManager> comms;
    Settings_t record;
    const int loaded = loadUnitSettings(invocation, &comms, &record);
    if (loaded != kExitSuccess)
        return loaded;
    QStringList lines;
    for (const settings_field_t* field : fields)
        lines << settings_field_text(*field, record);
    printResult(lines.join(QLatin1Char('\n')));
    return kExitSuccess;
}

// NAME=VALUE pairs, each name known and each value within its field's range.
bool parseAssignments(const QStringList& pairs, std::vector<Assignment>* assignments, QString* error)
{
    for (const QString& pair : pairs) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const settings_field_t* field = equals > 0 ? settings_field_by_name(pair.left(equals)) : nullptr;
        if (equals <= 0) {
            *error = QStringLiteral("set: \"%1\" is no NAME=VALUE").arg(pair);
            return false;
        }
        if (field == nullptr) {
            *error = QStringLiteral("set: unknown setting \"%1\"").arg(pair.left(equals));
            return false;
        }
        Settings_t scratch;
        memset(&scratch, 0, sizeof scratch);
        QString reason;
        if (!settings_field_parse(*field, pair.mid(equals + 1), &scratch, &reason)) {
            *error = QStringLiteral("set: %1: %2").arg(QLatin1String(field->name), reason);
            return false;
        }
        assignments->push_back({field, pair.mid(equals + 1)});
    }
    return true;
}

int set(const Invocation& invocation, const QStringList& pairs)
{
    std::vector<Assignment> assignments;
    QString error;
    if (pairs.isEmpty())
        return settingsUsage(QStringLiteral("set needs at least one NAME=VALUE"));
    if (!parseAssignments(pairs, &assignments, &error))
        return settingsUsage(error);
    std::unique_ptr<CommsManager> comms;
    Settings_t unit_record;
    const int loaded = loadUnitSettings(invocation, &comms, &unit_record);
    if (loaded != kExitSuccess)
        return loaded;
    Settings_t record = unit_record;
    for (const Assignment& assignment : assignments) {
        if (!settings_field_parse(*assignment.field, assignment.text, &record, &error)) {
            printError(QStringLiteral("%1: %2").arg(QLatin1String(assignment.field->name), error));
            return kExitFailed;
        }
    }
    return sendChanges(comms.get(), unit_record, &record, true, QStringLiteral("Settings changed"));
}

int exportTo(const Invocation& invocation, const QString& path)
{
    std::unique_ptr<CommsManager> comms;
    Settings_t record;
    const int loaded = loadUnitSettings(invocation, &comms, &record);
    if (loaded != kExitSuccess)
        return loaded;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(settings_file_export(record, {device_serial, fw})) < 0
        || !file.commit()) {
        printError(QStringLiteral("could not write %1: %2").arg(path, file.errorString()));
        return kExitFailed;
    }
    printResult(QStringLiteral("Settings exported to %1").arg(path));
    return kExitSuccess;
}

bool readFile(const QString& path, QByteArray* bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("could not read %1: %2").arg(path, file.errorString()));
        return false;
    }
    *bytes = file.readAll();
    return true;
}

// The unit's record and a settings file's record for it.
struct UnitAndFile {
    std::unique_ptr<CommsManager> comms;
    Settings_t unit;
    Settings_t file;
};

// Reads the file, the unit's record, and the file checked against the
// unit's layout; `trouble` is the status when either cannot be had.
int loadUnitAndFile(const Invocation& invocation, const QString& path, int trouble, UnitAndFile* both)
{
    QByteArray document;
    if (!readFile(path, &document))
        return trouble;
    const int loaded = loadUnitSettings(invocation, &both->comms, &both->unit);
    if (loaded != kExitSuccess)
        return loaded == kExitNoUnit ? loaded : trouble;
    both->file = both->unit;
    settings_file_unit_t source;
    QString error;
    if (!settings_file_import(document, both->unit.version, &both->file, &source, &error)) {
        printError(QStringLiteral("%1: %2; nothing was sent").arg(path, error));
        return trouble;
    }
    return kExitSuccess;
}

int importFrom(const Invocation& invocation, const QString& path)
{
    UnitAndFile both;
    const int loaded = loadUnitAndFile(invocation, path, kExitFailed, &both);
    if (loaded != kExitSuccess)
        return loaded;
    return sendChanges(both.comms.get(), both.unit, &both.file, invocation.store,
                       QStringLiteral("Settings imported from %1").arg(path));
}

// As diff does: 0 equal, 1 different, 2 when they cannot be compared.
int diff(const Invocation& invocation, const QString& path)
{
    UnitAndFile both;
    const int loaded = loadUnitAndFile(invocation, path, kExitUsage, &both);
    if (loaded != kExitSuccess)
        return loaded;
    const std::vector<settings_difference_t> differences = settings_compare(both.unit, both.file);
    if (differences.empty()) {
        printResult(QStringLiteral("The unit's settings equal %1").arg(path));
        return kExitSuccess;
    }
    QStringList lines;
    for (const settings_difference_t& difference : differences)
        lines << QStringLiteral("%1: unit %2, file %3").arg(difference.name, difference.first, difference.second);
    printResult(lines.join(QLatin1Char('\n')));
    return kExitFailed;
}

} // namespace

const char kSettingsActions[]
    = "show | get NAME... | set NAME=VALUE... | export FILE | import FILE [--store] | diff FILE";

int settings(const Invocation& invocation)
{
    const QString action = invocation.arguments.value(0);
    const QStringList rest = invocation.arguments.mid(1);
    if (invocation.store && action != QLatin1String("import"))
        return settingsUsage(QStringLiteral("%1 takes no --store").arg(action));
    if (action == QLatin1String("show"))
        return rest.isEmpty() ? show(invocation) : settingsUsage(QStringLiteral("show takes no arguments"));
    if (action == QLatin1String("get"))
        return get(invocation, rest);
    if (action == QLatin1String("set"))
        return set(invocation, rest);
    const bool one_file = rest.size() == 1;
    if (action == QLatin1String("export") && one_file)
        return exportTo(invocation, rest.first());
    if (action == QLatin1String("import") && one_file)
        return importFrom(invocation, rest.first());
    if (action == QLatin1String("diff") && one_file)
        return diff(invocation, rest.first());
    return settingsUsage(QStringLiteral("needs one of: %1").arg(QLatin1String(kSettingsActions)));
}

} // namespace cli
