// Each compression path of the core against OpenSSL; the exports only ever reach the one this CPU selects.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>
#include <vector>

#include "HashState.h"

namespace {

using veltrane::sha512::Compressor;
using Bytes = std::vector<unsigned char>;

// The chaining value as the standard digest: each word big-endian.
Bytes DigestBytes(const veltrane::sha512::ChainingValue& value) {
    Bytes digest;
    for (std::uint64_t word : value)
        for (int shift = 56; shift >= 0; shift -= 8) digest.push_back(static_cast<unsigned char>(word >> shift));
    return digest;
}

// Random lengths up to 40 blocks, absorbed in random pieces, so that both paths see odd and even runs of whole
// blocks, blocks through the buffer and every padding case.
void ExpectMatchesOpenSsl(Compressor compress) {
    std::mt19937 random(2024);
    for (int round = 0; round < 300; ++round) {
        Bytes message(random() % (40 * 128 + 1));
        for (auto& byte : message) byte = static_cast<unsigned char>(random());
        veltrane::sha512::HashState state;
        veltrane::sha512::Init(state);
        for (std::size_t at = 0; at < message.size();) {
            const std::size_t piece = std::min<std::size_t>(message.size() - at, 1 + random() % 700);
            veltrane::sha512::Absorb(state, message.data() + at, piece, compress);
            at += piece;
        }
        Bytes expected(64);
        SHA512(message.data(), message.size(), expected.data());
        ASSERT_EQ(DigestBytes(veltrane::sha512::Finish(state, compress)), expected) << message.size() << " bytes";
    }
}

TEST(HashState, PortablePathMatchesOpenSsl) { ExpectMatchesOpenSsl(veltrane::sha512::CompressPortable); }

TEST(HashState, Avx2PathMatchesOpenSsl) {
    if (!veltrane::sha512::Avx2Supported()) GTEST_SKIP() << "this CPU has no AVX2 and BMI2";
    ExpectMatchesOpenSsl(veltrane::sha512::CompressAvx2);
}

TEST(HashState, PathsAgreeOnEveryBlockCount) {
    if (!veltrane::sha512::Avx2Supported()) GTEST_SKIP() << "this CPU has no AVX2 and BMI2";
    std::mt19937 random(7);
    Bytes blocks(17 * 128);
    for (auto& byte : blocks) byte = static_cast<unsigned char>(random());
    for (std::size_t count = 0; count <= 17; ++count) {
        veltrane::sha512::HashState portable;
        veltrane::sha512::Init(portable);
        auto avx2 = portable.chainingValue;
        veltrane::sha512::CompressPortable(portable.chainingValue, blocks.data(), count);
        veltrane::sha512::CompressAvx2(avx2, blocks.data(), count);
        EXPECT_EQ(avx2, portable.chainingValue) << count << " blocks";
    }
}

}  // namespace
