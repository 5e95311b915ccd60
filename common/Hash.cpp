// MD5 checks of downloaded files (read a block at a time; CR LF lines read as LF), the password digest through
// the bound SHA-512 library, and the hexadecimal and Base64 codecs.
#include "common/Hash.h"

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/Files.h"
#include "platform/Md5.h"

namespace {

static constexpr char kLogSource[] = ".\\Common";

constexpr size_t kMaxHexDigits = 128;
constexpr size_t kSha512InputBytes = 1024;
constexpr int kSha512Bytes = 64;
// A file is hashed in blocks of this size, well inside a core's second-level cache.
constexpr size_t kHashBlockBytes = 128 * 1024;

// Turns every CR LF of the first `length` bytes into LF in place; returns the new length.
size_t ToLfLineEnds(unsigned char* buffer, size_t length) {
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == '\r' && i + 1 < length && buffer[i + 1] == '\n') continue;
        buffer[out++] = buffer[i];
    }
    return out;
}

// Compares a digest with the expected one after the hashing's result `hashed` (0, or 1 when
// the hashing failed): 0 with `equal` set, or 402.
int CompareHashed(int hashed, const unsigned char* actual, const unsigned char* expected, bool* equal) {
    VLOG(LOG_TRACE, "CalcHash戻り値[%d]", hashed);
    if (hashed != 0) {
        VLOG(LOG_ERROR, "CalcHashエラー[%d]", hashed);
        return 402;
    }
    LogDump(expected);
    LogDump(actual);
    *equal = std::memcmp(expected, actual, platform::MD5_LENGTH) == 0;
    if (!*equal) VLOG(LOG_ERROR, "ハッシュチェック異常");
    return 0;
}

// Hashes the buffer and compares with the expected digest; the failure value is 402.
int CompareDigest(const unsigned char* data, unsigned long length, const unsigned char* expected, bool* equal) {
    unsigned char actual[kDigestBufferBytes] = {};
    return CompareHashed(CalcHash(data, length, actual), actual, expected, equal);
}

// The MD5 of a stored file into the first bytes of `digest`, read a block at a time: a block
// that stays in the processor's cache costs only the read, where the whole file in memory
// costs a page fault every 4 KiB and a second trip through memory. 0; 803 when the file cannot
// be read or is empty; 1 when the hashing fails.
int StoredFileMd5(const std::string& path, unsigned char* digest) {
    FILE* file = platform::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        VLOG(LOG_ERROR, "ファイルオープンエラー");
        return 803;
    }
    // Unbuffered: every read goes straight into the block (refused, it only costs a copy).
    (void)setvbuf(file, nullptr, _IONBF, 0);
    std::unique_ptr<unsigned char[]> block(new unsigned char[kHashBlockBytes]);
    platform::Md5Hasher hasher;
    bool hashed = true;
    uint64_t total = 0;
    for (size_t read; (read = fread(block.get(), 1, kHashBlockBytes, file)) > 0; total += read)
        hashed = hasher.Add(block.get(), read);
    const bool failed = ferror(file) != 0;
    // Opened for reading only: closing it cannot lose anything.
    fclose(file);
    if (failed || total == 0) {
        VLOG(LOG_ERROR, "ファイルレングスエラー");
        return 803;
    }
    unsigned char md5[platform::MD5_LENGTH];
    if (!hashed || !hasher.Finish(md5)) return 1;
    std::memcpy(digest, md5, sizeof md5);
    return 0;
}

}  // namespace

int CalcHash(const void* data, unsigned long length, unsigned char* digest) {
    return OPERATION("CalcHash", "", 1, [&] {
        std::memset(digest, 0, kDigestBufferBytes);
        if (data == nullptr || length == 0) {
            VLOG(LOG_ERROR, "データ領域エラー[%p:%lu]", data, length);
            return 1;
        }
        unsigned char md5[platform::MD5_LENGTH];
        if (!platform::Md5(data, length, md5)) return 1;
        std::memcpy(digest, md5, sizeof md5);
        return 0;
    });
}

