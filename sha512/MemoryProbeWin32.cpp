// Memory checks on Windows: every page of the range asked of the memory manager, and copies
// made through ReadProcessMemory.
#include "MemoryProbe.h"

#include <cstdint>

#include <windows.h>

namespace veltrane::sha512 {
namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Every page of the range is committed, carries one of the protections and no guard. A range that is empty or
// wraps around the address space fails, as on Linux.
bool Accessible(const void* address, std::size_t size, DWORD protections) {
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t last = first + size - 1;
    if (size == 0 || last < first) return false;
    std::uintptr_t at = first;
    for (;;) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) != sizeof region) return false;
        if (region.State != MEM_COMMIT || (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
            (region.Protect & protections) == 0)
            return false;
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (end == 0 || end > last) return true;  // the region reaches the range's end (or the top of memory)
        at = end;
    }
}

}  // namespace

// The copy goes through ReadProcessMemory, which faults on nothing: memory released by another thread between
// the check and the copy fails the copy instead of the process.
void MemoryProbe::Copy(const void* address, void* copy, std::size_t size) {
    SIZE_T copied = 0;
    passed_ = passed_ && Accessible(address, size, kReadable) &&
              ReadProcessMemory(GetCurrentProcess(), address, copy, size, &copied) && copied == size;
}

void MemoryProbe::Readable(const void* address, std::size_t size) {
    passed_ = passed_ && Accessible(address, size, kReadable);
}

void MemoryProbe::Writable(void* address, std::size_t size) {
    passed_ = passed_ && Accessible(address, size, kWritable);
}

bool MemoryProbe::Run() { return passed_; }

}  // namespace veltrane::sha512
