// The update's control files: deciphered with the bound DecodeEx, CRC-checked and parsed into
// ConfigData, which drives the bulk-data handling and the image write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One piece of bulk data, as a CONF file lists it.
struct CONFIG_FILE_DIVISION_DATA {
    uint32_t dataSize = 0;
    uint16_t crc = 0;
    uint16_t flags = 0;  // bit 15: gzip-compressed
    int32_t writeOffset = 0;
};
constexpr uint16_t kCompressedFlag = 0x8000;

constexpr size_t kConfListSize = 880;
constexpr size_t kConfCrcSize = 404;
constexpr int kConfCrcMaxEntries = 20;
constexpr size_t kConfHeaderSize = 884;
constexpr size_t kConfRecordSize = 272;
constexpr size_t kConfItemSize = 12;
constexpr int kConfRecordSlots = 2;

struct CONFIG_RECORD_SLOT {
    unsigned char record[kConfRecordSize] = {};
    std::vector<CONFIG_FILE_DIVISION_DATA> items;
};

// One of CONF1001/2000/6000.DAT: its header and two record slots.
struct CONFIG_FILE_AREA {
    unsigned char header[kConfHeaderSize] = {};
    CONFIG_RECORD_SLOT slots[kConfRecordSlots];
};

struct ConfigData {
    unsigned char confList[kConfListSize] = {};
    unsigned char confCrc[kConfCrcSize] = {};
    CONFIG_FILE_AREA conf1001;
    CONFIG_FILE_AREA conf2000;
    CONFIG_FILE_AREA conf6000;
};

// Little-endian fields of the copied areas.
uint32_t TotalSize(const CONFIG_FILE_AREA& area);
int32_t ItemCount(const CONFIG_RECORD_SLOT& slot);
uint16_t ImageChecksum(const CONFIG_RECORD_SLOT& slot);

// The image file's base name, taken from CONF6000.DAT record 0 (read by the image write).
extern std::string ImageBaseName;

// The map folder that holds the download being transferred: the one the window named for it
// (TransferDataFolder), else MapFolder.
std::string TransferMapFolder();
// The folders of a download: "<map folder>\<id>\" and "<map folder>\<id>\<sub>\", inside
// TransferMapFolder().
std::string DownloadFolderPath(const std::string& id);
std::string DownloadFolderPath(const std::string& id, const std::string& sub);

// Deciphers `size` bytes (8-byte IV, then ciphertext) in place with the bound DecodeEx,
// leaving size - 8 bytes of plaintext; throws when DecodeEx is not bound.
void Decipher(unsigned char* buffer, unsigned long size);

[[nodiscard]] int VersionFileDecode(const std::string& id);
[[nodiscard]] int DiskIdFileDecode(const std::string& id);
// Starts `data` and ImageBaseName afresh and loads CONFCRC.DAT into `data`.
[[nodiscard]] int ConfCrcRead(ConfigData& data, const std::string& id);
[[nodiscard]] int ConfFileDecode(ConfigData& data, const std::string& id);
// Parses one deciphered CONF file into `area` (0, or 803 for a file outside the format); for
// CONF6000.DAT also sets ImageBaseName.
[[nodiscard]] int ConfRecordParse(CONFIG_FILE_AREA& area, const unsigned char* buffer, unsigned long length,
                                  bool isConf6000);
