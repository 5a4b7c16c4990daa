#include "settings_file.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"

namespace {

// ---- The table ------------------------------------------------------------------

const settings_choice_t kAirspeedUnits[] = {{"MPH", 1u << 0}, {"Knots", 1u << 1}, {"KPH", 1u << 2}};
const settings_choice_t kAltitudeUnits[] = {{"Feet", 1u << 3}, {"Meters", 1u << 4}};
const settings_choice_t kTemperatureUnits[] = {{"Fahrenheit", 1u << 5}, {"Celsius", 1u << 6}};
const settings_choice_t kPressureUnits[] = {{"InHg", 1u << 7}, {"Mbar", 1u << 8}};
// A record with no airspeed flag shows knots.
const int kAirspeedFallbackItem = 1;

const settings_choice_t kAddressTypes[] = {{"Use ICAO #", 0}, {"Random ICAO #", 1}};
const settings_choice_t kTermination[] = {{"Enable", 1}, {"Disable", 0}};
const settings_choice_t kMapViews[] = {{"North Up", 0}, {"Track Up", 1}};
const settings_choice_t kEmitterCategories[] = {
    {"A0 : Reserved", 0},
    {"A1 : Light (< 15.5k lbs)", 1},
    {"A2 : Small (15.5k to 75k lbs)", 2},
    {"A3 : Large (75k to 300k lbs)", 3},
    {"A4 : High vortex large", 4},
    {"A5 : Heavy (> 300k lbs) ", 5},
    {"A6 : High Perf > 5g & 400 kts", 6},
    {"A7 : Rotorcraft", 7},
    {"B0 : Reserved", 8},
    {"B1 : Glider / sailplane", 9},
    {"B2 : Lighter-than-air", 10},
    {"B3 : Parachutist / skydiver", 11},
    {"B4 : Ultralight / hang-glider / paraglider", 12},
    {"B5 : Reserved", 13},
    {"B6 : Unmanned aerial vehicle", 14},
    {"B7 : Space / trans-atmospheric vehicle", 15},
    {"C0 : Reserved", 16},
    {"C1 : Surface vehicle \u2013 emergency vehicle", 17},
    {"C2 : Surface vehicle \u2013 service vehicle", 18},
    {"C3 : Point obstacle (includes tethered balloons)", 19},
    {"C4 : Cluster obstacle", 20},
    {"C5 : Line obstacle", 21},
};

#define CHOICES(list) list, static_cast<int>(sizeof list / sizeof list[0])

const double kWordMaximum = 4294967295.0;

// In index order, which is also the order of the form's fields.
const std::vector<settings_field_t> kFields = {
    {"airspeed_units", UNITS_VALUE_INDEX, FIELD_UNITS, "", 0, 0, CHOICES(kAirspeedUnits)},
    {"altitude_units", UNITS_VALUE_INDEX, FIELD_UNITS, "", 0, 0, CHOICES(kAltitudeUnits)},
    {"temperature_units", UNITS_VALUE_INDEX, FIELD_UNITS, "", 0, 0, CHOICES(kTemperatureUnits)},
    {"pressure_units", UNITS_VALUE_INDEX, FIELD_UNITS, "", 0, 0, CHOICES(kPressureUnits)},
    {"vmin", VMIN_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"vs0", VS0_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"vs1", VS1_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"vfe", VFE_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"vn0", VN0_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"vne", VNE_INDEX, FIELD_INTEGER, "", 0, 240, nullptr, 0},
    {"vref", APPROACHSPEED_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"vlo", VLO_INDEX, FIELD_INTEGER, "", 0, 255, nullptr, 0},
    {"min_volt_warning", MIN_VOLTS_INDEX, FIELD_VOLTS, "V", 5.0, 65.0, nullptr, 0},
    {"max_volt_warning", MAX_VOLTS_INDEX, FIELD_VOLTS, "V", 5.0, 65.0, nullptr, 0},
    {"registration", REGISTRATION_1_INDEX, FIELD_REGISTRATION, "", 0, 0, nullptr, 0},
    {"sky_upper_color", SKY_COLOR_0_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"sky_lower_color", SKY_COLOR_1_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"ground_upper_color", GROUND_COLOR_0_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"ground_lower_color", GROUND_COLOR_1_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"approach_indicator_color", APPROACH_COLOR_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"airplane_color", AIRPLANE_COLOR_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"green_arc_color", GREEN_ARC_COLOR_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"yellow_arc_color", YELLOW_ARC_COLOR_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"red_arc_color", RED_ARC_COLOR_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"gear_indicator_color", GEAR_INDI_COLOR_INDEX, FIELD_COLOUR, "", 0, 0, nullptr, 0},
    {"display_brightness", BACKLIGHT_BRIGHTNESS_INDEX, FIELD_INTEGER, "", 0, 21, nullptr, 0},
    {"roll_correction", ROLL_CORRECTION_INDEX, FIELD_CORRECTION, "\u00B0", -90.0, 90.0, nullptr, 0},
    {"pitch_correction", PITCH_CORRECTION_INDEX, FIELD_CORRECTION, "\u00B0", -90.0, 90.0, nullptr, 0},
    {"min_volt_alert", MIN_VOLTS_ALERT_INDEX, FIELD_VOLTS, "V", 5.0, 65.0, nullptr, 0},
    {"max_volt_alert", MAX_VOLTS_ALERT_INDEX, FIELD_VOLTS, "V", 5.0, 65.0, nullptr, 0},
    {"text_background_transparency", TEXT_BG_ALPHA_INDEX, FIELD_INTEGER, "", 0, 254, nullptr, 0},
    // No widget shows it: any word is a value.
    {"use_magnetic_heading", USE_MAG_INDEX, FIELD_INTEGER, "", 0, kWordMaximum, nullptr, 0},
    {"icao_address", OWNSHIP_ICAO_INDEX, FIELD_ICAO, "", 0, 0xFFFFFF, nullptr, 0},
    {"icao_address_type", ICAO_ADDR_TYPE_INDEX, FIELD_CHOICE, "", 0, 0, CHOICES(kAddressTypes)},
    // The category is the item's position; one beyond the list shows as its nearest end.
    {"emitter_category", EMITTER_CAT_INDEX, FIELD_CHOICE, "", 0, 21, CHOICES(kEmitterCategories)},
    {"termination_resistor", TERM_RESISTOR_INDEX, FIELD_CHOICE, "", 0, 0, CHOICES(kTermination)},
    {"map_view", MAP_DIR_INDEX, FIELD_CHOICE, "", 0, 0, CHOICES(kMapViews)},
};

const int kRegistrationWords = 3;
const int kRegistrationTextMax = SETTINGS_REGISTRATION_LEN - 1;
const uint32_t kOpaque = 0xFF000000;
const uint32_t kIcaoMask = 0xFFFFFF;
const int kDecimalsShown = 1;
const char* const kAirspeedUnitTexts[] = {"mph", "kt", "km/h"};

uint32_t word_of(const Settings_t& record, settings_struct_index index)
{
    Settings_t copy = record;
    return settings_get_value(&copy, index);
}

void put_word(Settings_t* record, uint32_t index, uint32_t value)
{
    settings_set_value(record, static_cast<settings_struct_index>(index), &value);
}

// ---- Value to text ------------------------------------------------------------------

int units_item(const settings_field_t& field, uint32_t units)
{
    // The airspeed list looks at its three flags in order; the other lists
    // only at their metric flag.
    if (field.choice_count == 3) {
        for (int i = 0; i < field.choice_count; i++) {
            if ((units & field.choices[i].value) != 0)
                return i;
        }
        return kAirspeedFallbackItem;
    }
    return (units & field.choices[1].value) != 0 ? 1 : 0;
}

int choice_item(const settings_field_t& field, uint32_t value)
{
    if (field.maximum > 0)
        return qBound(0, static_cast<int>(static_cast<int32_t>(value)), field.choice_count - 1);
    for (int i = 0; i < field.choice_count; i++) {
        if (field.choices[i].value == value)
            return i;
    }
    return 0;
}

// Whole numbers the form holds in an int are read as signed, as the form does.
qint64 integer_shown(const settings_field_t& field, uint32_t value)
{
    const qint64 number = field.maximum > std::numeric_limits<int32_t>::max() ? qint64(value)
                                                                                : qint64(static_cast<int32_t>(value));
    return qBound<qint64>(qint64(field.minimum), number, qint64(field.maximum));
}

float float_of(uint32_t bits)
{
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t bits_of(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

QString decimal_shown(const settings_field_t& field, double value)
{
    return QString::number(qBound(field.minimum, value, field.maximum), 'f', kDecimalsShown);
}

QString colour_text(uint32_t colour)
{
    const bool opaque = (colour & kOpaque) == kOpaque;
    const uint32_t shown = opaque ? colour & ~kOpaque : colour;
    return QStringLiteral("#%1").arg(shown, opaque ? 6 : 8, 16, QLatin1Char('0'));
}

QString registration_text(const Settings_t& record)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(record.registration);
    int length = 0;
    while (length < kRegistrationTextMax && bytes[length] != 0x00 && bytes[length] != 0xFF)
        length++;
    return QString::fromLatin1(record.registration, length);
}

// ---- Text to value ------------------------------------------------------------------

bool fail(QString* error, const QString& reason)
{
    if (error != nullptr)
        *error = reason;
    return false;
}

QString range_text(const settings_field_t& field, int decimals)
{
    return QStringLiteral("%1 to %2")
        .arg(QString::number(field.minimum, 'f', decimals), QString::number(field.maximum, 'f', decimals));
}

bool parse_number(const settings_field_t& field, const QString& text, int decimals, double* value, QString* error)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return fail(error, QStringLiteral("\"%1\" is not a number").arg(text));
    if (number < field.minimum || number > field.maximum)
        return fail(error, QStringLiteral("%1 is outside %2").arg(text.trimmed(), range_text(field, decimals)));
    *value = number;
    return true;
}

bool parse_integer(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    double number = 0;
    if (!parse_number(field, text, 0, &number, error))
        return false;
    if (number != std::floor(number))
        return fail(error, QStringLiteral("%1 is not a whole number").arg(text.trimmed()));
    put_word(record, field.index, static_cast<uint32_t>(number));
    return true;
}

// The form holds one decimal: a value is rounded to it, as the form does.
// Voltages are stored in tenths, corrections as the float's bit pattern.
bool parse_one_decimal(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    double value = 0;
    if (!parse_number(field, text, kDecimalsShown, &value, error))
        return false;
    const double tenths = std::round(value * 10.0);
    put_word(record, field.index,
             field.kind == FIELD_VOLTS ? static_cast<uint32_t>(tenths) : bits_of(static_cast<float>(tenths / 10.0)));
    return true;
}

bool parse_colour(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    static const QRegularExpression colour(QStringLiteral("^#([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
    const QString trimmed = text.trimmed();
    if (!colour.match(trimmed).hasMatch())
        return fail(error, QStringLiteral("\"%1\" is no colour (#RRGGBB or #AARRGGBB)").arg(text));
    uint32_t value = trimmed.mid(1).toUInt(nullptr, 16);
    if (trimmed.size() == 7)
        value |= kOpaque;
    put_word(record, field.index, value);
    return true;
}

// Four characters a word, the first in the most significant byte; byte 11 stays 0.
bool parse_registration(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    const QVector<uint> characters = text.toUcs4();
    if (characters.size() > kRegistrationTextMax)
        return fail(error, QStringLiteral("\"%1\" is longer than %2 characters").arg(text).arg(kRegistrationTextMax));
    uint8_t bytes[SETTINGS_REGISTRATION_LEN] = {0};
    for (int i = 0; i < characters.size(); i++) {
        if (characters[i] == 0 || characters[i] >= 0xFF)
            return fail(error, QStringLiteral("\"%1\" holds a character the unit cannot store").arg(text));
        bytes[i] = static_cast<uint8_t>(characters[i]);
    }
    for (int w = 0; w < kRegistrationWords; w++) {
        const uint8_t* group = &bytes[4 * w];
        put_word(record, field.index + w,
                 uint32_t(group[0]) << 24 | uint32_t(group[1]) << 16 | uint32_t(group[2]) << 8 | group[3]);
    }
    return true;
}

bool parse_icao(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    static const QRegularExpression address(QStringLiteral("^[0-9a-fA-F]{1,6}$"));
    const QString trimmed = text.trimmed();
    if (!address.match(trimmed).hasMatch())
        return fail(error, QStringLiteral("\"%1\" is no ICAO address (one to six hexadecimal digits)").arg(text));
    put_word(record, field.index, trimmed.toUInt(nullptr, 16));
    return true;
}

QStringList choice_texts(const settings_field_t& field)
{
    QStringList texts;
    for (int i = 0; i < field.choice_count; i++)
        texts.append(QString::fromUtf8(field.choices[i].text));
    return texts;
}

// An item by its whole text, or by the code in front of " : " (emitter categories).
int find_choice(const settings_field_t& field, const QString& text)
{
    const QStringList texts = choice_texts(field);
    for (int i = 0; i < texts.size(); i++) {
        const QString code = texts[i].section(QStringLiteral(" : "), 0, 0);
        if (texts[i] == text || texts[i].trimmed().compare(text.trimmed(), Qt::CaseInsensitive) == 0
            || code.compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool parse_choice(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    const int item = find_choice(field, text);
    if (item < 0)
        return fail(error, QStringLiteral("\"%1\" is none of: %2").arg(text, choice_texts(field).join(QStringLiteral(", "))));
    if (field.kind == FIELD_UNITS) {
        uint32_t units = word_of(*record, UNITS_VALUE_INDEX);
        for (int i = 0; i < field.choice_count; i++)
            units &= ~field.choices[i].value;
        put_word(record, UNITS_VALUE_INDEX, units | field.choices[item].value);
    } else {
        put_word(record, field.index, field.choices[item].value);
    }
    return true;
}

} // namespace

const std::vector<settings_field_t>& settings_fields()
{
    return kFields;
}

const settings_field_t* settings_field_by_name(const QString& name)
{
    for (const settings_field_t& field : kFields) {
        if (name == QLatin1String(field.name))
            return &field;
    }
    return nullptr;
}

std::vector<uint8_t> settings_field_indices(const settings_field_t& field)
{
    const int count = field.kind == FIELD_REGISTRATION ? kRegistrationWords : 1;
    std::vector<uint8_t> indices;
    for (int i = 0; i < count; i++)
        indices.push_back(static_cast<uint8_t>(field.index + i));
    return indices;
}

QString settings_field_text(const settings_field_t& field, const Settings_t& record)
{
    const uint32_t value = word_of(record, field.index);
    switch (field.kind) {
    case FIELD_UNITS:
        return QString::fromUtf8(field.choices[units_item(field, value)].text);
    case FIELD_INTEGER:
        return QString::number(integer_shown(field, value));
    case FIELD_VOLTS:
        return decimal_shown(field, value / 10.0);
    case FIELD_CORRECTION:
        return decimal_shown(field, static_cast<double>(float_of(value)));
    case FIELD_COLOUR:
        return colour_text(value);
    case FIELD_REGISTRATION:
        return registration_text(record);
    case FIELD_ICAO:
        return QStringLiteral("%1").arg(value & kIcaoMask, 6, 16, QLatin1Char('0')).toUpper();
    case FIELD_CHOICE:
        return QString::fromUtf8(field.choices[choice_item(field, value)].text);
    }
    return QString();
}

// The V-speeds are in the airspeed unit the record names.
QString settings_field_text_with_unit(const settings_field_t& field, const Settings_t& record)
{
    QString unit = QString::fromUtf8(field.unit);
    if (field.index >= VMIN_INDEX && field.index <= VLO_INDEX)
        unit = QLatin1String(kAirspeedUnitTexts[units_item(kFields[0], word_of(record, UNITS_VALUE_INDEX))]);
    const QString text = settings_field_text(field, record);
    if (unit.isEmpty())
        return text;
    return unit.startsWith(QChar(0x00B0)) ? text + unit : text + QLatin1Char(' ') + unit;
}

bool settings_field_parse(const settings_field_t& field, const QString& text, Settings_t* record, QString* error)
{
    Settings_t scratch = *record;
    bool parsed = false;
    switch (field.kind) {
    case FIELD_UNITS:
    case FIELD_CHOICE:
        parsed = parse_choice(field, text, &scratch, error);
        break;
    case FIELD_INTEGER:
        parsed = parse_integer(field, text, &scratch, error);
        break;
    case FIELD_VOLTS:
    case FIELD_CORRECTION:
        parsed = parse_one_decimal(field, text, &scratch, error);
        break;
    case FIELD_COLOUR:
        parsed = parse_colour(field, text, &scratch, error);
        break;
    case FIELD_REGISTRATION:
        parsed = parse_registration(field, text, &scratch, error);
        break;
    case FIELD_ICAO:
        parsed = parse_icao(field, text, &scratch, error);
        break;
    }
    if (parsed)
        *record = scratch;
    return parsed;
}

// ---- The settings file -------------------------------------------------------------

namespace {

const char* const kFormatName = "Corvane EFIS settings";
const char* const kIndent = "    ";

bool written_as_number(const settings_field_t& field)
{
    return field.kind == FIELD_INTEGER || field.kind == FIELD_VOLTS || field.kind == FIELD_CORRECTION;
}

// A JSON string literal, escaped as JSON requires.
QString json_string(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString hex_digits(uint32_t value, int width)
{
    return QString::number(value, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

QString hex_word(uint32_t value)
{
    return QStringLiteral("0x") + hex_digits(value, 8);
}

QString firmware_text(const fwversion_t& firmware)
{
    return QStringLiteral("%1.%2.%3").arg(firmware.major).arg(firmware.minor).arg(firmware.patch);
}

QString device_type_text(uint32_t serial)
{
    return QStringLiteral("0x") + hex_digits(get_device_type(serial), 2);
}

// One member per line, in the order given, so two files of similar settings
// differ only in the lines that differ.
QString json_object(const QStringList& members, int depth)
{
    const QString inner = QString::fromLatin1(kIndent).repeated(depth + 1);
    const QString outer = QString::fromLatin1(kIndent).repeated(depth);
    return QStringLiteral("{\n") + inner + members.join(QStringLiteral(",\n") + inner) + QStringLiteral("\n") + outer
           + QStringLiteral("}");
}

QString member(const char* name, const QString& value)
{
    return json_string(QLatin1String(name)) + QStringLiteral(": ") + value;
}

QString settings_members(const Settings_t& record)
{
    QStringList members;
    for (const settings_field_t& field : kFields) {
        const QString text = settings_field_text(field, record);
        members.append(member(field.name, written_as_number(field) ? text : json_string(text)));
    }
    return json_object(members, 1);
}

QString raw_words(const Settings_t& record)
{
    QStringList words;
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++)
        words.append(json_string(hex_word(word_of(record, static_cast<settings_struct_index>(i)))));
    const QString inner = QString::fromLatin1(kIndent).repeated(2);
    return QStringLiteral("[\n") + inner + words.join(QStringLiteral(",\n") + inner) + QStringLiteral("\n")
           + QString::fromLatin1(kIndent) + QStringLiteral("]");
}

QString unit_members(const settings_file_unit_t& unit)
{
    return json_object({member("serial_number", json_string(hex_word(unit.serial))),
                        member("type", json_string(device_type_text(unit.serial))),
                        member("firmware_version", json_string(firmware_text(unit.firmware)))},
                       1);
}

// ---- Reading it back -------------------------------------------------------------

// A number in the document as the text a user would have typed.
QString value_text(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    const double number = value.toDouble();
    if (number == std::floor(number) && std::fabs(number) < 9007199254740992.0)
        return QString::number(static_cast<qint64>(number));
    return QString::number(number, 'g', 15);
}

bool read_whole_number(const QJsonObject& root, const char* name, uint32_t* value, QString* error)
{
    const QJsonValue member = root.value(QLatin1String(name));
    const double number = member.toDouble(-1);
    if (!member.isDouble() || number < 0 || number > kWordMaximum || number != std::floor(number))
        return fail(error, QStringLiteral("\"%1\" is missing or not a whole number").arg(QLatin1String(name)));
    *value = static_cast<uint32_t>(number);
    return true;
}

bool read_header(const QJsonObject& root, uint32_t expected_layout, Settings_t* record, QString* error)
{
    uint32_t format = 0;
    if (!read_whole_number(root, "format_version", &format, error))
        return false;
    if (format != kSettingsFileFormatVersion)
        return fail(error, QStringLiteral("format version %1 is not one this program reads (it reads version %2)")
                               .arg(format)
                               .arg(kSettingsFileFormatVersion));
    if (!read_whole_number(root, "layout_version", &record->version, error)
        || !read_whole_number(root, "element_count", &record->num_elements, error))
        return false;
    if (expected_layout != 0 && record->version != expected_layout)
        return fail(error, QStringLiteral("the file holds settings of layout version %1; the unit's are version %2")
                               .arg(record->version)
                               .arg(expected_layout));
    if (record->num_elements > SETTINGS_WORDS_AFTER_CRC)
        return fail(error, QStringLiteral("element count %1 is more than the %2 words a record holds")
                               .arg(record->num_elements)
                               .arg(int(SETTINGS_WORDS_AFTER_CRC)));
    return true;
}

bool read_raw_words(const QJsonObject& root, Settings_t* record, QString* error)
{
    static const QRegularExpression word(QStringLiteral("^0x[0-9a-fA-F]{8}$"));
    const QJsonArray words = root.value(QLatin1String("raw_words")).toArray();
    if (words.size() != SETTINGS_LAST_INDEX)
        return fail(error, QStringLiteral("\"raw_words\" must list %1 words").arg(int(SETTINGS_LAST_INDEX)));
    for (uint32_t i = 0; i < SETTINGS_LAST_INDEX; i++) {
        const QString text = words[int(i)].toString();
        if (!word.match(text).hasMatch())
            return fail(error, QStringLiteral("raw word %1 is not a 32-bit hexadecimal word").arg(i));
        put_word(record, i, text.mid(2).toUInt(nullptr, 16));
    }
    return true;
}

// Every name known, every field present, every value within its range and
// agreeing with the raw words.
bool check_named_values(const QJsonObject& settings, const Settings_t& raw, QString* error)
{
    for (const QString& name : settings.keys()) {
        if (settings_field_by_name(name) == nullptr)
            return fail(error, QStringLiteral("unknown setting \"%1\"").arg(name));
    }
    for (const settings_field_t& field : kFields) {
        const QLatin1String name(field.name);
        if (!settings.contains(name))
            return fail(error, QStringLiteral("setting \"%1\" is missing").arg(name));
        Settings_t named = raw;
        QString reason;
        const QString text = value_text(settings.value(name));
        if (!settings_field_parse(field, text, &named, &reason))
            return fail(error, QStringLiteral("setting \"%1\": %2").arg(name, reason));
        if (settings_field_text(field, named) != settings_field_text(field, raw))
            return fail(error, QStringLiteral("setting \"%1\" (%2) disagrees with its raw word (%3)")
                                   .arg(name, text, settings_field_text(field, raw)));
    }
    return true;
}

void read_unit(const QJsonObject& unit, settings_file_unit_t* out)
{
    out->serial = unit.value(QLatin1String("serial_number")).toString().mid(2).toUInt(nullptr, 16);
    const QStringList version = unit.value(QLatin1String("firmware_version")).toString().split(QLatin1Char('.'));
    out->firmware.version = 0;
    if (version.size() == 3) {
        out->firmware.major = static_cast<uint8_t>(version[0].toUInt());
        out->firmware.minor = static_cast<uint8_t>(version[1].toUInt());
        out->firmware.patch = static_cast<uint8_t>(version[2].toUInt());
    }
}

} // namespace

QByteArray settings_file_export(const Settings_t& record, const settings_file_unit_t& unit)
{
    const QStringList members = {
        member("format", json_string(QLatin1String(kFormatName))),
        member("format_version", QString::number(kSettingsFileFormatVersion)),
        member("unit", unit_members(unit)),
        member("layout_version", QString::number(record.version)),
        member("element_count", QString::number(record.num_elements)),
        member("settings", settings_members(record)),
        member("raw_words", raw_words(record)),
    };
    return (json_object(members, 0) + QStringLiteral("\n")).toUtf8();
}

bool settings_file_import(const QByteArray& document, uint32_t expected_layout, Settings_t* record,
                          settings_file_unit_t* unit, QString* error)
{
    QJsonParseError parse_error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parse_error);
    if (json.isNull())
        return fail(error, QStringLiteral("not a JSON document (%1)").arg(parse_error.errorString()));
    if (!json.isObject())
        return fail(error, QStringLiteral("not a settings file"));
    const QJsonObject root = json.object();
    Settings_t scratch;
    memset(&scratch, 0, sizeof scratch);
    if (!read_header(root, expected_layout, &scratch, error) || !read_raw_words(root, &scratch, error))
        return false;
    const QJsonValue settings = root.value(QLatin1String("settings"));
    if (!settings.isObject())
        return fail(error, QStringLiteral("\"settings\" is missing"));
    if (!check_named_values(settings.toObject(), scratch, error))
        return false;
    if (unit != nullptr)
        read_unit(root.value(QLatin1String("unit")).toObject(), unit);
    *record = scratch;
    return true;
}

std::vector<settings_difference_t> settings_compare(const Settings_t& first, const Settings_t& second)
{
    std::vector<settings_difference_t> differences;
    for (const settings_field_t& field : kFields) {
        const QString a = settings_field_text(field, first);
        const QString b = settings_field_text(field, second);
        if (a != b)
            differences.push_back({QLatin1String(field.name), a, b});
    }
    return differences;
}

// ---- Backups ------------------------------------------------------------------------

namespace {

// Names sort by time within a unit: the oldest come first.
QString backup_prefix(uint32_t serial)
{
    return hex_digits(serial, 8) + QStringLiteral("_");
}

void prune_backups(QDir& directory, uint32_t serial)
{
    const QStringList backups = directory.entryList({backup_prefix(serial) + QStringLiteral("*.json")}, QDir::Files,
                                                    QDir::Name);
    for (int i = 0; i < backups.size() - kSettingsBackupsKept; i++)
        directory.remove(backups[i]);
}

} // namespace

QString settings_backup_write(const QString& directory, const Settings_t& record, const settings_file_unit_t& unit,
                              QString* error)
{
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral("."))) {
        fail(error, QStringLiteral("cannot create %1").arg(directory));
        return QString();
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const QString path = dir.filePath(backup_prefix(unit.serial) + stamp + QStringLiteral(".json"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(settings_file_export(record, unit)) < 0 || !file.commit()) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return QString();
    }
    prune_backups(dir, unit.serial);
    return path;
}
