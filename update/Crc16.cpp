// CRC-16/X-25 by slice-by-8 tables, and the check of a buffer against its expected value.
#include "update/Crc16.h"
#include "state/Results.h"

#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The polynomial x^16 + x^12 + x^5 + 1; 0x8408 is the same bits in reflected order.
constexpr uint32_t kPolynomial = 0x11021;

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

// The register without its initial value or final XOR, continued over `length` bytes.
uint16_t TableCrc(uint16_t crc, const unsigned char* data, size_t length) {
    for (; length >= 8; data += 8, length -= 8) {
        crc = static_cast<uint16_t>(kTables[7][(data[0] ^ crc) & 0xFF] ^ kTables[6][data[1] ^ (crc >> 8)] ^
                                    kTables[5][data[2]] ^ kTables[4][data[3]] ^ kTables[3][data[4]] ^
                                    kTables[2][data[5]] ^ kTables[1][data[6]] ^ kTables[0][data[7]]);
    }
    for (; length > 0; ++data, --length) crc = static_cast<uint16_t>((crc >> 8) ^ kTables[0][(crc ^ *data) & 0xFF]);
    return crc;
}

#if defined(__x86_64__)

// Carry-less multiplication folds 16 bytes at a time, four streams at once. In a 128-bit
// register loaded from memory, bit r is the coefficient of x^(127 - r) (the CRC is
// reflected), so a register of two 64-bit lanes L, H stands for L·x^64 + H, and the product
// of two lanes stands for their product times x. Folding a register D bits further on is then
// L·(x^(D+63) mod P) + H·(x^(D-1) mod P), each a lane times a constant of 16 bits.

// x^n mod P.
constexpr uint32_t PowerOfX(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000) r ^= kPolynomial;
    }
    return r;
}

// A polynomial of degree below 16 as a lane: bit r holds the coefficient of x^(63 - r).
constexpr uint64_t Lane(uint32_t polynomial) {
    uint64_t lane = 0;
    for (unsigned degree = 0; degree < 16; ++degree)
        if (polynomial >> degree & 1) lane |= uint64_t{1} << (63 - degree);
    return lane;
}

// The constants that fold a register D bits further on: low lane first.
struct Fold {
    uint64_t low;
    uint64_t high;
};
constexpr Fold FoldBy(unsigned bits) { return {Lane(PowerOfX(bits + 63)), Lane(PowerOfX(bits - 1))}; }

constexpr Fold kFold128 = FoldBy(128);
constexpr Fold kFold512 = FoldBy(512);

__attribute__((target("pclmul,sse2"))) __m128i Folded(__m128i x, __m128i constants, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(x, constants, 0x00);
    __m128i high = _mm_clmulepi64_si128(x, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) __m128i Load(const unsigned char* data) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
}

// At least 64 bytes; the register without initial value or final XOR, as TableCrc.
__attribute__((target("pclmul,sse2"))) uint16_t FoldedCrc(uint16_t crc, const unsigned char* data, size_t length) {
    const __m128i by512 = _mm_set_epi64x(static_cast<long long>(kFold512.high), static_cast<long long>(kFold512.low));
    const __m128i by128 = _mm_set_epi64x(static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low));
    // The register so far enters as the first two bytes of the message.
    __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(crc));
    __m128i x1 = Load(data + 16);
    __m128i x2 = Load(data + 32);
    __m128i x3 = Load(data + 48);
    data += 64;
    length -= 64;
    for (; length >= 64; data += 64, length -= 64) {
        x0 = Folded(x0, by512, Load(data));
        x1 = Folded(x1, by512, Load(data + 16));
        x2 = Folded(x2, by512, Load(data + 32));
        x3 = Folded(x3, by512, Load(data + 48));
    }
    __m128i x = Folded(Folded(Folded(x0, by128, x1), by128, x2), by128, x3);
    for (; length >= 16; data += 16, length -= 16) x = Folded(x, by128, Load(data));
    // The 16 bytes left stand for everything so far: a CRC from zero over them goes on.
    unsigned char rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
    return TableCrc(TableCrc(0, rest, sizeof rest), data, length);
}

bool HasCarrylessMultiply() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}

#endif

}  // namespace

uint16_t Crc16(const unsigned char* data, size_t length, uint16_t before) {
    // The register after the part before: its CRC without the final XOR.
    const uint16_t crc = static_cast<uint16_t>(before ^ 0xFFFF);
#if defined(__x86_64__)
    if (length >= 64 && HasCarrylessMultiply()) return static_cast<uint16_t>(FoldedCrc(crc, data, length) ^ 0xFFFF);
#endif
    return static_cast<uint16_t>(TableCrc(crc, data, length) ^ 0xFFFF);
}

int CrcCheck(unsigned long length, const unsigned char* buffer, uint16_t expected) {
    return Crc16(buffer, length) == expected ? 0 : kCrcMismatch;
}
