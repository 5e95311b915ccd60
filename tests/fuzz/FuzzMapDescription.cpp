// The download description: its entries, the local path each file URL maps to, and the
// version name of an offer. No URL may lead out of the download folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/DownloadJob.h"
#include "platform/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reply(reinterpret_cast<const char*>(data), size);
    std::vector<MAP_DATA> entries;
    std::string description;
    ReadMapDescription(reply, &entries, &description);
    for (const MAP_DATA& entry : entries) {
        std::optional<std::string> path = LocalRelativePath(entry.url);
        if (!path) continue;
        // A relative path inside the folder: no drive, and every step a name that is not
        // empty, "." or "..".
        if (path->find(':') != std::string::npos) abort();
        for (size_t start = 0;;) {
            size_t end = platform::FindChar(*path, '\\', start);
            std::string step = path->substr(start, end - start);
            if (step.empty() || step == "." || step == "..") abort();
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    // The same text as the three version parts of an offer.
    DOWNLOAD_START_RESPONSE start;
    size_t third = reply.size() / 3;
    start.unified_map_ver_gen = reply.substr(0, third);
    start.unified_map_ver_major = reply.substr(third, third);
    start.unified_map_ver_minor = reply.substr(2 * third);
    if (std::optional<std::string> name = VersionName(start))
        if (name->empty() || platform::FindChar(*name, '\\') != std::string::npos || *name == "." || *name == "..")
            abort();
    return 0;
}
