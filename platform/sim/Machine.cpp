// machine.ini read, cached and watched for changes, its drives, volumes and units looked up, and
// changes to it written atomically.
#include "platform/sim/Machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Profile.h"
#include "platform/UnitModel.h"
#include "platform/Volumes.h"

namespace platform {
namespace {

std::mutex machineLock;

// machine.ini as last read, reread only when the file changes: every path with a drive letter
// is mapped through it, and letters may come and go while the program runs.
struct CachedMachine {
    std::string path;
    struct timespec modified {};
    off_t size = -1;
    ino_t inode = 0;  // a rewrite renames a new file over the old one: a new inode
    ProfileDocument doc;
};
CachedMachine cached;

// The watch behind MachineGeneration. The folder is watched, not the file: machine.ini is
// rewritten by renaming a new file over it.
struct MachineWatch {
    std::string folder;
    int fd = -1;
    uint64_t generation = 0;
};
MachineWatch watch;

constexpr uint32_t kWatchedEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

void CloseWatch() {
    if (watch.fd >= 0) ::close(watch.fd);
    watch.fd = -1;
}

// Takes the pending events; true when one may concern machine.ini. A lost watch (the folder
// deleted or moved) or an overflowing queue counts as a change, and a lost watch is closed.
bool DrainWatch() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t length = ::read(watch.fd, buffer, sizeof buffer);
        if (length <= 0) return changed;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                changed = true;
                if (event->mask & IN_IGNORED) {
                    CloseWatch();
                    return true;
                }
            } else if (event->len > 0 && std::strcmp(event->name, "machine.ini") == 0) {
                changed = true;
            }
        }
    }
}

std::string Value(const ProfileDocument& doc, const std::string& section, const char* key) {
    return doc.Get(section, key).value_or("");
}

std::string DriveFolderFrom(const ProfileDocument& doc, char letter) {
    std::string section = std::string("Drive ") + letter;
    std::string folder = Value(doc, section, "Folder");
    if (folder.empty()) {
        auto volume = DriveVolume(doc, letter);
        if (!volume) return {};
        folder = volume->folder;
    }
    if (folder.empty()) return {};
    std::string path = MachinePath(folder);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string MachinePath(const std::string& value) {
    if (value.empty() || value[0] == '/') return value;
    return MachineFolder() + "/" + value;
}

ProfileDocument MachineDescription() {
    std::string path = MachineIniPath();
    struct stat st {};
    bool present = ::stat(path.c_str(), &st) == 0;
    std::lock_guard guard(machineLock);
    if (!present) {
        cached = CachedMachine{};
        return {};
    }
    if (cached.path != path || cached.size != st.st_size || cached.inode != st.st_ino ||
        cached.modified.tv_sec != st.st_mtim.tv_sec || cached.modified.tv_nsec != st.st_mtim.tv_nsec) {
        cached.path = path;
        cached.size = st.st_size;
        cached.inode = st.st_ino;
        cached.modified = st.st_mtim;
        cached.doc = ProfileDocument::Load(path);
    }
    return cached.doc;
}

uint64_t MachineGeneration() {
    const std::string folder = MachineFolder();
    std::lock_guard guard(machineLock);
    if (watch.fd < 0 || watch.folder != folder) {
        // A new watch knows nothing of what happened before it: that is a change, and without
        // a watch (no folder yet) every call is one.
        CloseWatch();
        watch.folder = folder;
        watch.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch.fd >= 0 && ::inotify_add_watch(watch.fd, folder.c_str(), kWatchedEvents) < 0) CloseWatch();
        return ++watch.generation;
    }
    if (DrainWatch()) ++watch.generation;
    return watch.generation;
}

bool ModifyMachine(const std::function<bool(ProfileDocument&)>& change) {
    return ModifyMachineFile("machine.ini", change);
}

