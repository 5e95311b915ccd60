// Validators of a served file and the answer to a Range header with If-Range.
#include "ByteRanges.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace mapservice {
namespace {

std::optional<std::size_t> Number(const std::string& text) {
    std::size_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string HttpDate(std::time_t seconds) {
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

}  // namespace

FileVersion VersionOf(const std::filesystem::path& file) {
    std::size_t size = std::filesystem::file_size(file);
    auto modified = std::filesystem::last_write_time(file);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%llx-%zx\"", static_cast<unsigned long long>(nanoseconds), size);
    auto system = std::chrono::file_clock::to_sys(modified);
    return {etag, HttpDate(std::chrono::system_clock::to_time_t(
                      std::chrono::time_point_cast<std::chrono::system_clock::duration>(system)))};
}

RangeAnswer AnswerRange(const std::string& range, const std::string& ifRange, std::size_t size,
                        const FileVersion& version) {
    const std::string unit = "bytes=";
    // Several ranges, another unit or a malformed header: the whole file, as a server may.
    if (!range.starts_with(unit) || range.find(',') != std::string::npos) return {};
    if (!ifRange.empty() && ifRange != version.etag && ifRange != version.lastModified) return {};
    std::string bounds = range.substr(unit.size());
    std::size_t dash = bounds.find('-');
    if (dash == std::string::npos) return {};
    std::optional<std::size_t> first = Number(bounds.substr(0, dash));
    std::optional<std::size_t> last =
        dash + 1 == bounds.size() ? std::optional<std::size_t>(SIZE_MAX) : Number(bounds.substr(dash + 1));
    if (!last) return {};
    if (!first) {
        // "bytes=-N": the last N bytes.
        if (dash != 0 || *last == 0) return {};
        if (size == 0) return {RangeAnswer::Unsatisfiable, 0, 0};
        std::size_t count = std::min(*last, size);
        return {RangeAnswer::Part, size - count, count};
    }
    if (*last < *first) return {};
    if (*first >= size) return {RangeAnswer::Unsatisfiable, 0, 0};
    return {RangeAnswer::Part, *first, std::min(*last, size - 1) - *first + 1};
}

}  // namespace mapservice
