// DES against published known answers, with the key's parity bits ignored.
#include <gtest/gtest.h>

#include <random>

#include "Des.h"

namespace {

using veltrane::des::Block;
using veltrane::des::Crypt;
using veltrane::des::Direction;
using veltrane::des::MakeKeySchedule;

// A block written as the standard writes it: 16 hex digits, bit 1 first.
constexpr Block Hex(std::uint64_t value) {
    return {static_cast<std::uint32_t>(value >> 32), static_cast<std::uint32_t>(value)};
}

TEST(Des, PublishedKnownAnswers) {
    struct Case {
        std::uint64_t key, plaintext, ciphertext;
    };
    const Case cases[] = {
        {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},  // the standard's worked example
        {0x0E329232EA6D0D73, 0x8787878787878787, 0x0000000000000000},
        {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},  // "Now is t"
        {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},  // variable plaintext
        {0x0101010101010101, 0x4000000000000000, 0xDD7F121CA5015619},
        {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},  // variable key
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Crypt(MakeKeySchedule(Hex(c.key), Direction::Encrypt), Hex(c.plaintext)), Hex(c.ciphertext))
            << std::hex << c.key;
        EXPECT_EQ(Crypt(MakeKeySchedule(Hex(c.key), Direction::Decrypt), Hex(c.ciphertext)), Hex(c.plaintext))
            << std::hex << c.key;
    }
}

TEST(Des, ParityBitsAreIgnored) {
    std::mt19937_64 random(3);
    for (int i = 0; i < 50; ++i) {
        const Block key = Hex(random());
        const Block block = Hex(random());
        const Block flipped = key ^ Hex(random() & 0x0101010101010101);
        EXPECT_EQ(Crypt(MakeKeySchedule(flipped, Direction::Encrypt), block),
                  Crypt(MakeKeySchedule(key, Direction::Encrypt), block));
    }
}

}  // namespace
