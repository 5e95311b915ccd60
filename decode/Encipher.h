// Enciphering for the tools that make data for DecodeEx (the update-set builder, the unit simulator). Built on
// OpenSSL's DES, independent of the library's own, so that every round trip also checks the library.
#pragma once

#include <array>
#include <span>
#include <vector>

namespace veltrane::decode {

// A DES key or block in the byte order Decode uses in memory (each 4-byte half little-endian).
using DesBlock = std::array<unsigned char, 8>;

// The DES key Decode derives from key material A and B (16 bytes each).
DesBlock DeriveKey(std::span<const unsigned char, 16> keyA, std::span<const unsigned char, 16> keyB);

// The IV followed by the plaintext enciphered with DES-CBC under the derived key; a tail of 1-7 bytes behind the
// last whole block is copied as it is, since Decode leaves it so. Decode of the result gives back the plaintext,
// which must hold at least 8 bytes (Decode always deciphers a first block).
std::vector<unsigned char> Encipher(std::span<const unsigned char> plaintext, const DesBlock& iv,
                                    std::span<const unsigned char, 16> keyA, std::span<const unsigned char, 16> keyB);

// Encipher with the library's own key material, for DecodeEx.
std::vector<unsigned char> EncipherEx(std::span<const unsigned char> plaintext, const DesBlock& iv);

}  // namespace veltrane::decode
