// The window's form held against its tables: every object with its class
// and place, the ranges, steps, decimals, initial values, items, texts,
// tooltips, fonts and alignments, and a layout in which nothing is clipped
// or covered at the initial size.

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

#include "mainwindow.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "window_harness.h"

using harness::child;

namespace {

const Qt::Alignment kRightCentred = Qt::AlignRight | Qt::AlignVCenter;
const Qt::Alignment kLeftCentred = Qt::AlignLeft | Qt::AlignVCenter;
// Font sizes of the form; 0 for a widget that keeps the default font.
const int kDefaultFont = 0;

struct FormObject {
    const char* name;
    const char* className;
    const char* parent; // object name of the parent; nullptr where the toolkit puts it
};

const FormObject kFormObjects[] = {
    {"centralwidget", "QWidget", "MainWindow"},
    {"tabWidget", "QTabWidget", "centralwidget"},
    {"tab", "QWidget", nullptr},
    {"table_devices", "QTableWidget", "tab"},
    {"tab_settings", "QWidget", nullptr},
    {"gridLayoutWidget_6", "QWidget", "tab_settings"},
    {"volt_layout", "QGridLayout", "gridLayoutWidget_6"},
    {"label_MaxVolt_alarm", "QLabel", "gridLayoutWidget_6"},
    {"min_volt_warn_value", "QDoubleSpinBox", "gridLayoutWidget_6"},
    {"max_volt_warn_value", "QDoubleSpinBox", "gridLayoutWidget_6"},
    {"max_volt_alert_value", "QDoubleSpinBox", "gridLayoutWidget_6"},
    {"label_MaxVolt_warn", "QLabel", "gridLayoutWidget_6"},
    {"label_MinVolt_warn", "QLabel", "gridLayoutWidget_6"},
    {"label_MinVolt_alert", "QLabel", "gridLayoutWidget_6"},
    {"min_volt_alert_value", "QDoubleSpinBox", "gridLayoutWidget_6"},
    {"gridLayoutWidget", "QWidget", "tab_settings"},
    {"v_speed_layout", "QGridLayout", "gridLayoutWidget"},
    {"label_vs0", "QLabel", "gridLayoutWidget"},
    {"label_vn0", "QLabel", "gridLayoutWidget"},
    {"label_vmin", "QLabel", "gridLayoutWidget"},
    {"spinBox_vmin", "QSpinBox", "gridLayoutWidget"},
    {"spinBox_vref", "QSpinBox", "gridLayoutWidget"},
    {"label_vne", "QLabel", "gridLayoutWidget"},
    {"spinBox_vne", "QSpinBox", "gridLayoutWidget"},
    {"label_vfe", "QLabel", "gridLayoutWidget"},
    {"spinBox_vs1", "QSpinBox", "gridLayoutWidget"},
    {"spinBox_vlo", "QSpinBox", "gridLayoutWidget"},
    {"label_vlo", "QLabel", "gridLayoutWidget"},
    {"spinBox_vn0", "QSpinBox", "gridLayoutWidget"},
    {"spinBox_vs0", "QSpinBox", "gridLayoutWidget"},
    {"label_vref", "QLabel", "gridLayoutWidget"},
    {"spinBox_vfe", "QSpinBox", "gridLayoutWidget"},
    {"label_vs1", "QLabel", "gridLayoutWidget"},
    {"layoutWidget_2", "QWidget", "tab_settings"},
    {"btn_layout", "QHBoxLayout", "layoutWidget_2"},
    {"pushButton_load", "QPushButton", "layoutWidget_2"},
    {"pushButton_update", "QPushButton", "layoutWidget_2"},
    {"pushButton_save", "QPushButton", "layoutWidget_2"},
    {"text_registration_num", "QPlainTextEdit", "tab_settings"},
    {"comboBox_reg_prefix", "QComboBox", "tab_settings"},
    {"backlight_slider", "QSlider", "tab_settings"},
    {"label_brightness", "QLabel", "tab_settings"},
    {"layoutWidget", "QWidget", "tab_settings"},
    {"colors_layout", "QVBoxLayout", "layoutWidget"},
    {"color_picker_sky0", "QPushButton", "layoutWidget"},
    {"color_picker_sky1", "QPushButton", "layoutWidget"},
    {"color_picker_ground0", "QPushButton", "layoutWidget"},
    {"color_picker_ground1", "QPushButton", "layoutWidget"},
    {"color_picker_app_indi", "QPushButton", "layoutWidget"},
    {"color_picker_gear", "QPushButton", "layoutWidget"},
    {"color_picker_airplane", "QPushButton", "layoutWidget"},
    {"color_picker_green", "QPushButton", "layoutWidget"},
    {"color_picker_yellow", "QPushButton", "layoutWidget"},
    {"color_picker_red", "QPushButton", "layoutWidget"},
    {"layoutWidget_3", "QWidget", "tab_settings"},
    {"colors_label_layout", "QVBoxLayout", "layoutWidget_3"},
    {"sky_top_label", "QLabel", "layoutWidget_3"},
    {"sky_bottom_label", "QLabel", "layoutWidget_3"},
    {"ground_top_label", "QLabel", "layoutWidget_3"},
    {"ground_bottom_label", "QLabel", "layoutWidget_3"},
    {"approach_indi_label", "QLabel", "layoutWidget_3"},
    {"gear_label", "QLabel", "layoutWidget_3"},
    {"airplane_label", "QLabel", "layoutWidget_3"},
    {"green_label", "QLabel", "layoutWidget_3"},
    {"yellow_label", "QLabel", "layoutWidget_3"},
    {"red_label", "QLabel", "layoutWidget_3"},
    {"gridLayoutWidget_7", "QWidget", "tab_settings"},
    {"ang_corr_layout", "QGridLayout", "gridLayoutWidget_7"},
    {"label_pitch_corr", "QLabel", "gridLayoutWidget_7"},
    {"label_roll_corr", "QLabel", "gridLayoutWidget_7"},
    {"pitch_corr_spinbox", "QDoubleSpinBox", "gridLayoutWidget_7"},
    {"roll_corr_spinbox", "QDoubleSpinBox", "gridLayoutWidget_7"},
    {"text_bg_alpha_slider", "QSlider", "tab_settings"},
    {"label_text_bg_alpha", "QLabel", "tab_settings"},
    {"comboBox_emitter_cat", "QComboBox", "tab_settings"},
    {"label_emitter_cat", "QLabel", "tab_settings"},
    {"label_icao_num", "QLabel", "tab_settings"},
    {"text_icao", "QPlainTextEdit", "tab_settings"},
    {"label_icao_anon", "QLabel", "tab_settings"},
    {"radioButton_use_icao", "QRadioButton", "tab_settings"},
    {"radioButton_rand_icao", "QRadioButton", "tab_settings"},
    {"label_map_view", "QLabel", "tab_settings"},
    {"comboBox_map_view", "QComboBox", "tab_settings"},
    {"layoutWidget1", "QWidget", "tab_settings"},
    {"verticalLayout", "QVBoxLayout", "layoutWidget1"},
    {"label_airspeed_units", "QLabel", "layoutWidget1"},
    {"comboBox_airspeed", "QComboBox", "layoutWidget1"},
    {"label_altitude_units", "QLabel", "layoutWidget1"},
    {"comboBox_altitude", "QComboBox", "layoutWidget1"},
    {"label_pressure_units", "QLabel", "layoutWidget1"},
    {"comboBox_pressure", "QComboBox", "layoutWidget1"},
    {"label_temp_units", "QLabel", "layoutWidget1"},
    {"comboBox_temp", "QComboBox", "layoutWidget1"},
    {"label_map_view_2", "QLabel", "tab_settings"},
    {"comboBox_term_res", "QComboBox", "tab_settings"},
    {"tab_update", "QWidget", nullptr},
    {"frame", "QFrame", "tab_update"},
    {"text_firmware_file", "QTextEdit", "frame"},
    {"pushButton_start_update", "QPushButton", "frame"},
    {"progressBar_firmware", "QProgressBar", "frame"},
    {"pushButton_browse", "QPushButton", "frame"},
    {"pushButton_fetch_fw", "QPushButton", "frame"},
    {"frame_2", "QFrame", "tab_update"},
    {"pushButton_browse_airports", "QPushButton", "frame_2"},
    {"text_firmware_file_2", "QTextEdit", "frame_2"},
    {"pushButton_start_airport", "QPushButton", "frame_2"},
    {"progressBar_airports", "QProgressBar", "frame_2"},
    {"pushButton_fetch_apt_db", "QPushButton", "frame_2"},
    {"pushButton_reboot", "QPushButton", "tab_update"},
    {"label_FW_update", "QLabel", "tab_update"},
    {"label_FW_update_2", "QLabel", "tab_update"},
    {"tab_cal", "QWidget", nullptr},
    {"frame_3", "QFrame", "tab_cal"},
    {"label_emitter_cat_2", "QLabel", "frame_3"},
    {"pushButton_start_Pt_zerocal", "QPushButton", "frame_3"},
    {"progressBar_Pt_zeropoint", "QProgressBar", "frame_3"},
    {"menubar", "QMenuBar", "MainWindow"},
    {"statusbar", "QStatusBar", "MainWindow"},
    {"buttonGroup", "QButtonGroup", "MainWindow"},
};

// How a tooltip reads: none, an empty rich text, plain text, or a bold
// first phrase followed by the rest as plain text.
enum TipKind {
    TIP_NONE = 0,
    TIP_EMPTY_RICH = 1,
    TIP_PLAIN = 2,
    TIP_BOLD_FIRST = 3,
};

struct ExpectedLabel {
    const char* name;
    const char* text;
    Qt::Alignment alignment;
    TipKind tip;
    const char* bold;
    const char* rest; // the tooltip as plain text after the bold phrase
};

const ExpectedLabel kLabels[] = {
    {"label_MinVolt_alert", "Min Volt Alert", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_MinVolt_warn", "Min Volt Warning", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_MaxVolt_warn", "Max Volt Warning", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_MaxVolt_alarm", "Max Volt Alert", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_vmin", "Vmin", kLeftCentred, TIP_PLAIN, nullptr, "Minimum airspeed that will be displayed"},
    {"label_vs0", "Vs0", kLeftCentred, TIP_BOLD_FIRST, "Dirty stall speed",
     " (Bottom of white arc)\nStall speed or minimum flight speed in landing configuration"},
    {"label_vs1", "Vs1", kLeftCentred, TIP_BOLD_FIRST, "Clean stall speed",
     " (Bottom of green arc)\nStall speed or minimum steady flight speed for which the aircraft is still "
     "controllable in a specific configuration"},
    {"label_vfe", "Vfe", kLeftCentred, TIP_BOLD_FIRST, "Maximum flap extension speed", " (Top of white arc)"},
    {"label_vn0", "Vn0", kLeftCentred, TIP_BOLD_FIRST, "Maximum structural cruising speed",
     " (Top of green arc)\nMaximum structural cruising speed or maximum speed for normal operations."},
    {"label_vne", "Vne", kLeftCentred, TIP_BOLD_FIRST, "Never exceed speed", " (Bottom of red arc)"},
    {"label_vref", "Vref", kLeftCentred, TIP_BOLD_FIRST, "Approach speed",
     " (Magenta indicator)\nLanding reference speed or threshold crossing speed"},
    {"label_vlo", "Vlo", kLeftCentred, TIP_BOLD_FIRST, "Gear operating speed",
     " (**placeholder**)\nMaximum landing gear operating speed"},
    {"label_brightness", "Display Brightness", kLeftCentred, TIP_NONE, nullptr, nullptr},
    {"sky_top_label", "Sky Upper", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"sky_bottom_label", "Sky Lower", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"ground_top_label", "Ground Upper", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"ground_bottom_label", "Ground Lower", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"approach_indi_label", "Approach Indicator", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"gear_label", "Gear Indicator", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"airplane_label", "Airplane", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"green_label", "Green Arc", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"yellow_label", "Yellow Arc", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"red_label", "Red Arc", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_roll_corr", "Roll Correction", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_pitch_corr", "Pitch Correction", kRightCentred, TIP_NONE, nullptr, nullptr},
    {"label_text_bg_alpha", "Text Background Transparency", kLeftCentred, TIP_NONE, nullptr, nullptr},
    {"label_emitter_cat", "Emitter Catagory", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_icao_num", "ICAO #", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_icao_anon", "ICAO Anonymity", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_map_view", "Map View", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_airspeed_units", "Airspeed Units", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_altitude_units", "Altitude Units", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_pressure_units", "Pressure Units", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_temp_units", "Temperature Units", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_map_view_2", "Termination Resistor", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_FW_update", "Firmware Update", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_FW_update_2", "Airport DB Update", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
    {"label_emitter_cat_2", "Pitot Zero Point Calibration", kLeftCentred, TIP_EMPTY_RICH, nullptr, nullptr},
};

struct ExpectedButton {
    const char* name;
    const char* text;
    bool enabled;
    int points;
};

const ExpectedButton kButtons[] = {
    {"pushButton_load", "Load settings from EFIS", true, 10},
    {"pushButton_update", "Update Settings on EFIS", true, 10},
    {"pushButton_save", "Save settings to EFIS", true, 10},
    {"pushButton_browse", "Select Firmware File", true, 12},
    {"pushButton_fetch_fw", "Fetch Latest Firmware", true, 12},
    {"pushButton_start_update", "Start Update", false, 12},
    {"pushButton_browse_airports", "Load APT db File", true, 12},
    {"pushButton_start_airport", "Start Transfer", false, 12},
    {"pushButton_fetch_apt_db", "Fetch Latest APT db", true, 12},
    {"pushButton_reboot", "Reboot EFIS", true, 12},
    {"pushButton_start_Pt_zerocal", "Start", true, kDefaultFont},
    {"color_picker_sky0", "", true, kDefaultFont},
    {"color_picker_sky1", "", true, kDefaultFont},
    {"color_picker_ground0", "", true, kDefaultFont},
    {"color_picker_ground1", "", true, kDefaultFont},
    {"color_picker_app_indi", "", true, kDefaultFont},
    {"color_picker_gear", "", true, kDefaultFont},
    {"color_picker_airplane", "", true, kDefaultFont},
    {"color_picker_green", "", true, kDefaultFont},
    {"color_picker_yellow", "", true, kDefaultFont},
    {"color_picker_red", "", true, kDefaultFont},
};

// A widget keeps the default font unless the form gives it a size.
int formFontPoints(const QWidget* widget)
{
    return widget->testAttribute(Qt::WA_SetFont) ? widget->font().pointSize() : kDefaultFont;
}

QStringList itemTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); i++)
        texts.append(combo->itemText(i));
    return texts;
}

