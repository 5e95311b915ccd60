#include "HashState.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace veltrane::sha512 {
namespace {

constexpr ChainingValue kInitialValue = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179,
};

constexpr std::array<std::uint64_t, 80> kRoundConstants = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

constexpr std::size_t kBlockSize = 128;

// Written out in full, so that the compiler turns it into one load and a byte swap.
std::uint64_t LoadBigEndian(const unsigned char* b) {
    return std::uint64_t{b[0]} << 56 | std::uint64_t{b[1]} << 48 | std::uint64_t{b[2]} << 40 | std::uint64_t{b[3]} << 32 |
           std::uint64_t{b[4]} << 24 | std::uint64_t{b[5]} << 16 | std::uint64_t{b[6]} << 8 | std::uint64_t{b[7]};
}

std::uint64_t Sigma0(std::uint64_t a) { return std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39); }
std::uint64_t Sigma1(std::uint64_t e) { return std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41); }
std::uint64_t sigma0(std::uint64_t w) { return std::rotr(w, 1) ^ std::rotr(w, 8) ^ (w >> 7); }
std::uint64_t sigma1(std::uint64_t w) { return std::rotr(w, 19) ^ std::rotr(w, 61) ^ (w >> 6); }
std::uint64_t Ch(std::uint64_t e, std::uint64_t f, std::uint64_t g) { return g ^ (e & (f ^ g)); }
std::uint64_t Maj(std::uint64_t a, std::uint64_t b, std::uint64_t c) { return (a & b) | (c & (a | b)); }

// Round t. Instead of shifting a..h along after every round, the working variables stay in place and each
// round names them one position further back: v[(8 - t % 8) % 8] is "a" in round t. Inlined into the 80 unrolled
// rounds, so that they live in registers.
template <std::size_t t>
[[gnu::always_inline]] inline void Round(std::uint64_t (&v)[8], std::uint64_t constantPlusWord) {
    std::uint64_t& a = v[(8 - t % 8) % 8];
    std::uint64_t& b = v[(9 - t % 8) % 8];
    std::uint64_t& c = v[(10 - t % 8) % 8];
    std::uint64_t& d = v[(11 - t % 8) % 8];
    std::uint64_t& e = v[(12 - t % 8) % 8];
    std::uint64_t& f = v[(13 - t % 8) % 8];
    std::uint64_t& g = v[(14 - t % 8) % 8];
    std::uint64_t& h = v[(15 - t % 8) % 8];
    const std::uint64_t t1 = h + Sigma1(e) + Ch(e, f, g) + constantPlusWord;
    d += t1;
    h = t1 + Sigma0(a) + Maj(a, b, c);
}

template <std::size_t... t>
[[gnu::always_inline]] inline void Rounds(std::uint64_t (&v)[8], const std::uint64_t (&w)[80], std::index_sequence<t...>) {
    (Round<t>(v, kRoundConstants[t] + w[t]), ...);
}

void Compress(ChainingValue& chainingValue, const unsigned char* blocks, std::size_t blockCount) {
    for (; blockCount > 0; --blockCount, blocks += kBlockSize) {
        // The whole message schedule first: apart from the rounds, the compiler can compute it two words at a time.
        std::uint64_t w[80];
        for (std::size_t t = 0; t < 16; ++t) w[t] = LoadBigEndian(blocks + 8 * t);
        for (std::size_t t = 16; t < 80; ++t) w[t] = sigma1(w[t - 2]) + w[t - 7] + sigma0(w[t - 15]) + w[t - 16];

        std::uint64_t v[8];
        std::copy(chainingValue.begin(), chainingValue.end(), v);
        Rounds(v, w, std::make_index_sequence<80>{});
        for (std::size_t i = 0; i < 8; ++i) chainingValue[i] += v[i];
    }
}

}  // namespace

void Init(HashState& state) {
    state.byteCount = 0;
    state.chainingValue = kInitialValue;
    state.bufferFill = 0;
    state.blockBuffer.fill(0);
}

void Absorb(HashState& state, const unsigned char* data, std::size_t count) {
    state.byteCount += count;
    if (state.bufferFill > 0) {
        const std::size_t taken = std::min(count, kBlockSize - state.bufferFill);
        std::memcpy(state.blockBuffer.data() + state.bufferFill, data, taken);
        state.bufferFill += static_cast<std::uint32_t>(taken);
        data += taken;
        count -= taken;
        if (state.bufferFill < kBlockSize) return;
        Compress(state.chainingValue, state.blockBuffer.data(), 1);
        state.bufferFill = 0;
    }
    // Whole blocks are compressed where they lie; only the remainder waits in the block buffer.
    Compress(state.chainingValue, data, count / kBlockSize);
    std::memcpy(state.blockBuffer.data(), data + count / kBlockSize * kBlockSize, count % kBlockSize);
    state.bufferFill = static_cast<std::uint32_t>(count % kBlockSize);
}

ChainingValue Finish(HashState state) {
    // The length in bits as a 128-bit big-endian number.
    std::array<unsigned char, 16> length{};
    const std::uint64_t high = state.byteCount >> 61;
    const std::uint64_t low = state.byteCount << 3;
    for (int i = 0; i < 8; ++i) {
        length[7 - i] = static_cast<unsigned char>(high >> (8 * i));
        length[15 - i] = static_cast<unsigned char>(low >> (8 * i));
    }
    // 0x80 and zeros up to a fill of 112, taking one more block when fewer than 16 bytes are left in this one.
    std::array<unsigned char, kBlockSize> padding{0x80};
    Absorb(state, padding.data(), state.bufferFill < 112 ? 112 - state.bufferFill : 240 - state.bufferFill);
    Absorb(state, length.data(), length.size());
    return state.chainingValue;
}

}  // namespace veltrane::sha512
