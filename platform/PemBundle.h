// The certificates of a PEM bundle (the CA file the program trusts besides the system): each
// "BEGIN CERTIFICATE" block's Base64 body decoded to its DER bytes. The file comes from the
// program folder, where anyone with write access there could change it, so it is read as
// outside input: a block that is not clean Base64 is skipped, never half-decoded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The DER bytes of each well-formed certificate block, in the file's order. Line breaks and
// blanks inside a block are allowed; any other byte outside the Base64 alphabet, padding
// before the end, or a body whose length is not whole Base64 quads drops that block.
std::vector<std::string> PemCertificates(std::string_view pem);

}  // namespace platform
