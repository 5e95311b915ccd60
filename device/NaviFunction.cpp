// Finding the unit: the model device in the device list, its drive letter, its identity and
// version files, the volume list for the letter recovery, the media player and the eject request.
#include "device/NaviFunction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "state/Results.h"
#include "device/NaviDriveImage.h"
#include "device/TransferRecord.h"
#include "state/NotifyCodes.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Devices.h"
#include "platform/Drives.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Processes.h"
#include "platform/RawVolume.h"
#include "platform/UnitModel.h"
#include "platform/View.h"
#include "platform/Volumes.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr char kVendorProductFormat[] = "VID_%04X&PID_%04x";
constexpr char kStorageService[] = "USBSTOR";
constexpr char kUaspStorageService[] = "UASPStor";  // the same disk on a UASP port
constexpr char kFloppyMark[] = "FD";
constexpr char kMediaPlayer[] = "wmplayer.exe";
constexpr char kNaviInfoFolder[] = "UPDATE\\NAVIINFO";
constexpr char kMapFolder[] = "MAP";

NaviUnitState& Navi() { return theApp.Navi; }

// Bytes of the leading run of text whose characters all occur in set, whole characters only.
size_t CharacterSpan(std::string_view text, std::string_view set) {
    size_t pos = 0;
    while (pos < text.size()) {
        std::string_view ch = text.substr(pos, platform::CharLength(text, pos));
        bool inSet = false;
        for (size_t at = 0; at < set.size() && !inSet; at += platform::CharLength(set, at))
            inSet = set.substr(at, platform::CharLength(set, at)) == ch;
        if (!inSet) break;
        pos += ch.size();
    }
    return pos;
}

// A set-of-characters test, not a comparison: every character of the model name must occur
// somewhere in the device's name.
bool IsModelName(const std::string& friendlyName) {
    const char* model = platform::kNaviUnitModel.friendlyName;
    return CharacterSpan(model, friendlyName) == std::strlen(model);
}

// Calls `each` with every present device whose friendly name passes the model test: on Windows
// the disk node under the unit's USB device.
template <typename Each>
void ForEachModelDevice(platform::HDEVINFO devices, Each each) {
    platform::SP_DEVINFO_DATA device;
    for (uint32_t index = 0; platform::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        unsigned char name[512] = {};
        // A name that cannot be read does not match.
        if (platform::SetupDiGetDeviceRegistryPropertyA(devices, &device, platform::SPDRP_FRIENDLYNAME, nullptr, name,
                                                        sizeof name, nullptr) &&
            IsModelName(reinterpret_cast<const char*>(name)))
            each(device);
    }
}

// The present devices whose friendly name passes the model test, the disks they present and
// the instance IDs of the USB devices above them.
struct ModelDisk {
    uint32_t disk = 0;
    std::string instanceId;
};
struct ModelDevices {
    bool present = false;
    std::vector<ModelDisk> disks;
};

ModelDevices FindModelDevices() {
    ModelDevices found;
    platform::HDEVINFO devices =
        platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_ALLCLASSES);
    if (devices == platform::INVALID_DEVINFO_HANDLE) return found;
    ForEachModelDevice(devices, [&](const platform::SP_DEVINFO_DATA& device) {
        found.present = true;
        // A model device without a disk has no volume that could be the unit's.
        ModelDisk disk;
        if (!platform::GetDeviceDiskNumber(device.DevInst, &disk.disk)) return;
        // The record names the USB device, the node that is ejected; where the system shows no
        // node above the disk, the disk's own ID stands in.
        platform::DEVINST usb = 0;
        if (platform::CM_Get_Parent(&usb, device.DevInst, 0) != platform::CR_SUCCESS) usb = device.DevInst;
        char instanceId[260] = {};
        // Without an ID the unit is still found; only a transfer record cannot name it.
        if (platform::CM_Get_Device_IDA(usb, instanceId, sizeof instanceId, 0) == platform::CR_SUCCESS)
            disk.instanceId = instanceId;
        found.disks.push_back(disk);
    });
    // The list was only read: a list that does not go holds nothing of the unit.
    (void)platform::SetupDiDestroyDeviceInfoList(devices);
    return found;
}

