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

// Sixteen 48-bit round subkeys in the order the rounds use them, each as eight 6-bit values, one per S-box.
struct KeySchedule {
    std::array<std::array<std::uint8_t, 8>, 16> subkeys;
};

// Parity bits (8, 16, ..., 64) are ignored.
KeySchedule MakeKeySchedule(Block key, Direction direction);

// Enciphers or deciphers, as the schedule was made.
Block Crypt(const KeySchedule& schedule, Block block);

}  // namespace veltrane::des
