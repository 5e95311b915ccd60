// The key material DecodeEx derives its DES key from. The update data is enciphered under the same derived key,
// so these values are part of the update format: changing them makes every existing update set unreadable.
#pragma once

#include <array>

namespace veltrane::decode {

// Triple-DES keys K1 (bytes 0-7) and K2 (bytes 8-15).
inline constexpr std::array<unsigned char, 16> kKeyMaterialA = {
    0xD6, 0x96, 0x2C, 0xDA, 0x64, 0x54, 0x4B, 0x84, 0xED, 0x87, 0x28, 0x68, 0x5F, 0xAE, 0x95, 0x8C,
};

// Triple-DES key K3 (bytes 0-7) and the derivation input X (bytes 8-15).
inline constexpr std::array<unsigned char, 16> kKeyMaterialB = {
    0xCD, 0xCC, 0xEB, 0x41, 0xA1, 0x10, 0x05, 0xB6, 0x4A, 0x6A, 0x5F, 0xC5, 0x12, 0x1B, 0x27, 0x22,
};

}  // namespace veltrane::decode
