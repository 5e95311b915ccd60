// Unpacks one gzip file through zlib's gzip reader, never past a given size.
#pragma once

#include <cstdint>
#include <string>

// 1 when `gzPath` was unpacked into the new file `outPath` (which must not exist yet) and then
// deleted; 0 on any failure, which leaves `gzPath` and removes what was written of `outPath`.
// Data that unpacks to more than `maxBytes` fails before any byte past the bound is written.
[[nodiscard]] int GzipExtract(const std::string& outPath, const std::string& gzPath, uint64_t maxBytes);
