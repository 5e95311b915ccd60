// MD5 of a block of memory, or of data given a part at a time.
#pragma once

#include <cstddef>
#include <memory>

namespace platform {

constexpr size_t MD5_LENGTH = 16;

// MD5 over parts given one after another. A failure of the crypto service makes every later
// call false.
class Md5Hasher {
public:
    Md5Hasher();
    ~Md5Hasher();
    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    [[nodiscard]] bool Add(const void* data, size_t length);
    // The digest of everything added; the hasher takes nothing more afterwards.
    [[nodiscard]] bool Finish(unsigned char (&digest)[MD5_LENGTH]);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// False when the crypto service fails; `digest` then holds nothing useful.
[[nodiscard]] inline bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]) {
    Md5Hasher hasher;
    return hasher.Add(data, length) && hasher.Finish(digest);
}

}  // namespace platform