bool ModifyMachineFile(const std::string& fileName, const std::function<bool(ProfileDocument&)>& change) {
    std::string folder = MachineFolder();
    ::mkdir(folder.c_str(), 0755);
    int lock = ::open((folder + "/machine.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) return false;
    ::flock(lock, LOCK_EX);
    const std::string path = folder + "/" + fileName;
    ProfileDocument doc = ProfileDocument::Load(path);
    bool saved = change(doc) && doc.Save(path);
    ::close(lock);
    return saved;
}

void RemoveUnit(ProfileDocument& doc, const std::string& unit) {
    for (const VolumeEntry& volume : MachineVolumes(doc)) {
        if (volume.unit != unit) continue;
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            if (Value(doc, std::string("Drive ") + letter, "Volume") == volume.id)
                doc.RemoveSection(std::string("Drive ") + letter);
        doc.RemoveSection("Volume " + volume.id);
    }
    for (const std::string& section : doc.Sections())
        if (section.rfind("Device ", 0) == 0 && Value(doc, section, "Unit") == unit) doc.RemoveSection(section);
    doc.Set("Unit " + unit, "Plugged", "0");
}

std::vector<VolumeEntry> MachineVolumes(const ProfileDocument& doc) {
    std::vector<VolumeEntry> volumes;
    for (const std::string& section : doc.Sections()) {
        if (section.rfind("Volume ", 0) != 0) continue;
        if (auto volume = FindVolume(doc, section.substr(7))) volumes.push_back(*volume);
    }
    return volumes;
}

std::optional<VolumeEntry> FindVolume(const ProfileDocument& doc, const std::string& id) {
    std::string section = "Volume " + id;
    std::string guid = Value(doc, section, "Guid");
    if (id.empty() || guid.empty()) return std::nullopt;
    VolumeEntry volume;
    volume.id = id;
    volume.guidPath = guid;
    volume.folder = MachinePath(Value(doc, section, "Folder"));
    volume.image = MachinePath(Value(doc, section, "Image"));
    volume.driveType = static_cast<uint32_t>(std::strtoul(Value(doc, section, "Type").c_str(), nullptr, 0));
    volume.label = Value(doc, section, "Label");
    volume.unit = Value(doc, section, "Unit");
    volume.device = Value(doc, section, "Device");
    return volume;
}

std::optional<VolumeEntry> DriveVolume(const ProfileDocument& doc, char letter) {
    return FindVolume(doc, Value(doc, std::string("Drive ") + letter, "Volume"));
}

std::optional<uint32_t> DeviceDisk(const ProfileDocument& doc, const std::string& deviceId) {
    std::string disk = deviceId.empty() ? std::string() : Value(doc, "Device " + deviceId, "Disk");
    if (disk.empty()) return std::nullopt;
    return static_cast<uint32_t>(std::strtoul(disk.c_str(), nullptr, 0));
}

std::optional<uint32_t> DeviceSectorSize(const ProfileDocument& doc, const std::string& deviceId) {
    std::string text = deviceId.empty() ? std::string() : Value(doc, "Device " + deviceId, "SectorSize");
    if (text == "untold") return std::nullopt;
    const unsigned long size = std::strtoul(text.c_str(), nullptr, 0);
    return SectorSizeValid(size) ? static_cast<uint32_t>(size) : kDefaultSectorSize;
}

uint32_t DeviceBusType(const ProfileDocument& doc, const std::string& deviceId) {
    static constexpr std::pair<const char*, uint32_t> kBuses[] = {
        {"USB", BusTypeUsb}, {"SD", BusTypeSd},     {"MMC", BusTypeMmc},   {"SATA", BusTypeSata},
        {"ATA", BusTypeAta}, {"SCSI", BusTypeScsi}, {"NVME", BusTypeNvme},
    };
    std::string bus = deviceId.empty() ? std::string() : Value(doc, "Device " + deviceId, "Bus");
    for (char& c : bus) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& [name, type] : kBuses)
        if (bus == name) return type;
    return BusTypeUnknown;
}

bool BootSignatureValid(const std::string& imagePath) {
    int fd = ::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char signature[2] = {};
    bool read = ::pread(fd, signature, 2, kBootSignatureOffset) == 2;
    ::close(fd);
    return read && signature[0] == 0x55 && signature[1] == 0xAA;
}

std::optional<std::string> DriveFolder(char letter) {
    std::string folder = DriveFolderFrom(MachineDescription(), letter);
    if (folder.empty()) return std::nullopt;
    return folder;
}

std::optional<uint64_t> DriveFreeBytes(char letter) {
    std::string value = Value(MachineDescription(), std::string("Drive ") + letter, "FreeBytes");
    if (value.empty()) return std::nullopt;
    return std::strtoull(value.c_str(), nullptr, 10);
}

bool DriveFormatted(char letter) {
    auto volume = DriveVolume(MachineDescription(), letter);
    return !volume || volume->image.empty() || BootSignatureValid(volume->image);
}

bool DriveLocked(char letter) {
    auto volume = DriveVolume(MachineDescription(), letter);
    if (!volume || volume->image.empty()) return false;
    // Every raw handle holds a shared flock on the image, the locking one an exclusive flock.
    int fd = ::open(volume->image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

std::optional<std::pair<char, std::string>> DriveOfNativePath(const std::string& nativePath) {
    ProfileDocument doc = MachineDescription();
    std::optional<std::pair<char, std::string>> best;
    for (char letter = 'A'; letter < 'Z'; ++letter) {
        std::string folder = DriveFolderFrom(doc, letter);
        if (folder.empty() || folder == "/") continue;
        bool inside = nativePath == folder ||
                      (nativePath.compare(0, folder.size(), folder) == 0 && nativePath[folder.size()] == '/');
        if (inside && (!best || folder.size() > best->second.size())) best = std::make_pair(letter, folder);
    }
    return best;
}

}  // namespace platform
