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

void Init(HashState& state);
void Absorb(HashState& state, const unsigned char* data, std::size_t count);
// Pads and finishes a copy, so the caller's state can take more data or be finished again.
ChainingValue Finish(HashState state);

}  // namespace veltrane::sha512
