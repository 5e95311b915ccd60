// Percent-coding of the web-service bodies and header values.
#pragma once

#include <string>

// CP932 text to UTF-8, then every byte but "@", letters, digits and "*-._" as "%XX" (upper
// case), a space as "+". Text that is not CP932 is left as it is.
void URLEncodeUTF8(std::string* text);
// "+" to a space and "%XX" to its byte; other bytes stay.
void URLDecode(std::string* text);