// The disk the volume at a root lies on. The held handle answers for the unit's own volume:
// a locked volume refuses every other open.
bool VolumeDisk(const std::string& root, uint32_t* disk) {
    if (root.empty()) return false;
    platform::HANDLE held = Navi().DriveHandle;
    bool own = held != nullptr && root == Navi().NaviDrive;
    platform::HANDLE volume = own ? held
                                  : platform::CreateFileA(Format("\\\\.\\%c:", root[0]).c_str(), 0,
                                                          platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                                          nullptr, platform::OPEN_EXISTING, 0, nullptr);
    if (volume == platform::INVALID_HANDLE_VALUE) return false;
    platform::STORAGE_DEVICE_NUMBER number;
    uint32_t returned = 0;
    bool answered = platform::DeviceIoControl(volume, platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                              sizeof number, &returned, nullptr) &&
                    returned >= sizeof number && number.DeviceType == platform::FILE_DEVICE_DISK;
    // A query handle: closing it cannot lose anything.
    if (!own) (void)platform::CloseHandle(volume);
    if (answered) *disk = number.DeviceNumber;
    return answered;
}

// The model device whose disk holds the volume at root, or nullptr.
const ModelDisk* UnitDiskOf(const std::string& root, const ModelDevices& devices) {
    uint32_t disk = 0;
    if (!VolumeDisk(root, &disk)) return nullptr;
    for (const ModelDisk& candidate : devices.disks)
        if (candidate.disk == disk) return &candidate;
    return nullptr;
}

// Instance IDs compare without case, as Windows treats them.
bool SameInstance(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() && platform::FindNoCase(a, b) == 0;
}

// A removable letter whose volume lies on a unit's disk. With `recorded` only the unit the
// transfer record names counts, and its volume needs no file system: a transfer cut off
// mid-image leaves none. Otherwise UPDATE\NAVIINFO\DEVICE.DAT marks the unit's drive.
bool FindUnitLetter(const ModelDevices& devices, const TRANSFER_RECORD* recorded, std::string* root,
                    std::string* instanceId) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string candidate = Format("%c:\\", letter);
        // The shell is asked only about removable letters: its display-name query can wait
        // seconds on a network share or an empty card-reader slot, at every device change.
        if (platform::GetDriveTypeA(candidate.c_str()) != platform::DRIVE_REMOVABLE) continue;
        unsigned driveType = 0;
        std::string displayName;
        if (GetDriveInfo(candidate, &driveType, &displayName) != 1 || driveType != platform::DRIVE_REMOVABLE) continue;
        if (displayName.find(kFloppyMark) != std::string::npos) continue;
        if (recorded == nullptr) {
            std::string marker = Format("%s%s\\%s", candidate.c_str(), kNaviInfoFolder, "DEVICE.DAT");
            if (platform::GetFileAttributesA(marker.c_str()) == platform::INVALID_FILE_ATTRIBUTES) continue;
        }
        const ModelDisk* unit = UnitDiskOf(candidate, devices);
        if (unit == nullptr || (recorded != nullptr && !SameInstance(unit->instanceId, recorded->instanceId))) {
            if (recorded == nullptr) VLOG(LOG_INFO, "ナビ以外のドライブ[%s]", candidate.c_str());
            continue;
        }
        *root = candidate;
        *instanceId = unit->instanceId;
        return true;
    }
    return false;
}

// The unit's drive: the unit a transfer record names first, whatever its volume holds, then
// any unit with its identity files. 0 found, 1 none.
int FindUnitDrive(std::string* root, std::string* instanceId, bool* recorded) {
    ModelDevices devices = FindModelDevices();
    TRANSFER_RECORD record;
    *recorded = TransferRecordRead(&record) && FindUnitLetter(devices, &record, root, instanceId);
    return *recorded || FindUnitLetter(devices, nullptr, root, instanceId) ? 0 : 1;
}

// No usable unit: the drive and version name are forgotten. The busy test has run before, so
// no job holds the handle; one left open by anyone else is closed before it is dropped.
int ForgetUnit() {
    Navi().NaviDrive.clear();
    Navi().NaviVersionName.clear();
    // The unit is forgotten whether or not its handle closes; nothing was written through it since.
    CloseDriveHandle();
    return 1;
}

