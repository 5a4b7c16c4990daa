// The aircraft identity fields of the Settings tab: the registration split
// into prefix and number and joined back, the ICAO address shown and parsed,
// the address type. Driven through the real window against the simulated
// unit.

#include <cstring>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QtTest>

#include "mainwindow.h"
#include "output_capture.h"
#include "registration_prefix.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "window_harness.h"

using harness::child;

namespace {

// The nationality prefixes as the list must show them, written out apart
// from the program's own table.
const char* const kExpectedPrefixes =
    "N C G F D I EC PH SE LN OY OH SP OK HA YR LZ YU 9A S5 "
    "LY YL ES UR RA 4K EK EI LX HB OE 9H 9V VH ZK JA B HL HS 9M "
    "PK RP VT AP S2 4R A5 XY XU RDPL VN P2 C6 V2 V3 V4 V5 V6 V7 V8 "
    "V9 XA PP LV CC OB CP CX HK YV HC HP TI YN YS TG HR JY SU 7T "
    "CN 5A ST ET 5Y 5H 5X 9Q 9J 9K A6 A7 A9C HZ EP YK OD 4X J2 S7 "
    "D2 D6 3B 3C 3D 3X 3Y 5B 5C 5D 5E 5F 5G 5H 5I 5J 5K 5L 5M 5N "
    "5O 5P 5Q 5R 5S 5T 5U 5V 5W 5X 5Y 5Z 6O 6P 6Q 6R 6S 6T 6U 6V "
    "6W 6X 6Y 6Z 7O 7P 7Q 7R 7S 7T 7U 7V 7W 7X 7Y 7Z 8P 8Q 8R 8S "
    "8T 8U 8V 8W 8X 8Y 8Z 9A 9B 9C 9D 9E 9F 9G 9H 9I 9J 9K 9L 9M "
    "9N 9O 9P 9Q 9R 9S 9T 9U 9V 9W 9X 9Y 9Z";

// Twelve registration bytes: the text, then zero bytes.
QByteArray registrationBytes(const QByteArray& text)
{
    QByteArray bytes = text.left(12);
    bytes.append(QByteArray(12 - bytes.size(), '\0'));
    return bytes;
}

void putRegistration(const QByteArray& bytes)
{
    for (int word = 0; word < 3; word++) {
        uint32_t value = 0;
        for (int i = 0; i < 4; i++)
            value = value << 8 | uint8_t(bytes[4 * word + i]);
        sim::unit().setSettingsValue(uint8_t(REGISTRATION_1_INDEX + word), value);
    }
}

QByteArray hostRegistration()
{
    return QByteArray(user_config.registration, sizeof user_config.registration);
}

// The three registration words the unit received, as the twelve bytes they carry.
QByteArray registrationOnTheWire()
{
    QByteArray bytes;
    for (const COMMS_MSG_t& frame : harness::framesWithId(0x390)) {
        const uint8_t index = frame.data[0];
        if (index < REGISTRATION_1_INDEX || index > REGISTRATION_3_INDEX)
            continue;
        const uint32_t word = get_u32_le(&frame.data[1]);
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char(word >> shift));
    }
    return bytes;
}

} // namespace

class IdentityFieldsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void prefixListHoldsTableInOrder();
    void registrationSplitAndSaved_data();
    void registrationSplitAndSaved();
    void registrationSplitIsLogged();
    void registrationJoinedFromWidgets_data();
    void registrationJoinedFromWidgets();
    void icaoTextParsed_data();
    void icaoTextParsed();
    void icaoTypedShowsUpperCaseAfterLoad();
    void icaoAddressShown_data();
    void icaoAddressShown();
    void addressTypeFollowsRadioButtons();

private:
    bool startWindow();
    void click(const char* buttonName);

    // Every load leaves a backup in the per-user data folder: a scratch one.
    std::unique_ptr<ScratchHome> home_;
    std::unique_ptr<MainWindow> window_;
};

void IdentityFieldsTest::initTestCase()
{
    home_ = std::make_unique<ScratchHome>();
    QVERIFY(home_->isValid());
}

void IdentityFieldsTest::init()
{
    sim::unit().reset();
}

void IdentityFieldsTest::cleanup()
{
    window_.reset();
}

bool IdentityFieldsTest::startWindow()
{
    window_ = harness::startWindow();
    return harness::waitForLoaded(*window_);
}

void IdentityFieldsTest::click(const char* buttonName)
{
    child<QPushButton>(*window_, buttonName)->click();
}

