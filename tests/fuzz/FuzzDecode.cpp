// Decode on any key material and any length: short buffers stay as they are, and enciphering
// what it deciphered (with OpenSSL's DES) gives the original bytes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/DecodeApi.h"
#include "decode/Encipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 32) return 0;
    const uint8_t* keyA = data;
    const uint8_t* keyB = data + 16;
    std::vector<unsigned char> original(data + 32, data + size);
    std::vector<unsigned char> buffer = original;
    const auto length = static_cast<uint32_t>(buffer.size());
    if (Decode(buffer.data(), keyA, keyB, length) != 0) abort();
    if (length < 8) {
        if (buffer != original) abort();
        return 0;
    }
    if (length < 16) return 0;  // the encipherer needs a whole plaintext block
    veltrane::decode::DesBlock iv;
    memcpy(iv.data(), original.data(), 8);
    std::vector<unsigned char> again =
        veltrane::decode::Encipher({buffer.data(), length - 8}, iv, std::span<const unsigned char, 16>(keyA, 16),
                                   std::span<const unsigned char, 16>(keyB, 16));
    if (again != original) abort();

    std::vector<unsigned char> withOwnKeys = original;
    DecodeEx(withOwnKeys.data(), length);
    return 0;
}
