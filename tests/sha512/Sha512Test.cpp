// The SHA-512 library through its exports: the FIPS examples and the system's digest, output
// sizes, refused arguments and forged handles, and handles used from several threads.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#include <wincrypt.h>
#else
#include <openssl/sha.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Sha512Api.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}

// The system's own SHA-512 (OpenSSL, or the CryptoAPI's AES provider on Windows).
Bytes ReferenceDigest(const Bytes& message) {
    Bytes digest(64);
#if defined(_WIN32)
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    DWORD size = 64;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(provider, CALG_SHA_512, 0, 0, &hash) ||
        !CryptHashData(hash, message.data(), static_cast<DWORD>(message.size()), 0) ||
        !CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &size, 0))
        ADD_FAILURE() << "the CryptoAPI's SHA-512 failed: " << GetLastError();
    if (hash) CryptDestroyHash(hash);
    if (provider) CryptReleaseContext(provider, 0);
#else
    SHA512(message.data(), message.size(), digest.data());
#endif
    return digest;
}

Bytes Digest(void* handle) {
    Bytes digest(64);
    EXPECT_EQ(GetHash(handle, digest.data(), 64), 0);
    // The binary digest holds each 64-bit word least significant byte first; the standard order is big-endian.
    for (auto word = digest.begin(); word != digest.end(); word += 8) std::reverse(word, word + 8);
    return digest;
}

std::string DigestText(void* handle) {
    char text[129];
    EXPECT_EQ(GetHashText(handle, text, sizeof text), 0);
    return text;
}

Bytes DigestInPieces(const Bytes& message, std::size_t piece) {
    void* handle = CreateAlgorithm();
    for (std::size_t at = 0; at < message.size(); at += piece)
        EXPECT_EQ(InputData(handle, message.data() + at, static_cast<int>(std::min(piece, message.size() - at))), 0);
    Bytes digest = Digest(handle);
    EXPECT_EQ(DestroyAlgorithm(handle), 0);
    return digest;
}

enum class Access { None, Read, ReadWrite };

// Two pages: the first read-write, the second without access.
struct GuardedPage {
#if defined(_WIN32)
    GuardedPage() : size(PageSize()) {
        base = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        Protect(base + size, size, Access::None);
    }
    ~GuardedPage() { VirtualFree(base, 0, MEM_RELEASE); }
    static std::size_t PageSize() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwPageSize;
    }
    static void Protect(unsigned char* at, std::size_t length, Access access) {
        DWORD old = 0;
        VirtualProtect(at, length,
                       access == Access::None   ? PAGE_NOACCESS
                       : access == Access::Read ? PAGE_READONLY
                                                : PAGE_READWRITE,
                       &old);
    }
