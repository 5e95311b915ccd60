// An update-set folder as the service offers it: its files and the download description.
#pragma once

#include <cstdint>
#include <filesystem>
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
    std::string md5;           // lower-case hexadecimal
};

// Every regular file below `folder`, ordered by relative path.
std::vector<UpdateFile> ScanUpdateSet(const std::filesystem::path& folder);

// The client expects MapSize × 1,044,480 bytes; rounded up so the estimate is never short.
std::uint64_t MapSize(const std::vector<UpdateFile>& files);

// The line-test data: `size` bytes of a fixed pattern.
std::string LineTestData(std::size_t size);

// The description: MapSize, one MapData entry per file, the line-test entry last.
// `baseUrl` is scheme and authority, e.g. "https://127.0.0.1:8443".
std::string MakeDescription(const std::vector<UpdateFile>& files, const std::string& baseUrl,
                            const std::string& lineTestMd5);

}  // namespace mapservice
