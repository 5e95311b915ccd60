// The eight exports of the sha512 library and the pointer types its callers bind them with by name.
#pragma once

#ifndef VELTRANE_STDCALL
#if defined(_WIN32)
#define VELTRANE_STDCALL __stdcall
#else
#define VELTRANE_STDCALL
#endif
#endif

// Status results: 0 success, 1 invalid argument or handle, 256 failure of the hash core.
extern "C" {
void* VELTRANE_STDCALL CreateAlgorithm();
int VELTRANE_STDCALL DestroyAlgorithm(void* handle);
int VELTRANE_STDCALL InitAlgorithm(void* handle);
int VELTRANE_STDCALL InputData(void* handle, const unsigned char* data, int count);
int VELTRANE_STDCALL GetHashLength(void* handle);
int VELTRANE_STDCALL GetHash(void* handle, unsigned char* hash, int size);
int VELTRANE_STDCALL GetHashTextLength(void* handle);
int VELTRANE_STDCALL GetHashText(void* handle, char* text, int size);
}

using CreateAlgorithmFn = decltype(&CreateAlgorithm);
using DestroyAlgorithmFn = decltype(&DestroyAlgorithm);
using InitAlgorithmFn = decltype(&InitAlgorithm);
using InputDataFn = decltype(&InputData);
using GetHashLengthFn = decltype(&GetHashLength);
using GetHashFn = decltype(&GetHash);
using GetHashTextLengthFn = decltype(&GetHashTextLength);
using GetHashTextFn = decltype(&GetHashText);
