// The profile files the program reads (Veltrane.ini, Message.ini, History.ini, debugger.ini):
// any bytes read with the program's buffer sizes, and a value written reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzWorld.h"
#include "platform/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorld& world = FuzzWorld::Get();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FuzzWorld::Put(world.root / "program", "Veltrane.ini", bytes);
    const std::string file = world.Win(world.root / "program" / "Veltrane.ini");

    char small[8];
    char large[512];
    const char* const lookups[][2] = {
        {"VELTRANE", "MAPFOLDER"}, {"HISTORY1", "NAME"}, {"debug", "LogLevel"}, {"ERROR_MESSAGE", "E01"}};
    for (const auto& [section, key] : lookups) {
        uint32_t length = platform::GetPrivateProfileStringA(section, key, "", small, sizeof small, file.c_str());
        if (length >= sizeof small || small[length] != '\0') abort();
        length = platform::GetPrivateProfileStringA(section, key, "", large, sizeof large, file.c_str());
        if (length >= sizeof large || large[length] != '\0') abort();
        platform::GetPrivateProfileIntA(section, key, 7, file.c_str());
    }

    // Whatever the file held, a plain value written into it reads back unchanged. A rewrite
    // syncs the file, so only some inputs take this path.
    if (size % 8 == 0 && platform::WritePrivateProfileStringA("VELTRANE", "MAPFOLDER", "Z:\\maps\\x", file.c_str())) {
        platform::GetPrivateProfileStringA("VELTRANE", "MAPFOLDER", "", large, sizeof large, file.c_str());
        if (strcmp(large, "Z:\\maps\\x") != 0) abort();
    }

    platform::ProfileDocument document = platform::ProfileDocument::Parse(bytes);
    if (platform::ProfileDocument::Parse(document.Serialize()).Serialize() != document.Serialize()) abort();
    return 0;
}
