// Formatting a drive of the PC in use (platform/posix/MachineSource.h).
#include "platform/Format.h"

#include <cctype>

#include "platform/posix/MachineSource.h"

namespace platform {

uint32_t FormatDrive(char letter, void*) {
    return CurrentMachine().FormatDrive(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

}  // namespace platform
