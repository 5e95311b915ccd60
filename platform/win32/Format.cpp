// On Windows the shell formats: SHFormatDrive shows its own dialog, which asks the user and
// formats the volume, so the Win32 front end's format dialog is this call.
#include "platform/Format.h"

#include <cctype>

#include "platform/win32/Windows.h"
#include <shlobj.h>

namespace platform {

bool FormatDrive(char letter) {
    const int upper = std::toupper(static_cast<unsigned char>(letter));
    if (upper < 'A' || upper > 'Z') return false;
    const DWORD result = ::SHFormatDrive(::GetActiveWindow(), static_cast<UINT>(upper - 'A'), SHFMT_ID_DEFAULT, 0);
    return result != SHFMT_ERROR && result != SHFMT_CANCEL && result != SHFMT_NOFORMAT;
}

}  // namespace platform
