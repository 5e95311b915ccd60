// The sha512 exports driven by arbitrary call sequences on a few handles, destroyed and forged
// ones among them; every digest is compared with OpenSSL's.
#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sha512/Sha512Api.h"

namespace {

struct Slot {
    void* handle = nullptr;
    bool live = false;
    std::string fed;
};

void ExpectDigest(const Slot& slot) {
    unsigned char expected[64];
    SHA512(reinterpret_cast<const unsigned char*>(slot.fed.data()), slot.fed.size(), expected);
    char text[129];
    if (GetHashText(slot.handle, text, sizeof text) != 0) abort();
    char hex[129];
    for (int i = 0; i < 64; ++i) snprintf(hex + 2 * i, 3, "%02x", expected[i]);
    if (memcmp(text, hex, 129) != 0) abort();
    // The binary digest is the chaining value as it lies in memory: little-endian words.
    unsigned char binary[64];
    if (GetHash(slot.handle, binary, sizeof binary) != 0) abort();
    for (int i = 0; i < 64; ++i)
        if (binary[i] != expected[(i / 8) * 8 + 7 - i % 8]) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Slot slots[3];
    alignas(16) unsigned char forged[64] = {};
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t op = data[at] % 8;
        Slot& slot = slots[data[at + 1] % 3];
        at += 2;
        switch (op) {
        case 0:
            if (!slot.live) {
                slot.handle = CreateAlgorithm();
                slot.live = slot.handle != nullptr;
                slot.fed.clear();
            }
            break;
        case 1:
            if (DestroyAlgorithm(slot.handle) == 0) {
                if (!slot.live) abort();
                slot.live = false;  // the handle value stays as a destroyed one
            }
            break;
        case 2:
            if (InitAlgorithm(slot.handle) == 0) slot.fed.clear();
            break;
        case 3: {
            const size_t count = at < size ? data[at++] : 0;
            const size_t taken = std::min(count, size - at);
            if (InputData(slot.handle, data + at, static_cast<int>(taken)) == 0) {
                if (!slot.live) abort();
                slot.fed.append(reinterpret_cast<const char*>(data + at), taken);
            }
            at += taken;
            break;
        }
        case 4:
            if (slot.live) ExpectDigest(slot);
            break;
        case 5: {
            char text[200];
            const int textSize = at < size ? data[at++] % 200 : 0;
            GetHashText(slot.live ? slot.handle : forged, text, textSize);
            GetHashText(slot.handle, nullptr, textSize);
            break;
        }
        case 6:
            if ((GetHashLength(slot.handle) == 64) != slot.live) abort();
            if ((GetHashTextLength(forged) != 0)) abort();
            break;
        case 7:
            memcpy(forged, data + at - 2, std::min<size_t>(size - (at - 2), sizeof forged));
            if (InputData(forged, data, 1) == 0) abort();
            break;
        }
    }
    for (Slot& slot : slots)
        if (slot.live) DestroyAlgorithm(slot.handle);
    return 0;
}
