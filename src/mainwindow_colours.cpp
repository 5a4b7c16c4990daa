// MainWindow: the ten display colours of the Settings tab. A colour button
// keeps its colour only in its style sheet; the colour words are 0xAARRGGBB,
// and the window always hands them on fully opaque.

#include "mainwindow.h"

#include <QColorDialog>
#include <QRegularExpression>

#include "EFIS_shared/get_set.h"
#include "ui_mainwindow.h"

namespace {

struct ColourPicker {
    settings_struct_index index;
    QPushButton* Ui_MainWindow::*button;
    const char* title;
    QRgb suggested;
};

const ColourPicker kColourPickers[] = {
    {SKY_COLOR_0_INDEX, &Ui_MainWindow::color_picker_sky0, QT_TRANSLATE_NOOP("MainWindow", "Select Sky Color 0"),
     qRgb(135, 206, 235)},
    {SKY_COLOR_1_INDEX, &Ui_MainWindow::color_picker_sky1, QT_TRANSLATE_NOOP("MainWindow", "Select Sky Color 1"),
     qRgb(135, 206, 235)},
    {GROUND_COLOR_0_INDEX, &Ui_MainWindow::color_picker_ground0,
     QT_TRANSLATE_NOOP("MainWindow", "Select Ground Color 0"), qRgb(34, 139, 34)},
    {GROUND_COLOR_1_INDEX, &Ui_MainWindow::color_picker_ground1,
     QT_TRANSLATE_NOOP("MainWindow", "Select Ground Color 1"), qRgb(34, 139, 34)},
    {APPROACH_COLOR_INDEX, &Ui_MainWindow::color_picker_app_indi,
     QT_TRANSLATE_NOOP("MainWindow", "Select Approach Indicator Color"), qRgb(255, 255, 0)},
    {AIRPLANE_COLOR_INDEX, &Ui_MainWindow::color_picker_airplane,
     QT_TRANSLATE_NOOP("MainWindow", "Select Airplane Color"), qRgb(255, 255, 255)},
    {GREEN_ARC_COLOR_INDEX, &Ui_MainWindow::color_picker_green,
     QT_TRANSLATE_NOOP("MainWindow", "Select Green Arc Color"), qRgb(0, 255, 0)},
    {YELLOW_ARC_COLOR_INDEX, &Ui_MainWindow::color_picker_yellow,
     QT_TRANSLATE_NOOP("MainWindow", "Select Yellow Arc Color"), qRgb(255, 255, 0)},
    {RED_ARC_COLOR_INDEX, &Ui_MainWindow::color_picker_red, QT_TRANSLATE_NOOP("MainWindow", "Select Red Arc Color"),
     qRgb(255, 0, 0)},
    {GEAR_INDI_COLOR_INDEX, &Ui_MainWindow::color_picker_gear,
     QT_TRANSLATE_NOOP("MainWindow", "Select Gear Indicator Color"), qRgb(255, 255, 255)},
};
static_assert(sizeof kColourPickers / sizeof kColourPickers[0] == GEAR_INDI_COLOR_INDEX - SKY_COLOR_0_INDEX + 1,
              "one picker per colour index, in index order");

// The custom colour slot of the colour dialog that shows the picker's
// suggestion; the others keep what the user put there.
const int kSuggestedColourSlot = 1;
const uint32_t kOpaque = 0xFF000000;

const ColourPicker& colour_picker(settings_struct_index index)
{
    return kColourPickers[index - SKY_COLOR_0_INDEX];
}

QString colour_style_sheet(const QColor& colour)
{
    return QStringLiteral("background-color: %1;").arg(colour.name());
}

// The alpha byte of the word plays no part in what the button shows.
QColor colour_of_word(uint32_t word)
{
    return QColor(static_cast<QRgb>(word));
}

} // namespace

QPushButton* MainWindow::colourButton(settings_struct_index index) const
{
    return ui->*colour_picker(index).button;
}

void MainWindow::showColours()
{
    for (const ColourPicker& picker : kColourPickers) {
        const QColor colour = colour_of_word(settings_get_value(&user_config, picker.index));
        colourButton(picker.index)->setStyleSheet(colour_style_sheet(colour));
    }
}

// A button that never received a colour leaves its field as it is.
void MainWindow::storeColoursFromWidgets()
{
    for (const ColourPicker& picker : kColourPickers) {
        uint32_t value = 0;
        if (colourFromButton(picker.index, &value))
            settings_set_value(&user_config, picker.index, &value);
    }
}

