// The DES key schedule and block cipher: combined S-box and P tables, IP and IP^-1 as bit-group
// exchanges, and two blocks run round by round together.
#include "Des.h"

#include <bit>
#include <cstddef>

namespace veltrane::des {
namespace {

constexpr std::uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8, 14, 6,  11, 3,  4, 9, 7, 2,  13, 12, 0, 5, 10, 3,  13, 4,  7, 15, 2,  8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0,  14, 7, 11, 10, 4,  13, 1, 5, 8, 12, 6,  9,  3, 2, 15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0, 8, 13, 3,  12, 9, 7, 5, 10, 6, 1, 13, 0,  11, 7, 4, 9, 1,  10, 14, 3, 5, 12, 2,  15, 8, 6,
     1, 4,  11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5,  9, 2, 6,  11, 13, 8, 1, 4, 10, 7,  9,  5, 0, 15, 14, 2,  3, 12},
    {13, 2,  8, 4, 6, 15, 11, 1, 10, 9, 3,  14, 5,  0, 12, 7, 1, 15, 13, 8, 10, 3,  7, 4,  12, 5,  6, 11, 0, 14, 9, 2,
     7,  11, 4, 1, 9, 12, 14, 2, 0,  6, 10, 13, 15, 3, 5,  8, 2, 1,  14, 7, 4,  10, 8, 13, 15, 12, 9, 0,  3, 5,  6, 11},
};

constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                                   35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                                   46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t kRotations[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Bit n (1 = most significant) of a value `width` bits wide.
constexpr std::uint64_t BitOf(std::uint64_t value, unsigned width, unsigned n) { return value >> (width - n) & 1; }

// Each S-box followed by P: kSpTables[box][input] is P applied to the box's 4-bit output in its place.
constexpr auto kSpTables = [] {
    std::array<std::array<std::uint32_t, 64>, 8> tables{};
    for (unsigned box = 0; box < 8; ++box) {
        for (unsigned input = 0; input < 64; ++input) {
            const unsigned row = (input >> 4 & 2) | (input & 1);
            const unsigned column = input >> 1 & 0xF;
            const std::uint32_t placed = std::uint32_t{kSBoxes[box][16 * row + column]} << (28 - 4 * box);
            std::uint32_t permuted = 0;
            for (unsigned i = 0; i < 32; ++i)
                permuted |= static_cast<std::uint32_t>(BitOf(placed, 32, kP[i])) << (31 - i);
            tables[box][input] = permuted;
        }
    }
    return tables;
}();

// Swaps the bits of `a` selected by mask << shift with the bits of `b` selected by mask.
constexpr void SwapMove(std::uint32_t& a, std::uint32_t& b, unsigned shift, std::uint32_t mask) {
    const std::uint32_t t = ((a >> shift) ^ b) & mask;
    b ^= t;
    a ^= t << shift;
}

// IP as five exchanges of bit groups instead of 64 single-bit moves.
constexpr Block InitialPermutation(Block block) {
    auto [l, r] = block;
    SwapMove(l, r, 4, 0x0F0F0F0F);
    SwapMove(l, r, 16, 0x0000FFFF);
    SwapMove(r, l, 2, 0x33333333);
    SwapMove(r, l, 8, 0x00FF00FF);
    SwapMove(l, r, 1, 0x55555555);
    return {l, r};
}

// IP^-1: the same exchanges in reverse order.
constexpr Block FinalPermutation(Block block) {
    auto [l, r] = block;
    SwapMove(l, r, 1, 0x55555555);
    SwapMove(r, l, 8, 0x00FF00FF);
    SwapMove(r, l, 2, 0x33333333);
    SwapMove(l, r, 16, 0x0000FFFF);
    SwapMove(l, r, 4, 0x0F0F0F0F);
    return {l, r};
}

// f(R, K): E's eight 6-bit groups lie byte-aligned in two rotations of R (groups 1, 3, 5, 7 and 2, 4, 6, 8 from the
// most significant byte down), where the subkey is XORed in; each group then selects from its S-box/P table.
inline std::uint32_t RoundFunction(std::uint32_t r, const std::array<std::uint32_t, 2>& subkey) {
    const std::uint32_t odd = std::rotr(r, 3) ^ subkey[0];
    const std::uint32_t even = std::rotl(r, 1) ^ subkey[1];
    return kSpTables[0][odd >> 24 & 0x3F] ^ kSpTables[2][odd >> 16 & 0x3F] ^ kSpTables[4][odd >> 8 & 0x3F] ^
           kSpTables[6][odd & 0x3F] ^ kSpTables[1][even >> 24 & 0x3F] ^ kSpTables[3][even >> 16 & 0x3F] ^
           kSpTables[5][even >> 8 & 0x3F] ^ kSpTables[7][even & 0x3F];
}

// IP, the 16 rounds and IP^-1 for n independent blocks, round by round, so that their chains overlap.
template <std::size_t n>
std::array<Block, n> CryptEach(const KeySchedule& schedule, std::array<Block, n> blocks) {
    std::array<Block, n> halves;
    for (std::size_t i = 0; i < n; ++i) halves[i] = InitialPermutation(blocks[i]);
    for (std::size_t round = 0; round < 16; round += 2) {
        for (auto& [l, r] : halves) l ^= RoundFunction(r, schedule.subkeys[round]);
        for (auto& [l, r] : halves) r ^= RoundFunction(l, schedule.subkeys[round + 1]);
    }
    // The last round does not swap its halves: R16 L16 enters IP^-1.
    for (std::size_t i = 0; i < n; ++i) blocks[i] = FinalPermutation({halves[i].right, halves[i].left});
    return blocks;
}

}  // namespace

KeySchedule MakeKeySchedule(Block key, Direction direction) {
    const std::uint64_t key64 = std::uint64_t{key.left} << 32 | key.right;
    std::uint32_t c = 0;
    std::uint32_t d = 0;
    for (unsigned i = 0; i < 28; ++i) {
        c = c << 1 | static_cast<std::uint32_t>(BitOf(key64, 64, kPc1[i]));
        d = d << 1 | static_cast<std::uint32_t>(BitOf(key64, 64, kPc1[28 + i]));
    }
    KeySchedule schedule{};
    for (unsigned round = 0; round < 16; ++round) {
        const auto rotate28 = [&](std::uint32_t half) {
            return (half << kRotations[round] | half >> (28 - kRotations[round])) & 0x0FFFFFFF;
        };
        c = rotate28(c);
        d = rotate28(d);
        const std::uint64_t cd = std::uint64_t{c} << 28 | d;
        auto& subkey = schedule.subkeys[direction == Direction::Encrypt ? round : 15 - round];
        for (unsigned box = 0; box < 8; ++box) {
            std::uint32_t group = 0;
            for (unsigned i = 6 * box; i < 6 * box + 6; ++i)
                group = group << 1 | static_cast<std::uint32_t>(BitOf(cd, 56, kPc2[i]));
            subkey[box % 2] |= group << (24 - 8 * (box / 2));
        }
    }
    return schedule;
}

Block Crypt(const KeySchedule& schedule, Block block) { return CryptEach<1>(schedule, {block})[0]; }

std::array<Block, 2> Crypt(const KeySchedule& schedule, std::array<Block, 2> blocks) {
    return CryptEach<2>(schedule, blocks);
}

}  // namespace veltrane::des