int HashCheckEx(const std::string& folder, const std::string& fileName, const std::string& expectedHex) {
    return OPERATION("HashCheckEx", Format("[%s][%s]", fileName.c_str(), expectedHex.c_str()), 402, [&] {
        unsigned char expected[kDigestBufferBytes] = {};
        if (HexToBytes(expectedHex, expected, kDigestBufferBytes) != 0) return 402;

        unsigned char actual[kDigestBufferBytes] = {};
        const int hashed = StoredFileMd5(folder + fileName, actual);
        if (hashed == 803) return 803;
        bool equal = false;
        if (CompareHashed(hashed, actual, expected, &equal) != 0) return 402;
        if (equal) return 0;

        // Only a file that fails goes into memory whole, for its LF reading.
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        if (FileRead(folder, fileName, &buffer, &size) != 0) return 803;
        std::unique_ptr<unsigned char, decltype(&std::free)> file(buffer, std::free);
        if (size == 0) return 803;
        // The text may have reached us with CR LF line ends; its digest was made over LF. A file
        // holding a NUL is no such text: it passes on its exact bytes or not at all.
        if (std::memchr(buffer, '\0', size) != nullptr) return 402;
        size_t converted = ToLfLineEnds(buffer, size);
        if (CompareDigest(buffer, converted, expected, &equal) != 0) return 402;
        return equal ? 0 : 402;
    });
}

int Sha512Base64(const std::string& text, std::string* result) {
    return OPERATION("Sha512Base64", "", 402, [&] {
        if (text.size() > kSha512InputBytes) {
            VLOG(LOG_ERROR, "データ長エラー[%zu]", text.size());
            return 402;
        }
        unsigned char input[kSha512InputBytes] = {};
        std::memcpy(input, text.data(), text.size());
        unsigned char hash[256] = {};
        void* handle = theApp.pCreateAlgorithm();
        if (handle == nullptr) throw std::runtime_error("CreateAlgorithm");
        theApp.pInitAlgorithm(handle);
        theApp.pInputData(handle, input, static_cast<int>(text.size()));
        theApp.pGetHash(handle, hash, sizeof hash);
        int hashLength = theApp.pGetHashLength(handle);
        theApp.pDestroyAlgorithm(handle);
        if (hashLength != kSha512Bytes) throw std::runtime_error("GetHashLength");

        // The library keeps each 64-bit word in host order; the digest is big-endian.
        for (int word = 0; word < kSha512Bytes; word += 8) std::reverse(hash + word, hash + word + 8);
        *result = Base64Encode(kSha512Bytes, hash);
        VLOG(LOG_TRACE, "Base64[%s]", result->c_str());
        std::string hex;
        BytesToHex(hash, hashLength, &hex);
        VLOG(LOG_TRACE, "sha512[%s]", hex.c_str());
        return 0;
    }, OnException::LogOnly);
}

int BytesToHex(const unsigned char* bytes, int count, std::string* text) {
    return OPERATION("BytesToHex", "", -1, [&] {
        for (int i = 0; i < count; ++i) *text += Format("%02x", bytes[i]);
        return 0;
    }, OnException::LogOnly);
}

int HexToBytes(const std::string& hex, unsigned char* bytes, int capacity) {
    if (hex.size() > kMaxHexDigits || hex.size() / 2 > static_cast<size_t>(capacity)) {
        VLOG(LOG_ERROR, "データ長エラー[%zu]", hex.size());
        return -1;
    }
    char work[kMaxHexDigits + 1] = {};
    std::transform(hex.begin(), hex.end(), work, [](unsigned char c) { return std::toupper(c); });
    auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c - 0x37; };
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes[i / 2] = static_cast<unsigned char>(nibble(work[i]) << 4 | (nibble(work[i + 1]) & 0x0F));
    return 0;
}

std::string Base64Encode(int count, const unsigned char* bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t length = count == -1 ? std::strlen(reinterpret_cast<const char*>(bytes)) : static_cast<size_t>(count);
    std::string text;
    text.reserve(10 + length * 3 / 2);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        unsigned group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(group >> shift) & 63];
    }
    if (length - i == 1) {
        unsigned group = bytes[i] << 16;
        text += {kAlphabet[group >> 18], kAlphabet[(group >> 12) & 63], '=', '='};
    } else if (length - i == 2) {
        unsigned group = bytes[i] << 16 | bytes[i + 1] << 8;
        text += {kAlphabet[group >> 18], kAlphabet[(group >> 12) & 63], kAlphabet[(group >> 6) & 63], '='};
    }
    return text;
}
