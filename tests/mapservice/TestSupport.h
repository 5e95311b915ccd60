// What the mapservice tests share: a scratch folder, request documents as the program
// builds them, a WSSE header made outside our code, and reading the call log.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace mapservice::test {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mapservice-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Password digest for nonce 5820917364, Created 2024-03-02T09:05:07Z and the default password,
// computed with `openssl dgst -sha512 -binary | base64`. It holds "+" and "/", which the
// header carries percent-encoded.
inline const std::string kValidWsse =
    "UsernameToken Username=\"NaviUser\", "
    "PasswordDigest=\"OBS4oatZhlgu1WHKcWGDM5l32yDU70BkfI6nRqqidd73EmDRu%2BHotk0hXcBEvRI3%2FcJX"
    "saOS6kX7MlT96hVnpg%3D%3D\", Nonce=\"NTgyMDkxNzM2NA%3D%3D\", "
    "Created=\"2024-03-02T09%3A05%3A07Z\"";

// A request document the way the program writes it: no whitespace, values unescaped.
inline std::string RequestXml(const std::string& root, const std::string& prefix, const std::string& inParams,
                              const std::string& outParams) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><!DOCTYPE " + root + " SYSTEM \"" + prefix + ".dtd\"><" + root +
           " xmlns:" + prefix + "='http://example.invalid/map-dl/" + prefix + "/'><in-param-section>" + inParams +
           "</in-param-section><out-param-section>" + outParams + "</out-param-section></" + root + ">";
}

inline std::string DownloadStartXml(const std::string& modelGroupCd) {
    return RequestXml("download-start-if", "dsif", "<model-group-cd>" + modelGroupCd + "</model-group-cd>",
                      "<result-status></result-status><result-cd></result-cd>"
                      "<result-detail-cd></result-detail-cd><result-msg></result-msg>"
                      "<unified-map-ver-gen></unified-map-ver-gen>"
                      "<unified-map-ver-major></unified-map-ver-major>"
                      "<unified-map-ver-minor></unified-map-ver-minor>"
                      "<product-name></product-name><conf-file-url></conf-file-url>");
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

}  // namespace mapservice::test
