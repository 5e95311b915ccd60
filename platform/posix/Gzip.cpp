// gzopen on the native path of a Windows path, with the last error set when it fails.
#include "platform/Gzip.h"

#include <cerrno>

#include "platform/Error.h"
#include "platform/Paths.h"

namespace platform {

gzFile gzopen(const char* path, const char* mode) {
    auto native = ToNativePath(path);
    if (!native) return nullptr;
    gzFile file = ::gzopen(native->c_str(), mode);
    if (file == nullptr) SetLastError(ErrorFromErrno(errno));
    return file;
}

}  // namespace platform
