// Reading /proc/self/mountinfo: one line a mount, "id parent major:minor root mountpoint ...",
// with blanks and backslashes in paths written as octal escapes.
#include "platform/linux/Mounts.h"

#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

namespace platform::linuxpc {
namespace {

// "\040" back to a blank, and so on for every three-digit octal escape.
std::string Unescaped(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                text += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return text;
}

}  // namespace

std::vector<std::string> MountPointsOf(dev_t device) {
    std::vector<std::string> points;
    std::ifstream in("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point;
        if (!(fields >> id >> parent >> numbers >> root >> point)) continue;
        if (numbers == wanted) points.push_back(Unescaped(point));
    }
    return points;
}

}  // namespace platform::linuxpc
