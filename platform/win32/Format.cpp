// On Windows the shell formats: SHFormatDrive shows its own dialog, which asks the user and
// formats the volume. Every front end's format ends in this one call.
#include "platform/Format.h"

#include <cctype>

#include "platform/win32/Windows.h"
#include <shlobj.h>

namespace platform {

uint32_t FormatDrive(char letter, void* owner) {
    const int upper = std::toupper(static_cast<unsigned char>(letter));
    // From here SHFMT_* are the shell header's macros, whose values the program's constants share.
    if (upper < 'A' || upper > 'Z') return static_cast<uint32_t>(SHFMT_ERROR);
    // SHFMT_OPT_FULL, despite its name, selects Quick Format in the dialog (Microsoft's
    // SHFormatDrive page); the user unticks it for a full format.
    const DWORD result =
        ::SHFormatDrive(static_cast<HWND>(owner), static_cast<UINT>(upper - 'A'), SHFMT_ID_DEFAULT, SHFMT_OPT_FULL);
    if (result == static_cast<DWORD>(SHFMT_CANCEL)) return static_cast<uint32_t>(SHFMT_CANCEL);
    // Nothing formatted (SHFMT_NOFORMAT) is a failure to the program as much as SHFMT_ERROR.
    if (result == static_cast<DWORD>(SHFMT_ERROR) || result == static_cast<DWORD>(SHFMT_NOFORMAT))
        return static_cast<uint32_t>(SHFMT_ERROR);
    return 0;
}

}  // namespace platform
