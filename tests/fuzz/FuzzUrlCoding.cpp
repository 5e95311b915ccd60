// Percent-coding: decoding never reads past the text, and decoding what was encoded gives
// the text's UTF-8 back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/UrlCoding.h"
#include "platform/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string decoded = input;
    URLDecode(&decoded);
    if (decoded.size() > input.size()) abort();

    std::optional<std::string> utf8 = platform::Cp932ToUtf8(input);
    if (!utf8) return 0;
    std::string encoded = input;
    URLEncodeUTF8(&encoded);
    URLDecode(&encoded);
    if (encoded != *utf8) abort();
    return 0;
}
