// The two exports of the Decode library and the pointer types its callers bind them with by name.
#pragma once

#include <cstdint>

#ifndef VELTRANE_STDCALL
#if defined(_WIN32)
#define VELTRANE_STDCALL __stdcall
#else
#define VELTRANE_STDCALL
#endif
#endif

// Both decipher `buffer` (an 8-byte IV, then the ciphertext; `len` bytes in all) in place, leaving len - 8 bytes
// of plaintext at its start, and return 0. keyA and keyB point at 16 bytes of key material each.
extern "C" {
int VELTRANE_STDCALL Decode(unsigned char* buffer, const unsigned char* keyA, const unsigned char* keyB,
                            std::uint32_t len);
int VELTRANE_STDCALL DecodeEx(unsigned char* buffer, std::uint32_t len);
}

using DecodeFn = decltype(&Decode);
using DecodeExFn = decltype(&DecodeEx);
