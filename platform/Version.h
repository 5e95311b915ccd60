// Version resources. An executable carries its resource as the ELF section
// ".veltrane.version": NUL-terminated pairs of a value path and its text, ended by an empty
// path. VELTRANE_VERSION_RESOURCE places such a block in the program.
#pragma once

#include <cstdint>

#define VELTRANE_VERSION_RESOURCE(name, text)                                                   \
    extern "C" __attribute__((section(".veltrane.version"), used, aligned(1))) const char name[] = \
        text "\0"

namespace platform {

uint32_t GetFileVersionInfoSizeA(const char* fileName);
bool GetFileVersionInfoA(const char* fileName, uint32_t size, void* data);
// value is a path such as "\StringFileInfo\041103a4\FileVersion"; len counts the closing NUL.
bool VerQueryValueA(const void* block, const char* value, void** out, uint32_t* len);

}  // namespace platform
