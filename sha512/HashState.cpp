// SHA-512 compression, portable and AVX2, and the running state: whole blocks compressed where
// they lie, the rest kept in the block buffer, and the final padding with the length.
#include "HashState.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace veltrane::sha512 {
namespace {

constexpr ChainingValue kInitialValue = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179,
};

// Aligned for the vector loads of the AVX2 schedule.
alignas(32) constexpr std::array<std::uint64_t, 80> kRoundConstants = {
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
    return std::uint64_t{b[0]} << 56 | std::uint64_t{b[1]} << 48 | std::uint64_t{b[2]} << 40 |
           std::uint64_t{b[3]} << 32 | std::uint64_t{b[4]} << 24 | std::uint64_t{b[5]} << 16 |
           std::uint64_t{b[6]} << 8 | std::uint64_t{b[7]};
}

std::uint64_t Sigma0(std::uint64_t a) { return std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39); }
std::uint64_t Sigma1(std::uint64_t e) { return std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41); }
std::uint64_t sigma0(std::uint64_t w) { return std::rotr(w, 1) ^ std::rotr(w, 8) ^ (w >> 7); }
std::uint64_t sigma1(std::uint64_t w) { return std::rotr(w, 19) ^ std::rotr(w, 61) ^ (w >> 6); }
// The two halves have no bit in common, so they can be added to the sum one by one, in parallel.
std::uint64_t Ch(std::uint64_t e, std::uint64_t f, std::uint64_t g) { return (e & f) + (~e & g); }

// Round t. Instead of shifting a..h along after every round, the working variables stay in place and each
// round names them one position further back: v[(8 - t % 8) % 8] is "a" in round t. Inlined into the 80 unrolled
// rounds, so that they live in registers. Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's a ^ b is the next
// round's b ^ c, so `bc` carries it over and Maj costs three operations.
template <std::size_t t>
[[gnu::always_inline]] inline void Round(std::uint64_t (&v)[8], std::uint64_t& bc, std::uint64_t constantPlusWord) {
    std::uint64_t& a = v[(8 - t % 8) % 8];
    std::uint64_t& b = v[(9 - t % 8) % 8];
    std::uint64_t& d = v[(11 - t % 8) % 8];
    std::uint64_t& e = v[(12 - t % 8) % 8];
    std::uint64_t& f = v[(13 - t % 8) % 8];
    std::uint64_t& g = v[(14 - t % 8) % 8];
    std::uint64_t& h = v[(15 - t % 8) % 8];
    const std::uint64_t t1 = h + constantPlusWord + Sigma1(e) + Ch(e, f, g);
    const std::uint64_t ab = a ^ b;
    const std::uint64_t maj = b ^ (ab & bc);
    bc = ab;
    d += t1;
    h = t1 + Sigma0(a) + maj;
}

template <std::size_t... t>
[[gnu::always_inline]] inline void Rounds(std::uint64_t (&v)[8], const std::uint64_t (&w)[80],
                                          std::index_sequence<t...>) {
    std::uint64_t bc = v[1] ^ v[2];
    (Round<t>(v, bc, kRoundConstants[t] + w[t]), ...);
}

}  // namespace

void CompressPortable(ChainingValue& chainingValue, const unsigned char* blocks, std::size_t blockCount) {
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

#if defined(__x86_64__)
namespace {

// The AVX2 path computes the message schedule of two blocks at once, one block in each 128-bit lane (two words per
// lane), and computes the next pair's schedule between the rounds of the current pair, where the vector units are
// otherwise idle while the scalar rounds wait on their own latency. BMI2 gives the rounds rotates that do not
// overwrite their source, BMI1 the and-not of Ch.
#define VELTRANE_AVX2 gnu::target("avx2,bmi,bmi2"), gnu::always_inline

template <int n>
[[VELTRANE_AVX2]] inline __m256i RotateRight(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - n));
}

[[VELTRANE_AVX2]] inline __m256i Sigma0x4(__m256i w) {
    return _mm256_xor_si256(_mm256_xor_si256(RotateRight<1>(w), RotateRight<8>(w)), _mm256_srli_epi64(w, 7));
}

[[VELTRANE_AVX2]] inline __m256i Sigma1x4(__m256i w) {
    return _mm256_xor_si256(_mm256_xor_si256(RotateRight<19>(w), RotateRight<61>(w)), _mm256_srli_epi64(w, 6));
}

// W[t] + K[t] of a pair of blocks: row t / 2 holds the first block's words t, t + 1 and then the second block's.
using PairSchedule = std::uint64_t[40][4];

// Words 0 to 15 of both blocks, byte-swapped into x[0] to x[7], and their rows 0 to 7.
[[VELTRANE_AVX2]] inline void LoadWords(__m256i (&x)[8], const unsigned char* first, const unsigned char* second,
                                        PairSchedule& schedule) {
    const __m256i byteSwap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                                              7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    for (std::size_t i = 0; i < 8; ++i) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * i));
        x[i] = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), byteSwap);
        const __m256i k =
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[2 * i])));
        _mm256_store_si256(reinterpret_cast<__m256i*>(schedule[i]), _mm256_add_epi64(x[i], k));
    }
}