QString nameAt(const QLayout* layout, int index)
{
    const QLayoutItem* item = layout->itemAt(index);
    return item != nullptr && item->widget() != nullptr ? item->widget()->objectName() : QString();
}

QString nameAtCell(const QGridLayout* layout, int row, int column)
{
    const QLayoutItem* item = layout->itemAtPosition(row, column);
    return item != nullptr && item->widget() != nullptr ? item->widget()->objectName() : QString();
}

// The widgets a user reads or operates, as opposed to the containers that
// place them.
bool isControl(const QWidget* widget)
{
    return qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget)
           || qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)
           || qobject_cast<const QSlider*>(widget) || qobject_cast<const QPlainTextEdit*>(widget)
           || qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QProgressBar*>(widget)
           || qobject_cast<const QTableWidget*>(widget);
}

// The controls of one tab page, the toolkit's own inner widgets left out.
QList<QWidget*> controlsOf(QWidget* page)
{
    QList<QWidget*> controls;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        if (isControl(widget) && !widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_")))
            controls.append(widget);
    }
    return controls;
}

// Characters a text field shows in full: the six ICAO digits, and a
// registration number of ten wide letters (the prefix has its own list).
// The file-name fields scroll, so only their height counts.
int charactersShown(const QWidget* field)
{
    if (field->objectName() == QLatin1String("text_icao"))
        return 6;
    if (field->objectName() == QLatin1String("text_registration_num"))
        return 10;
    return 0;
}

