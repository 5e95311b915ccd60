// The eight exports: handle records with their own lock around a hash state.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "HashState.h"
#include "MemoryProbe.h"
#include "Sha512Api.h"

#if defined(_WIN32)
#define VELTRANE_EXPORT __declspec(dllexport)
#else
#define VELTRANE_EXPORT __attribute__((visibility("default")))
#endif

using veltrane::sha512::ChainingValue;
using veltrane::sha512::HashState;
using veltrane::sha512::MemoryProbe;

namespace {

constexpr char kSignature[] = "SHA512.DLL 0.00";
constexpr int kStatusOk = 0;
constexpr int kStatusInvalid = 1;
constexpr int kHashLength = 64;
constexpr int kHashTextLength = 128;

// signature first and state last: where the kernel's copy decides whether the record is writable, it writes the
// record's first and last bytes back onto themselves, which touches every page of the record without touching the
// lock that another thread may hold.
struct AlgorithmRecord {
    const char* signature;
    std::mutex lock;
    HashState* state;
};
static_assert(offsetof(AlgorithmRecord, signature) == 0 &&
              offsetof(AlgorithmRecord, state) + sizeof(HashState*) == sizeof(AlgorithmRecord));

template <typename Field>
Field FieldOf(const unsigned char* recordBytes, std::size_t offset) {
    Field field;
    std::memcpy(&field, recordBytes + offset, sizeof field);
    return field;
}

// The records CreateAlgorithm made that DestroyAlgorithm has not freed yet. Such a handle is our
// own live memory, so it is judged in user space without a kernel call; any other handle
// (forged, destroyed, or no record at all) is judged through the kernel. A record that could not
// be listed (no memory) is judged through the kernel too.
class LiveHandles {
public:
    void Add(const void* record) {
        std::lock_guard guard(lock_);
        try {
            records_.insert(record);
        } catch (const std::bad_alloc&) {
        }
    }
    void Remove(const void* record) {
        std::lock_guard guard(lock_);
        records_.erase(record);
    }
    bool Holds(const void* record) const {
        std::lock_guard guard(lock_);
        return records_.count(record) != 0;
    }

private:
    mutable std::mutex lock_;
    std::unordered_set<const void*> records_;
};

// Never destroyed: another thread may still call an export while the process exits.
LiveHandles& Listed() {
    static auto* handles = new LiveHandles;
    return *handles;
}

bool IsSignatureText(const char* signature) {
    if (signature == kSignature) return true;
    if (signature == nullptr) return false;
    char text[sizeof kSignature];
    MemoryProbe probe;
    probe.Copy(signature, text, sizeof text);
    return probe.Run() && std::memcmp(text, kSignature, sizeof text) == 0;
}

// The record behind a live handle, or null. A listed record is read directly; any other is copied through the
// kernel and judged by the copy, so a forged, unmapped or destroyed handle is refused without a fault.
// `arguments` holds the caller's range checks, which share the kernel call.
AlgorithmRecord* LiveRecord(void* handle, MemoryProbe& arguments) {
    if (handle == nullptr) return nullptr;
    if (Listed().Holds(handle)) {
        // Signature and state are written only at creation and destruction, never under the lock.
        auto* record = static_cast<AlgorithmRecord*>(handle);
        if (record->signature == kSignature && record->state != nullptr) return arguments.Run() ? record : nullptr;
    }
    unsigned char copy[sizeof(AlgorithmRecord)];
    arguments.Copy(handle, copy, sizeof copy);
    if (!arguments.Run()) return nullptr;
    if (!IsSignatureText(FieldOf<const char*>(copy, offsetof(AlgorithmRecord, signature)))) return nullptr;
    if (FieldOf<HashState*>(copy, offsetof(AlgorithmRecord, state)) == nullptr) return nullptr;

    // The same probe again, so that it asks for our process id only once.
    arguments.Writable(handle, sizeof(AlgorithmRecord));
    return arguments.Run() ? static_cast<AlgorithmRecord*>(handle) : nullptr;
}

AlgorithmRecord* LiveRecord(void* handle) {
    MemoryProbe noArguments;
    return LiveRecord(handle, noArguments);
}

ChainingValue Digest(AlgorithmRecord& record) {
    std::lock_guard guard(record.lock);
    return veltrane::sha512::Finish(*record.state);
}

}  // namespace

