// The simulated machine's operations on machine.ini and the unit folders: units created, plugged
// and pulled, the unit's firmware at power-up, drives, devices, processes and faults, and the
// check of a unit's volume against an image.
#include "NaviSim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "Encipher.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/UnitModel.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Removal.h"

namespace navisim {
namespace fs = std::filesystem;
using platform::ProfileDocument;

namespace {

using platform::kBootSignatureOffset;
constexpr platform::UnitModel kModel = platform::kNaviUnitModel;
constexpr uint64_t kSector = kModel.sectorSize;
constexpr uint64_t kBackupBootSector = kModel.bootSectorOffsets[1];
constexpr uint32_t kRemovable = 2;
constexpr uint32_t kFixed = 3;
constexpr uint32_t kCdRom = 5;
constexpr char kDefaultVersionName[] = "2010年春版";
constexpr char kDefaultLabel[] = "リムーバブル ディスク";

std::string Format(const char* format, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string UnitSection(const std::string& unit) { return "Unit " + unit; }
std::string DriveSection(char letter) { return std::string("Drive ") + letter; }

// A change that has nothing to do leaves machine.ini alone; one that cannot be saved throws.
void Modify(const std::function<bool(ProfileDocument&)>& change) {
    bool changed = false;
    bool saved = platform::ModifyMachine([&](ProfileDocument& doc) { return changed = change(doc); });
    if (changed && !saved) throw std::runtime_error("machine.ini could not be written in " + platform::MachineFolder());
}

std::string Required(const ProfileDocument& doc, const std::string& section, const char* key) {
    auto value = doc.Get(section, key);
    if (!value) throw std::invalid_argument("no " + section + " on the machine");
    return *value;
}

std::string Cp932(const std::string& utf8) {
    auto text = platform::Utf8ToCp932(utf8);
    if (!text) throw std::invalid_argument("not representable in CP932: " + utf8);
    return *text;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string NewGuidPath() {
    std::random_device random;
    std::mt19937_64 bits((static_cast<uint64_t>(random()) << 32) ^ random());
    uint64_t a = bits(), b = bits();
    char text[64];
    std::snprintf(text, sizeof text, "\\\\?\\Volume{%08x-%04x-%04x-%04x-%012llx}\\", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                  static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
}

// "CURRVER" in 12 bytes, the 9-character version, 11 NULs: the layout the program reads at
// offset 12, enciphered for DecodeEx.
std::string CurrverFile(const std::string& version) {
    if (version.size() != 9) throw std::invalid_argument("a version has 9 characters (YYYY.MMDD): " + version);
    std::string plain = std::string("CURRVER").append(5, '\0') + version + std::string(11, '\0');
    veltrane::decode::DesBlock iv = {0x56, 0x54, 0x4E, 0x41, 0x56, 0x49, 0x30, 0x31};
    auto cipher =
        veltrane::decode::EncipherEx(std::span(reinterpret_cast<const unsigned char*>(plain.data()), plain.size()), iv);
    return std::string(cipher.begin(), cipher.end());
}

// The version name in bytes 36-47, NUL-padded.
std::string MapVerFile(const std::string& versionName) {
    std::string name = Cp932(versionName);
    if (name.size() > 12) throw std::invalid_argument("a version name has at most 12 bytes: " + versionName);
    std::string file(64, '\0');
    file.replace(0, 12, "VELTRANE MAP");
    file.replace(36, name.size(), name);
    return file;
}

std::string BootSector() {
    std::string sector(kSector, '\0');
    sector.replace(0, 11, "\xEB\x58\x90VELTRANE");
    sector[kBootSignatureOffset] = '\x55';
    sector[kBootSignatureOffset + 1] = '\xAA';
    return sector;
}

fs::path UnitFolder(const std::string& unit) {
    auto folder = platform::MachineDescription().Get(UnitSection(unit), "Folder");
    if (!folder) throw std::invalid_argument("no unit " + unit + " on the machine");
    return platform::MachinePath(*folder);
}

fs::path Identity(const std::string& unit) { return UnitFolder(unit) / "identity"; }

bool SignatureAt(const std::string& volume, uint64_t sectorOffset) {
    return volume.size() >= sectorOffset + kSector &&
           static_cast<unsigned char>(volume[sectorOffset + kBootSignatureOffset]) == 0x55 &&
           static_cast<unsigned char>(volume[sectorOffset + kBootSignatureOffset + 1]) == 0xAA;
}

// The unit's firmware at power-up.
void RunFirmware(const std::string& unit) {
    fs::path files = UnitFiles(unit);
    fs::path verinfo = files / "UPDATE" / "RENEWAL" / "VERINFO.DAT";
    fs::path cancel = files / "UPDATE" / "NAVIINFO" / "CANCEL.FLG";
    std::string volume = ReadBytes(UnitImage(unit));
    if (!SignatureAt(volume, 0)) return;  // an unformatted volume holds no files to re-create
    // VERINFO.DAT has CURRVER.DAT's layout under the same cipher: the update's version as it is.
    if (fs::exists(verinfo) && !fs::exists(cancel))
        fs::copy_file(verinfo, Identity(unit) / "CURRVER.DAT", fs::copy_options::overwrite_existing);
    fs::create_directories(files / "UPDATE" / "NAVIINFO");
    fs::create_directories(files / "MAP");
    fs::copy_file(Identity(unit) / "DEVICE.DAT", files / "UPDATE" / "NAVIINFO" / "DEVICE.DAT",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(Identity(unit) / "CURRVER.DAT", files / "UPDATE" / "NAVIINFO" / "CURRVER.DAT",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(Identity(unit) / "MAP.VER", files / "MAP" / "MAP.VER", fs::copy_options::overwrite_existing);
    WriteBytes(cancel, "");
}

char FreeLetter(const ProfileDocument& doc, char preferred) {
    auto free = [&](char letter) { return doc.Keys(DriveSection(letter)).empty(); };
    if (preferred >= 'D' && preferred <= 'Z' && free(preferred)) return preferred;
    for (char letter = 'D'; letter <= 'Y'; ++letter)
        if (free(letter)) return letter;
    return 0;
}

// The unit's USB serial number carries its mark: the USB device's instance ID holds the mark and
// the vendor/product IDs, and the disk's repeats the serial, as Windows builds both.
std::string UsbSerial(const std::string& deviceId) { return std::string(kModel.instanceIdMark) + "_" + deviceId; }

std::string DefaultInstanceId(const std::string& deviceId) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", unsigned{kModel.vendorId}, unsigned{kModel.productId});
    return std::string("USB\\") + ids + "\\" + UsbSerial(deviceId);
}

std::string DefaultDiskInstanceId(const std::string& deviceId) {
    return "USBSTOR\\DISK&VEN_ORSOLAN&PROD_FLASH_DISK_DRIVE&REV_0100\\" + UsbSerial(deviceId) + "&0";
}

// A disk node's status: started, its driver loaded, disableable; not removable (its USB parent is).
constexpr uint32_t kDiskStatus = 0x380A;

// The lowest disk number no present device has; 0 is the PC's own disk.
uint32_t FreeDisk(const ProfileDocument& doc) {
    std::set<uint32_t> taken;
    for (const std::string& section : doc.Sections())
        if (section.rfind("Device ", 0) == 0)
            if (auto disk = platform::DeviceDisk(doc, section.substr(7))) taken.insert(*disk);
    uint32_t disk = 1;
    while (taken.count(disk) != 0) ++disk;
    return disk;
}

// Windows reports device instance IDs in upper case.
std::string AsWindowsReportsIt(std::string instanceId) {
    for (char& c : instanceId)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return instanceId;
}

}  // namespace

void InitMachine(const fs::path& folder, bool withCdDrive) {
    fs::create_directories(folder / "drives" / "c");
    platform::SetMachineFolder(fs::absolute(folder).string());
    ProfileDocument doc;
    doc.Set("Volume system", "Guid", NewGuidPath());
    doc.Set("Volume system", "Folder", "drives/c");
    doc.Set("Volume system", "Type", std::to_string(kFixed));
    doc.Set("Volume system", "Label", "ローカル ディスク");
    doc.Set(DriveSection('C'), "Volume", "system");
    if (withCdDrive) {
        fs::create_directories(folder / "drives" / "d");
        doc.Set("Volume cdrom", "Guid", NewGuidPath());
        doc.Set("Volume cdrom", "Folder", "drives/d");
        doc.Set("Volume cdrom", "Type", std::to_string(kCdRom));
        doc.Set("Volume cdrom", "Label", "DVD RW ドライブ");
        doc.Set(DriveSection('D'), "Volume", "cdrom");
    }
    doc.Set(DriveSection('Z'), "Folder", "/");
    doc.Set(DriveSection('Z'), "Type", std::to_string(kFixed));
    doc.Set(DriveSection('Z'), "DisplayName", "/ (Z:)");
    if (!doc.Save(platform::MachineIniPath())) throw std::runtime_error("cannot write " + platform::MachineIniPath());
    platform::ChooseMachine();
}

void CreateUnit(const UnitOptions& options) {
    if (options.name.empty() || options.imageSize < kBackupBootSector + kSector || options.imageSize % kSector != 0)
        throw std::invalid_argument("a unit needs a name and a volume of whole sectors, at least 3,072 bytes");
    if (!platform::SectorSizeValid(options.sectorSize) || options.imageSize % options.sectorSize != 0)
        throw std::invalid_argument("a sector size is a power of two from 512 to 65,536 that divides the volume");
    std::string relative = "units/" + options.name;
    fs::path folder = platform::MachinePath(relative);
    fs::create_directories(folder / "files");
    WriteBytes(folder / "identity" / "DEVICE.DAT", Cp932(options.deviceId));
    WriteBytes(folder / "identity" / "CURRVER.DAT", CurrverFile(options.version));
    WriteBytes(folder / "identity" / "MAP.VER",
               MapVerFile(options.versionName.empty() ? kDefaultVersionName : options.versionName));
    std::string volume(options.imageSize, '\0');
    for (uint32_t offset : kModel.bootSectorOffsets) volume.replace(offset, kSector, BootSector());
    WriteBytes(folder / "volume.img", volume);
    Modify([&](ProfileDocument& doc) {
        std::string section = UnitSection(options.name);
        doc.RemoveSection(section);
        doc.Set(section, "Folder", relative);
        doc.Set(section, "Guid", NewGuidPath());
        doc.Set(section, "Letter", std::string(1, options.letter));
        doc.Set(section, "FriendlyName", options.friendlyName);
        doc.Set(section, "Service", options.service);
        doc.Set(
            section, "InstanceId",
            AsWindowsReportsIt(options.instanceId.empty() ? DefaultInstanceId(options.deviceId) : options.instanceId));
        doc.Set(section, "DiskInstanceId",
                AsWindowsReportsIt(options.diskInstanceId.empty() ? DefaultDiskInstanceId(options.deviceId)
                                                                  : options.diskInstanceId));
        doc.Set(section, "Status", Format("0x%04X", options.status));
        doc.Set(section, "Bus", options.bus);
        doc.Set(section, "SectorSize", std::to_string(options.sectorSize));
        doc.Set(section, "Label", options.label.empty() ? kDefaultLabel : options.label);
        doc.Set(section, "Plugged", "0");
        return true;
    });
    if (options.plugged) Plug(options.name);
}

void Plug(const std::string& unit) {
    ProfileDocument current = platform::MachineDescription();
    if (current.Get(UnitSection(unit), "Plugged").value_or("0") == "1") return;
    RunFirmware(unit);
    Modify([&](ProfileDocument& doc) {
        std::string section = UnitSection(unit);
        std::string folder = Required(doc, section, "Folder");
        std::string volume = "Volume " + unit;
        doc.Set(volume, "Guid", Required(doc, section, "Guid"));
        doc.Set(volume, "Folder", folder + "/files");
        doc.Set(volume, "Image", folder + "/volume.img");
        doc.Set(volume, "Type", std::to_string(kRemovable));
        doc.Set(volume, "Label", doc.Get(section, "Label").value_or(""));
        doc.Set(volume, "Unit", unit);
        doc.Set(volume, "Device", unit + ".disk");
        std::string usb = "Device " + unit;
        std::string disk = std::to_string(FreeDisk(doc));
        for (const char* key : {"Service", "InstanceId", "Status"})
            doc.Set(usb, key, doc.Get(section, key).value_or(""));
        doc.Set(usb, "Unit", unit);
        std::string child = "Device " + unit + ".disk";
        doc.Set(child, "Parent", unit);
        doc.Set(child, "FriendlyName", doc.Get(section, "FriendlyName").value_or(""));
        doc.Set(child, "Service", "disk");
        doc.Set(child, "InstanceId", doc.Get(section, "DiskInstanceId").value_or(""));
        doc.Set(child, "Status", Format("0x%04X", kDiskStatus));
        doc.Set(child, "Disk", disk);
        doc.Set(child, "Bus", doc.Get(section, "Bus").value_or("USB"));
        if (auto sectorSize = doc.Get(section, "SectorSize")) doc.Set(child, "SectorSize", *sectorSize);
        doc.Set(child, "Unit", unit);
        std::string letter = doc.Get(section, "Letter").value_or("E");
        if (char free = FreeLetter(doc, letter.empty() ? 'E' : letter[0])) doc.Set(DriveSection(free), "Volume", unit);
        doc.Set(section, "Plugged", "1");
        return true;
    });
}

void Unplug(const std::string& unit) {
    Modify([&](ProfileDocument& doc) {
        Required(doc, UnitSection(unit), "Folder");
        platform::RemoveUnit(doc, unit);
        return true;
    });
}

void DropLetter(const std::string& unit) {
    Modify([&](ProfileDocument& doc) {
        bool dropped = false;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (doc.Get(DriveSection(letter), "Volume").value_or("") != unit) continue;
            doc.RemoveSection(DriveSection(letter));
            dropped = true;
        }
        return dropped;
    });
}

void SetBattery(std::optional<int> percent) {
    if (percent && (*percent < 0 || *percent > 100)) throw std::invalid_argument("a battery's charge is 0 to 100");
    Modify([&](ProfileDocument& doc) {
        doc.RemoveSection("Power");
        if (percent) doc.Set("Power", "Battery", std::to_string(*percent));
        return true;
    });
}

std::string RequestRemoval(const std::string& unit, uint32_t patienceMs) {
    if (platform::MachineDescription().Get(UnitSection(unit), "Plugged").value_or("0") != "1")
        throw std::invalid_argument("unit " + unit + " is not plugged in");
    if (auto answer = platform::RequestRemoval(unit)) return *answer;
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    for (;;) {
        if (auto answer = platform::RemovalAnswer(unit)) return *answer;
        if (std::chrono::steady_clock::now() >= giveUpAt) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    platform::GiveUpRemoval(unit);
    return platform::RemovalAnswer(unit).value_or(platform::kRemovalInUse);
}

uint32_t AddProcess(const std::string& image) {
    uint32_t id = 0;
    Modify([&](ProfileDocument& doc) {
        id = 1000;
        while (doc.Get("Process " + std::to_string(id), "Image")) id += 4;
        doc.Set("Process " + std::to_string(id), "Image", image);
        return true;
    });
    return id;
}

bool RemoveProcess(const std::string& image) {
    bool removed = false;
    Modify([&](ProfileDocument& doc) {
        for (const std::string& section : doc.Sections()) {
            if (section.rfind("Process ", 0) != 0 || doc.Get(section, "Image").value_or("") != image) continue;
            doc.RemoveSection(section);
            removed = true;
            break;
        }
        return removed;
    });
    return removed;
}

void AddDrive(char letter, uint32_t driveType, const std::string& displayName, const std::string& folder) {
    fs::create_directories(platform::MachinePath(folder));
    Modify([&](ProfileDocument& doc) {
        doc.RemoveSection(DriveSection(letter));
        doc.Set(DriveSection(letter), "Folder", folder);
        doc.Set(DriveSection(letter), "Type", std::to_string(driveType));
        doc.Set(DriveSection(letter), "DisplayName", displayName);
        return true;
    });
}

void AddDevice(const std::string& key, const std::string& friendlyName, const std::string& service,
               const std::string& instanceId, uint32_t status) {
    Modify([&](ProfileDocument& doc) {
        std::string section = "Device " + key;
        doc.RemoveSection(section);
        if (!friendlyName.empty()) doc.Set(section, "FriendlyName", friendlyName);
        doc.Set(section, "Service", service);
        doc.Set(section, "InstanceId", AsWindowsReportsIt(instanceId));
        doc.Set(section, "Status", Format("0x%04X", status));
        return true;
    });
}

std::string AddVolume(const std::string& key, uint32_t driveType, const std::string& label, const std::string& folder,
                      const std::string& image, const std::string& bus) {
    fs::create_directories(platform::MachinePath(folder));
    std::string guid = NewGuidPath();
    Modify([&](ProfileDocument& doc) {
        std::string section = "Volume " + key;
        doc.RemoveSection(section);
        doc.Set(section, "Guid", guid);
        doc.Set(section, "Folder", folder);
        if (!image.empty()) doc.Set(section, "Image", image);
        doc.Set(section, "Type", std::to_string(driveType));
        doc.Set(section, "Label", label);
        if (bus.empty()) return true;
        std::string disk = "Device " + key + ".disk";
        doc.RemoveSection(disk);
        doc.Set(disk, "Service", "disk");
        doc.Set(disk, "Status", Format("0x%04X", kDiskStatus));
        doc.Set(disk, "Disk", std::to_string(FreeDisk(doc)));
        doc.Set(disk, "Bus", bus);
        doc.Set(section, "Device", key + ".disk");
        return true;
    });
    return guid;
}

void SetFaults(const std::string& unit, const Faults& faults) {
    Modify([&](ProfileDocument& doc) {
        std::string section = "Fault " + unit;
        doc.RemoveSection(section);
        auto attempts = [](int n) { return n < 0 ? std::string("forever") : std::to_string(n); };
        if (faults.writeFailSector) {
            doc.Set(section, "WriteFailSector", std::to_string(*faults.writeFailSector));
            doc.Set(section, "WriteFailAttempts", attempts(faults.writeFailAttempts));
        }
        if (faults.shortWriteSector) {
            doc.Set(section, "ShortWriteSector", std::to_string(*faults.shortWriteSector));
            doc.Set(section, "ShortWriteAttempts", attempts(faults.shortWriteAttempts));
        }
        if (faults.lockRefused) doc.Set(section, "LockRefused", "1");
        if (faults.lockAuthorisationRefused) doc.Set(section, "LockRefused", "authorisation");
        if (!faults.promptWaiting.empty()) doc.Set(section, faults.promptWaiting + "Prompt", "waiting");
        if (faults.vanishAfterBytes) doc.Set(section, "VanishAfterBytes", std::to_string(*faults.vanishAfterBytes));
        if (faults.powerCutAfterBytes)
            doc.Set(section, "PowerCutAfterBytes", std::to_string(*faults.powerCutAfterBytes));
        return true;
    });
}

void ClearFaults(const std::string& unit) {
    Modify([&](ProfileDocument& doc) {
        doc.RemoveSection("Fault " + unit);
        return true;
    });
}

fs::path UnitFiles(const std::string& unit) { return UnitFolder(unit) / "files"; }
fs::path UnitImage(const std::string& unit) { return UnitFolder(unit) / "volume.img"; }

std::string UnitVolumeName(const std::string& unit) {
    return Required(platform::MachineDescription(), UnitSection(unit), "Guid");
}

CheckReport Check(const std::string& unit, const std::optional<fs::path>& imageFile) {
    CheckReport report;
    std::string volume = ReadBytes(UnitImage(unit));
    report.bootSignature0 = SignatureAt(volume, 0);
    report.bootSignature2560 = SignatureAt(volume, kBackupBootSector);
    if (imageFile) {
        if (!fs::exists(*imageFile)) throw std::invalid_argument("no image " + imageFile->string());
        std::string image = ReadBytes(*imageFile);
        report.imageCompared = true;
        auto [atVolume, atImage] = std::mismatch(image.begin(), image.end(), volume.begin(), volume.end());
        report.imageMatches = atVolume == image.end();
        report.firstDifference = static_cast<uint64_t>(atVolume - image.begin());
    }
    fs::path update = UnitFiles(unit) / "UPDATE";
    if (fs::exists(update)) {
        for (const auto& entry : fs::recursive_directory_iterator(update)) {
            if (!entry.is_regular_file()) continue;
            report.updateFiles.push_back(fs::relative(entry.path(), UnitFiles(unit)).generic_string() + " " +
                                         std::to_string(entry.file_size()));
        }
    }
    std::sort(report.updateFiles.begin(), report.updateFiles.end());
    return report;
}

std::string Describe(const CheckReport& report) {
    std::string text;
    if (report.imageCompared)
        text += report.imageMatches ? "image: equal\n"
                                    : "image: differs at byte " + std::to_string(report.firstDifference) + "\n";
    text += std::string("boot signature 0: ") + (report.bootSignature0 ? "55 AA" : "cleared") + "\n";
    text += std::string("boot signature 2560: ") + (report.bootSignature2560 ? "55 AA" : "cleared") + "\n";
    for (const std::string& file : report.updateFiles) text += file + "\n";
    return text;
}

}  // namespace navisim
