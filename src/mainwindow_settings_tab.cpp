// MainWindow: the Settings tab. The working record is copied into the widgets
// after a load or save, copied back before a save, and every edit hands its
// setting on as changed. Nothing here talks to the unit.

#include "mainwindow.h"

#include <cstring>

#include "EFIS_shared/get_set.h"
#include "ui_mainwindow.h"

namespace {

enum AirspeedUnitItem {
    AIRSPEED_MPH = 0,
    AIRSPEED_KNOTS = 1,
    AIRSPEED_KPH = 2,
};

// Altitude, pressure and temperature lists: the first item is the
// imperial unit, the second the metric one.
enum UnitItem {
    UNIT_IMPERIAL = 0,
    UNIT_METRIC = 1,
};

enum TerminationItem {
    TERMINATION_ENABLE = 0,
    TERMINATION_DISABLE = 1,
};

// The text background slider never shows full opacity.
const int kTextBgAlphaLimit = 254;

void store_value(settings_struct_index index, uint32_t value)
{
    settings_set_value(&user_config, index, &value);
}

// The voltage fields hold tenths of a volt.
uint32_t tenths_of_volt(double volts)
{
    return static_cast<uint32_t>(volts * 10.0);
}

double volts_of(uint32_t tenths)
{
    return tenths / 10.0;
}

// A correction travels as the bit pattern of a single-precision float.
uint32_t float_bits(double value)
{
    const float narrowed = static_cast<float>(value);
    uint32_t bits;
    memcpy(&bits, &narrowed, sizeof bits);
    return bits;
}

int airspeed_item(const units_t& units)
{
    if (units.is_mph)
        return AIRSPEED_MPH;
    if (units.is_knots)
        return AIRSPEED_KNOTS;
    if (units.is_kph)
        return AIRSPEED_KPH;
    return AIRSPEED_KNOTS;
}

int unit_item(bool metric)
{
    return metric ? UNIT_METRIC : UNIT_IMPERIAL;
}

uint32_t termination_value(int item)
{
    return item == TERMINATION_ENABLE ? 1 : 0;
}

} // namespace

void MainWindow::updateUIFromConfig()
{
    setSettingsSignalsBlocked(true);
    showColours();
    showUnits();
    showSpeedsAndVoltages();
    showRegistration();
    showDisplayValues();
    showIdentity();
    showBusValues();
    setSettingsSignalsBlocked(false);
}

// The widgets whose signals would mark a setting as changed, in the order
// they are blocked and unblocked. The colour buttons are not among them:
// changing a style sheet emits nothing the window listens to.
QList<QWidget*> MainWindow::settingsInputWidgets() const
{
    return {
        ui->comboBox_airspeed,     ui->comboBox_altitude,    ui->comboBox_temp,         ui->comboBox_pressure,
        ui->spinBox_vmin,          ui->spinBox_vs0,          ui->spinBox_vs1,           ui->spinBox_vfe,
        ui->spinBox_vn0,           ui->spinBox_vne,          ui->spinBox_vref,          ui->spinBox_vlo,
        ui->min_volt_warn_value,   ui->max_volt_warn_value,  ui->min_volt_alert_value,  ui->max_volt_alert_value,
        ui->text_registration_num, ui->comboBox_reg_prefix,  ui->backlight_slider,      ui->text_bg_alpha_slider,
        ui->roll_corr_spinbox,     ui->pitch_corr_spinbox,   ui->comboBox_emitter_cat,  ui->text_icao,
        ui->radioButton_use_icao,  ui->radioButton_rand_icao, ui->comboBox_map_view,    ui->comboBox_term_res,
    };
}

void MainWindow::setSettingsSignalsBlocked(bool blocked)
{
    for (QWidget* widget : settingsInputWidgets())
        widget->blockSignals(blocked);
}

std::array<QSpinBox*, 8> MainWindow::vspeedBoxes() const
{
    return {ui->spinBox_vmin, ui->spinBox_vs0, ui->spinBox_vs1, ui->spinBox_vfe,
            ui->spinBox_vn0,  ui->spinBox_vne, ui->spinBox_vref, ui->spinBox_vlo};
}

