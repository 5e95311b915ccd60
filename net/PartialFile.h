// What is kept beside a partly downloaded map file: the header lines that name the version the
// bytes on disk came from, so that a later attempt, after a restart too, asks only for the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The version of a file on the server, as its first reply described it.
struct PartialFileMark {
    std::string validator;  // a strong ETag, else the Last-Modified date (sent back as If-Range)
    uint64_t length = 0;    // the whole file's length
};

// The mark of the file at `path` (a Windows path) lies beside it under this name.
std::string PartialMarkPath(const std::string& path);
// The mark read back; nullopt when there is none or it cannot be read whole.
std::optional<PartialFileMark> ReadPartialMark(const std::string& path);
// False when the mark could not be written (the file can then only be fetched whole again).
[[nodiscard]] bool WritePartialMark(const std::string& path, const PartialFileMark& mark);
// Removes the mark, if any: the file beside it is whole, or is about to be written afresh.
void RemovePartialMark(const std::string& path);

// The reply's validator fit for If-Range: its ETag unless weak ("W/..."), else Last-Modified.
std::string RangeValidator(const std::string& etag, const std::string& lastModified);
