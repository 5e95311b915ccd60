// One gzip file unpacked through zlib, with data that is not gzip, is cut short or unpacks past
// its bound refused.
#include "update/GzipExtract.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/Files.h"
#include "platform/Gzip.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr int kReadSize = 32000;

// Reads until the end of the gzip data: true only when the stream was complete and in gzip
// format, unpacked to at most maxBytes, and every byte was written.
bool Unpack(gzFile in, FILE* out, std::vector<char>& buffer, uint64_t maxBytes) {
    uint64_t written = 0;
    for (;;) {
        memset(buffer.data(), 0, buffer.size());
        int count = gzread(in, buffer.data(), kReadSize);
        if (count < 0) return false;
        // zlib passes data that is not gzip through as it is; that is not an update file.
        if (gzdirect(in)) return false;
        if (count == 0) {
            // A stream cut short ends like a complete one; only the error state tells.
            int error = Z_OK;
            gzerror(in, &error);
            return error == Z_OK;
        }
        // A few KiB of gzip can unpack to gigabytes: the bound is checked before the write.
        if (static_cast<uint64_t>(count) > maxBytes - written) return false;
        if (fwrite(buffer.data(), 1, static_cast<size_t>(count), out) != static_cast<size_t>(count)) return false;
        written += static_cast<uint64_t>(count);
    }
}

}  // namespace

int GzipExtract(const std::string& outPath, const std::string& gzPath, uint64_t maxBytes) {
    return OPERATION("GzipExtract", Format("[%s][%s]", outPath.c_str(), gzPath.c_str()), 0, [&] {
        std::vector<char> buffer(kReadSize + 1);
        gzFile in = platform::gzopen(gzPath.c_str(), "rb");
        if (in == nullptr) return 0;
        FILE* out = platform::fopen(outPath.c_str(), "wbx");
        if (out == nullptr) {
            gzclose(in);
            return 0;
        }
        bool unpacked = Unpack(in, out, buffer, maxBytes);
        bool closed = fclose(out) == 0;
        gzclose(in);
        if (!unpacked || !closed) {
            // Created by this call: a partial product is of no use and may be large. The failure
            // is reported either way; what stays the next transfer removes first.
            (void)platform::DeleteFileA(outPath.c_str());
            return 0;
        }
        // Consumed like gzip's input; the caller puts its backup back over it, gone or not.
        (void)platform::DeleteFileA(gzPath.c_str());
        return 1;
    });
}