std::string NaviInfoFolder() { return Format("%s%s\\", Navi().NaviDrive.c_str(), kNaviInfoFolder); }

// The text of a file read by FileRead, up to its first NUL.
std::string Text(const unsigned char* buffer) { return reinterpret_cast<const char*>(buffer); }

// The driver service name with the size query first and the retry while the buffer is short.
bool ReadService(platform::HDEVINFO devices, platform::SP_DEVINFO_DATA* device, char (&service)[1024]) {
    uint32_t required = 0;
    uint32_t size = 0;
    while (!platform::SetupDiGetDeviceRegistryPropertyA(devices, device, platform::SPDRP_SERVICE, nullptr,
                                                        reinterpret_cast<unsigned char*>(service), size, &required)) {
        if (platform::GetLastError() != platform::ERROR_INSUFFICIENT_BUFFER || required > sizeof service) return false;
        size = required;
    }
    return true;
}

// Whether a device is the unit's USB device: removable and disableable, driven by a USB storage
// service, and its instance ID holds the unit's mark and vendor/product IDs.
bool IsUnitUsbDevice(platform::HDEVINFO devices, platform::SP_DEVINFO_DATA* device, const std::string& vendorProduct) {
    uint32_t status = 0, problem = 0;
    if (platform::CM_Get_DevNode_Status(&status, &problem, device->DevInst, 0) != platform::CR_SUCCESS) return false;
    uint32_t removable = platform::DN_DISABLEABLE | platform::DN_REMOVABLE;
    if ((status & removable) != removable) return false;
    char service[1024] = {};
    if (!ReadService(devices, device, service)) return false;
    const bool storage =
        std::strncmp(service, kStorageService, 7) == 0 || std::strcmp(service, kUaspStorageService) == 0;
    if (!storage || device->DevInst == 0) return false;
    char instanceId[260] = {};
    if (platform::CM_Get_Device_IDA(device->DevInst, instanceId, sizeof instanceId, 0) != platform::CR_SUCCESS)
        return false;
    // Windows reports instance IDs in upper case while the format writes the product ID's hex
    // letters in lower case: the marks are compared ignoring case.
    return platform::FindNoCase(instanceId, platform::kNaviUnitModel.instanceIdMark) != std::string_view::npos &&
           platform::FindNoCase(instanceId, vendorProduct) != std::string_view::npos;
}

// The USB devices to eject: the parents of the model's disk nodes whose disk holds the unit's
// volume. Windows gives the disk interface (and so the disk number) only to the disk node; the
// USB device above it is the node that is ejected.
std::vector<platform::DEVINST> UnitParents(platform::HDEVINFO devices, uint32_t unitDisk) {
    std::vector<platform::DEVINST> parents;
    ForEachModelDevice(devices, [&](const platform::SP_DEVINFO_DATA& device) {
        uint32_t disk = 0;
        platform::DEVINST parent = 0;
        if (platform::GetDeviceDiskNumber(device.DevInst, &disk) && disk == unitDisk &&
            platform::CM_Get_Parent(&parent, device.DevInst, 0) == platform::CR_SUCCESS)
            parents.push_back(parent);
    });
    return parents;
}

// The list file's new text, written over it; kOutOfMemory when there is no memory for it.
int WriteVolumeList(const std::string& folder, const std::string& text) {
    std::unique_ptr<char[]> copy(new (std::nothrow) char[text.size() + 1]);
    if (!copy) return kOutOfMemory;
    std::memcpy(copy.get(), text.data(), text.size());
    // One line per volume the PC ever gave the unit: far below 4 GiB.
    unsigned long length = static_cast<unsigned long>(text.size());
    return FileWrite(folder, "MountVolume.dat", copy.get(), &length);
}

}  // namespace

