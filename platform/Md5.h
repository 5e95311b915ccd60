// MD5 of a block of memory.
#pragma once

#include <cstddef>

namespace platform {

constexpr size_t MD5_LENGTH = 16;

// False when the crypto service fails; `digest` then holds nothing useful.
bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]);

}  // namespace platform
