// One gzip file unpacked through zlib, with data that is not gzip or is cut short refused.
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
// format and every byte was written.
bool Unpack(gzFile in, FILE* out, std::vector<char>& buffer) {
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
        if (fwrite(buffer.data(), 1, static_cast<size_t>(count), out) != static_cast<size_t>(count)) return false;
    }
}

}  // namespace

int GzipExtract(const std::string& outPath, const std::string& gzPath) {
    return OPERATION("GzipExtract", Format("[%s][%s]", outPath.c_str(), gzPath.c_str()), 0, [&] {
        std::vector<char> buffer(kReadSize + 1);
        gzFile in = platform::gzopen(gzPath.c_str(), "rb");
        if (in == nullptr) return 0;
        FILE* out = platform::fopen(outPath.c_str(), "wbx");
        if (out == nullptr) {
            gzclose(in);
            return 0;
        }
        bool unpacked = Unpack(in, out, buffer);
        bool closed = fclose(out) == 0;
        gzclose(in);
        if (!unpacked || !closed) return 0;
        platform::DeleteFileA(gzPath.c_str());
        return 1;
    });
}
