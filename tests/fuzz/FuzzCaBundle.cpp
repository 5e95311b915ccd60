// The CA bundle reader: any bytes as the PEM file. Every certificate it gives is non-empty,
// there are no more of them than blocks begun, and each one written back as a PEM block of
// its own reads back as exactly its bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Hash.h"
#include "platform/PemBundle.h"

namespace {

size_t Count(std::string_view text, std::string_view what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view pem(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> certificates = platform::PemCertificates(pem);
    if (certificates.size() > Count(pem, "-----BEGIN CERTIFICATE-----")) abort();
    for (const std::string& der : certificates) {
        if (der.empty()) abort();
        const std::string block =
            "-----BEGIN CERTIFICATE-----\n" +
            Base64Encode(static_cast<int>(der.size()), reinterpret_cast<const unsigned char*>(der.data())) +
            "\n-----END CERTIFICATE-----\n";
        const std::vector<std::string> again = platform::PemCertificates(block);
        if (again.size() != 1 || again[0] != der) abort();
    }
    return 0;
}