// x holds the last sixteen words of both blocks, two per lane, x[i] the pair that is sixteen words old in step i.
// Step i of eight replaces it by the next two words and stores them with their constants in `row`. Eight steps
// turn the ring once, so every index is a constant and x stays in registers.
template <std::size_t i>
[[VELTRANE_AVX2]] inline void ScheduleStep(__m256i (&x)[8], const std::uint64_t* constants, std::uint64_t* row) {
    // alignr works within each lane: W[t - 15], W[t - 14] and W[t - 7], W[t - 6] straddle two vectors.
    const __m256i w15 = _mm256_alignr_epi8(x[(i + 1) % 8], x[i], 8);
    const __m256i w7 = _mm256_alignr_epi8(x[(i + 5) % 8], x[(i + 4) % 8], 8);
    x[i] = _mm256_add_epi64(_mm256_add_epi64(x[i], Sigma0x4(w15)), _mm256_add_epi64(w7, Sigma1x4(x[(i + 7) % 8])));
    const __m256i k = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(constants + 2 * i)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(row), _mm256_add_epi64(x[i], k));
}

// Sixteen rounds of one block of the pair (lane 0 or 1) from eight rows of the schedule. Sixteen is a multiple of
// eight, so the working variables end in the registers they started in and the caller can loop over these.
template <std::size_t lane, std::size_t... t>
[[VELTRANE_AVX2]] inline void SixteenRounds(std::uint64_t (&v)[8], std::uint64_t& bc, const std::uint64_t (*rows)[4],
                                            std::index_sequence<t...>) {
    (Round<t>(v, bc, rows[t / 2][2 * lane + t % 2]), ...);
}

// The same sixteen rounds of the first block with the eight schedule steps of the next sixteen words, one after
// every two rounds, where the vector units are otherwise idle while the scalar rounds wait on their own latency.
template <std::size_t... i>
[[VELTRANE_AVX2]] inline void SixteenRoundsAndSchedule(std::uint64_t (&v)[8], std::uint64_t& bc,
                                                       const std::uint64_t (*rows)[4], __m256i (&x)[8],
                                                       const std::uint64_t* constants, std::uint64_t (*next)[4],
                                                       std::index_sequence<i...>) {
    ((Round<2 * i>(v, bc, rows[i][0]), Round<2 * i + 1>(v, bc, rows[i][1]), ScheduleStep<i>(x, constants, next[i])),
     ...);
}

}  // namespace

// Each pair of blocks: the first block's rounds compute the rest of both blocks' schedule sixteen words ahead, the
// second block's rounds then only read it. The rounds run as loops of sixteen rather than unrolled to eighty: the
// unrolled pair did not fit the decoded-instruction cache, and decoding it again on every pair limited the speed.
[[gnu::target("avx2,bmi,bmi2")]] void CompressAvx2(ChainingValue& chainingValue, const unsigned char* blocks,
                                                   std::size_t blockCount) {
    alignas(32) PairSchedule schedule;
    for (std::size_t i = 0; i < blockCount; i += 2) {
        const unsigned char* first = blocks + i * kBlockSize;
        const bool paired = i + 1 < blockCount;
        // A last block without a partner takes itself as its partner; the second lane is then never used.
        __m256i x[8];
        LoadWords(x, first, paired ? first + kBlockSize : first, schedule);

        std::uint64_t v[8];
        for (std::size_t j = 0; j < 8; ++j) v[j] = chainingValue[j];
        std::uint64_t bc = v[1] ^ v[2];
#pragma GCC unroll 1
        for (std::size_t row = 0; row < 32; row += 8)
            SixteenRoundsAndSchedule(v, bc, &schedule[row], x, &kRoundConstants[2 * (row + 8)], &schedule[row + 8],
                                     std::make_index_sequence<8>{});
        SixteenRounds<0>(v, bc, &schedule[32], std::make_index_sequence<16>{});
        for (std::size_t j = 0; j < 8; ++j) chainingValue[j] += v[j];
        if (!paired) break;

        for (std::size_t j = 0; j < 8; ++j) v[j] = chainingValue[j];
        bc = v[1] ^ v[2];
#pragma GCC unroll 1
        for (std::size_t row = 0; row < 40; row += 8)
            SixteenRounds<1>(v, bc, &schedule[row], std::make_index_sequence<16>{});
        for (std::size_t j = 0; j < 8; ++j) chainingValue[j] += v[j];
    }
}

bool Avx2Supported() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}
#else
void CompressAvx2(ChainingValue& chainingValue, const unsigned char* blocks, std::size_t blockCount) {
    CompressPortable(chainingValue, blocks, blockCount);
}

bool Avx2Supported() { return false; }
#endif

Compressor BestCompressor() { return Avx2Supported() ? CompressAvx2 : CompressPortable; }

void Init(HashState& state) {
    state.byteCount = 0;
    state.chainingValue = kInitialValue;
    state.bufferFill = 0;
    state.blockBuffer.fill(0);
}

void Absorb(HashState& state, const unsigned char* data, std::size_t count, Compressor compress) {
    state.byteCount += count;
    if (state.bufferFill > 0) {
        const std::size_t taken = std::min(count, kBlockSize - state.bufferFill);
        std::memcpy(state.blockBuffer.data() + state.bufferFill, data, taken);
        state.bufferFill += static_cast<std::uint32_t>(taken);
        data += taken;
        count -= taken;
        if (state.bufferFill < kBlockSize) return;
        compress(state.chainingValue, state.blockBuffer.data(), 1);
        state.bufferFill = 0;
    }
    // Whole blocks are compressed where they lie; only the remainder waits in the block buffer.
    compress(state.chainingValue, data, count / kBlockSize);
    std::memcpy(state.blockBuffer.data(), data + count / kBlockSize * kBlockSize, count % kBlockSize);
    state.bufferFill = static_cast<std::uint32_t>(count % kBlockSize);
}

ChainingValue Finish(HashState state, Compressor compress) {
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
    Absorb(state, padding.data(), state.bufferFill < 112 ? 112 - state.bufferFill : 240 - state.bufferFill, compress);
    Absorb(state, length.data(), length.size(), compress);
    return state.chainingValue;
}

}  // namespace veltrane::sha512