int NaviConnectCheck() {
    return OPERATION("NaviConnectCheck", "", kSystemError, [&] {
        // A unit a job holds is left alone whatever the device list says: emptying NaviDrive or
        // the handle now would pull the drive from under the transfer.
        if (Navi().TransferRunning != 0 || Navi().DriveHandle != nullptr) return 0;
        if (!FindModelDevices().present) {
            VLOG(LOG_ERROR, "指定デバイス無し");
            return ForgetUnit();
        }
        std::string drive, instanceId;
        bool recorded = false;
        if (GetUnitDrive(&drive, &instanceId, &recorded) != 0) return ForgetUnit();
        Navi().NaviDrive = drive;
        Navi().NaviInstanceId = instanceId;
        Navi().ResumePending = recorded ? 1 : 0;
        std::string deviceId;
        TRANSFER_RECORD record;
        if (GetDeviceId(&deviceId) == 0)
            Navi().NaviDeviceId = deviceId;
        else if (recorded && TransferRecordRead(&record))
            // A volume cut off mid-image holds no file system; the record kept its identity.
            Navi().NaviDeviceId = record.deviceId;
        else
            return ForgetUnit();
        // The list file is bookkeeping for the letter recovery; it must not hide a present unit.
        if (GetNaviVolumeName() == 0) {
            if (int result = RecordMountVolume(); result != 0) VLOG(LOG_ERROR, "ボリューム記録エラー[%d]", result);
        }
        std::string version;
        if (GetNaviVersion(&version) == 0) Navi().NaviVersion = version;
        std::string versionName;
        if (GetNaviVersionName(&versionName) == 0) Navi().NaviVersionName = versionName;
        // Read now: the held volume is locked, and its file system answers nobody.
        Navi().NaviFreeSpace = GigabytesFree(drive);
        Navi().CompetingCount = 0;
        Navi().CompetingProcess = 0;
        // A process list that cannot be taken finds no competitor: the volume's lock still refuses a
        // unit in use.
        (void)CheckCompetingProcess();
        if (platform::View* view = platform::CurrentView())
            view->PostNotify(platform::IDD_MAIN_WINDOW, kNotifyUnitFound, 0);
        return 0;
    });
}

int GetDrive(std::string* root) {
    std::string instanceId;
    bool recorded = false;
    return GetUnitDrive(root, &instanceId, &recorded);
}

int GetUnitDrive(std::string* root, std::string* instanceId, bool* recorded) {
    return OPERATION("GetDrive", "", kSystemError, OnException::ShowMessage, EndLine::Own, [&] {
        // Only a volume on the unit's own disk: a stick holding a copy of its files is not it.
        if (FindUnitDrive(root, instanceId, recorded) == 0) {
            VLOG(LOG_TRACE, "GetDrive終了");
            return 0;
        }
        VLOG(LOG_TRACE, "GetDrive終了[%s]", root->c_str());
        return 1;
    });
}

int GetDriveInfo(const std::string& root, unsigned* driveType, std::string* displayName) {
    return OPERATION("GetDriveInfo", "", kSystemError, [&] {
        int index = root.empty() ? -1 : root[0] - 'A';
        if (index < 0 || index >= 26 || !(platform::GetLogicalDrives() & (1u << index))) return 0;
        *driveType = platform::GetDriveTypeA(root.c_str());
        platform::SHFILEINFOA info;
        const bool named =
            platform::SHGetFileInfoA(root.c_str(), 0, &info, sizeof info, platform::SHGFI_DISPLAYNAME) != 0;
        *displayName = named ? info.szDisplayName : "";
        return 1;
    });
}

int CheckDriveNo(char letter, std::string* root) {
    return OPERATION("CheckDriveNo", "", kSystemError, OnException::ShowMessage, EndLine::Own, [&] {
        std::string candidate = Format("%c:\\", letter);
        unsigned driveType = 0;
        std::string displayName;
        int result = GetDriveInfo(candidate, &driveType, &displayName);
        if (result == 0) *root = candidate;
        VLOG(LOG_TRACE, "CheckDriveNo終了[%s]", root->c_str());
        return result;
    });
}

