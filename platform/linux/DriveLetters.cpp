// The real PC's letter table, shared by every thread of the process.
#include "platform/linux/DriveLetters.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace platform::linuxpc {
namespace {

struct Letter {
    std::string node;
    std::string uuid;        // empty for a letter given to a device node directly
    std::string folderNode;  // the test hook's stand-in for the folder; empty: the node's own
};

constexpr int kFirstFree = 'D' - 'A';
constexpr int kRoot = 'Z' - 'A';

std::mutex lettersLock;
std::array<Letter, 26> letters;

// 0-25 for a letter, -1 otherwise.
int Slot(char letter) {
    int upper = std::toupper(static_cast<unsigned char>(letter));
    return upper >= 'A' && upper <= 'Z' ? upper - 'A' : -1;
}

// The test hooks for a test that runs the program as a process of its own:
// $VELTRANE_TEST_LETTERS ("E=/dev/loop3", or "E=/dev/loop3:/dev/loop4" with the folder's
// stand-in) gives letters as SetDriveDevice and SetDriveFolderDevice do, before the table's
// first use. Unset on a user's PC.
bool LoadTestLetters() {
    const char* given = std::getenv("VELTRANE_TEST_LETTERS");
    if (given == nullptr) return false;
    std::string_view text = given;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.size() < 3 || item[1] != '=' || Slot(item[0]) < 0) continue;
        const std::string_view nodes = item.substr(2);
        const size_t colon = nodes.find(':');
        Letter& letter = letters[static_cast<size_t>(Slot(item[0]))];
        letter.node = nodes.substr(0, colon);
        if (colon != std::string_view::npos) letter.folderNode = nodes.substr(colon + 1);
    }
    return true;
}
[[maybe_unused]] const bool testLettersLoaded = LoadTestLetters();

}  // namespace

void SetDriveDevice(char letter, const std::string& deviceNode) {
    int slot = Slot(letter);
    if (slot < 0) return;
    std::lock_guard guard(lettersLock);
    letters[static_cast<size_t>(slot)] = Letter{deviceNode, {}, {}};
}

char LetterForVolume(const std::string& uuid, const std::string& deviceNode) {
    std::lock_guard guard(lettersLock);
    // A letter whose file system was replaced on this node goes on with the new one; so does a
    // letter whose file system is gone from it (an image write cut off), as on Windows.
    for (size_t slot = 0; slot < letters.size(); ++slot) {
        if (letters[slot].node != deviceNode || (!letters[slot].uuid.empty() && !uuid.empty())) continue;
        letters[slot].uuid = uuid;
        return static_cast<char>('A' + slot);
    }
    // The node now holds this file system: a letter kept for another one that was there
    // stands for nothing until that one comes back.
    for (Letter& letter : letters)
        if (letter.node == deviceNode && letter.uuid != uuid) letter.node.clear();
    for (size_t slot = 0; slot < letters.size(); ++slot) {
        if (uuid.empty() || letters[slot].uuid != uuid) continue;
        letters[slot].node = deviceNode;
        return static_cast<char>('A' + slot);
    }
    for (int slot = kFirstFree; slot < kRoot; ++slot) {
        Letter& letter = letters[static_cast<size_t>(slot)];
        if (!letter.node.empty() || !letter.uuid.empty()) continue;
        letter = Letter{deviceNode, uuid, {}};
        return static_cast<char>('A' + slot);
    }
    return 0;
}

void ReleaseVolumeIdentity(char letter) {
    int slot = Slot(letter);
    if (slot < 0) return;
    std::lock_guard guard(lettersLock);
    letters[static_cast<size_t>(slot)].uuid.clear();
}

void SetDriveFolderDevice(char letter, const std::string& folderNode) {
    int slot = Slot(letter);
    if (slot < 0) return;
    std::lock_guard guard(lettersLock);
    letters[static_cast<size_t>(slot)].folderNode = folderNode;
}

std::optional<std::string> DriveFolderDevice(char letter) {
    int slot = Slot(letter);
    if (slot < 0) return std::nullopt;
    std::lock_guard guard(lettersLock);
    const Letter& given = letters[static_cast<size_t>(slot)];
    if (given.node.empty()) return std::nullopt;
    return given.folderNode.empty() ? given.node : given.folderNode;
}

std::optional<std::string> DriveDevice(char letter) {
    int slot = Slot(letter);
    if (slot < 0) return std::nullopt;
    std::lock_guard guard(lettersLock);
    const std::string& node = letters[static_cast<size_t>(slot)].node;
    if (node.empty()) return std::nullopt;
    return node;
}

std::vector<std::pair<char, std::string>> LetteredDevices() {
    std::vector<std::pair<char, std::string>> given;
    std::lock_guard guard(lettersLock);
    for (size_t slot = 0; slot < letters.size(); ++slot)
        if (!letters[slot].node.empty()) given.emplace_back(static_cast<char>('A' + slot), letters[slot].node);
    return given;
}

}  // namespace platform::linuxpc