// One line of text in a text field, with its frame and document margins.
QSize textFieldNeeds(const QAbstractScrollArea* field, qreal documentMargin)
{
    const int chrome = 2 * (field->frameWidth() + qCeil(documentMargin));
    const QFontMetrics metrics = field->fontMetrics();
    const int width = metrics.horizontalAdvance(QString(charactersShown(field), QLatin1Char('W')));
    return QSize(width + chrome, metrics.lineSpacing() + chrome);
}

// What a control needs to show its text in full.
QSize neededSize(const QWidget* widget)
{
    if (qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget)
        || qobject_cast<const QComboBox*>(widget))
        return widget->sizeHint();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
        return textFieldNeeds(plain, plain->document()->documentMargin());
    if (auto* rich = qobject_cast<const QTextEdit*>(widget))
        return textFieldNeeds(rich, rich->document()->documentMargin());
    return widget->minimumSizeHint();
}

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void objectsHaveClassAndPlace_data();
    void objectsHaveClassAndPlace();
    void windowAndTabs();
    void devicesTable();
    void spinBoxes_data();
    void spinBoxes();
    void sliders();
    void comboBoxItems_data();
    void comboBoxItems();
    void labels_data();
    void labels();
    void buttons_data();
    void buttons();
    void textFields();
    void radioButtonsShareExclusiveGroup();
    void updateAndCalibrationWidgets();
    void layoutsPlaceTheirWidgets();
    void nothingClippedOrCoveredAtInitialSize_data();
    void nothingClippedOrCoveredAtInitialSize();
    void calibrationStartDoesNothing();