std::array<MainWindow::VoltageField, 4> MainWindow::voltageFields() const
{
    return {{
        {ui->min_volt_warn_value, MIN_VOLTS_INDEX},
        {ui->max_volt_warn_value, MAX_VOLTS_INDEX},
        {ui->min_volt_alert_value, MIN_VOLTS_ALERT_INDEX},
        {ui->max_volt_alert_value, MAX_VOLTS_ALERT_INDEX},
    }};
}

// Only the flags for the chosen units are consulted; a record with no
// airspeed flag shows knots.
void MainWindow::showUnits()
{
    const units_t units = user_config.units;
    ui->comboBox_airspeed->setCurrentIndex(airspeed_item(units));
    ui->comboBox_altitude->setCurrentIndex(unit_item(units.is_meters));
    ui->comboBox_temp->setCurrentIndex(unit_item(units.is_celsius));
    ui->comboBox_pressure->setCurrentIndex(unit_item(units.is_mbar));
}

// The boxes apply their own limits: a value beyond a box's range shows as
// its nearest bound.
void MainWindow::showSpeedsAndVoltages()
{
    const std::array<QSpinBox*, 8> boxes = vspeedBoxes();
    for (size_t i = 0; i < boxes.size(); i++) {
        const auto index = static_cast<settings_struct_index>(VMIN_INDEX + i);
        boxes[i]->setValue(static_cast<int>(settings_get_value(&user_config, index)));
    }
    for (const VoltageField& field : voltageFields())
        field.box->setValue(volts_of(settings_get_value(&user_config, field.index)));
}

// A text background beyond the limit, or read as negative, shows at the
// slider's nearest bound.
void MainWindow::showDisplayValues()
{
    ui->backlight_slider->setValue(static_cast<int>(user_config.backlight_brightness));
    ui->text_bg_alpha_slider->setValue(qMin(static_cast<int>(user_config.text_bg_alpha), kTextBgAlphaLimit));
    ui->roll_corr_spinbox->setValue(static_cast<double>(user_config.roll_correction));
    ui->pitch_corr_spinbox->setValue(static_cast<double>(user_config.pitch_correction));
}

// A map direction the list does not have shows as its first item.
void MainWindow::showBusValues()
{
    const uint32_t direction = user_config.map_track;
    const bool listed = direction < static_cast<uint32_t>(ui->comboBox_map_view->count());
    ui->comboBox_map_view->setCurrentIndex(static_cast<int>(listed ? direction : map_north_up));
    ui->comboBox_term_res->setCurrentIndex(user_config.enable_term_resistor == 0 ? TERMINATION_DISABLE
                                                                                  : TERMINATION_ENABLE);
}

// A save stores what the widgets show, so every field is taken from its
// widget, in the order the unit's record is built.
void MainWindow::updateConfigFromUI()
{
    storeColoursFromWidgets();
    store_value(UNITS_VALUE_INDEX, unitsFromWidgets());
    const std::array<QSpinBox*, 8> boxes = vspeedBoxes();
    for (size_t i = 0; i < boxes.size(); i++)
        store_value(static_cast<settings_struct_index>(VMIN_INDEX + i), static_cast<uint32_t>(boxes[i]->value()));
    for (const VoltageField& field : voltageFields())
        store_value(field.index, tenths_of_volt(field.box->value()));
    const std::array<uint32_t, 3> words = registrationWords(registrationFromWidgets());
    for (size_t i = 0; i < words.size(); i++)
        store_value(static_cast<settings_struct_index>(REGISTRATION_1_INDEX + i), words[i]);
    store_value(BACKLIGHT_BRIGHTNESS_INDEX, static_cast<uint32_t>(ui->backlight_slider->value()));
    store_value(TEXT_BG_ALPHA_INDEX, static_cast<uint32_t>(ui->text_bg_alpha_slider->value()));
    store_value(ROLL_CORRECTION_INDEX, float_bits(ui->roll_corr_spinbox->value()));
    store_value(PITCH_CORRECTION_INDEX, float_bits(ui->pitch_corr_spinbox->value()));
    store_value(OWNSHIP_ICAO_INDEX, ownshipIcaoFromIcaoField());
    store_value(ICAO_ADDR_TYPE_INDEX, icaoAddressTypeFromWidgets());
    store_value(EMITTER_CAT_INDEX, static_cast<uint32_t>(ui->comboBox_emitter_cat->currentIndex()));
    store_value(MAP_DIR_INDEX, static_cast<uint32_t>(ui->comboBox_map_view->currentIndex()));
    store_value(TERM_RESISTOR_INDEX, termination_value(ui->comboBox_term_res->currentIndex()));
}

