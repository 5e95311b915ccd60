// Profile files with Windows semantics, read and written by our own code on every system: the
// system's profile calls would read the program's CP932 files in the system code page.
#include "platform/Profile.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"

namespace platform {
namespace {

// Profile calls from several threads (the window and the jobs) are serialised, as the system
// does, so two rewrites of one file never race.
std::recursive_mutex profileLock;

std::string_view Trim(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
    size_t e = s.size();
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

// Copies text into a caller's buffer of `size` bytes, cut at size - 1 bytes but never inside a
// double-byte character; returns the count copied.
uint32_t CopyOut(std::string_view text, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    size_t n = 0;
    while (n < text.size()) {
        size_t len = CharLength(text, n);
        if (n + len > size - 1) break;
        n += len;
    }
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

// A list of names, each NUL-terminated, with a final NUL; cut so that it stays well formed.
uint32_t CopyOutList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
    if (buffer == nullptr || size < 2) return 0;
    size_t used = 0;
    for (const std::string& name : names) {
        if (used + name.size() + 2 > size) break;
        memcpy(buffer + used, name.data(), name.size());
        used += name.size();
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    return static_cast<uint32_t>(used);
}

}  // namespace

ProfileDocument::Line ProfileDocument::MakeLine(std::string text) {
    Line line;
    std::string_view t = Trim(text);
    if (!t.empty() && t.front() == '[') {
        size_t close = FindChar(t, ']');
        if (close != std::string_view::npos) {
            line.isSection = true;
            line.section = std::string(Trim(t.substr(1, close - 1)));
        }
    } else if (!t.empty() && t.front() != ';') {
        size_t eq = FindChar(t, '=');
        if (eq != std::string_view::npos) {
            line.isKey = true;
            line.key = std::string(Trim(t.substr(0, eq)));
        }
    }
    line.text = std::move(text);
    return line;
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes) {
    ProfileDocument doc;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string text(bytes.substr(start, end - start));
        if (!text.empty() && text.back() == '\r') text.pop_back();
        doc.lines_.push_back(MakeLine(std::move(text)));
        start = end + 1;
    }
    return doc;
}

size_t ProfileDocument::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].isSection && EqualsNoCase(lines_[i].section, section)) return i;
    return std::string::npos;
}

size_t ProfileDocument::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && !lines_[i].isSection) ++i;
    return i;
}

size_t ProfileDocument::FindKey(size_t header, std::string_view key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines_[i].isKey && EqualsNoCase(lines_[i].key, key)) return i;
    return std::string::npos;
}

std::optional<std::string> ProfileDocument::Get(std::string_view section, std::string_view key) const {
    size_t header = FindSection(section);
    if (header == std::string::npos) return std::nullopt;
    size_t at = FindKey(header, key);
    if (at == std::string::npos) return std::nullopt;
    std::string_view text = lines_[at].text;
    std::string_view value = Trim(text.substr(FindChar(text, '=') + 1));
    // A value in matching quotes is given without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::vector<std::string> ProfileDocument::Sections() const {
    std::vector<std::string> names;
    for (const Line& line : lines_)
        if (line.isSection) names.push_back(line.section);
    return names;
}

std::vector<std::string> ProfileDocument::Keys(std::string_view section) const {
    std::vector<std::string> names;
    size_t header = FindSection(section);
    if (header == std::string::npos) return names;
    for (size_t i = header + 1; i < SectionEnd(header); ++i)
        if (lines_[i].isKey) names.push_back(lines_[i].key);
    return names;
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string text = std::string(key) + "=" + std::string(value);
    size_t header = FindSection(section);
    if (header == std::string::npos) {
        lines_.push_back(MakeLine("[" + std::string(section) + "]"));
        lines_.push_back(MakeLine(std::move(text)));
        return;
    }
    size_t at = FindKey(header, key);
    if (at != std::string::npos) {
        lines_[at] = MakeLine(std::move(text));
        return;
    }
    // A new key goes behind the section's last non-blank line.
    size_t insertAt = SectionEnd(header);
    while (insertAt > header + 1 && Trim(lines_[insertAt - 1].text).empty()) --insertAt;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), MakeLine(std::move(text)));
}

void ProfileDocument::RemoveKey(std::string_view section, std::string_view key) {
    size_t header = FindSection(section);
    if (header == std::string::npos) return;
    size_t at = FindKey(header, key);
    if (at != std::string::npos) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
}

void ProfileDocument::RemoveSection(std::string_view section) {
    size_t header = FindSection(section);
    if (header == std::string::npos) return;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
}

std::string ProfileDocument::Serialize() const {
    std::string out;
    for (const Line& line : lines_) out += line.text + "\r\n";
    return out;
}

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                  uint32_t size, const char* fileName) {
    std::lock_guard guard(profileLock);
    std::string def(Trim(defaultValue ? defaultValue : ""));
    auto native = ToNativePath(fileName ? fileName : "");
    ProfileDocument doc = native ? ProfileDocument::Load(*native) : ProfileDocument{};
    if (section == nullptr) return CopyOutList(doc.Sections(), buffer, size);
    if (key == nullptr) return CopyOutList(doc.Keys(section), buffer, size);
    auto value = doc.Get(section, key);
    SetLastError(value ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    return CopyOut(value ? *value : def, buffer, size);
}

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* fileName) {
    char buffer[64];
    if (GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, fileName) == 0)
        return static_cast<uint32_t>(defaultValue);
    return static_cast<uint32_t>(atoi(buffer));
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* fileName) {
    std::lock_guard guard(profileLock);
    auto native = ToNativePath(fileName ? fileName : "");
    if (!native || section == nullptr) {
        SetLastError(native ? ERROR_INVALID_PARAMETER : ERROR_INVALID_NAME);
        return false;
    }
    ProfileDocument doc = ProfileDocument::Load(*native);
    if (key == nullptr)
        doc.RemoveSection(section);
    else if (value == nullptr)
        doc.RemoveKey(section, key);
    else
        doc.Set(section, key, value);
    return doc.Save(*native);
}

}  // namespace platform