private:
    // Every load leaves a backup in the per-user data folder: a scratch one.
    std::unique_ptr<ScratchHome> home_;
    std::unique_ptr<MainWindow> window_;
};

void FormTest::initTestCase()
{
    home_ = std::make_unique<ScratchHome>();
    QVERIFY(home_->isValid());
}

// The form as the constructor leaves it: no unit, so nothing is loaded.
void FormTest::init()
{
    sim::unit().reset();
    sim::unit().setPresent(false);
    window_ = harness::startWindow();
}

void FormTest::cleanup()
{
    window_.reset();
}

void FormTest::objectsHaveClassAndPlace_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");
    for (const FormObject& object : kFormObjects) {
        QTest::newRow(object.name) << object.name << object.className
                                   << (object.parent != nullptr ? QString::fromLatin1(object.parent) : QString());
    }
}

void FormTest::objectsHaveClassAndPlace()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parent);

    const QList<QObject*> found = window_->findChildren<QObject*>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found[0]->metaObject()->className()), className);
    if (!parent.isEmpty())
        QCOMPARE(found[0]->parent()->objectName(), parent);
}

void FormTest::windowAndTabs()
{
    QCOMPARE(window_->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Corvane EFIS Config"));
    QCOMPARE(window_->size(), QSize(1065, 598));
    auto* tabs = child<QTabWidget>(*window_, "tabWidget");
    QCOMPARE(tabs->count(), 4);
    const char* const pages[] = {"tab", "tab_settings", "tab_update", "tab_cal"};
    const char* const titles[] = {"Devices", "Settings", "Device Updates", "Calibrations"};
    for (int i = 0; i < 4; i++) {
        QCOMPARE(tabs->widget(i)->objectName(), QLatin1String(pages[i]));
        QCOMPARE(tabs->tabText(i), QLatin1String(titles[i]));
    }
    QCOMPARE(tabs->currentIndex(), 0);
    // The menu bar: Settings, then Help, each with its entries in order.
    QStringList entries;
    for (const QAction* menu : child<QMenuBar>(*window_, "menubar")->actions()) {
        entries << menu->menu()->objectName() + ": " + menu->text();
        for (const QAction* entry : menu->menu()->actions())
            entries << "  " + entry->objectName() + ": " + entry->text();
    }
    QCOMPARE(entries, (QStringList{"menuSettings: &Settings",
                                   QString::fromUtf8("  actionExportSettings: &Export to File\u2026"),
                                   QString::fromUtf8("  actionImportSettings: &Import from File\u2026"),
                                   QString::fromUtf8("  actionCompareSettings: &Compare with File\u2026"),
                                   "menuHelp: &Help", "  actionOpenLogFolder: Open &Log Folder",
                                   "  actionAbout: &About"}));
    QCOMPARE(harness::statusText(*window_), QStringLiteral("Initializing..."));
}

void FormTest::devicesTable()
{
    auto* table = child<QTableWidget>(*window_, "table_devices");
    QCOMPARE(table->columnCount(), 4);
    QCOMPARE(table->rowCount(), 0);
    const char* const headers[] = {"Device", "Serial Number", "FIrmware Version", "Update Available"};
    for (int column = 0; column < 4; column++) {
        QCOMPARE(table->horizontalHeaderItem(column)->text(), QLatin1String(headers[column]));
        QCOMPARE(table->horizontalHeaderItem(column)->font().pointSize(), 12);
    }
    QCOMPARE(table->font().pointSize(), 14);
    QCOMPARE(table->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!table->alternatingRowColors());
    QVERIFY(table->showGrid());
    QHeaderView* header = table->horizontalHeader();
    QCOMPARE(header->minimumSectionSize(), 53);
    QCOMPARE(header->defaultSectionSize(), 160);
    QVERIFY(!header->highlightSections());
    QVERIFY(!header->sectionsClickable());
    QVERIFY(header->stretchLastSection());
    QVERIFY(table->verticalHeader()->isHidden());
    QCOMPARE(table->selectionMode(), QAbstractItemView::NoSelection);
}

void FormTest::spinBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("decimals"); // -1 for a whole-number box
    QTest::addColumn<double>("initial");
    QTest::addColumn<int>("points");

    const char* const speeds[] = {"spinBox_vmin", "spinBox_vs0", "spinBox_vs1", "spinBox_vfe",
                                  "spinBox_vn0",  "spinBox_vne", "spinBox_vref", "spinBox_vlo"};
    for (const char* name : speeds) {
        const bool vne = QLatin1String(name) == QLatin1String("spinBox_vne");
        const bool vmin = QLatin1String(name) == QLatin1String("spinBox_vmin");
        QTest::newRow(name) << name << 0.0 << (vne ? 240.0 : 255.0) << (vmin ? 10.0 : 1.0) << -1 << 0.0 << 12;
    }
    QTest::newRow("min_volt_alert_value") << "min_volt_alert_value" << 5.0 << 65.0 << 0.1 << 1 << 11.5 << kDefaultFont;
    QTest::newRow("min_volt_warn_value") << "min_volt_warn_value" << 5.0 << 65.0 << 0.1 << 1 << 11.5 << kDefaultFont;
    QTest::newRow("max_volt_warn_value") << "max_volt_warn_value" << 5.0 << 65.0 << 0.1 << 1 << 15.5 << kDefaultFont;
    QTest::newRow("max_volt_alert_value") << "max_volt_alert_value" << 5.0 << 65.0 << 0.1 << 1 << 15.5 << kDefaultFont;
    QTest::newRow("roll_corr_spinbox") << "roll_corr_spinbox" << -90.0 << 90.0 << 0.1 << 1 << 0.0 << kDefaultFont;
    QTest::newRow("pitch_corr_spinbox") << "pitch_corr_spinbox" << -90.0 << 90.0 << 0.1 << 1 << 0.0 << kDefaultFont;
}

