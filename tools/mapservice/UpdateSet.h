// An update-set folder as the service offers it: its files and the download description.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace mapservice {

inline constexpr std::string_view kDescriptionPath = "/map-dl/MapData.XML";
inline constexpr std::string_view kLineTestPath = "/map-dl/LINETEST.DAT";
inline constexpr std::string_view kFilesPath = "/map-dl/data/";  // + the file's relative path

struct UpdateFile {
    std::string relativePath;  // "/"-separated, e.g. "FLASH/RENEWAL/MAP01.ZIP"
    std::uintmax_t size = 0;
    std::string md5;  // lower-case hexadecimal
    bool operator==(const UpdateFile&) const = default;
};

// The files of an update-set folder with their digests, kept from one scan to the next: a scan
// walks the folder, and hashes only the files that are new or whose size or modification time
// changed. A file stamped so shortly before its hashing that a later write could carry the
// same time is hashed again next time. Safe to use from several threads.
class UpdateSetScanner {
public:
    // Every regular file below `folder`, ordered by relative path.
    std::vector<UpdateFile> Scan(const std::filesystem::path& folder);
    // How many files were hashed so far.
    int Hashed() const;

private:
    struct Known {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        std::string md5;
    };
    mutable std::mutex mutex_;
    std::filesystem::path folder_;
    std::map<std::string, Known> known_;  // by relative path, trusted entries only
    int hashed_ = 0;
};

// The client expects MapSize × 1,044,480 bytes; rounded up so the estimate is never short.
std::uint64_t MapSize(const std::vector<UpdateFile>& files);

// The line-test data: `size` bytes of a fixed pattern.
std::string LineTestData(std::size_t size);

// The description: `mapSize` (the set's MapSize unless a test announces another), one MapData
// entry per file, the line-test entry last. `baseUrl` is scheme and authority, e.g.
// "https://127.0.0.1:8443".
std::string MakeDescription(const std::vector<UpdateFile>& files, const std::string& baseUrl,
                            const std::string& lineTestMd5, std::uint64_t mapSize);

}  // namespace mapservice
