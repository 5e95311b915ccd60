// Version resources. On Linux an executable carries its resource as the ELF section
// ".veltrane.version": NUL-terminated pairs of a value path and its text, ended by an empty
// path. VELTRANE_VERSION_RESOURCE places such a block in the program. On Windows it is the
// executable's own VERSIONINFO resource.
#pragma once

#include <cstdint>
#include <string>

#if defined(_WIN32)
// On Windows the version resource is the executable's own (resources/Veltrane.rc).
#define VELTRANE_VERSION_RESOURCE(name, text) static_assert(sizeof(text) > 1)
#else
#define VELTRANE_VERSION_RESOURCE(name, text) \
    extern "C" __attribute__((section(".veltrane.version"), used, aligned(1))) const char name[] = text "\0"
#endif

namespace platform {

[[nodiscard]] uint32_t GetFileVersionInfoSizeA(const char* fileName);
[[nodiscard]] bool GetFileVersionInfoA(const char* fileName, uint32_t size, void* data);
// value is a path such as "\StringFileInfo\041103a4\FileVersion"; len counts the closing NUL.
[[nodiscard]] bool VerQueryValueA(const void* block, const char* value, void** out, uint32_t* len);

// The operating system's name and version for a person to read (CP932), such as
// "Windows 10.0.19045" or "Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64 x86_64".
std::string GetSystemVersionText();

}  // namespace platform