// All 193 entries, duplicates included, in table order and with no item data.
void IdentityFieldsTest::prefixListHoldsTableInOrder()
{
    sim::unit().setPresent(false);
    window_ = harness::startWindow();
    auto* prefixes = child<QComboBox>(*window_, "comboBox_reg_prefix");

    QStringList shown;
    for (int i = 0; i < prefixes->count(); i++) {
        shown.append(prefixes->itemText(i));
        QVERIFY(!prefixes->itemData(i).isValid());
    }
    QCOMPARE(shown, QString::fromLatin1(kExpectedPrefixes).split(QLatin1Char(' ')));
    QCOMPARE(prefixes->count(), NUM_REGISTRATION_PREFIXES);
    QCOMPARE(prefixes->currentText(), QStringLiteral("N"));
    QVERIFY(!prefixes->isEditable());
}

void IdentityFieldsTest::registrationSplitAndSaved_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("prefixItem");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("saved");

    QTest::newRow("G-ABCD") << registrationBytes("G-ABCD") << 2 << "-ABCD" << registrationBytes("G-ABCD");
    QTest::newRow("C before CC") << registrationBytes("CC-ABC") << 1 << "C-ABC" << registrationBytes("CC-ABC");
    QTest::newRow("D before D2") << registrationBytes("D2ABC") << 4 << "2ABC" << registrationBytes("D2ABC");
    QTest::newRow("duplicate 9H at its first place") << registrationBytes("9H-ABC") << 31 << "-ABC"
                                                     << registrationBytes("9H-ABC");
    QTest::newRow("four-letter prefix") << registrationBytes("RDPL-1") << 49 << "-1" << registrationBytes("RDPL-1");
    QTest::newRow("no prefix fits") << registrationBytes("ZS-ABC") << 0 << "ZS-ABC" << registrationBytes("NZS-ABC");
    QTest::newRow("11 characters no prefix fits") << registrationBytes("ZZ123456789") << 0 << "ZZ12345678"
                                                  << registrationBytes("NZZ12345678");
    QTest::newRow("12 characters") << QByteArray("ABCDEFGHIJKL") << 0 << "ABCDEFGHIJ"
                                   << registrationBytes("NABCDEFGHIJ");
    QTest::newRow("erased") << QByteArray(12, '\xFF') << 0 << "" << QByteArray(12, '\0');
    QTest::newRow("begins with zero") << registrationBytes(QByteArray("\0ABC", 4)) << 0 << ""
                                      << QByteArray(12, '\0');
    QTest::newRow("Latin-1") << registrationBytes("G-\xC4" "BC") << 2 << QString::fromUtf8("-\xC3\x84" "BC")
                             << registrationBytes("G-\xC4" "BC");
}

// The list shows the first entry the stored text begins with; a save that
// leaves both widgets as they are stores prefix and number joined.
void IdentityFieldsTest::registrationSplitAndSaved()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, prefixItem);
    QFETCH(QString, number);
    QFETCH(QByteArray, saved);

    putRegistration(stored);
    QVERIFY(startWindow());
    QCOMPARE(child<QComboBox>(*window_, "comboBox_reg_prefix")->currentIndex(), prefixItem);
    QCOMPARE(child<QPlainTextEdit>(*window_, "text_registration_num")->toPlainText(), number);

    // A registration the form shows otherwise is sent by the update, so the
    // unit holds what the save stores.
    click("pushButton_update");
    click("pushButton_save");
    QCOMPARE(harness::statusText(*window_), QStringLiteral("Configuration saved to EEPROM successfully"));
    QCOMPARE(hostRegistration(), saved);
}

void IdentityFieldsTest::registrationSplitIsLogged()
{
    putRegistration(registrationBytes("ZS-ABC"));
    OutputCapture err(stderr);
    QVERIFY(startWindow());
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Created string: ZS-ABC")));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Found prefix: ")));
}

void IdentityFieldsTest::registrationJoinedFromWidgets_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("no number") << "D" << "" << QByteArray(12, '\0');
    QTest::newRow("prefix typed twice") << "N" << "N123AB" << registrationBytes("NN123AB");
    QTest::newRow("cut to 11 characters") << "EC" << "123456789012345" << registrationBytes("EC123456789");
    QTest::newRow("outside Latin-1") << "G" << QString::fromUtf8("-\xC3\x84\xE2\x82\xAC" "B")
                                     << registrationBytes("G-\xC4?B");
    QTest::newRow("outside the basic plane") << "G" << QString::fromUtf8("-A\xF0\x9F\x98\x80" "B")
                                             << registrationBytes("G-A?B");
    QTest::newRow("line break and blank") << "F" << "AB\nC D" << registrationBytes("FAB\nC D");
}