// The flags go into the record as the lists say; the bits that carry no
// flag keep what the unit had in them.
uint32_t MainWindow::unitsFromWidgets()
{
    units_t& units = user_config.units;
    const int airspeed = ui->comboBox_airspeed->currentIndex();
    units.is_mph = airspeed == AIRSPEED_MPH;
    units.is_knots = airspeed == AIRSPEED_KNOTS;
    units.is_kph = airspeed == AIRSPEED_KPH;
    units.is_meters = ui->comboBox_altitude->currentIndex() == UNIT_METRIC;
    units.is_feet = !units.is_meters;
    units.is_celsius = ui->comboBox_temp->currentIndex() == UNIT_METRIC;
    units.is_fahrenheit = !units.is_celsius;
    units.is_mbar = ui->comboBox_pressure->currentIndex() == UNIT_METRIC;
    units.is_inhg = !units.is_mbar;
    return units.units_value;
}

// ---- Change slots -------------------------------------------------------------

void MainWindow::onUnitsChanged()
{
    updateConfigValueLocal(UNITS_VALUE_INDEX, unitsFromWidgets());
}

void MainWindow::onVminChanged(int value)
{
    updateConfigValueLocal(VMIN_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVs0Changed(int value)
{
    updateConfigValueLocal(VS0_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVs1Changed(int value)
{
    updateConfigValueLocal(VS1_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVfeChanged(int value)
{
    updateConfigValueLocal(VFE_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVn0Changed(int value)
{
    updateConfigValueLocal(VN0_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVneChanged(int value)
{
    updateConfigValueLocal(VNE_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVrefChanged(int value)
{
    updateConfigValueLocal(APPROACHSPEED_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVloChanged(int value)
{
    updateConfigValueLocal(VLO_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onMinVoltChanged(double value)
{
    updateConfigValueLocal(MIN_VOLTS_INDEX, tenths_of_volt(value));
}

void MainWindow::onMaxVoltChanged(double value)
{
    updateConfigValueLocal(MAX_VOLTS_INDEX, tenths_of_volt(value));
}

void MainWindow::onMinVoltAlertChanged(double value)
{
    updateConfigValueLocal(MIN_VOLTS_ALERT_INDEX, tenths_of_volt(value));
}

void MainWindow::onMaxVoltAlertChanged(double value)
{
    updateConfigValueLocal(MAX_VOLTS_ALERT_INDEX, tenths_of_volt(value));
}

void MainWindow::onBacklightBrightnessChanged(int value)
{
    updateConfigValueLocal(BACKLIGHT_BRIGHTNESS_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onTextBgAlphaChanged(int value)
{
    updateConfigValueLocal(TEXT_BG_ALPHA_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onRollCorrectionChanged(double value)
{
    updateConfigValueLocal(ROLL_CORRECTION_INDEX, float_bits(value));
}

void MainWindow::onPitchCorrectionChanged(double value)
{
    updateConfigValueLocal(PITCH_CORRECTION_INDEX, float_bits(value));
}

void MainWindow::onMapViewChanged(int index)
{
    updateConfigValueLocal(MAP_DIR_INDEX, static_cast<uint32_t>(index));
}

void MainWindow::onTermResChanged(int index)
{
    updateConfigValueLocal(TERM_RESISTOR_INDEX, termination_value(index));
}
