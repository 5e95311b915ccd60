// Digests and Base64, all through OpenSSL: an implementation independent of the program's own.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

std::string Md5Hex(std::string_view bytes);                   // lower-case hexadecimal
std::string Md5HexOfFile(const std::filesystem::path& file);  // streams; throws on read errors

std::string Sha512Base64(std::string_view text);

std::string Base64Encode(std::string_view bytes);
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace mapservice
