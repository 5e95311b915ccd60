// The shell's format operation, run when the user confirms the format dialog
// (View::FormatDrive): a fresh boot sector and an empty file system.
#pragma once

namespace platform {

// False when the drive has no raw volume or another handle holds the volume open.
bool FormatDrive(char letter);

}  // namespace platform
