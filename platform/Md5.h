// MD5 of a block of memory, or of data fed piece by piece (a file larger than memory).
#pragma once

#include <cstddef>
#include <memory>

namespace platform {

constexpr size_t MD5_LENGTH = 16;

// False when the crypto service fails; `digest` then holds nothing useful.
[[nodiscard]] bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]);

// The digest of everything given to Update, in order. Once a call fails, every later one fails.
class Md5Context {
public:
    Md5Context();
    ~Md5Context();
    Md5Context(const Md5Context&) = delete;
    Md5Context& operator=(const Md5Context&) = delete;

    [[nodiscard]] bool Update(const void* data, size_t length);
    // Ends the digest; the context takes no more data afterwards.
    [[nodiscard]] bool Finish(unsigned char (&digest)[MD5_LENGTH]);

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace platform
