// The real PC's letter table, shared by every thread of the process.
#include "platform/linux/DriveLetters.h"

#include <array>
#include <cctype>
#include <mutex>

namespace platform::linuxpc {
namespace {

std::mutex lettersLock;
std::array<std::string, 26> devices;

// 0-25 for a letter, -1 otherwise.
int Slot(char letter) {
    int upper = std::toupper(static_cast<unsigned char>(letter));
    return upper >= 'A' && upper <= 'Z' ? upper - 'A' : -1;
}

}  // namespace

void SetDriveDevice(char letter, const std::string& deviceNode) {
    int slot = Slot(letter);
    if (slot < 0) return;
    std::lock_guard guard(lettersLock);
    devices[static_cast<size_t>(slot)] = deviceNode;
}

std::optional<std::string> DriveDevice(char letter) {
    int slot = Slot(letter);
    if (slot < 0) return std::nullopt;
    std::lock_guard guard(lettersLock);
    const std::string& node = devices[static_cast<size_t>(slot)];
    if (node.empty()) return std::nullopt;
    return node;
}

}  // namespace platform::linuxpc
