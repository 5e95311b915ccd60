// gzopen on a Windows path through zlib's wide-character open.
#include "platform/Gzip.h"

#include "platform/win32/Wide.h"

namespace platform {

gzFile gzopen(const char* path, const char* mode) {
    auto wide = win32::Wide(path);
    return wide && mode ? ::gzopen_w(wide->c_str(), mode) : nullptr;
}

}  // namespace platform
