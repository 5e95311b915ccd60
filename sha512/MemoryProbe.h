// Checks memory the caller hands us through the kernel, so that a forged, unmapped or protected address yields
// false instead of a fault, and nothing is dereferenced in user space before it has been checked.
#pragma once

#include <cstddef>

#if !defined(_WIN32)
#include <sys/types.h>
#include <sys/uio.h>
#endif

namespace veltrane::sha512 {

// On Windows every check asks the memory manager at once (VirtualQuery: committed pages with a readable, or
// writable, protection and no guard), and a copy is taken only from checked memory, through the kernel.
//
// On Linux a range check first asks the kernel to populate the range's pages for reading or writing: one call, and
// nothing is written. Where the kernel refuses (a bad range, or a kernel older than 5.14 that does not know the
// request), the check is left to the kernel's copy, as the copies are: collected and run together in one call, which
// costs as much as hashing a kilobyte.
class MemoryProbe {
public:
    // The bytes are readable; they are copied to `copy`.
    void Copy(const void* address, void* copy, std::size_t size);
    // Every page of the range is readable.
    void Readable(const void* address, std::size_t size);
    // Every page of the range is readable and writable. Where the kernel's copy decides, one byte of each page is
    // copied onto itself: the range's first byte on its first page, its last byte on every further one.
    void Writable(void* address, std::size_t size);
    // True when every check added so far passed. The probe can take more checks and run again.
    bool Run();

private:
#if defined(_WIN32)
    bool passed_ = true;
#else
    void Add(void* local, const void* remote, std::size_t size);
    template <typename Visit>
    void ForEachPage(const void* address, std::size_t size, Visit visit);

    static constexpr std::size_t kBatch = 64;
    iovec local_[kBatch];
    iovec remote_[kBatch];
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;
    bool passed_ = true;
    unsigned char scratch_ = 0;  // where the Readable checks drop their bytes
    pid_t pid_ = 0;              // asked once per probe: getpid is itself a kernel call
#endif
};

}  // namespace veltrane::sha512
