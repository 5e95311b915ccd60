// MD5, SHA-512 and Base64 through OpenSSL's EVP calls.
#include "Digest.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace mapservice {
namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char* bytes, unsigned length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

// Runs the bytes that `feed` hands to its callback through one MD5 context.
template <class Feed>
std::string Md5With(Feed feed) {
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 unavailable");
    feed([&](const void* data, std::size_t length) {
        if (EVP_DigestUpdate(context.get(), data, length) != 1) throw std::runtime_error("MD5 update failed");
    });
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) throw std::runtime_error("MD5 final failed");
    return Hex(digest, length);
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
    return Md5With([&](auto update) { update(bytes.data(), bytes.size()); });
}

std::string Md5HexOfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    return Md5With([&](auto update) {
        std::vector<char> buffer(1 << 16);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
            update(buffer.data(), static_cast<std::size_t>(in.gcount()));
        if (in.bad()) throw std::runtime_error("cannot read " + file.string());
    });
}

std::string Sha512Base64(std::string_view text) {
    unsigned char digest[SHA512_DIGEST_LENGTH];
    SHA512(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string Base64Encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out(text.size() / 4 * 3 + 1, '\0');
    int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    out.resize(static_cast<std::size_t>(length) - padding);
    return out;
}

}  // namespace mapservice
