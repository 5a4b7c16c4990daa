// The window's form as a user meets it: at the initial size every control of
// every page lies inside its page, shows its text in full and covers no
// other; the address type is one exclusive choice; the calibration start is
// inert.

#include <QtTest>
#include <QtWidgets>

#include "mainwindow.h"
#include "scratch_home.h"
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
        if (isControl(widget) && !widget->objectName().isEmpty()
            && !widget->objectName().startsWith(QLatin1String("qt_")))
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
    const int characters = name == QLatin1String("text_icao") ? 6
        : name == QLatin1String("text_registration_num")      ? 10
                                                              : 0;
    const int chrome = 2 * (field->frameWidth() + qCeil(document->documentMargin()));
    const QFontMetrics metrics = field->fontMetrics();
    return QSize(metrics.horizontalAdvance(QString(characters, QLatin1Char('W'))) + chrome,
                 metrics.lineSpacing() + chrome);
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
    // The form as the constructor leaves it: no unit, so nothing is loaded.
    void init()
    {
        sim::unit().reset();
        sim::unit().setPresent(false);
        window_ = harness::startWindow();
    }
    void cleanup() { window_.reset(); }

    void nothingClippedOrCoveredAtInitialSize_data()
    {
        QTest::addColumn<int>("page");
        QTest::newRow("Devices") << 0;
        QTest::newRow("Settings") << 1;
        QTest::newRow("Device Updates") << 2;
        QTest::newRow("Calibrations") << 3;
    }

    void nothingClippedOrCoveredAtInitialSize()
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
            QVERIFY2(pageWidget->rect().contains(onPage), qPrintable(name + " lies outside its page"));
            const QSize needed = neededSize(control);
            QVERIFY2(control->width() >= needed.width() && control->height() >= needed.height(),
                     qPrintable(name + " is clipped"));
            for (qsizetype i = 0; i < placed.size(); i++)
                QVERIFY2(!placed[i].intersects(onPage), qPrintable(name + " covers " + controls[i]->objectName()));
            placed.append(onPage);
        }
    }

    // Own address is the initial choice; choosing one clears the other.
    void addressTypeIsOneExclusiveChoice()
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

    // The Calibrations tab only shows its controls: "Start" sends nothing and
    // changes nothing.
    void calibrationStartDoesNothing()
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

private:
    ScratchHome home_; // every load leaves a backup in the per-user data folder
    std::unique_ptr<MainWindow> window_;
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
