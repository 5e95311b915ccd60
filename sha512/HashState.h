// The running SHA-512 computation of one algorithm handle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltrane::sha512 {

using ChainingValue = std::array<std::uint64_t, 8>;

struct HashState {
    std::uint64_t byteCount;
    ChainingValue chainingValue;
    std::uint32_t bufferFill;
    std::array<unsigned char, 128> blockBuffer;
};

// Compresses whole 128-byte blocks into the chaining value. The portable path runs anywhere; the AVX2 path only
// where Avx2Supported(), and BestCompressor() picks it there. Both are public so that tests can check each.
using Compressor = void (*)(ChainingValue& chainingValue, const unsigned char* blocks, std::size_t blockCount);
void CompressPortable(ChainingValue& chainingValue, const unsigned char* blocks, std::size_t blockCount);
void CompressAvx2(ChainingValue& chainingValue, const unsigned char* blocks, std::size_t blockCount);
bool Avx2Supported();
Compressor BestCompressor();

void Init(HashState& state);
void Absorb(HashState& state, const unsigned char* data, std::size_t count, Compressor compress = BestCompressor());
// Pads and finishes a copy, so the caller's state can take more data or be finished again.
ChainingValue Finish(HashState state, Compressor compress = BestCompressor());

}  // namespace veltrane::sha512
