// Single DES (FIPS 46-3): key schedule and the block cipher.
#pragma once

#include <array>
#include <cstdint>

namespace veltrane::des {

// A block or key as the standard numbers its bits: left holds bits 1-32 (bit 1 most significant), right 33-64.
struct Block {
    std::uint32_t left;
    std::uint32_t right;
};

constexpr Block operator^(Block a, Block b) { return {a.left ^ b.left, a.right ^ b.right}; }
constexpr bool operator==(Block a, Block b) { return a.left == b.left && a.right == b.right; }

enum class Direction { Encrypt, Decrypt };

// Sixteen 48-bit round subkeys in the order the rounds use them. Each is eight 6-bit values, one per S-box and
// one byte each, packed into two words where the round function needs them: the bytes of word 0 hold S-boxes
// 1, 3, 5, 7 and those of word 1 S-boxes 2, 4, 6, 8, from the most significant byte down.
struct KeySchedule {
    std::array<std::array<std::uint32_t, 2>, 16> subkeys;
};

// Parity bits (8, 16, ..., 64) are ignored.
KeySchedule MakeKeySchedule(Block key, Direction direction);

// Enciphers or deciphers, as the schedule was made.
Block Crypt(const KeySchedule& schedule, Block block);

// The same for two independent blocks at once, whose rounds the processor can overlap.
std::array<Block, 2> Crypt(const KeySchedule& schedule, std::array<Block, 2> blocks);

}  // namespace veltrane::des