int GetNaviVersion(std::string* version) {
    return OPERATION("GetNaviVersion", "", kSystemError, OnException::ShowMessage, EndLine::Own, [&] {
        unsigned char* buffer = nullptr;
        unsigned long size = 32;
        int error = FileRead(NaviInfoFolder(), "CURRVER.DAT", &buffer, &size);
        // Fewer than 8 bytes hold no IV: nothing to decipher.
        if (error == 0 && size < 8) error = kVersionFileTooShort;
        if (error != 0) {
            VLOG(LOG_ERROR, "ファイルリードエラー[%d]", error);
            std::free(buffer);
            return 1;
        }
        theApp.pDecodeEx(buffer, static_cast<uint32_t>(size));
        // Only the deciphered bytes: past them the buffer still holds the end of the ciphertext.
        char plain[33] = {};
        std::memcpy(plain, buffer, std::min<size_t>(32, size - 8));
        std::free(buffer);
        plain[21] = '\0';
        std::string text = plain + 12;
        version->clear();
        for (size_t pos = 0; pos < text.size(); pos += platform::CharLength(text, pos))
            if (text[pos] != '.') version->append(text, pos, platform::CharLength(text, pos));
        VLOG(LOG_TRACE, "GetNaviVersion終了[%s]", version->c_str());
        return 0;
    });
}

int GetNaviVersionName(std::string* versionName) {
    return OPERATION("GetNaviVersionName", "", kSystemError, OnException::ShowMessage, EndLine::Own, [&] {
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        int error = FileRead(Format("%s%s\\", Navi().NaviDrive.c_str(), kMapFolder), "MAP.VER", &buffer, &size);
        if (error != 0) {
            VLOG(LOG_ERROR, "ファイルリードエラー[%d]", error);
            std::free(buffer);
            return 1;
        }
        // FileRead's block is zeroed well past the file, so bytes 36-47 of a short file are 0.
        char name[256] = {};
        std::memcpy(name, buffer + 36, 12);
        std::free(buffer);
        *versionName = name;
        VLOG(LOG_TRACE, "GetNaviVersionName終了[%s]", versionName->c_str());
        return 0;
    });
}

int NaviVersionCheck(const std::string& downloadVersion) {
    VLOG(LOG_TRACE, "NaviVersionCheck開始[%s]", downloadVersion.c_str());
    VLOG(LOG_TRACE, "ナビバージョン[%s]", Navi().NaviVersion.c_str());
    VLOG(LOG_TRACE, "ダウンロードバージョン[%s]", downloadVersion.c_str());
    long download = std::atol(downloadVersion.c_str());
    long navi = std::atol(Navi().NaviVersion.c_str());
    if (download > navi) {
        VLOG(LOG_TRACE, "NaviVersionCheck終了");
        return 0;
    }
    VLOG(LOG_INFO, "最新がNaviに入っている[%ld:%ld]", download, navi);
    return kUnitNotOlder;
}

int GetDeviceId(std::string* deviceId) {
    return OPERATION("GetDeviceId", "", kDeviceIdFailed, OnException::LogOnly, [&] {
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        int error = FileRead(NaviInfoFolder(), "DEVICE.DAT", &buffer, &size);
        if (error == 0) *deviceId = Text(buffer);
        std::free(buffer);
        return error;
    });
}

int CheckCompetingProcess() {
    VLOG(LOG_TRACE, "CheckCompetingProcess開始");
    uint32_t ids[1024] = {};
    uint32_t bytes = 0;
    if (!platform::EnumProcesses(ids, sizeof ids, &bytes)) return kSystemError;
    const uint32_t count = bytes / static_cast<uint32_t>(sizeof ids[0]);
    for (uint32_t i = 0; i < count; ++i) {
        char name[1024] = {};
        platform::HANDLE process =
            platform::OpenProcess(platform::PROCESS_QUERY_INFORMATION | platform::PROCESS_VM_READ, false, ids[i]);
        if (process != nullptr) {
            platform::HMODULE modules[4096 / sizeof(platform::HMODULE)] = {};
            uint32_t needed = 0;
            if (platform::EnumProcessModules(process, modules, sizeof modules, &needed)) {
                // A name that cannot be read stays empty and matches nothing.
                (void)platform::GetModuleBaseNameA(process, modules[0], name, sizeof name);
                VLOG(LOG_TRACE, "プロセス[%3d: %08X [%s]]", static_cast<int>(i + 1), ids[i], name);
                if (std::strcmp(name, kMediaPlayer) == 0) {
                    Navi().CompetingProcess = 1;
                    (void)platform::CloseHandle(process);  // a query handle: closing it cannot lose anything
                    break;
                }
            }
            (void)platform::CloseHandle(process);  // a query handle: closing it cannot lose anything
        }
        VLOG(LOG_TRACE, "プロセス[%3d: %08X [%s]]", static_cast<int>(i + 1), ids[i], name);
    }
    VLOG(LOG_TRACE, "CheckCompetingProcess終了");
    return 0;
}

