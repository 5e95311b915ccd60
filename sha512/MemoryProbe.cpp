// Memory checks on Linux: the kernel populates the range's pages, or else reads a byte of each;
// copies go through process_vm_readv, so a bad address fails the probe, never the process.
#include "MemoryProbe.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace veltrane::sha512 {
namespace {

std::uintptr_t PageSize() { return static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)); }

// The range's first and last byte; false for an empty range or one that wraps around the address space.
bool Bounds(const void* address, std::size_t size, std::uintptr_t& first, std::uintptr_t& last) {
    first = reinterpret_cast<std::uintptr_t>(address);
    last = first + size - 1;
    return size > 0 && last >= first;
}

// The kernel populated every page of the range for the advice.
bool Populated(const void* address, std::size_t size, int advice) {
    std::uintptr_t first = 0, last = 0;
    if (!Bounds(address, size, first, last)) return false;
    const std::uintptr_t start = first & ~(PageSize() - 1);
    return madvise(reinterpret_cast<void*>(start), last - start + 1, advice) == 0;
}

}  // namespace

void MemoryProbe::Copy(const void* address, void* copy, std::size_t size) { Add(copy, address, size); }

void MemoryProbe::Readable(const void* address, std::size_t size) {
    if (Populated(address, size, MADV_POPULATE_READ)) return;
    ForEachPage(address, size, [this](const unsigned char* byte) { Add(&scratch_, byte, 1); });
}

void MemoryProbe::Writable(void* address, std::size_t size) {
    if (Populated(address, size, MADV_POPULATE_WRITE)) return;
    ForEachPage(address, size, [this](const unsigned char* byte) { Add(const_cast<unsigned char*>(byte), byte, 1); });
}

bool MemoryProbe::Run() {
    if (count_ > 0) {
        // A read from our own process: a bad remote range stops the copy short, a bad local one (the Writable
        // checks) as well; either way fewer bytes come back than were asked for.
        if (pid_ == 0) pid_ = getpid();
        const ssize_t copied = process_vm_readv(pid_, local_, count_, remote_, count_, 0);
        passed_ = passed_ && copied == static_cast<ssize_t>(bytes_);
        count_ = 0;
        bytes_ = 0;
    }
    return passed_;
}

void MemoryProbe::Add(void* local, const void* remote, std::size_t size) {
    if (count_ == kBatch) Run();
    local_[count_] = {local, size};
    remote_[count_] = {const_cast<void*>(remote), size};
    ++count_;
    bytes_ += size;
}

template <typename Visit>
void MemoryProbe::ForEachPage(const void* address, std::size_t size, Visit visit) {
    const std::uintptr_t pageSize = PageSize();
    std::uintptr_t first = 0, last = 0;
    if (!Bounds(address, size, first, last)) {
        passed_ = false;
        return;
    }
    visit(reinterpret_cast<const unsigned char*>(first));
    for (std::uintptr_t page = (first | (pageSize - 1)) + 1; page <= last && page > first; page += pageSize)
        visit(reinterpret_cast<const unsigned char*>(last - page < pageSize ? last : page + pageSize - 1));
}

}  // namespace veltrane::sha512
