// The settings and calibration records one value at a time, and the settings
// checksum. Every index is tried: one that names a field stores exactly that
// field, as wide as it is, and the checksum follows; one that names no field
// changes nothing.

#include <QtTest>

#include <cstring>
#include <memory>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"

namespace {

const uint32_t kNoValue = 0xFFFFFFFF;

// CRC-32/MPEG-2 one byte at a time, each word most significant byte first,
// the textbook way: an oracle that shares nothing with the word-wise routine.
uint32_t oracleCrc(const uint32_t* words, uint32_t count)
{
    uint32_t crc = 0xFFFFFFFF;
    for (uint32_t byte = 0; byte < 4 * count; ++byte) {
        crc ^= (words[byte / 4] >> (24 - 8 * (byte % 4)) & 0xFF) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// What the unit expects in crc32: the words after it that num_elements counts
// (never more than the 31 there are), or 0 for an erased record.
uint32_t expectedCrc(const Settings_t& record)
{
    return record.crc32 == 0xFFFFFFFF ? 0 : oracleCrc(&record.magic, qMin(record.num_elements, 31u));
}

template <typename T>
QByteArray bytesOf(const T& object)
{
    return QByteArray(reinterpret_cast<const char*>(&object), int(sizeof object));
}

// Each byte differs from the others, so a store that lands on a neighbour
// shows; a settings record so made counts more words than it holds.
template <typename Record>
Record patterned()
{
    Record record;
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i)
        bytes[i] = static_cast<unsigned char>(0x11 + i * 37);
    return record;
}

// A value whose every byte differs from the record's at that offset.
template <typename Record>
uint32_t valueFor(const Record& record, int offset)
{
    uint32_t word;
    memcpy(&word, reinterpret_cast<const char*>(&record) + qMax(offset, 0), sizeof word);
    return ~word;
}

int valueWidth(uint32_t index)
{
    if (index >= VMIN_INDEX && index <= VLO_INDEX)
        return 1;
    const bool volts = index == MIN_VOLTS_INDEX || index == MAX_VOLTS_INDEX || index == MIN_VOLTS_ALERT_INDEX
                       || index == MAX_VOLTS_ALERT_INDEX;
    return volts ? 2 : 4;
}

// The header words lead the record; the values follow in index order, each
// right after the one before.
int settingsOffset(uint32_t index)
{
    if (index >= SETTINGS_CHECKSUM_INDEX && index <= SETTINGS_NUM_ELEMENTS)
        return 4 * int(index - SETTINGS_CHECKSUM_INDEX);
    int offset = index < SETTINGS_LAST_INDEX ? int(offsetof(Settings_t, units)) : -1;
    for (uint32_t before = 0; offset >= 0 && before < index; ++before)
        offset += valueWidth(before);
    return offset;
}

// Calibration indices follow the record's words from version on, past the
// MMC_INSTALL values that this record does not hold; each magnetometer matrix
// is walked column by column.
int calibOffset(uint32_t index)
{
    if (index == CALIB_MAGIC_NUM || index == CALIB_CRC_INDEX)
        return index == CALIB_MAGIC_NUM ? 0 : int(offsetof(SENSOR_CALIB_t, crc32));
    if (index > OAT_CRC_INDEX || (index >= MMC_INSTALL_B_VECTOR_0_INDEX && index <= MMC_INSTALL_A_MATRIX_CHK_INDEX))
        return -1;
    int word = int(index) + 1 - (index > MMC_INSTALL_A_MATRIX_CHK_INDEX ? 14 : 0);
    const int inMagnetometers = word - int(offsetof(SENSOR_CALIB_t, MMC_INITIAL_CAL) / 4);
    const int inMatrix = inMagnetometers % 14 - int(offsetof(MAG_CAL_t, A_matrix) / 4);
    if (inMagnetometers >= 0 && inMagnetometers < 28 && inMatrix >= 0 && inMatrix < 9)
        word += (inMatrix % 3) * 3 + inMatrix / 3 - inMatrix;
    return 4 * word;
}

} // namespace

class TestSettingsRecord : public QObject
{
    Q_OBJECT

private slots:
    void checksum();
    void settingsIndex_data();
    void settingsIndex();
    void calibIndex_data() { settingsIndex_data(); }
    void calibIndex();
    void unitFlagsAreBitsZeroToEight();
};

void TestSettingsRecord::checksum()
{
    uint32_t words[31] = {0x64636261}; // "abcd" as it lies in memory
    QCOMPARE(EFIS_crc(words, 0), 0xFFFFFFFFu);
    QCOMPARE(EFIS_crc(words, 1), 0xA62F1C36u);
    words[0] = 0;
    QCOMPARE(EFIS_crc(words, 1), 0xC704DD7Bu);
    for (uint32_t i = 0; i < 31; ++i)
        words[i] = 0x9E3779B9u * (i + 1);
    QCOMPARE(EFIS_crc(words, 31), oracleCrc(words, 31));

    // On the heap, so AddressSanitizer reports any read past the record.
    auto record = std::make_unique<Settings_t>(patterned<Settings_t>());
    for (const uint32_t count : {0u, 3u, 30u, 31u, 32u, 0xFFFFFFFFu}) {
        record->num_elements = count;
        QVERIFY2(settings_CalcCRC(record.get()) == oracleCrc(&record->magic, qMin(count, 31u)),
                 qPrintable(QString::number(count)));
    }
    record->crc32 = 0xFFFFFFFF;
    QCOMPARE(settings_CalcCRC(record.get()), 0u);
}

void TestSettingsRecord::settingsIndex_data()
{
    QTest::addColumn<uint32_t>("index");
    for (uint32_t index = 0; index <= 256; ++index)
        QTest::addRow("%u", index) << index;
    QTest::newRow("all ones") << 0xFFFFFFFFu;
}

void TestSettingsRecord::settingsIndex()
{
    QFETCH(uint32_t, index);
    const int offset = settingsOffset(index);
    const int width = index < SETTINGS_LAST_INDEX ? valueWidth(index) : 4;
    auto record = patterned<Settings_t>();
    uint32_t value = valueFor(record, offset);

    Settings_t expected = record;
    // Registration characters go first-character-first from the top byte.
    const bool chars = index >= REGISTRATION_1_INDEX && index <= REGISTRATION_3_INDEX;
    for (int b = 0; offset >= 0 && b < width; ++b)
        reinterpret_cast<uint8_t*>(&expected)[offset + b] = uint8_t(value >> (chars ? 24 - 8 * b : 8 * b));
    expected.crc32 = offset >= 0 ? expectedCrc(expected) : record.crc32;
    const uint32_t readBack = index == SETTINGS_CHECKSUM_INDEX ? expected.crc32 : value & (~0u >> (32 - 8 * width));
    const auto at = settings_struct_index(index);

    QCOMPARE(settings_set_value(&record, at, &value), offset >= 0);
    QCOMPARE(bytesOf(record), bytesOf(expected));
    QCOMPARE(settings_get_value(&record, at), offset >= 0 ? readBack : kNoValue);
}

void TestSettingsRecord::calibIndex()
{
    QFETCH(uint32_t, index);
    const int offset = calibOffset(index);
    auto calib = patterned<SENSOR_CALIB_t>();
    uint32_t value = valueFor(calib, offset);
    QByteArray expected = bytesOf(calib);
    if (offset >= 0)
        expected.replace(offset, 4, bytesOf(value));
    const auto at = sensor_calib_struct_index(index);

    QCOMPARE(calib_set_value(&calib, at, &value), offset >= 0);
    QCOMPARE(bytesOf(calib), expected);
    QCOMPARE(calib_get_value(&calib, at), offset >= 0 ? value : kNoValue);
}

void TestSettingsRecord::unitFlagsAreBitsZeroToEight()
{
    units_t units;
    for (int bit = 0; bit < 9; ++bit) {
        units.units_value = 1u << bit;
        const uint32_t flags[] = {units.is_mph,     units.is_knots, units.is_kph,  units.is_feet, units.is_meters,
                                  units.is_fahrenheit, units.is_celsius, units.is_inhg, units.is_mbar};
        for (int flag = 0; flag < 9; ++flag)
            QCOMPARE(flags[flag], flag == bit ? 1u : 0u);
    }
    // The bits above the flags are kept when flags change.
    units.units_value = 0xFFFFFE00u;
    units.is_knots = 1;
    units.is_mbar = 1;
    QCOMPARE(units.units_value, 0xFFFFFF02u);
}

QTEST_APPLESS_MAIN(TestSettingsRecord)
#include "tst_settings_record.moc"
