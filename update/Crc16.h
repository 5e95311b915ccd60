// CRC-16/X-25 (the HDLC frame check sequence): reflected polynomial 0x8408, initial value
// 0xFFFF, final XOR 0xFFFF. "123456789" gives 0x906E.
#pragma once

#include <cstddef>
#include <cstdint>

uint16_t Crc16(const unsigned char* data, size_t length);

// 0 when the CRC-16 of `length` bytes equals `expected`, 507 otherwise.
int CrcCheck(unsigned long length, const unsigned char* buffer, uint16_t expected);
