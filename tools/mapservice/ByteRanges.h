// Byte ranges of a served file: the validators that name its version (ETag, Last-Modified),
// and what a request's Range and If-Range headers ask of it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace mapservice {

// What names one version of a file: a strong ETag made of its modification time (in
// nanoseconds) and its size, and its modification time as an HTTP date.
struct FileVersion {
    std::string etag;
    std::string lastModified;
};
// Throws std::filesystem::filesystem_error when the file cannot be looked at.
FileVersion VersionOf(const std::filesystem::path& file);

// The part of a file of `size` bytes a reply carries.
struct RangeAnswer {
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    std::size_t first = 0;  // Part: the first byte and the count sent
    std::size_t count = 0;
};

// What to send for `range` (the Range header, "" when absent) and `ifRange` (the If-Range
// header): the whole file when there is no usable single range or If-Range names another
// version (compared strongly, as ranges require); the part asked for; or 416 when it starts
// at or after the end.
RangeAnswer AnswerRange(const std::string& range, const std::string& ifRange, std::size_t size,
                        const FileVersion& version);

}  // namespace mapservice
