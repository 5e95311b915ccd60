// CRC-16/X-25 by slice-by-8 tables, and the check of a buffer against its expected value.
#include "update/Crc16.h"

#include <array>

namespace {

// Slice-by-8: table k gives the effect of a byte followed by k zero bytes, so eight bytes
// are folded in with eight independent lookups instead of a chain of eight.
using Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0x8408 : crc >> 1);
        t[0][i] = crc;
    }
    for (unsigned k = 1; k < 8; ++k)
        for (unsigned i = 0; i < 256; ++i)
            t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

uint16_t Crc16(const unsigned char* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (; length >= 8; data += 8, length -= 8) {
        crc = static_cast<uint16_t>(kTables[7][(data[0] ^ crc) & 0xFF] ^ kTables[6][data[1] ^ (crc >> 8)] ^
                                    kTables[5][data[2]] ^ kTables[4][data[3]] ^ kTables[3][data[4]] ^
                                    kTables[2][data[5]] ^ kTables[1][data[6]] ^ kTables[0][data[7]]);
    }
    for (; length > 0; ++data, --length) crc = static_cast<uint16_t>((crc >> 8) ^ kTables[0][(crc ^ *data) & 0xFF]);
    return static_cast<uint16_t>(crc ^ 0xFFFF);
}

int CrcCheck(unsigned long length, const unsigned char* buffer, uint16_t expected) {
    return Crc16(buffer, length) == expected ? 0 : 507;
}
