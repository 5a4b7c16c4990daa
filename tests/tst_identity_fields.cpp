// The aircraft identity fields of the Settings tab through the real window
// and the simulated unit: the registration split into prefix and number and
// joined back, the ICAO address shown and parsed, and what the unit stores.

#include <QtTest>
#include <QtWidgets>

#include "mainwindow.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "window_harness.h"

using harness::child;

namespace {

// Twelve registration bytes: the text, then zero bytes.
QByteArray registration(const QByteArray& text)
{
    return text.leftJustified(12, '\0', true);
}

void putIdentity(const QByteArray& registration, uint32_t icao)
{
    Settings_t record = sim::unit().settings();
    memcpy(record.registration, registration.constData(), sizeof record.registration);
    record.ownship_icao = icao;
    sim::unit().setSettings(record);
}

void row(const char* name, const QByteArray& stored, uint icao, const char* shown, const char* entered,
         const QByteArray& saved, uint savedIcao)
{
    QTest::newRow(name) << registration(stored) << icao << QString(shown) << QString(entered) << registration(saved)
                        << savedIcao;
}

// The unit holds "G-ABCD" and 0x00ABCD; the user enters other identities.
void entered(const char* name, const char* entered, const QByteArray& saved, uint savedIcao)
{
    row(name, "G-ABCD", 0x00ABCD, "2|-ABCD|00ABCD", entered, saved, savedIcao);
}

} // namespace

class IdentityFieldsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim::unit().reset(); }
    void identityShownAndStored_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<uint>("icao");
        QTest::addColumn<QString>("shown");   // prefix item | number | ICAO field
        QTest::addColumn<QString>("entered"); // prefix | number | ICAO field; empty: the form as loaded
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<uint>("savedIcao");

        // The list shows the first entry the stored text begins with; a save
        // stores prefix and number joined.
        row("G-ABCD", "G-ABCD", 0x00ABCD, "2|-ABCD|00ABCD", "", "G-ABCD", 0x00ABCD);
        row("C before CC", "CC-ABC", 0, "1|C-ABC|000000", "", "CC-ABC", 0);
        row("D before D2", "D2ABC", 0, "4|2ABC|000000", "", "D2ABC", 0);
        row("duplicate 9H at its first place", "9H-ABC", 0, "31|-ABC|000000", "", "9H-ABC", 0);
        row("four-letter prefix", "RDPL-1", 0, "49|-1|000000", "", "RDPL-1", 0);
        row("no prefix fits", "ZS-ABC", 0, "0|ZS-ABC|000000", "", "NZS-ABC", 0);
        row("11 characters, no prefix fits", "ZZ123456789", 0, "0|ZZ12345678|000000", "", "NZZ12345678", 0);
        row("12 characters", "ABCDEFGHIJKL", 0, "0|ABCDEFGHIJ|000000", "", "NABCDEFGHIJ", 0);
        row("erased", QByteArray(12, '\xFF'), 0, "0||000000", "", "", 0);
        row("begins with zero", QByteArray("\0ABC", 4), 0, "0||000000", "", "", 0);
        row("Latin-1", "G-\xC4" "BC", 0, "2|-\xC3\x84" "BC|000000", "", "G-\xC4" "BC", 0);
        row("ICAO top byte not shown", "G-A", 0xFF123456, "2|-A|123456", "", "G-A", 0x123456);

        // The number joins the prefix as typed, cut to 11 Latin-1 characters.
        // The ICAO field is read as hexadecimal, keeping the low 24 bits; text
        // that is no number gives 0.
        entered("no number, lower-case ICAO", "D||abc123", "", 0xABC123);
        entered("prefix typed twice, seven digits", "N|N123AB|1234567", "NN123AB", 0x234567);
        entered("cut to 11, 32 bits", "EC|123456789012345|FFFFFFFF", "EC123456789", 0xFFFFFF);
        entered("outside Latin-1, nine digits", "G|-\xC3\x84\xE2\x82\xAC" "B|123456789", "G-\xC4?B", 0);
        entered("outside the basic plane, inner blank", "G|-A\xF0\x9F\x98\x80" "B|12 34", "G-A?B", 0);
        entered("line break and blank, 0x prefix", "F|AB\nC D|0x1A", "FAB\nC D", 0);
        entered("decimal digits read as hexadecimal", "G|-ABCD|120500", "G-ABCD", 0x120500);
        entered("surrounding white space", "G|-ABCD|  ab \n", "G-ABCD", 0xAB);
    }

    // A value the form shows otherwise is sent by the update, so the unit holds
    // what the save stores.
    void identityShownAndStored()
    {
        QFETCH(QByteArray, stored);
        QFETCH(uint, icao);
        QFETCH(QString, shown);
        QFETCH(QString, entered);
        QFETCH(QByteArray, saved);
        QFETCH(uint, savedIcao);

        putIdentity(stored, icao);
        const auto window = harness::startWindow();
        QVERIFY(harness::waitForLoaded(*window));
        auto* prefix = child<QComboBox>(*window, "comboBox_reg_prefix");
        auto* number = child<QPlainTextEdit>(*window, "text_registration_num");
        auto* address = child<QPlainTextEdit>(*window, "text_icao");
        QCOMPARE(QString::number(prefix->currentIndex()) + '|' + number->toPlainText() + '|' + address->toPlainText(),
                 shown);
        if (!entered.isEmpty()) {
            const QStringList fields = entered.split(QLatin1Char('|'));
            prefix->setCurrentIndex(prefix->findText(fields[0]));
            number->setPlainText(fields[1]);
            address->setPlainText(fields[2]);
        }
        child<QPushButton>(*window, "pushButton_update")->click();
        child<QPushButton>(*window, "pushButton_save")->click();

        QCOMPARE(harness::statusText(*window), QStringLiteral("Configuration saved to EEPROM successfully"));
        const Settings_t unit = sim::unit().storedSettings();
        QCOMPARE(QByteArray(unit.registration, sizeof unit.registration), saved);
        QCOMPARE(unit.ownship_icao, savedIcao);
    }

private:
    ScratchHome home_; // every load leaves a backup in the per-user data folder
};

QTEST_MAIN(IdentityFieldsTest)
#include "tst_identity_fields.moc"
