// Decode against OpenSSL's DES-CBC (independent of the library) under the library's byte-order rule.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <algorithm>
#include <array>
#include <random>
#include <thread>
#include <vector>

#include "DecodeApi.h"
#include "Encipher.h"
#include "KeyMaterial.h"

namespace {

using Bytes = std::vector<unsigned char>;
using KeyMaterial = std::array<unsigned char, 16>;

template <typename Container>
void Randomise(Container& bytes, std::mt19937& random) {
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
}

// Memory order to the standard's and back: the bytes of each 4-byte half reversed.
void ReverseHalves(unsigned char* block) {
    std::reverse(block, block + 4);
    std::reverse(block + 4, block + 8);
}

// What Decode must leave in a buffer of 8 + 8k (+ tail) bytes: the CBC plaintext of the k whole blocks as OpenSSL
// deciphers them, then the tail and the last 8 bytes as the move leaves them.
Bytes Expected(const Bytes& buffer, const KeyMaterial& a, const KeyMaterial& b) {
    veltrane::decode::DesBlock key = veltrane::decode::DeriveKey(a, b);
    ReverseHalves(key.data());
    DES_key_schedule schedule;
    DES_set_key_unchecked(reinterpret_cast<DES_cblock*>(key.data()), &schedule);

    Bytes expected(buffer.begin() + 8, buffer.end());
    expected.insert(expected.end(), buffer.end() - 8, buffer.end());
    const std::size_t whole = (buffer.size() - 8) / 8 * 8;
    DES_cblock iv;
    std::copy(buffer.begin(), buffer.begin() + 8, iv);
    ReverseHalves(iv);
    for (std::size_t at = 0; at < whole; at += 8) ReverseHalves(expected.data() + at);
    DES_ncbc_encrypt(expected.data(), expected.data(), static_cast<long>(whole), &schedule, &iv, DES_DECRYPT);
    for (std::size_t at = 0; at < whole; at += 8) ReverseHalves(expected.data() + at);
    return expected;
}

Bytes Decoded(Bytes buffer, const KeyMaterial& a, const KeyMaterial& b) {
    EXPECT_EQ(Decode(buffer.data(), a.data(), b.data(), static_cast<std::uint32_t>(buffer.size())), 0);
    return buffer;
}

TEST(Decode, EqualsCbcDecryptionWithTheDerivedKey) {
    std::mt19937 random(11);
    for (std::size_t blocks : {1, 2, 3, 17, 640}) {
        for (std::size_t tail = 0; tail < 8; ++tail) {
            KeyMaterial a, b;
            Randomise(a, random);
            Randomise(b, random);
            Bytes buffer(8 + 8 * blocks + tail);
            Randomise(buffer, random);
            EXPECT_EQ(Decoded(buffer, a, b), Expected(buffer, a, b)) << blocks << " blocks, tail " << tail;
        }
    }
}

TEST(Decode, ShortBuffersStillDecipherTheFirstBlock) {
    std::mt19937 random(12);
    KeyMaterial a, b;
    Randomise(a, random);
    Randomise(b, random);
    for (std::size_t length = 8; length < 16; ++length) {
        Bytes buffer(length);
        Randomise(buffer, random);
        // After the move, block 0 is the bytes behind the IV followed by the rest of the IV.
        Bytes asBuffer(16);
        std::copy(buffer.begin(), buffer.end(), asBuffer.begin());
        std::copy(buffer.begin() + static_cast<long>(length - 8), buffer.begin() + 8,
                  asBuffer.begin() + static_cast<long>(length));
        // Only block 0 changes; the bytes behind it keep their place.
        Bytes expected = buffer;
        std::copy_n(Expected(asBuffer, a, b).begin(), 8, expected.begin());
        EXPECT_EQ(Decoded(buffer, a, b), expected) << length;
    }
    for (std::size_t length = 0; length < 8; ++length) {
        const Bytes buffer(length, 0x42);
        EXPECT_EQ(Decoded(buffer, a, b), buffer) << "length " << length << " is left alone";
    }
}

TEST(Decode, ThreadsAtOnce) {
    std::mt19937 random(13);
    KeyMaterial a, b;
    Randomise(a, random);
    Randomise(b, random);
    std::vector<Bytes> buffers(4, Bytes(5128));
    std::vector<Bytes> expected;
    for (auto& buffer : buffers) Randomise(buffer, random), expected.push_back(Expected(buffer, a, b));
    std::vector<int> right(buffers.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < buffers.size(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) right[t] += Decoded(buffers[t], a, b) == expected[t];
        });
    for (auto& thread : threads) thread.join();
    for (int count : right) EXPECT_EQ(count, 50);
}

TEST(Decode, EncipherHelperRoundTripsThroughDecodeEx) {
    std::mt19937 random(14);
    veltrane::decode::DesBlock iv;
    Randomise(iv, random);
    for (std::size_t size : {8, 13, 32, 5120, 5125}) {
        Bytes plaintext(size);
        Randomise(plaintext, random);
        Bytes buffer = veltrane::decode::EncipherEx(plaintext, iv);
        ASSERT_EQ(buffer.size(), size + 8);
        EXPECT_EQ(DecodeEx(buffer.data(), static_cast<std::uint32_t>(buffer.size())), 0);
        buffer.resize(size);
        EXPECT_EQ(buffer, plaintext) << size;
    }
    EXPECT_THROW(veltrane::decode::EncipherEx(Bytes(7), iv), std::invalid_argument);
}

}  // namespace
