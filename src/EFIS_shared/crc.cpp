#include "crc.h"

#include <cstring>

static const uint32_t EFIS_CRC_POLY = 0x04C11DB7;
static const uint32_t EFIS_CRC_INIT = 0xFFFFFFFF;
static const uint32_t ERASED_WORD = 0xFFFFFFFF;

uint32_t EFIS_crc(uint32_t* data, uint32_t words)
{
    uint32_t crc = EFIS_CRC_INIT;
    for (uint32_t w = 0; w < words; w++) {
        crc ^= data[w];
        for (int bit = 0; bit < 32; bit++)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ EFIS_CRC_POLY : crc << 1;
    }
    return crc;
}

// num_elements comes from the unit, and a unit with a newer or damaged record
// may report more words than this record holds after crc32. The checksum
// covers at most the 31 words that are there, so it never reads past the
// record whatever the unit says.
static uint32_t settings_crc_words(const Settings_t* s)
{
    return s->num_elements < SETTINGS_WORDS_AFTER_CRC ? s->num_elements
                                                      : static_cast<uint32_t>(SETTINGS_WORDS_AFTER_CRC);
}

uint32_t settings_CalcCRC(const Settings_t* s)
{
    if (s->crc32 == ERASED_WORD)
        return 0;

    uint32_t words[SETTINGS_WORDS_AFTER_CRC];
    memcpy(words, reinterpret_cast<const unsigned char*>(s) + offsetof(Settings_t, magic), sizeof(words));
    return EFIS_crc(words, settings_crc_words(s));
}
