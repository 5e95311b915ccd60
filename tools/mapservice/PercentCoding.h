// The percent-encoding the web-service calls carry their XML in, both ways.
#pragma once

#include <string>
#include <string_view>

namespace mapservice {

// Letters, digits, "@", "*", "-", ".", "_" stay; a space becomes "+"; every other byte
// becomes "%" and two upper-case hexadecimal digits (the client decodes no lower case).
std::string PercentEncode(std::string_view bytes);

// "%" and two hexadecimal digits (either case) become one byte, "+" a space unless
// `plusIsSpace` is false; an incomplete or invalid escape is kept as it stands.
std::string PercentDecode(std::string_view text, bool plusIsSpace = true);

}  // namespace mapservice
