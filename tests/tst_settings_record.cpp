// The settings record one value at a time, and its checksum. Every index is
// tried: one that names a field stores exactly that field, as wide as it is,
// and the checksum follows; one that names no field changes nothing.

#include <QtTest>

#include <memory>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"

namespace {

const uint32_t kNoValue = 0xFFFFFFFF;
const uint32_t kValue = 0xA1B2C3D4;

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

QByteArray bytesOf(const Settings_t& object)
{
    return QByteArray(reinterpret_cast<const char*>(&object), int(sizeof object));
}

// Each byte differs from the others and stays below 0x80, where no byte of
// kValue lies, so a store that lands on a neighbour or skips a byte shows; a
// settings record so made counts more words than it holds.
Settings_t patterned()
{
    Settings_t record;
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i)
        bytes[i] = static_cast<unsigned char>((0x11 + i * 37) & 0x7F);
    return record;
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

} // namespace

class TestSettingsRecord : public QObject
{
    Q_OBJECT

private slots:
    void checksum()
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
        auto record = std::make_unique<Settings_t>(patterned());
        for (const uint32_t count : {0u, 3u, 30u, 31u, 32u, 0xFFFFFFFFu}) {
            record->num_elements = count;
            QCOMPARE(settings_CalcCRC(record.get()), oracleCrc(&record->magic, qMin(count, 31u)));
        }
        record->crc32 = 0xFFFFFFFF;
        QCOMPARE(settings_CalcCRC(record.get()), 0u);
    }

    void settingsIndex_data()
    {
        QTest::addColumn<uint32_t>("index");
        for (uint32_t index = 0; index <= 256; ++index)
            QTest::addRow("%u", index) << index;
        QTest::newRow("all ones") << 0xFFFFFFFFu;
    }

    void settingsIndex()
    {
        QFETCH(uint32_t, index);
        const int offset = settingsOffset(index);
        const int width = index < SETTINGS_LAST_INDEX ? valueWidth(index) : 4;
        auto record = patterned();
        uint32_t value = kValue;
        Settings_t expected = record;
        // Registration characters go first-character-first from the top byte.
        const bool chars = index >= REGISTRATION_1_INDEX && index <= REGISTRATION_3_INDEX;
        for (int b = 0; offset >= 0 && b < width; ++b)
            reinterpret_cast<uint8_t*>(&expected)[offset + b] = uint8_t(value >> (chars ? 24 - 8 * b : 8 * b));
        expected.crc32 = offset >= 0 ? expectedCrc(expected) : record.crc32;
        const uint32_t masked = index == SETTINGS_CHECKSUM_INDEX ? expected.crc32 : value & (~0u >> (32 - 8 * width));
        const auto at = settings_struct_index(index);

        QCOMPARE(settings_set_value(&record, at, &value), offset >= 0);
        QCOMPARE(bytesOf(record), bytesOf(expected));
        QCOMPARE(settings_get_value(&record, at), offset >= 0 ? masked : kNoValue);
    }

    void unitFlagsAreBitsZeroToEight()
    {
        units_t units;
        for (int bit = 0; bit < 9; ++bit) {
            units.units_value = 0xFFFFFE00u | 1u << bit; // the bits above the flags carry none
            const uint32_t flags[] = {units.is_mph,     units.is_knots,  units.is_kph,
                                      units.is_feet,    units.is_meters, units.is_fahrenheit,
                                      units.is_celsius, units.is_inhg,   units.is_mbar};
            for (int flag = 0; flag < 9; ++flag)
                QCOMPARE(flags[flag], flag == bit ? 1u : 0u);
        }
    }
};

QTEST_APPLESS_MAIN(TestSettingsRecord)
#include "tst_settings_record.moc"