// The update sends the three registration words built from what the widgets
// hold, and the host's record holds the same bytes.
void IdentityFieldsTest::registrationJoinedFromWidgets()
{
    QFETCH(QString, prefix);
    QFETCH(QString, number);
    QFETCH(QByteArray, stored);

    QVERIFY(startWindow());
    auto* prefixes = child<QComboBox>(*window_, "comboBox_reg_prefix");
    prefixes->setCurrentIndex(prefixes->findText(prefix));
    child<QPlainTextEdit>(*window_, "text_registration_num")->setPlainText(number);
    click("pushButton_update");

    QCOMPARE(hostRegistration(), stored);
    QCOMPARE(registrationOnTheWire(), stored);
    QCOMPARE(harness::statusText(*window_), QStringLiteral("Successfully sent 3 configuration value(s) to device"));
}

void IdentityFieldsTest::icaoTextParsed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("address");

    QTest::newRow("lower-case hexadecimal") << "abc123" << 0xABC123u;
    QTest::newRow("seven digits keep the low 24 bits") << "1234567" << 0x234567u;
    QTest::newRow("32 bits keep the low 24 bits") << "FFFFFFFF" << 0xFFFFFFu;
    QTest::newRow("nine digits too large") << "123456789" << 0u;
    QTest::newRow("inner blank") << "12 34" << 0u;
    QTest::newRow("0x prefix") << "0x1A" << 0u;
    QTest::newRow("not a number") << "ZZZ" << 0u;
    QTest::newRow("decimal digits read as hexadecimal") << "120500" << 0x120500u;
    QTest::newRow("surrounding white space") << "  ab \n" << 0xABu;
    QTest::newRow("empty") << "" << 0u;
}

void IdentityFieldsTest::icaoTextParsed()
{
    QFETCH(QString, text);
    QFETCH(uint, address);

    QVERIFY(startWindow());
    child<QPlainTextEdit>(*window_, "text_icao")->setPlainText(text);
    click("pushButton_update");

    QCOMPARE(user_config.ownship_icao, address);
    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(0x390);
    QCOMPARE(writes.size(), size_t(1));
    QVERIFY(harness::sameFrame(writes[0], harness::settingsWriteFrame(OWNSHIP_ICAO_INDEX, address)));
}

// Each keystroke hands on the text so far; the next load shows the address
// as six upper-case digits.
void IdentityFieldsTest::icaoTypedShowsUpperCaseAfterLoad()
{
    QVERIFY(startWindow());
    auto* icao = child<QPlainTextEdit>(*window_, "text_icao");
    icao->clear();
    icao->setFocus();
    QTest::keyClicks(icao, QStringLiteral("abc123"));
    QCOMPARE(user_config.ownship_icao, 0xABC123u);

    click("pushButton_update");
    click("pushButton_load");
    QCOMPARE(icao->toPlainText(), QStringLiteral("ABC123"));
}

void IdentityFieldsTest::icaoAddressShown_data()
{
    QTest::addColumn<uint>("stored");
    QTest::addColumn<QString>("shown");

    QTest::newRow("leading zeros") << 0x00ABCDu << "00ABCD";
    QTest::newRow("top byte not shown") << 0xFF123456u << "123456";
    QTest::newRow("zero") << 0u << "000000";
}

void IdentityFieldsTest::icaoAddressShown()
{
    QFETCH(uint, stored);
    QFETCH(QString, shown);

    sim::unit().setSettingsValue(OWNSHIP_ICAO_INDEX, stored);
    QVERIFY(startWindow());
    QCOMPARE(child<QPlainTextEdit>(*window_, "text_icao")->toPlainText(), shown);
}

// Switching with the mouse toggles both buttons; the type goes out once.
void IdentityFieldsTest::addressTypeFollowsRadioButtons()
{
    QVERIFY(startWindow());
    auto* random = child<QRadioButton>(*window_, "radioButton_rand_icao");
    QVERIFY(child<QRadioButton>(*window_, "radioButton_use_icao")->isChecked());

    QTest::mouseClick(random, Qt::LeftButton, Qt::NoModifier, QPoint(8, random->height() / 2));
    QVERIFY(random->isChecked());
    click("pushButton_update");
    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(0x390);
    QCOMPARE(writes.size(), size_t(1));
    QVERIFY(harness::sameFrame(writes[0], harness::settingsWriteFrame(ICAO_ADDR_TYPE_INDEX, 1)));

    click("pushButton_load");
    QVERIFY(random->isChecked());
}

QTEST_MAIN(IdentityFieldsTest)
#include "tst_identity_fields.moc"