bool MainWindow::colourFromButton(settings_struct_index index, uint32_t* value) const
{
    static const QRegularExpression colourPattern(QStringLiteral("background-color: #([0-9a-fA-F]{6});"));
    const QRegularExpressionMatch match = colourPattern.match(colourButton(index)->styleSheet());
    if (!match.hasMatch())
        return false;
    *value = kOpaque | match.captured(1).toUInt(nullptr, 16);
    return true;
}

// True when the user chose a colour, which the button then shows; a
// cancelled dialog changes nothing.
bool MainWindow::pickColour(settings_struct_index index)
{
    const ColourPicker& picker = colour_picker(index);
    QColorDialog::setCustomColor(kSuggestedColourSlot, QColor(picker.suggested));
    const QColor initial = colour_of_word(settings_get_value(&user_config, index));
    const QColor chosen = QColorDialog::getColor(initial, this, tr(picker.title));
    if (!chosen.isValid())
        return false;
    colourButton(index)->setStyleSheet(colour_style_sheet(chosen));
    return true;
}

void MainWindow::handOnColour(settings_struct_index index)
{
    uint32_t value = 0;
    if (colourFromButton(index, &value))
        updateConfigValueLocal(index, value);
}

// ---- Picker slots --------------------------------------------------------------

void MainWindow::onSkyColorPickerClicked()
{
    if (pickColour(SKY_COLOR_0_INDEX))
        onSkyColor0Changed();
}

void MainWindow::onSkyColor1PickerClicked()
{
    if (pickColour(SKY_COLOR_1_INDEX))
        onSkyColor1Changed();
}

void MainWindow::onGroundColorPickerClicked()
{
    if (pickColour(GROUND_COLOR_0_INDEX))
        onGroundColor0Changed();
}

void MainWindow::onGroundColor1PickerClicked()
{
    if (pickColour(GROUND_COLOR_1_INDEX))
        onGroundColor1Changed();
}

void MainWindow::onApproachIndiColorPickerClicked()
{
    if (pickColour(APPROACH_COLOR_INDEX))
        onApproachIndiColorChanged();
}

void MainWindow::onAirplaneColorPickerClicked()
{
    if (pickColour(AIRPLANE_COLOR_INDEX))
        onAirplaneColorChanged();
}

void MainWindow::onGreenArcColorPickerClicked()
{
    if (pickColour(GREEN_ARC_COLOR_INDEX))
        onGreenArcColorChanged();
}

void MainWindow::onYellowArcColorPickerClicked()
{
    if (pickColour(YELLOW_ARC_COLOR_INDEX))
        onYellowArcColorChanged();
}

void MainWindow::onRedArcColorPickerClicked()
{
    if (pickColour(RED_ARC_COLOR_INDEX))
        onRedArcColorChanged();
}

void MainWindow::onGearIndiColorPickerClicked()
{
    if (pickColour(GEAR_INDI_COLOR_INDEX))
        onGearIndiColorChanged();
}

// ---- Change slots: each reads its colour back from its button -----------------

void MainWindow::onSkyColor0Changed()
{
    handOnColour(SKY_COLOR_0_INDEX);
}

void MainWindow::onSkyColor1Changed()
{
    handOnColour(SKY_COLOR_1_INDEX);
}

void MainWindow::onGroundColor0Changed()
{
    handOnColour(GROUND_COLOR_0_INDEX);
}

void MainWindow::onGroundColor1Changed()
{
    handOnColour(GROUND_COLOR_1_INDEX);
}

void MainWindow::onApproachIndiColorChanged()
{
    handOnColour(APPROACH_COLOR_INDEX);
}

void MainWindow::onAirplaneColorChanged()
{
    handOnColour(AIRPLANE_COLOR_INDEX);
}

void MainWindow::onGreenArcColorChanged()
{
    handOnColour(GREEN_ARC_COLOR_INDEX);
}

void MainWindow::onYellowArcColorChanged()
{
    handOnColour(YELLOW_ARC_COLOR_INDEX);
}

void MainWindow::onRedArcColorChanged()
{
    handOnColour(RED_ARC_COLOR_INDEX);
}

void MainWindow::onGearIndiColorChanged()
{
    handOnColour(GEAR_INDI_COLOR_INDEX);
}
