// The two exports: DES-CBC decryption in place under a key derived from key material A and B.
#include <algorithm>
#include <array>
#include <cstring>

#include "DecodeApi.h"
#include "Des.h"
#include "KeyMaterial.h"

#if defined(_WIN32)
#define VELTRANE_EXPORT __declspec(dllexport)
#else
#define VELTRANE_EXPORT __attribute__((visibility("default")))
#endif

using veltrane::des::Block;
using veltrane::des::Crypt;
using veltrane::des::Direction;
using veltrane::des::MakeKeySchedule;

namespace {

constexpr std::uint32_t kBlockSize = 8;

// Blocks and keys lie in memory as two little-endian words, left half first.
std::uint32_t LoadLittleEndian(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

void StoreLittleEndian(std::uint32_t word, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));
}

Block LoadBlock(const unsigned char* bytes) { return {LoadLittleEndian(bytes), LoadLittleEndian(bytes + 4)}; }

void StoreBlock(Block block, unsigned char* bytes) {
    StoreLittleEndian(block.left, bytes);
    StoreLittleEndian(block.right, bytes + 4);
}

// One-way: X enciphered with three-key triple DES (EDE), XORed with X.
Block DeriveKey(const unsigned char* keyA, const unsigned char* keyB) {
    const Block x = LoadBlock(keyB + 8);
    Block y = Crypt(MakeKeySchedule(LoadBlock(keyA), Direction::Encrypt), x);
    y = Crypt(MakeKeySchedule(LoadBlock(keyA + 8), Direction::Decrypt), y);
    y = Crypt(MakeKeySchedule(LoadBlock(keyB), Direction::Encrypt), y);
    return y ^ x;
}

}  // namespace

extern "C" {

VELTRANE_EXPORT int VELTRANE_STDCALL Decode(unsigned char* buffer, const unsigned char* keyA, const unsigned char* keyB,
                                            std::uint32_t len) {
    if (len < kBlockSize) return 0;
    Block previous = LoadBlock(buffer);  // the IV
    // The plaintext goes to the start of the buffer; its last 8 bytes keep the end of the ciphertext.
    std::memmove(buffer, buffer + kBlockSize, len - kBlockSize);
    const auto schedule = MakeKeySchedule(DeriveKey(keyA, keyB), Direction::Decrypt);
    // Block 0 is deciphered even when fewer than 8 bytes follow the IV: the buffer still holds 8 bytes there.
    // A tail of 1-7 bytes behind the last whole block stays as moved.
    const std::uint32_t blockCount = std::max((len - kBlockSize) / kBlockSize, 1u);
    // CBC deciphers each block on its own (the chain is only XORed in after), so blocks go in pairs whose
    // rounds the processor overlaps; an odd last block goes alone.
    std::uint32_t i = 0;
    for (; i + 1 < blockCount; i += 2) {
        unsigned char* pair = buffer + kBlockSize * i;
        const std::array<Block, 2> ciphertext = {LoadBlock(pair), LoadBlock(pair + kBlockSize)};
        const std::array<Block, 2> deciphered = Crypt(schedule, ciphertext);
        StoreBlock(deciphered[0] ^ previous, pair);
        StoreBlock(deciphered[1] ^ ciphertext[0], pair + kBlockSize);
        previous = ciphertext[1];
    }
    if (i < blockCount) {
        unsigned char* block = buffer + kBlockSize * i;
        StoreBlock(Crypt(schedule, LoadBlock(block)) ^ previous, block);
    }
    return 0;
}

VELTRANE_EXPORT int VELTRANE_STDCALL DecodeEx(unsigned char* buffer, std::uint32_t len) {
    return Decode(buffer, veltrane::decode::kKeyMaterialA.data(), veltrane::decode::kKeyMaterialB.data(), len);
}

}  // extern "C"
