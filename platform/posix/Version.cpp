// Version resources read from an executable's ".veltrane.version" ELF section, behind the
// version-information calls.
#include "platform/Version.h"

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"

namespace platform {
namespace {

bool ReadAt(int fd, void* out, size_t size, uint64_t offset) {
    return ::pread(fd, out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// The resource section of a 64-bit ELF file. A Windows name such as "Veltrane.exe" names the
// executable without its extension.
std::optional<std::string> ReadResource(const char* fileName) {
    auto native = fileName ? ToNativePath(fileName) : std::nullopt;
    if (!native) return std::nullopt;
    struct stat st {};
    if (::stat(native->c_str(), &st) != 0 && native->size() > 4 &&
        EqualsNoCase(native->substr(native->size() - 4), ".exe")) {
        auto stripped = ToNativePath(std::string(fileName, strlen(fileName) - 4));
        if (stripped) native = stripped;
    }
    int fd = ::open(native->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> result;
    Elf64_Ehdr header{};
    if (ReadAt(fd, &header, sizeof header, 0) && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(Elf64_Shdr) &&
        header.e_shstrndx < header.e_shnum) {
        std::vector<Elf64_Shdr> sections(header.e_shnum);
        if (ReadAt(fd, sections.data(), sections.size() * sizeof(Elf64_Shdr), header.e_shoff)) {
            const Elf64_Shdr& names = sections[header.e_shstrndx];
            std::string table(names.sh_size, '\0');
            if (names.sh_size < (1u << 20) && ReadAt(fd, table.data(), table.size(), names.sh_offset)) {
                for (const Elf64_Shdr& s : sections) {
                    if (s.sh_name >= table.size() || strcmp(table.c_str() + s.sh_name, ".veltrane.version") != 0)
                        continue;
                    std::string data(s.sh_size, '\0');
                    if (s.sh_size < (1u << 20) && ReadAt(fd, data.data(), data.size(), s.sh_offset)) result = data;
                    break;
                }
            }
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

uint32_t GetFileVersionInfoSizeA(const char* fileName) {
    auto resource = ReadResource(fileName);
    if (!resource) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return static_cast<uint32_t>(resource->size() + 1);
}

bool GetFileVersionInfoA(const char* fileName, uint32_t size, void* data) {
    auto resource = ReadResource(fileName);
    if (!resource || data == nullptr || size < resource->size() + 1) return false;
    memcpy(data, resource->c_str(), resource->size() + 1);
    return true;
}

bool VerQueryValueA(const void* block, const char* value, void** out, uint32_t* len) {
    if (block == nullptr || value == nullptr) return false;
    const char* p = static_cast<const char*>(block);
    while (*p) {
        const char* text = p + strlen(p) + 1;
        if (EqualsNoCase(p, value)) {
            *out = const_cast<char*>(text);
            *len = static_cast<uint32_t>(strlen(text) + 1);
            return true;
        }
        p = text + strlen(text) + 1;
    }
    return false;
}

std::string GetSystemVersionText() {
    // The distribution as os-release names it, then the kernel as uname does.
    std::string text = "Linux";
    std::ifstream release("/etc/os-release");
    for (std::string line; std::getline(release, line);) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        text = line.substr(12);
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    }
    struct utsname system {};
    if (::uname(&system) == 0) text += std::string(" ") + system.release + " " + system.machine;
    return Utf8ToCp932(text).value_or(text);
}

}  // namespace platform
