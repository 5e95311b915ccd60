// The version resource through the W calls. A text value comes back in CP932 whatever the
// system code page is (the A call would convert to the system's).
#include "platform/Version.h"

#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/CodePage.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

// Texts handed out by VerQueryValueA live as long as the process: each distinct text once.
std::mutex internLock;
std::set<std::string> interned;

const std::string& Intern(std::string text) {
    std::lock_guard guard(internLock);
    return *interned.insert(std::move(text)).first;
}

}  // namespace

uint32_t GetFileVersionInfoSizeA(const char* fileName) {
    auto wide = win32::Wide(fileName);
    DWORD ignored = 0;
    return wide ? ::GetFileVersionInfoSizeW(wide->c_str(), &ignored) : 0;
}

bool GetFileVersionInfoA(const char* fileName, uint32_t size, void* data) {
    auto wide = win32::Wide(fileName);
    return wide && ::GetFileVersionInfoW(wide->c_str(), 0, size, data);
}

bool VerQueryValueA(const void* block, const char* value, void** out, uint32_t* len) {
    auto wide = win32::Wide(value);
    void* found = nullptr;
    UINT size = 0;
    if (block == nullptr || !wide || !::VerQueryValueW(block, wide->c_str(), &found, &size)) return false;
    if (!EqualsNoCase(std::string_view(value).substr(0, 15), "\\StringFileInfo")) {
        *out = found;  // binary data (the fixed file info, the translation table)
        *len = size;
        return true;
    }
    const wchar_t* text = static_cast<const wchar_t*>(found);
    auto cp932 = win32::Narrow(std::wstring_view(text, wcsnlen(text, size)));
    if (!cp932) return false;
    const std::string& kept = Intern(std::move(*cp932));
    *out = const_cast<char*>(kept.c_str());
    *len = static_cast<uint32_t>(kept.size() + 1);
    return true;
}

std::string GetSystemVersionText() {
    // GetVersionEx answers what the manifest declares, not what runs; ntdll tells the truth.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto rtlGetVersion =
        ntdll ? reinterpret_cast<RtlGetVersionCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    if (rtlGetVersion == nullptr || rtlGetVersion(&info) != 0) return "Windows";
    std::string text = "Windows " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
                       "." + std::to_string(info.dwBuildNumber);
    // Under Wine the Windows it plays is not the whole story.
    using WineVersionCall = const char*(CDECL*)();
    auto wineVersion =
        ntdll ? reinterpret_cast<WineVersionCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
              : nullptr;
    if (wineVersion != nullptr) text += std::string(" (Wine ") + wineVersion() + ")";
    return text;
}

}  // namespace platform