void FormTest::spinBoxes()
{
    QFETCH(QString, name);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, step);
    QFETCH(int, decimals);
    QFETCH(double, initial);
    QFETCH(int, points);

    auto* box = child<QAbstractSpinBox>(*window_, qPrintable(name));
    if (auto* whole = qobject_cast<QSpinBox*>(box)) {
        QCOMPARE(decimals, -1);
        QCOMPARE(whole->minimum(), int(minimum));
        QCOMPARE(whole->maximum(), int(maximum));
        QCOMPARE(whole->singleStep(), int(step));
        QCOMPARE(whole->value(), int(initial));
    } else {
        auto* real = qobject_cast<QDoubleSpinBox*>(box);
        QVERIFY(real != nullptr);
        QCOMPARE(real->decimals(), decimals);
        QCOMPARE(real->minimum(), minimum);
        QCOMPARE(real->maximum(), maximum);
        QCOMPARE(real->singleStep(), step);
        QCOMPARE(real->value(), initial);
    }
    QCOMPARE(formFontPoints(box), points);
}

void FormTest::sliders()
{
    auto* backlight = child<QSlider>(*window_, "backlight_slider");
    QCOMPARE(backlight->orientation(), Qt::Horizontal);
    QCOMPARE(backlight->minimum(), 0);
    QCOMPARE(backlight->maximum(), 21);
    QCOMPARE(backlight->value(), 10);
    QVERIFY(!backlight->invertedAppearance());
    auto* textBackground = child<QSlider>(*window_, "text_bg_alpha_slider");
    QCOMPARE(textBackground->orientation(), Qt::Horizontal);
    QCOMPARE(textBackground->minimum(), 0);
    QCOMPARE(textBackground->maximum(), 254);
    QCOMPARE(textBackground->value(), 150);
    QVERIFY(!textBackground->invertedAppearance());
}

