// OpenSSL's low-level DES is deprecated in OpenSSL 3 but is the plain DES this helper needs.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "Encipher.h"

#include <openssl/des.h>

#include <algorithm>
#include <stdexcept>

#include "KeyMaterial.h"

namespace veltrane::decode {
namespace {

// Decode reads each 4-byte half little-endian, OpenSSL in the standard's byte order: reversing the bytes of each
// half converts either way.
void ReverseHalves(unsigned char* block) {
    std::reverse(block, block + 4);
    std::reverse(block + 4, block + 8);
}

DesBlock InOtherOrder(const unsigned char* bytes) {
    DesBlock block;
    std::copy(bytes, bytes + 8, block.begin());
    ReverseHalves(block.data());
    return block;
}

DES_cblock* AsCblock(DesBlock& block) { return reinterpret_cast<DES_cblock*>(block.data()); }

DES_key_schedule ScheduleOf(const unsigned char* key) {
    DesBlock standard = InOtherOrder(key);
    DES_key_schedule schedule;
    DES_set_key_unchecked(AsCblock(standard), &schedule);
    return schedule;
}

}  // namespace

DesBlock DeriveKey(std::span<const unsigned char, 16> keyA, std::span<const unsigned char, 16> keyB) {
    DES_key_schedule k1 = ScheduleOf(keyA.data());
    DES_key_schedule k2 = ScheduleOf(keyA.data() + 8);
    DES_key_schedule k3 = ScheduleOf(keyB.data());
    DesBlock x = InOtherOrder(keyB.data() + 8);
    DesBlock y;
    DES_ecb3_encrypt(AsCblock(x), AsCblock(y), &k1, &k2, &k3, DES_ENCRYPT);
    for (int i = 0; i < 8; ++i) y[i] ^= x[i];
    ReverseHalves(y.data());
    return y;
}

std::vector<unsigned char> Encipher(std::span<const unsigned char> plaintext, const DesBlock& iv,
                                    std::span<const unsigned char, 16> keyA, std::span<const unsigned char, 16> keyB) {
    if (plaintext.size() < 8) throw std::invalid_argument("Encipher: plaintext shorter than one block");
    std::vector<unsigned char> buffer(iv.begin(), iv.end());
    buffer.insert(buffer.end(), plaintext.begin(), plaintext.end());

    unsigned char* const blocks = buffer.data() + 8;
    const std::size_t wholeBlocks = plaintext.size() / 8 * 8;
    for (std::size_t offset = 0; offset < wholeBlocks; offset += 8) ReverseHalves(blocks + offset);
    DES_key_schedule schedule = ScheduleOf(DeriveKey(keyA, keyB).data());
    DesBlock chain = InOtherOrder(iv.data());
    DES_ncbc_encrypt(blocks, blocks, static_cast<long>(wholeBlocks), &schedule, AsCblock(chain), DES_ENCRYPT);
    for (std::size_t offset = 0; offset < wholeBlocks; offset += 8) ReverseHalves(blocks + offset);
    return buffer;
}

std::vector<unsigned char> EncipherEx(std::span<const unsigned char> plaintext, const DesBlock& iv) {
    return Encipher(plaintext, iv, kKeyMaterialA, kKeyMaterialB);
}

}  // namespace veltrane::decode
