// The calling thread's last error, as Windows keeps it. Platform operations set it on failure
// with the Windows error numbers the program logs.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_INVALID_DATA = 13;
constexpr uint32_t ERROR_NO_MORE_FILES = 18;
constexpr uint32_t ERROR_NOT_READY = 21;
constexpr uint32_t ERROR_SECTOR_NOT_FOUND = 27;
constexpr uint32_t ERROR_WRITE_FAULT = 29;
constexpr uint32_t ERROR_READ_FAULT = 30;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
constexpr uint32_t ERROR_HANDLE_DISK_FULL = 39;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_NEGATIVE_SEEK = 131;
constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
constexpr uint32_t ERROR_NOT_LOCKED = 158;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
// The system refused the authorisation the call needs (Linux: polkit said no, or nobody could be
// asked because no polkit agent runs), as Windows answers a refused elevation.
constexpr uint32_t ERROR_ELEVATION_REQUIRED = 740;
constexpr uint32_t ERROR_UNRECOGNIZED_VOLUME = 1005;
constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr uint32_t ERROR_NOT_FOUND = 1168;

uint32_t GetLastError();
void SetLastError(uint32_t code);
// The Windows error number for an errno value.
uint32_t ErrorFromErrno(int err);
// Calls on a missing disk or a file that cannot be opened fail with their error instead of
// raising the system's blocking "no disk" box (Windows; nothing to do elsewhere).
void FailCriticalErrorsQuietly();

}  // namespace platform