extern "C" {

VELTRANE_EXPORT void* VELTRANE_STDCALL CreateAlgorithm() {
    auto* state = new (std::nothrow) HashState;
    void* storage = ::operator new(sizeof(AlgorithmRecord), std::nothrow);
    if (state == nullptr || storage == nullptr) {
        delete state;
        ::operator delete(storage);
        return nullptr;
    }
    auto* record = new (storage) AlgorithmRecord{kSignature, {}, state};
    veltrane::sha512::Init(*record->state);
    Listed().Add(record);
    return record;
}

VELTRANE_EXPORT int VELTRANE_STDCALL DestroyAlgorithm(void* handle) {
    AlgorithmRecord* record = LiveRecord(handle);
    if (record == nullptr) return kStatusInvalid;
    Listed().Remove(record);
    delete record->state;
    record->~AlgorithmRecord();
    // Volatile, so the overwrite is not dropped as a dead store before the free.
    auto* bytes = static_cast<volatile unsigned char*>(handle);
    for (std::size_t i = 0; i < sizeof(AlgorithmRecord); ++i) bytes[i] = 0xCC;
    ::operator delete(handle);
    return kStatusOk;
}

VELTRANE_EXPORT int VELTRANE_STDCALL InitAlgorithm(void* handle) {
    AlgorithmRecord* record = LiveRecord(handle);
    if (record == nullptr) return kStatusInvalid;
    std::lock_guard guard(record->lock);
    veltrane::sha512::Init(*record->state);
    return kStatusOk;
}

VELTRANE_EXPORT int VELTRANE_STDCALL InputData(void* handle, const unsigned char* data, int count) {
    if (count <= 0 || data == nullptr) return kStatusInvalid;
    MemoryProbe arguments;
    arguments.Readable(data, static_cast<std::size_t>(count));
    AlgorithmRecord* record = LiveRecord(handle, arguments);
    if (record == nullptr) return kStatusInvalid;
    std::lock_guard guard(record->lock);
    veltrane::sha512::Absorb(*record->state, data, static_cast<std::size_t>(count));
    return kStatusOk;
}

VELTRANE_EXPORT int VELTRANE_STDCALL GetHashLength(void* handle) {
    return LiveRecord(handle) != nullptr ? kHashLength : 0;
}

// The chaining value as it lies in memory, each word least significant byte first.
VELTRANE_EXPORT int VELTRANE_STDCALL GetHash(void* handle, unsigned char* hash, int size) {
    if (size <= 0 || hash == nullptr) return kStatusInvalid;
    MemoryProbe arguments;
    arguments.Writable(hash, static_cast<std::size_t>(size));
    AlgorithmRecord* record = LiveRecord(handle, arguments);
    if (record == nullptr) return kStatusInvalid;
    const ChainingValue digest = Digest(*record);
    std::memcpy(hash, digest.data(), static_cast<std::size_t>(size < kHashLength ? size : kHashLength));
    return kStatusOk;
}

VELTRANE_EXPORT int VELTRANE_STDCALL GetHashTextLength(void* handle) {
    return LiveRecord(handle) != nullptr ? kHashTextLength : 0;
}

// The standard digest in lower-case hexadecimal, cut to size - 1 digits and a NUL when size is below 129.
VELTRANE_EXPORT int VELTRANE_STDCALL GetHashText(void* handle, char* text, int size) {
    if (size <= 0 || text == nullptr) return kStatusInvalid;
    MemoryProbe arguments;
    arguments.Writable(text, static_cast<std::size_t>(size));
    AlgorithmRecord* record = LiveRecord(handle, arguments);
    if (record == nullptr) return kStatusInvalid;
    const ChainingValue digest = Digest(*record);
    constexpr char kDigits[] = "0123456789abcdef";
    char full[kHashTextLength + 1];
    for (std::size_t i = 0; i < 64; ++i) {
        const auto byte = static_cast<unsigned>(digest[i / 8] >> (56 - 8 * (i % 8))) & 0xFF;
        full[2 * i] = kDigits[byte >> 4];
        full[2 * i + 1] = kDigits[byte & 0xF];
    }
    full[kHashTextLength] = '\0';
    const std::size_t copied = size < kHashTextLength + 1 ? static_cast<std::size_t>(size) : sizeof full;
    std::memcpy(text, full, copied);
    text[copied - 1] = '\0';
    return kStatusOk;
}

}  // extern "C"