void FormTest::comboBoxItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("airspeed") << "comboBox_airspeed" << QStringList{"MPH", "Knots", "KPH"};
    QTest::newRow("altitude") << "comboBox_altitude" << QStringList{"Feet", "Meters"};
    QTest::newRow("pressure") << "comboBox_pressure" << QStringList{"InHg", "Mbar"};
    QTest::newRow("temperature") << "comboBox_temp" << QStringList{"Fahrenheit", "Celsius"};
    QTest::newRow("map view") << "comboBox_map_view" << QStringList{"North Up", "Track Up"};
    QTest::newRow("termination") << "comboBox_term_res" << QStringList{"Enable", "Disable"};
    QTest::newRow("emitter category")
        << "comboBox_emitter_cat"
        << QStringList{"A0 : Reserved",
                       "A1 : Light (< 15.5k lbs)",
                       "A2 : Small (15.5k to 75k lbs)",
                       "A3 : Large (75k to 300k lbs)",
                       "A4 : High vortex large",
                       "A5 : Heavy (> 300k lbs) ",
                       "A6 : High Perf > 5g & 400 kts",
                       "A7 : Rotorcraft",
                       "B0 : Reserved",
                       "B1 : Glider / sailplane",
                       "B2 : Lighter-than-air",
                       "B3 : Parachutist / skydiver",
                       "B4 : Ultralight / hang-glider / paraglider",
                       "B5 : Reserved",
                       "B6 : Unmanned aerial vehicle",
                       "B7 : Space / trans-atmospheric vehicle",
                       "C0 : Reserved",
                       QString::fromUtf8("C1 : Surface vehicle \xE2\x80\x93 emergency vehicle"),
                       QString::fromUtf8("C2 : Surface vehicle \xE2\x80\x93 service vehicle"),
                       "C3 : Point obstacle (includes tethered balloons)",
                       "C4 : Cluster obstacle",
                       "C5 : Line obstacle"};
}

// Every list starts on its first item and carries no item data.
void FormTest::comboBoxItems()
{
    QFETCH(QString, name);
    QFETCH(QStringList, items);

    auto* combo = child<QComboBox>(*window_, qPrintable(name));
    QCOMPARE(itemTexts(combo), items);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!combo->isEditable());
    QCOMPARE(formFontPoints(combo), kDefaultFont);
}

void FormTest::labels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("tip");
    QTest::addColumn<QString>("bold");
    QTest::addColumn<QString>("rest");
    for (const ExpectedLabel& label : kLabels) {
        QTest::newRow(label.name) << label.name << label.text << int(label.alignment) << int(label.tip)
                                  << QString::fromLatin1(label.bold) << QString::fromLatin1(label.rest);
    }
}

