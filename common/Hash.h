// Digest services: MD5 verification of downloaded files, the SHA-512 password digest of the
// web-service header, and the hexadecimal and Base64 codecs around them.
#pragma once

#include <string>

// Digest buffers are this long, zero-filled; MD5 fills the first 16 bytes.
constexpr int kDigestBufferBytes = 32;

// MD5 of `length` bytes into the 32-byte `digest`: 0, or 1 with the digest zeroed.
int CalcHash(const void* data, unsigned long length, unsigned char* digest);
// 0 when the file's MD5 equals `expectedHex`, 803 when the file is unreadable or empty,
// 402 on a mismatch or a digest failure.
int HashCheckEx(const std::string& folder, const std::string& fileName, const std::string& expectedHex);
// Base64 of the SHA-512 digest of `text` (at most 1,024 bytes): 0, or 402.
int Sha512Base64(const std::string& text, std::string* result);

// True for an MD5 as hexadecimal text: exactly 32 digits, in either case.
bool IsMd5Hex(const std::string& text);
// Appends two lower-case digits per byte: 0, or -1.
int BytesToHex(const unsigned char* bytes, int count, std::string* text);
// One byte per two digits of at most 128 characters, into `bytes` of `capacity` bytes: 0, or
// -1 (nothing written) when the text is longer, would not fit, or holds a character that is no
// hexadecimal digit.
int HexToBytes(const std::string& hex, unsigned char* bytes, int capacity);
// Standard Base64 with padding, no line breaks. A count of -1 takes `bytes` as a NUL-terminated text.
std::string Base64Encode(int count, const unsigned char* bytes);