#else
    GuardedPage() : size(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
        base = static_cast<unsigned char*>(
            mmap(nullptr, 2 * size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        Protect(base + size, size, Access::None);
    }
    ~GuardedPage() { munmap(base, 2 * size); }
    static void Protect(unsigned char* at, std::size_t length, Access access) {
        mprotect(at, length,
                 access == Access::None   ? PROT_NONE
                 : access == Access::Read ? PROT_READ
                                          : PROT_READ | PROT_WRITE);
    }
#endif
    unsigned char* End() const { return base + size; }
    std::size_t size;
    unsigned char* base;
};

TEST(Sha512, Fips180Examples) {
    const std::string b896 =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrs"
        "tu";
    const std::pair<std::string, const char*> examples[] = {
        {"",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417"
         "a81a538327af927da3e"},
        {"abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce"
         "80e2a9ac94fa54ca49f"},
        {b896,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd2"
         "6545e96e55b874be909"},
        {std::string(1000000, 'a'),
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49a"
         "a2e4eadb217ad8cc09b"},
    };
    for (const auto& [message, expected] : examples) {
        void* handle = CreateAlgorithm();
        if (!message.empty())
            InputData(handle, reinterpret_cast<const unsigned char*>(message.data()), static_cast<int>(message.size()));
        EXPECT_EQ(DigestText(handle), expected) << message.size() << " bytes";
        DestroyAlgorithm(handle);
    }
}

TEST(Sha512, MatchesTheSystemsDigestWhateverThePieces) {
    for (std::size_t size : {1, 111, 112, 113, 127, 128, 129, 255, 256, 1000, 100003}) {
        const Bytes message = RandomBytes(size, static_cast<unsigned>(size));
        const std::size_t pieces[] = {size, 1, 7, 127, 128, 129};  // one call, then ever larger pieces
        for (std::size_t piece : pieces)
            EXPECT_EQ(DigestInPieces(message, piece), ReferenceDigest(message))
                << size << " bytes in pieces of " << piece;
    }
}

TEST(Sha512, DigestLeavesTheMessageOpen) {
    const Bytes message = RandomBytes(300, 1);
    void* handle = CreateAlgorithm();
    InputData(handle, message.data(), 100);
    const Bytes first = Digest(handle);
    EXPECT_EQ(Digest(handle), first);
    InputData(handle, message.data() + 100, 200);
    EXPECT_EQ(Digest(handle), ReferenceDigest(message));
    EXPECT_EQ(InitAlgorithm(handle), 0);
    InputData(handle, message.data(), 100);
    EXPECT_EQ(Digest(handle), first);
    DestroyAlgorithm(handle);
}

TEST(Sha512, OutputSizes) {
    void* handle = CreateAlgorithm();
    Bytes full(64);
    GetHash(handle, full.data(), 64);
    for (int size : {1, 16, 64, 100}) {
        Bytes out(128, 0xEE);
        ASSERT_EQ(GetHash(handle, out.data(), size), 0);
        const auto written = static_cast<std::size_t>(std::min(size, 64));
        EXPECT_TRUE(std::equal(full.begin(), full.begin() + written, out.begin())) << size;
        EXPECT_TRUE(std::all_of(out.begin() + written, out.end(), [](unsigned char b) { return b == 0xEE; })) << size;
    }
    EXPECT_EQ(GetHashLength(handle), 64);
    EXPECT_EQ(GetHashTextLength(handle), 128);
    const std::string text = DigestText(handle);
    for (int size : {1, 2, 128, 129, 200}) {
        std::string out(256, '#');
        ASSERT_EQ(GetHashText(handle, out.data(), size), 0);
        const auto digits = static_cast<std::size_t>(std::min(size, 129) - 1);
        EXPECT_EQ(out.substr(0, digits), text.substr(0, digits)) << size;
        EXPECT_EQ(out[digits], '\0') << size;
        EXPECT_EQ(out.find_first_not_of('#', digits + 1), std::string::npos) << size;
    }
    DestroyAlgorithm(handle);
}

TEST(Sha512, InvalidArgumentsChangeNothing) {
    GuardedPage page;
    unsigned char* const readOnly = page.base;
    void* handle = CreateAlgorithm();
    const unsigned char data[4] = {1, 2, 3, 4};
    InputData(handle, data, 4);
    const Bytes before = Digest(handle);

    EXPECT_EQ(InputData(handle, data, 0), 1);
    EXPECT_EQ(InputData(handle, data, -1), 1);
    EXPECT_EQ(InputData(handle, nullptr, 4), 1);
    EXPECT_EQ(InputData(handle, page.End() - 4, 8), 1);  // runs into the page without access
    EXPECT_EQ(Digest(handle), before);

    std::memset(page.End() - 64, 0xEE, 64);
    unsigned char out[64];
    char text[129];
    EXPECT_EQ(GetHash(handle, out, 0), 1);
    EXPECT_EQ(GetHash(handle, out, -5), 1);
    EXPECT_EQ(GetHash(handle, nullptr, 64), 1);
    EXPECT_EQ(GetHash(handle, page.End() - 32, 64), 1);
    EXPECT_EQ(GetHashText(handle, text, 0), 1);
    EXPECT_EQ(GetHashText(handle, nullptr, 129), 1);
    EXPECT_EQ(GetHashText(handle, reinterpret_cast<char*>(page.End() - 64), 129), 1);
    EXPECT_TRUE(std::all_of(page.End() - 64, page.End(), [](unsigned char b) { return b == 0xEE; }));
    GuardedPage::Protect(readOnly, page.size, Access::Read);
    EXPECT_EQ(GetHash(handle, readOnly, 64), 1);
    EXPECT_EQ(InputData(handle, readOnly, 64), 0);  // readable is all that input needs
    DestroyAlgorithm(handle);
}

// Mirrors the library's handle record, to forge handles that are wrong in exactly one respect.
struct ForgedRecord {
    const char* signature;
    std::mutex lock;
    void* state;
};

TEST(Sha512, RefusesHandlesThatAreNotLive) {
    void* live = CreateAlgorithm();
    void* destroyed = CreateAlgorithm();
    GuardedPage page;
    auto* forged = new (page.base) ForgedRecord{};
    static const char kEqualText[] = "SHA512.DLL 0.00";
    static const char kOtherText[] = "SHA512.DLL 0.01";
    std::memcpy(&forged->signature, live, sizeof forged->signature);
    forged->state = &forged->state;
    EXPECT_EQ(GetHashLength(forged), 64) << "a forged record that is right in every respect";

    unsigned char garbage[64];
    std::memset(garbage, 0x5A, sizeof garbage);
    const std::vector<std::pair<const char*, void*>> bad = {{"null", nullptr},
                                                            {"destroyed", destroyed},
                                                            {"unmapped", page.End()},
                                                            {"inside a live record", static_cast<char*>(live) + 8},
                                                            {"garbage", garbage}};
    ASSERT_EQ(DestroyAlgorithm(destroyed), 0);  // last, so that nothing reuses its memory before the checks
    for (const auto& [what, handle] : bad) {
        unsigned char out[64];
        char text[129];
        EXPECT_EQ(InitAlgorithm(handle), 1) << what;
        EXPECT_EQ(InputData(handle, out, 1), 1) << what;
        EXPECT_EQ(GetHash(handle, out, 64), 1) << what;
        EXPECT_EQ(GetHashText(handle, text, 129), 1) << what;
        EXPECT_EQ(GetHashLength(handle), 0) << what;
        EXPECT_EQ(GetHashTextLength(handle), 0) << what;
        EXPECT_EQ(DestroyAlgorithm(handle), 1) << what;
    }

    forged->signature = kEqualText;
    EXPECT_EQ(GetHashLength(forged), 64) << "the signature is compared as text";
    forged->signature = kOtherText;
    EXPECT_EQ(GetHashLength(forged), 0) << "another text";
    forged->signature = reinterpret_cast<const char*>(page.End());
    EXPECT_EQ(GetHashLength(forged), 0) << "unreadable text";
    forged->signature = kEqualText;
    forged->state = nullptr;
    EXPECT_EQ(GetHashLength(forged), 0) << "no state";
    forged->state = &forged->state;
    GuardedPage::Protect(page.base, page.size, Access::Read);
    EXPECT_EQ(GetHashLength(forged), 0) << "read-only record";

    // Right in every respect, but running onto a second page: that page must be writable too.
    GuardedPage::Protect(page.base, 2 * page.size, Access::ReadWrite);
    // Eight bytes on the second page, whatever the size of the record's mutex on this system.
    auto* straddling = new (page.End() - sizeof(ForgedRecord) + 8) ForgedRecord{};
    straddling->signature = kEqualText;
    straddling->state = &straddling->state;
    EXPECT_EQ(GetHashLength(straddling), 64) << "a record across two writable pages";
    GuardedPage::Protect(page.End(), page.size, Access::Read);
    EXPECT_EQ(GetHashLength(straddling), 0) << "a record whose end lies on a read-only page";
    DestroyAlgorithm(live);
}

TEST(Sha512, ThreadsOnSeparateAndSharedHandles) {
    constexpr int kThreads = 4;
    const Bytes chunk = RandomBytes(1000, 7);
    void* shared = CreateAlgorithm();
    std::vector<std::thread> threads;
    std::vector<char> ownDigestRight(kThreads);  // not vector<bool>: its elements share bytes
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const Bytes own = RandomBytes(50000, 100 + t);
            ownDigestRight[t] = DigestInPieces(own, 333) == ReferenceDigest(own);
            for (int i = 0; i < 200; ++i) InputData(shared, chunk.data(), static_cast<int>(chunk.size()));
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(ownDigestRight[t]) << "thread " << t;
    Bytes all;
    for (int i = 0; i < kThreads * 200; ++i) all.insert(all.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(Digest(shared), ReferenceDigest(all));
    DestroyAlgorithm(shared);
}

}  // namespace
