// Unpacks one gzip file through zlib's gzip reader.
#pragma once

#include <string>

// 1 when `gzPath` was unpacked into the new file `outPath` (which must not exist yet) and then
// deleted; 0 on any failure, which leaves `gzPath` and whatever of `outPath` was written.
int GzipExtract(const std::string& outPath, const std::string& gzPath);