void FormTest::labels()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, alignment);
    QFETCH(int, tip);
    QFETCH(QString, bold);
    QFETCH(QString, rest);

    auto* label = child<QLabel>(*window_, qPrintable(name));
    QCOMPARE(label->text(), text);
    QCOMPARE(int(label->alignment()), alignment);
    QCOMPARE(formFontPoints(label), 12);

    const QString toolTip = label->toolTip();
    QTextDocument document;
    document.setHtml(toolTip);
    switch (tip) {
    case TIP_NONE:
        QVERIFY(toolTip.isEmpty());
        break;
    case TIP_EMPTY_RICH:
        QVERIFY(Qt::mightBeRichText(toolTip));
        QVERIFY(document.toPlainText().trimmed().isEmpty());
        break;
    case TIP_PLAIN:
        QCOMPARE(toolTip, rest);
        break;
    case TIP_BOLD_FIRST: {
        QVERIFY(Qt::mightBeRichText(toolTip));
        QCOMPARE(document.toPlainText(), bold + rest);
        const QTextFragment first = document.begin().begin().fragment();
        QCOMPARE(first.text(), bold);
        QVERIFY(first.charFormat().fontWeight() >= QFont::Bold);
        break;
    }
    }
}

void FormTest::buttons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("points");
    for (const ExpectedButton& button : kButtons)
        QTest::newRow(button.name) << button.name << button.text << button.enabled << button.points;
}

// Colour buttons have no text and, before a load, no colour.
void FormTest::buttons()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(int, points);

    auto* button = child<QPushButton>(*window_, qPrintable(name));
    QCOMPARE(button->text(), text);
    QCOMPARE(button->isEnabled(), enabled);
    QCOMPARE(formFontPoints(button), points);
    QVERIFY(button->styleSheet().isEmpty());
}

