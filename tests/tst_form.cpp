// The window's form as a user meets it: at the initial size every control of
// every page lies inside its page, shows its text in full and covers no
// other; the address type is one exclusive choice; the widgets' ranges and
// items are those of the settings table; the calibration start is inert.

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

#include "mainwindow.h"
#include "scratch_home.h"
#include "settings_file.h"
#include "simulated_unit.h"
#include "window_harness.h"

using harness::child;

namespace {

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

// One line of text in a text field, with its frame and document margins:
// the six ICAO digits, a registration number of ten wide letters (the prefix
// has its own list). The file-name fields scroll, so only their height counts.
QSize textFieldNeeds(const QAbstractScrollArea* field, const QTextDocument* document)
{
    const QString name = field->objectName();
    const int characters = name == QLatin1String("text_icao") ? 6 : name == QLatin1String("text_registration_num") ? 10 : 0;
    const int chrome = 2 * (field->frameWidth() + qCeil(document->documentMargin()));
    const QFontMetrics metrics = field->fontMetrics();
    return QSize(metrics.horizontalAdvance(QString(characters, QLatin1Char('W'))) + chrome, metrics.lineSpacing() + chrome);
}

// What a control needs to show its text in full.
QSize neededSize(const QWidget* widget)
{
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
        return textFieldNeeds(plain, plain->document());
    if (auto* rich = qobject_cast<const QTextEdit*>(widget))
        return textFieldNeeds(rich, rich->document());
    if (qobject_cast<const QTableWidget*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)
        || qobject_cast<const QSlider*>(widget) || qobject_cast<const QProgressBar*>(widget))
        return widget->minimumSizeHint();
    return widget->sizeHint();
}

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nothingClippedOrCoveredAtInitialSize_data();
    void nothingClippedOrCoveredAtInitialSize();
    void addressTypeIsOneExclusiveChoice();
    void widgetsAgreeWithFieldTable();
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

void FormTest::nothingClippedOrCoveredAtInitialSize_data()
{
    QTest::addColumn<int>("page");
    QTest::newRow("Devices") << 0;
    QTest::newRow("Settings") << 1;
    QTest::newRow("Device Updates") << 2;
    QTest::newRow("Calibrations") << 3;
}

void FormTest::nothingClippedOrCoveredAtInitialSize()
{
    QFETCH(int, page);

    QCOMPARE(window_->size(), QSize(1065, 598));
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
        for (qsizetype i = 0; i < placed.size(); i++)
            QVERIFY2(!placed[i].intersects(onPage), qPrintable(name + " covers " + controls[i]->objectName()));
        placed.append(onPage);
    }
}

// Own address is the initial choice; choosing one clears the other.
void FormTest::addressTypeIsOneExclusiveChoice()
{
    auto* own = child<QRadioButton>(*window_, "radioButton_use_icao");
    auto* random = child<QRadioButton>(*window_, "radioButton_rand_icao");
    QVERIFY(own->isChecked() && !random->isChecked());
    auto* group = child<QButtonGroup>(*window_, "buttonGroup");
    QVERIFY(group->exclusive());
    QCOMPARE(group->buttons(), (QList<QAbstractButton*>{own, random}));
    random->click();
    QVERIFY(!own->isChecked());
}

// A widget that allows another range than the table (or lists other items)
// would let a file or the command line put values on the unit that the form
// cannot show.
void FormTest::widgetsAgreeWithFieldTable()
{
    const char* const pairs[][2] = {
        {"airspeed_units", "comboBox_airspeed"}, {"altitude_units", "comboBox_altitude"},
        {"temperature_units", "comboBox_temp"}, {"pressure_units", "comboBox_pressure"},
        {"vmin", "spinBox_vmin"}, {"vs0", "spinBox_vs0"}, {"vs1", "spinBox_vs1"}, {"vfe", "spinBox_vfe"},
        {"vn0", "spinBox_vn0"}, {"vne", "spinBox_vne"}, {"vref", "spinBox_vref"}, {"vlo", "spinBox_vlo"},
        {"min_volt_warning", "min_volt_warn_value"}, {"max_volt_warning", "max_volt_warn_value"},
        {"min_volt_alert", "min_volt_alert_value"}, {"max_volt_alert", "max_volt_alert_value"},
        {"display_brightness", "backlight_slider"}, {"text_background_transparency", "text_bg_alpha_slider"},
        {"roll_correction", "roll_corr_spinbox"}, {"pitch_correction", "pitch_corr_spinbox"},
        {"emitter_category", "comboBox_emitter_cat"}, {"termination_resistor", "comboBox_term_res"},
        {"map_view", "comboBox_map_view"},
    };
    for (const auto& pair : pairs) {
        const settings_field_t* field = settings_field_by_name(QLatin1String(pair[0]));
        QVERIFY2(field != nullptr, pair[0]);
        QWidget* widget = child<QWidget>(*window_, pair[1]);
        if (auto* list = qobject_cast<QComboBox*>(widget)) {
            QCOMPARE(list->count(), field->choice_count);
            for (int i = 0; i < list->count(); i++)
                QCOMPARE(list->itemText(i), QString::fromUtf8(field->choices[i].text));
            continue;
        }
        QCOMPARE(widget->property("minimum").toDouble(), field->minimum);
        QCOMPARE(widget->property("maximum").toDouble(), field->maximum);
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
