// CRC-16/X-25 (the HDLC frame check sequence): reflected polynomial 0x8408, initial value
// 0xFFFF, final XOR 0xFFFF. "123456789" gives 0x906E.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of `length` bytes following a part whose CRC is `before` (0, the CRC of nothing, for
// a message's start): a file's CRC can be taken a block at a time.
uint16_t Crc16(const unsigned char* data, size_t length, uint16_t before = 0);

// 0 when the CRC-16 of `length` bytes equals `expected`, 507 otherwise.
[[nodiscard]] int CrcCheck(unsigned long length, const unsigned char* buffer, uint16_t expected);
