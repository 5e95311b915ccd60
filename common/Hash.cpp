// MD5 checks of downloaded files (with their CR LF lines read as LF), the password digest through
// the bound SHA-512 library, and the hexadecimal and Base64 codecs.
#include "common/Hash.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "state/Results.h"
#include "state/VeltraneApp.h"
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

// A file is hashed in pieces of this size, well inside a core's second-level cache: a piece
// that stays in the cache costs only its read.
constexpr size_t kHashPieceBytes = 128 * 1024;

struct CloseFile {
    void operator()(FILE* file) const { fclose(file); }
};

// What one pass over a file found beside its digest.
struct FileFacts {
    uint64_t length = 0;
    bool holdsNul = false;
};

// The MD5 of a file read piece by piece, however large it is: of its exact bytes, or with every
// CR LF read as LF. kFileReadFailed when the file cannot be opened or read, kDigestFailed when the crypto service
// fails.
int DigestFile(const std::string& path, bool crLfAsLf, unsigned char (&digest)[platform::MD5_LENGTH],
               FileFacts* facts) {
    std::unique_ptr<FILE, CloseFile> file(platform::fopen(path.c_str(), "rb"));
    if (!file) {
        VLOG(LOG_ERROR, "ファイルオープンエラー");
        return kFileReadFailed;
    }
    // Unbuffered: every read goes straight into the piece (refused, it only costs a copy).
    static_cast<void>(setvbuf(file.get(), nullptr, _IONBF, 0));
    platform::Md5Context md5;
    std::vector<unsigned char> piece(kHashPieceBytes);
    std::vector<unsigned char> converted(crLfAsLf ? kHashPieceBytes + 1 : 0);
    bool pendingCr = false;  // a CR that ended the previous piece
    for (size_t count; (count = fread(piece.data(), 1, piece.size(), file.get())) != 0;) {
        facts->length += count;
        facts->holdsNul = facts->holdsNul || std::memchr(piece.data(), '\0', count) != nullptr;
        if (!crLfAsLf) {
            if (!md5.Update(piece.data(), count)) return kDigestFailed;
            continue;
        }
        size_t out = 0;
        for (size_t i = 0; i < count; ++i) {
            if (pendingCr && piece[i] != '\n') converted[out++] = '\r';
            pendingCr = piece[i] == '\r';
            if (!pendingCr) converted[out++] = piece[i];
        }
        if (!md5.Update(converted.data(), out)) return kDigestFailed;
    }
    if (ferror(file.get())) {
        VLOG(LOG_ERROR, "ファイルレングスエラー");
        return kFileReadFailed;
    }
    if (pendingCr && !md5.Update("\r", 1)) return kDigestFailed;
    return md5.Finish(digest) ? 0 : kDigestFailed;
}

// Compares a digest made with the expected one, with both in the log.
bool SameDigest(const unsigned char* expected, const unsigned char* actual) {
    LogDump(expected);
    LogDump(actual);
    bool equal = std::memcmp(expected, actual, platform::MD5_LENGTH) == 0;
    if (!equal) VLOG(LOG_ERROR, "ハッシュチェック異常");
    return equal;
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
    return OPERATION("HashCheckEx", Format("[%s][%s]", fileName.c_str(), expectedHex.c_str()), kDigestFailed, [&] {
        // Only a whole MD5 is a digest: short text would leave bytes of zeros to compare.
        unsigned char expected[kDigestBufferBytes] = {};
        if (!IsMd5Hex(expectedHex) || HexToBytes(expectedHex, expected, kDigestBufferBytes) != 0) {
            VLOG(LOG_ERROR, "ハッシュ値エラー[%s]", expectedHex.c_str());
            return kDigestFailed;
        }

        unsigned char digest[platform::MD5_LENGTH] = {};
        FileFacts facts;
        if (int result = DigestFile(folder + fileName, false, digest, &facts); result != 0) return result;
        if (facts.length == 0) return kFileReadFailed;
        if (SameDigest(expected, digest)) return 0;
        // The text may have reached us with CR LF line ends; its digest was made over LF. A file
        // holding a NUL is no such text: it passes on its exact bytes or not at all.
        if (facts.holdsNul) return kDigestFailed;
        FileFacts asText;
        if (int result = DigestFile(folder + fileName, true, digest, &asText); result != 0) return result;
        return SameDigest(expected, digest) ? 0 : kDigestFailed;
    });
}

int Sha512Base64(const std::string& text, std::string* result) {
    return OPERATION("Sha512Base64", "", kDigestFailed, OnException::LogOnly, [&] {
        if (text.size() > kSha512InputBytes) {
            VLOG(LOG_ERROR, "データ長エラー[%zu]", text.size());
            return kDigestFailed;
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
    });
}

int BytesToHex(const unsigned char* bytes, int count, std::string* text) {
    return OPERATION("BytesToHex", "", -1, OnException::LogOnly, [&] {
        for (int i = 0; i < count; ++i) *text += Format("%02x", bytes[i]);
        return 0;
    });
}

bool IsMd5Hex(const std::string& text) {
    return text.size() == 2 * platform::MD5_LENGTH &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

int HexToBytes(const std::string& hex, unsigned char* bytes, int capacity) {
    if (hex.size() > kMaxHexDigits || hex.size() / 2 > static_cast<size_t>(capacity)) {
        VLOG(LOG_ERROR, "データ長エラー[%zu]", hex.size());
        return -1;
    }
    // Any other character would become some nibble.
    if (!std::all_of(hex.begin(), hex.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        VLOG(LOG_ERROR, "16進数エラー");
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