int RemoveNaviUsb() {
    platform::DEVINST device = 0;
    if (int found = FindUnitUsbDevice(&device); found != 0) return found;
    platform::Sleep(kEjectWaitMs);
    for (int request = 1;; ++request) {
        if (RequestUnitEject(device)) return 0;
        if (request == kEjectRequests) return kEjectFailed;
        platform::Sleep(kEjectRetryMs);
    }
}

int FindUnitUsbDevice(platform::DEVINST* found) {
    VLOG(LOG_TRACE, "USB取り外し");
    // Only the device whose disk holds the unit's volume; with no such volume nothing is ejected.
    uint32_t unitDisk = 0;
    if (!VolumeDisk(Navi().NaviDrive, &unitDisk)) {
        VLOG(LOG_ERROR, "USB取り外し対象なし");
        return kEjectFailed;
    }
    platform::HDEVINFO devices =
        platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_ALLCLASSES);
    if (devices == platform::INVALID_DEVINFO_HANDLE) return kEjectFailed;
    const std::vector<platform::DEVINST> parents = UnitParents(devices, unitDisk);
    std::string vendorProduct =
        Format(kVendorProductFormat, platform::kNaviUnitModel.vendorId, platform::kNaviUnitModel.productId);
    bool matched = false;
    platform::SP_DEVINFO_DATA device;
    for (uint32_t index = 0; !matched && platform::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        matched = std::find(parents.begin(), parents.end(), device.DevInst) != parents.end() &&
                  IsUnitUsbDevice(devices, &device, vendorProduct);
        if (matched) *found = device.DevInst;
    }
    // The list was only read: a list that does not go holds nothing of the unit.
    (void)platform::SetupDiDestroyDeviceInfoList(devices);
    // A unit that no device matched is still attached: that is no success.
    if (!matched) VLOG(LOG_ERROR, "USB取り外し対象なし");
    return matched ? 0 : kEjectFailed;
}

bool RequestUnitEject(platform::DEVINST device) {
    // The veto comes back to the program (which tells the user with its own message) and is
    // logged with what held the unit.
    int vetoType = platform::kVetoNone;
    char vetoName[260] = {};
    if (platform::CM_Request_Device_EjectA(device, &vetoType, vetoName, sizeof vetoName, 0) == platform::CR_SUCCESS)
        return true;
    VLOG(LOG_ERROR, "USB取り外し拒否[%d][%s]", vetoType, vetoName);
    return false;
}

int GetNaviVolumeName() {
    VLOG(LOG_TRACE, "GetNaviVolumeName開始");
    char name[260] = {};
    if (!platform::GetVolumeNameForVolumeMountPointA(Navi().NaviDrive.c_str(), name, sizeof name)) {
        VLOG(LOG_ERROR, "ボリュームパス取得エラー");
        return kVolumeNameFailed;
    }
    Navi().NaviVolumeName = name;
    VLOG(LOG_TRACE, "GetNaviVolumeName終了");
    return 0;
}

int RecordMountVolume() {
    return OPERATION("RecordMountVolume", "", kSystemError, OnException::LogOnly, [&] {
        std::string folder = Format("%s", theApp.ProgramFolder.c_str());
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        int error = FileRead(folder, "MountVolume.dat", &buffer, &size);
        std::string old = error == 0 && size >= 1 ? std::string(reinterpret_cast<const char*>(buffer), size) : "";
        std::free(buffer);
        if (old.empty()) return WriteVolumeList(folder, Format("%s\r\n", Navi().NaviVolumeName.c_str()));
        if (old.find(Navi().NaviVolumeName) != std::string::npos) return 0;
        return WriteVolumeList(folder, Format("%s%s\r\n", old.c_str(), Navi().NaviVolumeName.c_str()));
    });
}
