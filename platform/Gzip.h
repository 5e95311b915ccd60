// zlib's gzip file reader on a Windows path.
#pragma once

#include <zlib.h>

namespace platform {

// gzopen on a Windows path; null when the path cannot be mapped or the file not opened.
[[nodiscard]] gzFile gzopen(const char* path, const char* mode);

}  // namespace platform
