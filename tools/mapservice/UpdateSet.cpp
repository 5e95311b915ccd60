// The update-set scan with its kept digests, the files' URL paths, the map size and the line-test
// data.
#include "UpdateSet.h"

#include "Digest.h"
#include "ServiceXml.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace mapservice {
namespace {

constexpr std::uint64_t kMapSizeUnit = 1'044'480;
// File systems stamp writes with a coarse clock; a stamp this much older than the hashing
// cannot be repeated by a later write.
constexpr auto kSettledAge = std::chrono::seconds(1);

std::string UrlPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

void AppendEntry(std::string& xml, std::string_view element, const std::string& url, const std::string& md5) {
    xml += "<" + std::string(element) + "><url>" + XmlEscape(url) + "</url><HashCode>" + md5 + "</HashCode></" +
           std::string(element) + ">\n";
}

}  // namespace

std::vector<UpdateFile> UpdateSetScanner::Scan(const std::filesystem::path& folder) {
    std::lock_guard lock(mutex_);
    if (folder != folder_) known_.clear();
    folder_ = folder;
    std::map<std::string, Known> seen;
    std::vector<UpdateFile> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::string relativePath = entry.path().lexically_relative(folder).generic_string();
        Known file{entry.file_size(), entry.last_write_time(), {}};
        auto known = known_.find(relativePath);
        if (known != known_.end() && known->second.size == file.size && known->second.modified == file.modified) {
            file.md5 = known->second.md5;
        } else {
            const auto hashing = std::filesystem::file_time_type::clock::now();
            file.md5 = Md5HexOfFile(entry.path());
            ++hashed_;
            if (file.modified + kSettledAge > hashing) file.modified = {};  // not trusted next time
        }
        files.push_back({relativePath, file.size, file.md5});
        if (file.modified != std::filesystem::file_time_type{}) seen.emplace(relativePath, file);
    }
    known_ = std::move(seen);
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
    return files;
}

int UpdateSetScanner::Hashed() const {
    std::lock_guard lock(mutex_);
    return hashed_;
}

std::uint64_t MapSize(const std::vector<UpdateFile>& files) {
    std::uint64_t total = 0;
    for (const auto& file : files) total += file.size;
    return (total + kMapSizeUnit - 1) / kMapSizeUnit;
}

std::string LineTestData(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    return data;
}

std::string MakeDescription(const std::vector<UpdateFile>& files, const std::string& baseUrl,
                            const std::string& lineTestMd5, std::uint64_t mapSize) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Map>\n";
    xml += "<MapSize>" + std::to_string(mapSize) + "</MapSize>\n";
    for (const auto& file : files)
        AppendEntry(xml, "MapData", baseUrl + std::string(kFilesPath) + UrlPath(file.relativePath), file.md5);
    AppendEntry(xml, "TestMapData", baseUrl + std::string(kLineTestPath), lineTestMd5);
    xml += "</Map>\n";
    return xml;
}

}  // namespace mapservice
