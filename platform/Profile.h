// Windows profile (INI) files: sections and keys without case, values trimmed, the caller's
// buffer size cuts the value, a missing file gives the default, writing creates the file.
// Every rewrite goes to a temporary file that replaces the old one in one rename, so a crash
// at any moment leaves either the old or the new file, never a partial one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The program's calls, on Windows paths (CP932).
uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                  uint32_t size, const char* fileName);
uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* fileName);
// value nullptr deletes the key, key nullptr deletes the section.
[[nodiscard]] bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                              const char* fileName);

// The same file model on native paths, for the platform's own configuration (machine.ini).
class ProfileDocument {
public:
    static ProfileDocument Load(const std::string& nativePath);
    static ProfileDocument Parse(std::string_view bytes);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    void RemoveKey(std::string_view section, std::string_view key);
    void RemoveSection(std::string_view section);

    std::string Serialize() const;
    // Atomic replacement of the file at nativePath; false with the last error set on failure.
    [[nodiscard]] bool Save(const std::string& nativePath) const;

private:
    struct Line {
        std::string text;     // the line as it stands in the file, without its line end
        std::string section;  // for a section header: its name
        std::string key;      // for a key line: its name
        bool isSection = false;
        bool isKey = false;
    };
    // Index of the header of the section, or npos.
    size_t FindSection(std::string_view section) const;
    // Index of the key line inside the section starting at header, or npos.
    size_t FindKey(size_t header, std::string_view key) const;
    // One past the last line of the section starting at header.
    size_t SectionEnd(size_t header) const;
    static Line MakeLine(std::string text);

    std::vector<Line> lines_;
};

}  // namespace platform
