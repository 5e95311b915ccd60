// Formatting a drive, run when the user confirms the format dialog (View::FormatDrive): a fresh
// boot sector and an empty file system. On Windows the shell's own dialog asks and formats.
#pragma once

#include <cstdint>

namespace platform {

// The shell's results besides 0 (formatted).
constexpr uint32_t SHFMT_ERROR = 0xFFFFFFFF;
constexpr uint32_t SHFMT_CANCEL = 0xFFFFFFFE;

// 0 when formatted; SHFMT_CANCEL when the user closed the shell's dialog without formatting;
// SHFMT_ERROR when the drive has no raw volume, another handle holds it, or the format failed.
// owner is the window the shell's dialog belongs to (a window handle on Windows; the simulated
// machine formats without asking, its front ends having asked already).
[[nodiscard]] uint32_t FormatDrive(char letter, void* owner = nullptr);

}  // namespace platform