void FormTest::textFields()
{
    for (const char* name : {"text_registration_num", "text_icao"}) {
        auto* field = child<QPlainTextEdit>(*window_, name);
        QCOMPARE(field->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(field->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(formFontPoints(field), 12);
        QVERIFY(field->toPlainText().isEmpty());
    }
    auto* prefixes = child<QComboBox>(*window_, "comboBox_reg_prefix");
    QCOMPARE(formFontPoints(prefixes), 12);
    QCOMPARE(prefixes->currentText(), QStringLiteral("N"));
}

void FormTest::radioButtonsShareExclusiveGroup()
{
    auto* own = child<QRadioButton>(*window_, "radioButton_use_icao");
    auto* random = child<QRadioButton>(*window_, "radioButton_rand_icao");
    QCOMPARE(own->text(), QStringLiteral("Use ICAO #"));
    QCOMPARE(random->text(), QStringLiteral("Random ICAO #"));
    QVERIFY(own->isChecked());
    QVERIFY(!random->isChecked());
    auto* group = child<QButtonGroup>(*window_, "buttonGroup");
    QVERIFY(group->exclusive());
    QCOMPARE(group->buttons().size(), 2);
    QCOMPARE(own->group(), group);
    QCOMPARE(random->group(), group);
}

void FormTest::updateAndCalibrationWidgets()
{
    for (const char* name : {"text_firmware_file", "text_firmware_file_2"}) {
        auto* field = child<QTextEdit>(*window_, name);
        QVERIFY(!field->isEnabled());
        QCOMPARE(field->lineWrapMode(), QTextEdit::NoWrap);
        QCOMPARE(field->placeholderText(), QStringLiteral("*,bin"));
        QCOMPARE(formFontPoints(field), 10);
    }
    for (const char* name : {"progressBar_firmware", "progressBar_airports", "progressBar_Pt_zeropoint"}) {
        auto* bar = child<QProgressBar>(*window_, name);
        QVERIFY(!bar->isEnabled());
        QCOMPARE(bar->value(), 0);
    }
    for (const char* name : {"frame", "frame_2", "frame_3"}) {
        auto* frame = child<QFrame>(*window_, name);
        QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
        QCOMPARE(frame->frameShadow(), QFrame::Raised);
    }
}

void FormTest::layoutsPlaceTheirWidgets()
{
    auto* volts = child<QGridLayout>(*window_, "volt_layout");
    const char* const voltRows[][2] = {{"label_MinVolt_alert", "min_volt_alert_value"},
                                       {"label_MinVolt_warn", "min_volt_warn_value"},
                                       {"label_MaxVolt_warn", "max_volt_warn_value"},
                                       {"label_MaxVolt_alarm", "max_volt_alert_value"}};
    QCOMPARE(volts->rowCount(), 4);
    for (int row = 0; row < 4; row++) {
        QCOMPARE(nameAtCell(volts, row, 0), QLatin1String(voltRows[row][0]));
        QCOMPARE(nameAtCell(volts, row, 1), QLatin1String(voltRows[row][1]));
    }
    auto* speeds = child<QGridLayout>(*window_, "v_speed_layout");
    const char* const speedNames[] = {"vmin", "vs0", "vs1", "vfe", "vn0", "vne", "vref", "vlo"};
    QCOMPARE(speeds->rowCount(), 8);
    for (int row = 0; row < 8; row++) {
        QCOMPARE(nameAtCell(speeds, row, 0), QStringLiteral("label_") + QLatin1String(speedNames[row]));
        QCOMPARE(nameAtCell(speeds, row, 1), QStringLiteral("spinBox_") + QLatin1String(speedNames[row]));
    }
    auto* corrections = child<QGridLayout>(*window_, "ang_corr_layout");
    QCOMPARE(nameAtCell(corrections, 0, 0), QStringLiteral("label_roll_corr"));
    QCOMPARE(nameAtCell(corrections, 0, 1), QStringLiteral("roll_corr_spinbox"));
    QCOMPARE(nameAtCell(corrections, 1, 0), QStringLiteral("label_pitch_corr"));
    QCOMPARE(nameAtCell(corrections, 1, 1), QStringLiteral("pitch_corr_spinbox"));

    const QStringList colourButtons = {"color_picker_sky0",  "color_picker_sky1",  "color_picker_ground0",
                                       "color_picker_ground1", "color_picker_app_indi", "color_picker_gear",
                                       "color_picker_airplane", "color_picker_green", "color_picker_yellow",
                                       "color_picker_red"};
    const QStringList colourLabels = {"sky_top_label",    "sky_bottom_label", "ground_top_label", "ground_bottom_label",
                                      "approach_indi_label", "gear_label",    "airplane_label",   "green_label",
                                      "yellow_label",     "red_label"};
    const QStringList units = {"label_airspeed_units", "comboBox_airspeed", "label_altitude_units", "comboBox_altitude",
                               "label_pressure_units", "comboBox_pressure", "label_temp_units",     "comboBox_temp"};
    const QStringList settingsButtons = {"pushButton_load", "pushButton_update", "pushButton_save"};
    const QPair<const char*, QStringList> lines[] = {{"colors_layout", colourButtons},
                                                     {"colors_label_layout", colourLabels},
                                                     {"verticalLayout", units},
                                                     {"btn_layout", settingsButtons}};
    for (const auto& line : lines) {
        auto* layout = child<QBoxLayout>(*window_, line.first);
        QStringList placed;
        for (int i = 0; i < layout->count(); i++)
            placed.append(nameAt(layout, i));
        QCOMPARE(placed, line.second);
    }

    for (const char* name : {"volt_layout", "v_speed_layout", "btn_layout", "colors_layout", "colors_label_layout",
                             "ang_corr_layout", "verticalLayout"})
        QCOMPARE(child<QLayout>(*window_, name)->contentsMargins(), QMargins(0, 0, 0, 0));
}

void FormTest::nothingClippedOrCoveredAtInitialSize_data()
{
    QTest::addColumn<int>("page");
    QTest::newRow("Devices") << 0;
    QTest::newRow("Settings") << 1;
    QTest::newRow("Device Updates") << 2;
    QTest::newRow("Calibrations") << 3;
}

// At 1065 x 598 every control of the page lies inside the page, is as large
// as its text needs, and covers no other control.
void FormTest::nothingClippedOrCoveredAtInitialSize()
{
    QFETCH(int, page);

    auto* tabs = child<QTabWidget>(*window_, "tabWidget");
    tabs->setCurrentIndex(page);
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QWidget* pageWidget = tabs->widget(page);
    const QList<QWidget*> controls = controlsOf(pageWidget);
    QVERIFY(!controls.isEmpty());

    QList<QRect> placed;
    for (QWidget* control : controls) {
        const QRect onPage(control->mapTo(pageWidget, QPoint(0, 0)), control->size());
        const QString name = control->objectName();
        QVERIFY2(pageWidget->rect().contains(onPage), qPrintable(name + QStringLiteral(" lies outside its page")));
        const QSize needed = neededSize(control);
        QVERIFY2(control->width() >= needed.width() && control->height() >= needed.height(),
                 qPrintable(QStringLiteral("%1 is %2x%3 but needs %4x%5")
                                .arg(name)
                                .arg(control->width())
                                .arg(control->height())
                                .arg(needed.width())
                                .arg(needed.height())));
        for (qsizetype i = 0; i < placed.size(); i++) {
            QVERIFY2(!placed[i].intersects(onPage),
                     qPrintable(name + QStringLiteral(" covers ") + controls[i]->objectName()));
        }
        placed.append(onPage);
    }
}

// The Calibrations tab only shows its controls: "Start" sends nothing and
// changes nothing.
void FormTest::calibrationStartDoesNothing()
{
    window_.reset();
    sim::unit().setPresent(true);
    window_ = harness::startWindow();
    QVERIFY(harness::waitForStatus(*window_, QLatin1String(harness::kLoadedStatus)));
    sim::unit().clearRecords();

    child<QPushButton>(*window_, "pushButton_start_Pt_zerocal")->click();

    QVERIFY(sim::unit().receivedFrames().empty());
    QCOMPARE(harness::statusText(*window_), QLatin1String(harness::kLoadedStatus));
    QCOMPARE(child<QProgressBar>(*window_, "progressBar_Pt_zeropoint")->value(), 0);
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
