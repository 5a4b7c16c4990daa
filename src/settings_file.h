#pragma once

// The unit's settings by readable names, and the settings file: one table of
// fields (name, settings index, unit, the form's range or choices), each value
// turned into text as the form shows it and parsed back with its range
// checked; a JSON document holding every field by name and the raw words
// (export), read back with every rule checked (import), and the comparison of
// two records field by field. No widgets.

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"

typedef enum : uint8_t {
    FIELD_UNITS = 0,        // one flag group of the units word, shown as a list
    FIELD_INTEGER = 1,      // a whole number within the range
    FIELD_VOLTS = 2,        // tenths of a volt, shown in volts with one decimal
    FIELD_CORRECTION = 3,   // a float, shown with one decimal
    FIELD_COLOUR = 4,       // 0xAARRGGBB as #RRGGBB, or #AARRGGBB when not opaque
    FIELD_REGISTRATION = 5, // three words of four characters, shown as text
    FIELD_ICAO = 6,         // a 24-bit address as six hexadecimal digits
    FIELD_CHOICE = 7,       // one of a list of texts, each standing for a value
} settings_field_kind_t;

typedef struct {
    const char* text;
    uint32_t value;
} settings_choice_t;

typedef struct {
    const char* name;            // the name in the settings file and on the command line
    settings_struct_index index; // the first settings index the field occupies
    settings_field_kind_t kind;
    const char* unit;     // shown after the value; empty when none
    double minimum;       // the form's range (integers, volts, corrections)
    double maximum;
    const settings_choice_t* choices; // lists and unit groups: the items, in the form's order
    int choice_count;
} settings_field_t;

// Every field, in the form's order.
const std::vector<settings_field_t>& settings_fields();
// The field of that name, or null.
const settings_field_t* settings_field_by_name(const QString& name);
// The settings indices a field occupies (three for the registration).
std::vector<uint8_t> settings_field_indices(const settings_field_t& field);

// The value as the form shows it (a value beyond the form's range as its
// nearest bound, a colour by name, a list by its item).
QString settings_field_text(const settings_field_t& field, const Settings_t& record);
// The same followed by the field's unit, for people.
QString settings_field_text_with_unit(const settings_field_t& field, const Settings_t& record);
// Parses text into the field's words of *record. False, with *record
// unchanged and the reason in *error, for text that is no value of the field
// or lies outside its range.
bool settings_field_parse(const settings_field_t& field, const QString& text, Settings_t* record, QString* error);

// ---- The settings file -----------------------------------------------------------

const int kSettingsFileFormatVersion = 1;
const char* const kSettingsFileFilter = "EFIS settings (*.json)";

// Which unit a file's settings came from.
typedef struct {
    uint32_t serial;
    fwversion_t firmware;
} settings_file_unit_t;

// The document for a record: format version, the unit, the layout version and
// element count, every field by name, and values 0 to 35 as raw words.
QByteArray settings_file_export(const Settings_t& record, const settings_file_unit_t& unit);

// Reads a document written by settings_file_export. expected_layout is the
// layout version the host's record has (0: none known yet, any is taken).
// On success *record holds the file's layout version, element count and
// values 0 to 35 (its raw words); otherwise *error names the problem and
// *record is unchanged.
bool settings_file_import(const QByteArray& document, uint32_t expected_layout, Settings_t* record,
                          settings_file_unit_t* unit, QString* error);

// A field whose value differs between two records, as each shows it.
typedef struct {
    QString name;
    QString first;
    QString second;
} settings_difference_t;

std::vector<settings_difference_t> settings_compare(const Settings_t& first, const Settings_t& second);

// ---- Backups -----------------------------------------------------------------------

const int kSettingsBackupsKept = 20;

// Writes the record as a settings file named after the unit and the time into
// directory, then removes the unit's oldest backups beyond kSettingsBackupsKept.
// The file's path, or an empty text with the reason in *error.
QString settings_backup_write(const QString& directory, const Settings_t& record, const settings_file_unit_t& unit,
                              QString* error);
