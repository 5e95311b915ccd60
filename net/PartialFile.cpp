// The mark beside a partial file: two header lines, as the reply carried them,
//   ETag: "5f3a9c-2800000"        (or Last-Modified: Tue, 08 Dec 2026 15:31:54 GMT)
//   Content-Length: 41943040
// in a file named after the partial one with ".resume" appended.
#include "net/PartialFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/Files.h"

namespace {

constexpr char kMarkSuffix[] = ".resume";
constexpr char kETag[] = "ETag: ";
constexpr char kLastModified[] = "Last-Modified: ";
constexpr char kContentLength[] = "Content-Length: ";
// A mark is two short lines; anything longer is not one.
constexpr size_t kLargestMark = 1024;

bool IsWeak(const std::string& etag) { return etag.rfind("W/", 0) == 0; }

}  // namespace

std::string PartialMarkPath(const std::string& path) { return path + kMarkSuffix; }

std::string RangeValidator(const std::string& etag, const std::string& lastModified) {
    return !etag.empty() && !IsWeak(etag) ? etag : lastModified;
}

std::optional<PartialFileMark> ReadPartialMark(const std::string& path) {
    FILE* in = platform::fopen(PartialMarkPath(path).c_str(), "rb");
    if (in == nullptr) return std::nullopt;
    std::string text(kLargestMark + 1, '\0');
    text.resize(fread(text.data(), 1, text.size(), in));
    fclose(in);  // read only: nothing is lost when the close fails
    if (text.size() > kLargestMark) return std::nullopt;

    PartialFileMark mark;
    bool haveLength = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) return std::nullopt;  // cut short
        std::string line = text.substr(start, end - start);
        start = end + 2;
        // The validator goes back as a header line: a lone LF or any other control byte in it
        // would start another line.
        if (std::any_of(line.begin(), line.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
            return std::nullopt;
        for (const char* name : {kETag, kLastModified})
            if (line.rfind(name, 0) == 0) mark.validator = line.substr(std::char_traits<char>::length(name));
        if (line.rfind(kContentLength, 0) == 0) {
            std::string digits = line.substr(sizeof kContentLength - 1);
            char* stop = nullptr;
            mark.length = std::strtoull(digits.c_str(), &stop, 10);
            haveLength = !digits.empty() && *stop == '\0';
        }
    }
    if (mark.validator.empty() || IsWeak(mark.validator) || !haveLength || mark.length == 0) return std::nullopt;
    return mark;
}

bool WritePartialMark(const std::string& path, const PartialFileMark& mark) {
    // A date has a comma and spaces, an ETag is quoted: which one it is shows in its first byte.
    const char* name = mark.validator.front() == '"' ? kETag : kLastModified;
    std::string text = name + mark.validator + "\r\n" + kContentLength + std::to_string(mark.length) + "\r\n";
    std::string markPath = PartialMarkPath(path);
    FILE* out = platform::fopen(markPath.c_str(), "wb");
    if (out == nullptr) return false;
    bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    if (fclose(out) == 0 && written) return true;
    // A mark cut short is no mark, whether or not it can be removed.
    (void)platform::DeleteFileA(markPath.c_str());
    return false;
}

void RemovePartialMark(const std::string& path) {
    // Absent is the usual case. A mark left behind still names only a version: the server
    // checks it with If-Range, and the digest checks the file.
    (void)platform::DeleteFileA(PartialMarkPath(path).c_str());
}
