#include <QByteArray>
#include <QVector>
#include <QtTest>

#include <cstddef>
#include <cstring>
#include <memory>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"

namespace {

const uint32_t kNoValue = 0xFFFFFFFF;

// CRC-32/MPEG-2 computed one byte at a time, the textbook way, as an oracle
// that shares nothing with the word-wise routine under test.
uint32_t crc32Mpeg2Bytewise(const QByteArray& bytes)
{
    uint32_t crc = 0xFFFFFFFF;
    for (const char ch : bytes) {
        crc ^= uint32_t(uint8_t(ch)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

QByteArray msbFirstBytes(const QVector<uint32_t>& words)
{
    QByteArray bytes;
    for (const uint32_t word : words) {
        bytes.append(char(word >> 24));
        bytes.append(char(word >> 16));
        bytes.append(char(word >> 8));
        bytes.append(char(word));
    }
    return bytes;
}

// The checksum the unit expects for a record: the first `count` words after
// crc32, read as the little-endian words they are in memory.
uint32_t expectedRecordCrc(const Settings_t& record, uint32_t count)
{
    QVector<uint32_t> words(qsizetype(count), 0);
    std::memcpy(words.data(), reinterpret_cast<const char*>(&record) + 4, count * 4);
    return crc32Mpeg2Bytewise(msbFirstBytes(words));
}

QByteArray rawBytes(const void* object, size_t size)
{
    return QByteArray(static_cast<const char*>(object), qsizetype(size));
}

// Each byte differs from its neighbours, so a store that touches a neighbour or
// a read that picks up a neighbour shows.
template <typename Record>
void fillPattern(Record* record)
{
    auto* bytes = reinterpret_cast<unsigned char*>(record);
    for (size_t i = 0; i < sizeof(Record); ++i)
        bytes[i] = static_cast<unsigned char>(0x11 + i * 37);
}

// A patterned record that covers all of itself with its checksum.
Settings_t patternedSettings()
{
    Settings_t record;
    fillPattern(&record);
    record.num_elements = 31;
    return record;
}

Settings_t erasedSettings()
{
    Settings_t record;
    std::memset(&record, 0xFF, sizeof(record));
    return record;
}

void setWord(Settings_t* record, settings_struct_index index, uint32_t value)
{
    QVERIFY(settings_set_value(record, index, &value));
}

} // namespace

Q_DECLARE_METATYPE(Settings_t)

class TestSettingsRecord : public QObject
{
    Q_OBJECT

private slots:
    void crcOfWords_data();
    void crcOfWords();
    void bytewiseOracleMatchesCatalogue();
    void recordCrc_data();
    void recordCrc();
    void recordCrcClampsElementCount_data();
    void recordCrcClampsElementCount();
    void storeAndRead_data();
    void storeAndRead();
    void floatFieldsMoveAsBitPattern();
    void checksumAfterStore_data();
    void checksumAfterStore();
    void storeThroughChecksumIndexIsReplaced();
    void rejectedSettingsIndex_data();
    void rejectedSettingsIndex();
    void unitFlagBits_data();
    void unitFlagBits();
    void unitFlagsKeepUpperBits();
    void calibIndexMapsToField_data();
    void calibIndexMapsToField();
    void calibFloatMovesAsBitPattern();
    void rejectedCalibIndex_data();
    void rejectedCalibIndex();
};

void TestSettingsRecord::crcOfWords_data()
{
    QTest::addColumn<QVector<uint32_t>>("words");
    QTest::addColumn<uint32_t>("expected");

    QTest::newRow("no words") << QVector<uint32_t>{} << 0xFFFFFFFFu;
    QTest::newRow("one zero word") << QVector<uint32_t>{0x00000000} << 0xC704DD7Bu;
    QTest::newRow("abcd in memory order") << QVector<uint32_t>{0x64636261} << 0xA62F1C36u;

    const QVector<uint32_t> digits{0x31323334, 0x35363738};
    QTest::newRow("two words") << digits << crc32Mpeg2Bytewise(msbFirstBytes(digits));

    QVector<uint32_t> record;
    for (uint32_t i = 0; i < 31; ++i)
        record.append(0x9E3779B9u * (i + 1));
    QTest::newRow("31 words") << record << crc32Mpeg2Bytewise(msbFirstBytes(record));
}

void TestSettingsRecord::crcOfWords()
{
    QFETCH(QVector<uint32_t>, words);
    QFETCH(uint32_t, expected);

    QCOMPARE(EFIS_crc(words.data(), uint32_t(words.size())), expected);
}

void TestSettingsRecord::bytewiseOracleMatchesCatalogue()
{
    // The published check value of CRC-32/MPEG-2 over "123456789".
    QCOMPARE(crc32Mpeg2Bytewise(QByteArray("123456789")), 0x0376E6E7u);
}

void TestSettingsRecord::recordCrc_data()
{
    QTest::addColumn<uint32_t>("crcField");
    QTest::addColumn<uint32_t>("numElements");
    QTest::addColumn<uint32_t>("expected");

    Settings_t record = patternedSettings();
    QTest::newRow("erased record") << 0xFFFFFFFFu << 31u << 0u;
    QTest::newRow("erased record, no elements") << 0xFFFFFFFFu << 0u << 0u;
    QTest::newRow("no elements") << 0u << 0u << 0xFFFFFFFFu;

    record.num_elements = 3;
    QTest::newRow("header only") << 0u << 3u << expectedRecordCrc(record, 3);
    record.num_elements = 30;
    QTest::newRow("one word short") << 0x12345678u << 30u << expectedRecordCrc(record, 30);
    record.num_elements = 31;
    QTest::newRow("whole record") << 0x12345678u << 31u << expectedRecordCrc(record, 31);
}

void TestSettingsRecord::recordCrc()
{
    QFETCH(uint32_t, crcField);
    QFETCH(uint32_t, numElements);
    QFETCH(uint32_t, expected);

    Settings_t record = patternedSettings();
    record.crc32 = crcField;
    record.num_elements = numElements;

    QCOMPARE(settings_CalcCRC(&record), expected);
}

void TestSettingsRecord::recordCrcClampsElementCount_data()
{
    QTest::addColumn<uint32_t>("numElements");

    QTest::newRow("32") << 32u;
    QTest::newRow("33") << 33u;
    QTest::newRow("1000") << 1000u;
    QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu;
}

void TestSettingsRecord::recordCrcClampsElementCount()
{
    QFETCH(uint32_t, numElements);

    // On the heap, so AddressSanitizer reports any read past the record.
    auto record = std::make_unique<Settings_t>(patternedSettings());
    record->num_elements = numElements;

    // The 31 words that the record holds after crc32, num_elements as it is.
    QCOMPARE(settings_CalcCRC(record.get()), expectedRecordCrc(*record, 31));
}

void TestSettingsRecord::storeAndRead_data()
{
    QTest::addColumn<uint32_t>("index");
    QTest::addColumn<uint32_t>("value");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<uint32_t>("readBack");

    QTest::newRow("UNITS_VALUE_INDEX") << uint32_t(UNITS_VALUE_INDEX) << 0x80000142u << 16
                                       << QByteArray::fromHex("42010080") << 0x80000142u;

    const struct {
        settings_struct_index index;
        const char* name;
    } speeds[] = {
        {VMIN_INDEX, "VMIN_INDEX"}, {VS0_INDEX, "VS0_INDEX"}, {VS1_INDEX, "VS1_INDEX"},
        {VFE_INDEX, "VFE_INDEX"}, {VN0_INDEX, "VN0_INDEX"}, {VNE_INDEX, "VNE_INDEX"},
        {APPROACHSPEED_INDEX, "APPROACHSPEED_INDEX"}, {VLO_INDEX, "VLO_INDEX"},
    };
    for (const auto& speed : speeds) {
        const uint32_t low = 0x70 + speed.index;
        QTest::newRow(speed.name) << uint32_t(speed.index) << (0x12345600u | low)
                                  << int(20 + speed.index - VMIN_INDEX)
                                  << QByteArray(1, char(low)) << low;
    }
    QTest::newRow("VMIN_INDEX keeps the low byte") << uint32_t(VMIN_INDEX) << 0x12345678u << 20
                                                   << QByteArray::fromHex("78") << 0x00000078u;

    QTest::newRow("MIN_VOLTS_INDEX") << uint32_t(MIN_VOLTS_INDEX) << 0xDEAD0078u << 28
                                     << QByteArray::fromHex("7800") << 0x0078u;
    QTest::newRow("MAX_VOLTS_INDEX") << uint32_t(MAX_VOLTS_INDEX) << 0xBEEF0096u << 30
                                     << QByteArray::fromHex("9600") << 0x0096u;

    QTest::newRow("REGISTRATION_1_INDEX") << uint32_t(REGISTRATION_1_INDEX) << 0x4E313233u << 32
                                          << QByteArray("N123") << 0x4E313233u;
    QTest::newRow("REGISTRATION_2_INDEX") << uint32_t(REGISTRATION_2_INDEX) << 0x34354142u << 36
                                          << QByteArray("45AB") << 0x34354142u;
    QTest::newRow("REGISTRATION_3_INDEX") << uint32_t(REGISTRATION_3_INDEX) << 0xC3A92000u << 40
                                          << QByteArray::fromHex("c3a92000") << 0xC3A92000u;

    const struct {
        settings_struct_index index;
        const char* name;
        int offset;
    } words[] = {
        {SKY_COLOR_0_INDEX, "SKY_COLOR_0_INDEX", 44},
        {SKY_COLOR_1_INDEX, "SKY_COLOR_1_INDEX", 48},
        {GROUND_COLOR_0_INDEX, "GROUND_COLOR_0_INDEX", 52},
        {GROUND_COLOR_1_INDEX, "GROUND_COLOR_1_INDEX", 56},
        {APPROACH_COLOR_INDEX, "APPROACH_COLOR_INDEX", 60},
        {AIRPLANE_COLOR_INDEX, "AIRPLANE_COLOR_INDEX", 64},
        {GREEN_ARC_COLOR_INDEX, "GREEN_ARC_COLOR_INDEX", 68},
        {YELLOW_ARC_COLOR_INDEX, "YELLOW_ARC_COLOR_INDEX", 72},
        {RED_ARC_COLOR_INDEX, "RED_ARC_COLOR_INDEX", 76},
        {GEAR_INDI_COLOR_INDEX, "GEAR_INDI_COLOR_INDEX", 80},
        {BACKLIGHT_BRIGHTNESS_INDEX, "BACKLIGHT_BRIGHTNESS_INDEX", 84},
        {ROLL_CORRECTION_INDEX, "ROLL_CORRECTION_INDEX", 88},
        {PITCH_CORRECTION_INDEX, "PITCH_CORRECTION_INDEX", 92},
        {TEXT_BG_ALPHA_INDEX, "TEXT_BG_ALPHA_INDEX", 100},
        {USE_MAG_INDEX, "USE_MAG_INDEX", 104},
        {OWNSHIP_ICAO_INDEX, "OWNSHIP_ICAO_INDEX", 108},
        {ICAO_ADDR_TYPE_INDEX, "ICAO_ADDR_TYPE_INDEX", 112},
        {EMITTER_CAT_INDEX, "EMITTER_CAT_INDEX", 116},
        {TERM_RESISTOR_INDEX, "TERM_RESISTOR_INDEX", 120},
        {MAP_DIR_INDEX, "MAP_DIR_INDEX", 124},
        {SETTINGS_MAGIC_NUM, "SETTINGS_MAGIC_NUM", 4},
        {SETTINGS_VERSION, "SETTINGS_VERSION", 8},
    };
    for (const auto& word : words) {
        const uint32_t value = 0xA1B2C300u | word.index;
        const char little[] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
        QTest::newRow(word.name) << uint32_t(word.index) << value << word.offset
                                 << QByteArray(little, 4) << value;
    }
    QTest::newRow("ROLL_CORRECTION_INDEX 1.5") << uint32_t(ROLL_CORRECTION_INDEX) << 0x3FC00000u << 88
                                               << QByteArray::fromHex("0000c03f") << 0x3FC00000u;
    QTest::newRow("SETTINGS_MAGIC_NUM KOB_") << uint32_t(SETTINGS_MAGIC_NUM) << 0x5F424F4Bu << 4
                                             << QByteArray("KOB_") << 0x5F424F4Bu;

    QTest::newRow("MIN_VOLTS_ALERT_INDEX") << uint32_t(MIN_VOLTS_ALERT_INDEX) << 0x0001006Eu << 96
                                           << QByteArray::fromHex("6e00") << 0x006Eu;
    QTest::newRow("MAX_VOLTS_ALERT_INDEX") << uint32_t(MAX_VOLTS_ALERT_INDEX) << 0xFFFF00A0u << 98
                                           << QByteArray::fromHex("a000") << 0x00A0u;

    QTest::newRow("SETTINGS_NUM_ELEMENTS") << uint32_t(SETTINGS_NUM_ELEMENTS) << 20u << 12
                                           << QByteArray::fromHex("14000000") << 20u;
}

void TestSettingsRecord::storeAndRead()
{
    QFETCH(uint32_t, index);
    QFETCH(uint32_t, value);
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(uint32_t, readBack);

    Settings_t record = patternedSettings();
    QByteArray expected = rawBytes(&record, sizeof(record));
    expected.replace(offset, bytes.size(), bytes);

    uint32_t stored = value;
    QVERIFY(settings_set_value(&record, settings_struct_index(index), &stored));

    QCOMPARE(stored, value);
    // Everything but the checksum word is the old record with the field changed.
    QCOMPARE(rawBytes(&record, sizeof(record)).mid(4), expected.mid(4));
    QCOMPARE(record.crc32, settings_CalcCRC(&record));
    QCOMPARE(settings_get_value(&record, settings_struct_index(index)), readBack);
}

void TestSettingsRecord::floatFieldsMoveAsBitPattern()
{
    Settings_t record = patternedSettings();

    record.roll_correction = 1.5f;
    QCOMPARE(settings_get_value(&record, ROLL_CORRECTION_INDEX), 0x3FC00000u);

    setWord(&record, PITCH_CORRECTION_INDEX, 0xBF800000u);
    QCOMPARE(record.pitch_correction, -1.0f);
}

void TestSettingsRecord::checksumAfterStore_data()
{
    QTest::addColumn<Settings_t>("start");
    QTest::addColumn<uint32_t>("index");
    QTest::addColumn<uint32_t>("value");
    QTest::addColumn<uint32_t>("expectedCrc");

    const Settings_t patterned = patternedSettings();

    Settings_t afterVmin = patterned;
    afterVmin.vspeeds.Vmin = 0x42;
    QTest::newRow("byte field") << patterned << uint32_t(VMIN_INDEX) << 0x42u
                                << expectedRecordCrc(afterVmin, 31);

    Settings_t afterCount = patterned;
    afterCount.num_elements = 5;
    QTest::newRow("element count") << patterned << uint32_t(SETTINGS_NUM_ELEMENTS) << 5u
                                   << expectedRecordCrc(afterCount, 5);

    Settings_t noElements = patterned;
    noElements.num_elements = 0;
    QTest::newRow("no elements") << noElements << uint32_t(MAP_DIR_INDEX) << 1u << 0xFFFFFFFFu;

    // An erased record's crc32 is 0xFFFFFFFF, which asks for the checksum 0.
    QTest::newRow("erased record") << erasedSettings() << uint32_t(VMIN_INDEX) << 0x42u << 0u;
}

void TestSettingsRecord::checksumAfterStore()
{
    QFETCH(Settings_t, start);
    QFETCH(uint32_t, index);
    QFETCH(uint32_t, value);
    QFETCH(uint32_t, expectedCrc);

    Settings_t record = start;
    setWord(&record, settings_struct_index(index), value);

    QCOMPARE(record.crc32, expectedCrc);
}

void TestSettingsRecord::storeThroughChecksumIndexIsReplaced()
{
    Settings_t record = patternedSettings();
    const uint32_t computed = expectedRecordCrc(record, 31);
    QVERIFY(computed != 0x12345678u);

    setWord(&record, SETTINGS_CHECKSUM_INDEX, 0x12345678u);
    QCOMPARE(record.crc32, computed);
    QCOMPARE(settings_get_value(&record, SETTINGS_CHECKSUM_INDEX), computed);

    // A stored 0xFFFFFFFF reads as an erased record, whose checksum is 0.
    setWord(&record, SETTINGS_CHECKSUM_INDEX, 0xFFFFFFFFu);
    QCOMPARE(record.crc32, 0u);
}

void TestSettingsRecord::rejectedSettingsIndex_data()
{
    QTest::addColumn<uint32_t>("index");

    QTest::newRow("SETTINGS_LAST_INDEX") << uint32_t(SETTINGS_LAST_INDEX);
    QTest::newRow("37") << 37u;
    QTest::newRow("100") << 100u;
    QTest::newRow("251") << 251u;
    QTest::newRow("256") << 256u;
    QTest::newRow("0x10000") << 0x10000u;
    QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu;
}

void TestSettingsRecord::rejectedSettingsIndex()
{
    QFETCH(uint32_t, index);

    Settings_t record = patternedSettings();
    const QByteArray before = rawBytes(&record, sizeof(record));
    uint32_t value = 0x01020304;

    QVERIFY(!settings_set_value(&record, settings_struct_index(index), &value));
    QCOMPARE(rawBytes(&record, sizeof(record)), before);
    QCOMPARE(settings_get_value(&record, settings_struct_index(index)), kNoValue);
}

void TestSettingsRecord::unitFlagBits_data()
{
    QTest::addColumn<int>("bit");

    const char* names[] = {"is_mph", "is_knots", "is_kph", "is_feet", "is_meters",
                           "is_fahrenheit", "is_celsius", "is_inhg", "is_mbar"};
    for (int bit = 0; bit < 9; ++bit)
        QTest::newRow(names[bit]) << bit;
}

void TestSettingsRecord::unitFlagBits()
{
    QFETCH(int, bit);

    units_t units;
    units.units_value = 1u << bit;
    const uint32_t flags[] = {units.is_mph, units.is_knots, units.is_kph,
                              units.is_feet, units.is_meters, units.is_fahrenheit,
                              units.is_celsius, units.is_inhg, units.is_mbar};
    for (int flag = 0; flag < 9; ++flag)
        QCOMPARE(flags[flag], flag == bit ? 1u : 0u);
}

void TestSettingsRecord::unitFlagsKeepUpperBits()
{
    units_t units;
    units.units_value = 0xFFFFFE00u;
    units.is_knots = 1;
    units.is_mbar = 1;
    QCOMPARE(units.units_value, 0xFFFFFF02u);
}

#define CALIB_ROW(name, member) \
    QTest::newRow(#name) << uint32_t(name) << int(offsetof(SENSOR_CALIB_t, member))

void TestSettingsRecord::calibIndexMapsToField_data()
{
    QTest::addColumn<uint32_t>("index");
    QTest::addColumn<int>("offset");

    CALIB_ROW(CALIB_VERSION_INDEX, version);
    CALIB_ROW(LSM_ACC_OFFSET_X_INDEX, LSM_CAL.acc_offset.x);
    CALIB_ROW(LSM_ACC_OFFSET_Y_INDEX, LSM_CAL.acc_offset.y);
    CALIB_ROW(LSM_ACC_OFFSET_Z_INDEX, LSM_CAL.acc_offset.z);
    CALIB_ROW(LSM_ACC_OFFSET_CHKSUM_INDEX, LSM_CAL.acc_offset_crc);
    CALIB_ROW(LSM_ACC_SCALE_X_INDEX, LSM_CAL.acc_scale.x);
    CALIB_ROW(LSM_ACC_SCALE_Y_INDEX, LSM_CAL.acc_scale.y);
    CALIB_ROW(LSM_ACC_SCALE_Z_INDEX, LSM_CAL.acc_scale.z);
    CALIB_ROW(LSM_ACC_SCALE_CHKSUM_INDEX, LSM_CAL.acc_scale_crc);
    CALIB_ROW(LSM_GYRO_BIAS_X_INDEX, LSM_CAL.gyro_bias.x);
    CALIB_ROW(LSM_GYRO_BIAS_Y_INDEX, LSM_CAL.gyro_bias.y);
    CALIB_ROW(LSM_GYRO_BIAS_Z_INDEX, LSM_CAL.gyro_bias.z);
    CALIB_ROW(LSM_GYRO_BIAS_CHKSUM_INDEX, LSM_CAL.gyro_bias_crc);
    CALIB_ROW(MMC_INITIAL_B_VECTOR_0_INDEX, MMC_INITIAL_CAL.B_vector.x);
    CALIB_ROW(MMC_INITIAL_B_VECTOR_1_INDEX, MMC_INITIAL_CAL.B_vector.y);
    CALIB_ROW(MMC_INITIAL_B_VECTOR_2_INDEX, MMC_INITIAL_CAL.B_vector.z);
    CALIB_ROW(MMC_INITIAL_B_VECTOR_CHK_INDEX, MMC_INITIAL_CAL.B_vector_crc);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_0_0_index, MMC_INITIAL_CAL.A_matrix[0][0]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_1_0_index, MMC_INITIAL_CAL.A_matrix[1][0]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_2_0_index, MMC_INITIAL_CAL.A_matrix[2][0]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_0_1_index, MMC_INITIAL_CAL.A_matrix[0][1]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_1_1_index, MMC_INITIAL_CAL.A_matrix[1][1]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_2_1_index, MMC_INITIAL_CAL.A_matrix[2][1]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_0_2_index, MMC_INITIAL_CAL.A_matrix[0][2]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_1_2_index, MMC_INITIAL_CAL.A_matrix[1][2]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_2_2_index, MMC_INITIAL_CAL.A_matrix[2][2]);
    CALIB_ROW(MMC_INITIAL_A_MATRIX_CHK_INDEX, MMC_INITIAL_CAL.A_matrix_crc);
    CALIB_ROW(LIS_MAG_OFFSET_X_INDEX, LIS_CAL.B_vector.x);
    CALIB_ROW(LIS_MAG_OFFSET_Y_INDEX, LIS_CAL.B_vector.y);
    CALIB_ROW(LIS_MAG_OFFSET_Z_INDEX, LIS_CAL.B_vector.z);
    CALIB_ROW(LIS_MAG_OFFSET_CHKSUM_INDEX, LIS_CAL.B_vector_crc);
    CALIB_ROW(LIS_MAG_BIAS_0_0_index, LIS_CAL.A_matrix[0][0]);
    CALIB_ROW(LIS_MAG_BIAS_1_0_index, LIS_CAL.A_matrix[1][0]);
    CALIB_ROW(LIS_MAG_BIAS_2_0_index, LIS_CAL.A_matrix[2][0]);
    CALIB_ROW(LIS_MAG_BIAS_0_1_index, LIS_CAL.A_matrix[0][1]);
    CALIB_ROW(LIS_MAG_BIAS_1_1_index, LIS_CAL.A_matrix[1][1]);
    CALIB_ROW(LIS_MAG_BIAS_2_1_index, LIS_CAL.A_matrix[2][1]);
    CALIB_ROW(LIS_MAG_BIAS_0_2_index, LIS_CAL.A_matrix[0][2]);
    CALIB_ROW(LIS_MAG_BIAS_1_2_index, LIS_CAL.A_matrix[1][2]);
    CALIB_ROW(LIS_MAG_BIAS_2_2_index, LIS_CAL.A_matrix[2][2]);
    CALIB_ROW(LIS_MAG_BIAS_CHKSUM1_INDEX, LIS_CAL.A_matrix_crc);
    CALIB_ROW(AUAV_PITOT_OFFSET_INDEX, AUAV_CAL.pitot_offset);
    CALIB_ROW(AUAV_STATIC_OFFSET_INDEX, AUAV_CAL.static_offset);
    CALIB_ROW(AUAV_OFFSET_CAL_CRC, AUAV_CAL.crc);
    CALIB_ROW(AUAV_PT_LIN_A, pitot_coeff.LIN_A);
    CALIB_ROW(AUAV_PT_LIN_B, pitot_coeff.LIN_B);
    CALIB_ROW(AUAV_PT_LIN_C, pitot_coeff.LIN_C);
    CALIB_ROW(AUAV_PT_LIN_D, pitot_coeff.LIN_D);
    CALIB_ROW(AUAV_PT_Es, pitot_coeff.Es);
    CALIB_ROW(AUAV_PT_TC50H, pitot_coeff.TC50H);
    CALIB_ROW(AUAV_PT_TC50L, pitot_coeff.TC50L);
    CALIB_ROW(AUAV_PT_CRC, pitot_coeff.crc);
    CALIB_ROW(AUAV_ST_LIN_A, static_coeff.LIN_A);
    CALIB_ROW(AUAV_ST_LIN_B, static_coeff.LIN_B);
    CALIB_ROW(AUAV_ST_LIN_C, static_coeff.LIN_C);
    CALIB_ROW(AUAV_ST_LIN_D, static_coeff.LIN_D);
    CALIB_ROW(AUAV_ST_Es, static_coeff.Es);
    CALIB_ROW(AUAV_ST_TC50H, static_coeff.TC50H);
    CALIB_ROW(AUAV_ST_TC50L, static_coeff.TC50L);
    CALIB_ROW(AUAV_ST_CRC, static_coeff.crc);
    CALIB_ROW(OAT_0DEG_INDEX, oat_cal_0deg);
    CALIB_ROW(OAT_100DEG_INDEX, oat_cal_100deg);
    CALIB_ROW(OAT_CRC_INDEX, oat_crc);
    CALIB_ROW(CALIB_MAGIC_NUM, magic);
    CALIB_ROW(CALIB_CRC_INDEX, crc32);
}

#undef CALIB_ROW

void TestSettingsRecord::calibIndexMapsToField()
{
    QFETCH(uint32_t, index);
    QFETCH(int, offset);

    SENSOR_CALIB_t calib;
    fillPattern(&calib);
    const uint32_t value = 0xC0FFEE00u | index;
    QByteArray expected = rawBytes(&calib, sizeof(calib));
    expected.replace(offset, 4, rawBytes(&value, sizeof(value)));

    uint32_t stored = value;
    QVERIFY(calib_set_value(&calib, sensor_calib_struct_index(index), &stored));

    QCOMPARE(rawBytes(&calib, sizeof(calib)), expected);
    QCOMPARE(calib_get_value(&calib, sensor_calib_struct_index(index)), value);
}

void TestSettingsRecord::calibFloatMovesAsBitPattern()
{
    SENSOR_CALIB_t calib;
    fillPattern(&calib);

    uint32_t twoAndAHalf = 0x40200000;
    QVERIFY(calib_set_value(&calib, MMC_INITIAL_A_MATRIX_1_0_index, &twoAndAHalf));
    QCOMPARE(calib.MMC_INITIAL_CAL.A_matrix[1][0], 2.5f);

    calib.pitot_coeff.Es = -1.0f;
    QCOMPARE(calib_get_value(&calib, AUAV_PT_Es), 0xBF800000u);
}

void TestSettingsRecord::rejectedCalibIndex_data()
{
    QTest::addColumn<uint32_t>("index");

    for (uint32_t index = MMC_INSTALL_B_VECTOR_0_INDEX; index <= MMC_INSTALL_A_MATRIX_CHK_INDEX; ++index)
        QTest::newRow(qPrintable(QStringLiteral("MMC_INSTALL %1").arg(index))) << index;
    QTest::newRow("77") << 77u;
    QTest::newRow("253") << 253u;
    QTest::newRow("256") << 256u;
    QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu;
}

void TestSettingsRecord::rejectedCalibIndex()
{
    QFETCH(uint32_t, index);

    SENSOR_CALIB_t calib;
    fillPattern(&calib);
    const QByteArray before = rawBytes(&calib, sizeof(calib));
    uint32_t value = 0x01020304;

    QVERIFY(!calib_set_value(&calib, sensor_calib_struct_index(index), &value));
    QCOMPARE(rawBytes(&calib, sizeof(calib)), before);
    QCOMPARE(calib_get_value(&calib, sensor_calib_struct_index(index)), kNoValue);
}

QTEST_APPLESS_MAIN(TestSettingsRecord)
#include "tst_settings_record.moc"
